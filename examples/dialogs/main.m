/* The file dialogs from a small AppKit host: a synchronous open panel with a filter specification,
 * an asynchronous save panel whose result goes to a callback, and what a cancel and a failure give.
 * Dialogs are called once the application has finished launching; synchronous ones on the main
 * thread only. */
#import <AppKit/AppKit.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "DesktopBridgeLoader.h"
#include "DesktopBridgeAnswerPanels.h" /* the installed testing helper */

#ifndef DESKTOPBRIDGE_BINARY /* the build names the installed bundle's binary */
#define DESKTOPBRIDGE_BINARY "DesktopBridge.bundle/" DB_BUNDLE_BINARY_SUBPATH
#endif

/* Every export, bound by name once the bundle is loaded. */
static DBExports bridge;

/* A result is borrowed (copy it to keep it): the chosen paths joined by DB_LIST_SEPARATOR, or ""
 * both when the person cancelled and when the panel could not be shown. A failure also writes one
 * line to the system log, which is how a developer tells the two apart. */
static void report(const char *request, const char *result) {
  if (result[0] == '\0') {
    printf("%s: nothing chosen (cancelled, or failed: see the log)\n", request);
    return;
  }
  char *paths = strdup(result);
  int count = 0;
  for (char *path = paths, *end; path != NULL; path = end ? end + 1 : NULL, count++) {
    end = strchr(path, DB_LIST_SEPARATOR);
    if (end) *end = '\0';
    printf("%s: chose %s\n", request, path);
  }
  printf("%s: %d path(s)\n", request, count);
  free(paths);
}

/* Called on the main thread once the save panel has closed. */
static void onSaved(const char *result) {
  report("save", result);
  [NSApp terminate:nil];
}

@interface ExampleDelegate : NSObject
@end

@implementation ExampleDelegate
- (void)applicationDidFinishLaunching:(NSNotification *)notification {
  /* Entries "Name;ext1,ext2" joined by "|": the panel's "File type:" pop-up. */
  const char *songs = bridge.DialogOpenFilePanel("Choose songs", "", "Music;mp3,ogg|All files;*", true);
  report("open", songs);

  /* Off the main thread a synchronous dialog fails: one log line, and "". */
  [NSThread detachNewThreadSelector:@selector(openOffTheMainThread:) toTarget:self withObject:nil];

  /* Returns at once; the panel runs on the main thread after this method returns. */
  bridge.DialogSaveFilePanelAsync("Save the playlist", [NSTemporaryDirectory() fileSystemRepresentation],
                                  "playlist.m3u", "Playlist;m3u|All files;*", onSaved);
}

- (void)openOffTheMainThread:(id)unused {
  @autoreleasepool {
    report("open off the main thread", bridge.DialogOpenFilePanel("Choose songs", "", "", false));
  }
}
@end

static void onUncaughtException(NSException *exception) {
  fprintf(stderr, "uncaught exception %s\n", [[exception reason] UTF8String]);
  exit(70);
}

int main(int argc, const char **argv) {
  setvbuf(stdout, NULL, _IOLBF, 0);
  @autoreleasepool {
    [NSApplication sharedApplication];
    NSSetUncaughtExceptionHandler(onUncaughtException);
    char error[512];
    if (!DBLoadExports(DESKTOPBRIDGE_BINARY, &bridge, error, sizeof error)) {
      fprintf(stderr, "%s\n", error);
      return 1;
    }

    /* With -ExampleUnattended YES (the test suite), the testing helper answers the panels as a
     * person would: Cancel in the open panel, Save in the save panel. */
    if ([[NSUserDefaults standardUserDefaults] boolForKey:@"ExampleUnattended"]) {
      DesktopBridgeAnswerNextPanelCancel();
      DesktopBridgeAnswerNextPanelOK();
    }

    ExampleDelegate *delegate = [[ExampleDelegate alloc] init];
    [NSApp setDelegate:delegate];
    [NSApp run];
    [delegate release];
  }
  return 0;
}
