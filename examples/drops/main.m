/* File drops and open-file requests: the smallest host whose classes the bundle attaches its
 * handlers to. The bundle looks for two classes by name while it loads, so both exist before it:
 * PlayerAppDelegate, the application's delegate, and PlayerWindowView, the main window's content
 * view. Drops reach the view once a menu export has run with the main window on screen.
 * Drag files onto the window, or start it with a file to open (GNUstep: -GSFilePath FILE;
 * macOS: open -a, or a double-click on a document of the application).
 * Run with -ExampleUnattended YES, the example quits once it has launched. */
#import <AppKit/AppKit.h>
#include <stdio.h>
#include <stdlib.h>
#include "DesktopBridgeLoader.h"

#ifndef DESKTOPBRIDGE_BINARY
#define DESKTOPBRIDGE_BINARY "DesktopBridge.bundle/" DB_BUNDLE_BINARY_SUBPATH
#endif

static DBExports bridge; /* every export, bound by name once the bundle is loaded */

/* Paths are borrowed for the call and joined by DB_LIST_SEPARATOR; x and y are in the window's
 * backing pixels, from its lower-left corner. */
static void onDragEnter(void) { printf("drag entered\n"); }
static void onDragExit(void) { printf("drag left\n"); }
static void onDrop(int x, int y, const char *paths) {
  printf("dropped at (%d, %d):", x, y);
  for (const char *c = paths != NULL ? paths : ""; *c; c++) putchar(*c == DB_LIST_SEPARATOR ? ' ' : *c);
  putchar('\n');
}
/* The bundle keeps this copy for the life of the process (getOpenFilename returns it too). */
static void onOpenFile(const char *path) { printf("open file: %s\n", path != NULL ? path : "(no UTF-8 form)"); }

@interface PlayerWindowView : NSView
@end
@implementation PlayerWindowView
@end

@interface PlayerAppDelegate : NSObject {
  NSWindow *_window;
}
@end

@implementation PlayerAppDelegate
- (void)applicationDidFinishLaunching:(NSNotification *)notification {
  _window = [[NSWindow alloc] initWithContentRect:NSMakeRect(100, 100, 480, 300)
                                        styleMask:NSWindowStyleMaskTitled
                                          backing:NSBackingStoreBuffered
                                            defer:NO];
  PlayerWindowView *view = [[PlayerWindowView alloc] initWithFrame:NSMakeRect(0, 0, 480, 300)];
  [_window setContentView:view];
  [view release];
  [_window setTitle:@"Drop files here"];
  [_window makeKeyAndOrderFront:nil];
  [_window makeMainWindow];

  /* The first menu export registers the main window's content view for file drags. */
  bridge.addMenuItem(0, 1, "Play", 1, "", -1, false);
  printf("the view takes file drags: %s\n", [[view registeredDraggedTypes] count] > 0 ? "yes" : "no");

  if ([[NSUserDefaults standardUserDefaults] boolForKey:@"ExampleUnattended"]) [NSApp terminate:nil];
}

- (void)dealloc {
  [_window release];
  [super dealloc];
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
    /* Loaded after PlayerAppDelegate and PlayerWindowView exist: they are in this executable. */
    char error[512];
    if (!DBLoadExports(DESKTOPBRIDGE_BINARY, &bridge, error, sizeof error)) {
      fprintf(stderr, "%s\n", error);
      return 1;
    }
    bridge.setDragDropCallback(onDragEnter, onDragExit, onDrop);
    bridge.setOpenFileCallback(onOpenFile);

    /* The handlers are attached now, or the class names are wrong (nothing else reports it). */
    bool attached = [PlayerAppDelegate instancesRespondToSelector:@selector(application:openFile:)] &&
                    [PlayerWindowView instancesRespondToSelector:@selector(performDragOperation:)];
    printf("handlers attached: %s\n", attached ? "yes" : "no");

    PlayerAppDelegate *delegate = [[PlayerAppDelegate alloc] init];
    [NSApp setDelegate:delegate];
    [NSApp run];
    [delegate release];
  }
  return 0;
}
