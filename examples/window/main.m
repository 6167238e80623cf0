/* Window and application services from a small AppKit host: the window title, the backing scale
 * factor, bringing the application to the front, the Trash, the hardware UUID, the application's
 * version and frame autosaving. Called on the main thread once the application has finished
 * launching; the example quits by itself when done. */
#import <AppKit/AppKit.h>
#include <stdio.h>
#include <stdlib.h>
#include "DesktopBridgeLoader.h"

#ifndef DESKTOPBRIDGE_BINARY
#define DESKTOPBRIDGE_BINARY "DesktopBridge.bundle/" DB_BUNDLE_BINARY_SUBPATH
#endif

static DBExports bridge; /* every export, bound by name once the bundle is loaded */

@interface ExampleDelegate : NSObject {
  NSWindow *_window;
}
@end

@implementation ExampleDelegate
- (void)applicationDidFinishLaunching:(NSNotification *)notification {
  _window = [[NSWindow alloc] initWithContentRect:NSMakeRect(100, 100, 480, 300)
                                        styleMask:NSWindowStyleMaskTitled | NSWindowStyleMaskResizable
                                          backing:NSBackingStoreBuffered
                                            defer:NO];
  [_window makeKeyAndOrderFront:nil];
  [_window makeMainWindow];

  /* The main window: the key window the application shows. */
  bridge.setWindowTitle("Services example");
  printf("title: %s\n", [[_window title] UTF8String]);
  printf("scale factor: %.1f\n", bridge.getScaleFactor());
  bridge.bringToFront();

  /* Owned strings: null when there is nothing to give; free them. */
  char *uuid = bridge.getUUID();
  printf("hardware UUID: %s\n", uuid != NULL ? "read" : "cannot be read");
  free(uuid);
  char *version = bridge.getAppVersion();
  printf("version: %s\n", version != NULL ? version : "none (not an application bundle)");
  free(version);

  /* true only when the item is in the Trash; nothing changes on failure. */
  NSString *scratch = [NSTemporaryDirectory() stringByAppendingPathComponent:@"services-example.txt"];
  [@"scratch" writeToFile:scratch atomically:NO encoding:NSUTF8StringEncoding error:NULL];
  printf("trashFile: %s\n", bridge.trashFile([scratch fileSystemRepresentation]) ? "moved to the Trash" : "not moved");
  printf("trashFile again: %s\n", bridge.trashFile([scratch fileSystemRepresentation]) ? "moved" : "not moved (gone)");

  /* The window's frame is saved under its represented file name. */
  [_window setRepresentedFilename:scratch];
  bridge.setAutoRestore(); /* exported under its C++ name; the loader knows it */
  printf("frame saved as: %s\n", [[_window frameAutosaveName] length] ? "the represented file name" : "nothing");

  [NSApp terminate:nil];
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
  @autoreleasepool {
    [NSApplication sharedApplication];
    NSSetUncaughtExceptionHandler(onUncaughtException);
    char error[512];
    if (!DBLoadExports(DESKTOPBRIDGE_BINARY, &bridge, error, sizeof error)) {
      fprintf(stderr, "%s\n", error);
      return 1;
    }
    ExampleDelegate *delegate = [[ExampleDelegate alloc] init];
    [NSApp setDelegate:delegate];
    [NSApp run];
    [delegate release];
  }
  return 0;
}
