// A minimal host for the drag-registration tests: loads the bundle, makes the first menu call with
// a main window, with a window only ordered front (never made main), or without a window
// (DB_MENU_DRAG_MODE=window|front|later), and prints what the window's content view is registered
// for (sorted, "none" for nothing).
#import <AppKit/AppKit.h>
#include "DesktopBridgeLoader.h"
#include "TestApplication.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static void onUncaughtException(NSException *exception) {
  fprintf(stderr, "uncaught exception %s\n", [[exception reason] UTF8String]);
  _exit(70);
}

static NSWindow *makeWindow(void) {
  return [[NSWindow alloc] initWithContentRect:NSMakeRect(100, 100, 200, 100)
                                     styleMask:NSWindowStyleMaskTitled
                                       backing:NSBackingStoreBuffered
                                         defer:NO];
}

static NSWindow *makeMainWindow(void) {
  NSWindow *window = makeWindow();
  [window makeKeyAndOrderFront:nil];
  [window makeMainWindow];
  return window;
}

static const char *typesOf(NSWindow *window) {
  NSArray *types = [[[window contentView] registeredDraggedTypes] sortedArrayUsingSelector:@selector(compare:)];
  return [types count] > 0 ? [[types componentsJoinedByString:@","] UTF8String] : "none";
}

// main=yes: the window is the main window, or, in a process the platform did not activate (one
// started by a test runner on a recent macOS, which has no main window), the frontmost one.
static void printTypes(const char *label, NSWindow *window) {
  BOOL main = [NSApp mainWindow] == window;
#if defined(__APPLE__)
  main = main || ([NSApp mainWindow] == nil && ![NSApp isActive] && [[NSApp orderedWindows] firstObject] == window);
#endif
  printf("%s main=%s types=%s\n", label, main ? "yes" : "no", typesOf(window));
}

int main(int argc, char **argv) {
  setvbuf(stdout, NULL, _IOLBF, 0);
  @autoreleasepool {
    SharedOrdinaryApplication();
    NSSetUncaughtExceptionHandler(onUncaughtException);
    DBExports bridge;
    char error[512];
    if (!DBLoadExports(DB_BUNDLE_PATH "/" DB_BUNDLE_BINARY_SUBPATH, &bridge, error, sizeof error)) {
      fprintf(stderr, "%s\n", error);
      return 1;
    }
    DBFn_removeAllMenuItems removeAll = bridge.removeAllMenuItems;
    DBFn_addMenuItem add = bridge.addMenuItem;
    [NSApp finishLaunching];
    const char *mode = getenv("DB_MENU_DRAG_MODE");
    if (mode != NULL && strcmp(mode, "window") == 0) {
      NSWindow *window = makeMainWindow();
      printTypes("before", window);
      removeAll(5, 6);  // the first menu call creates the manager
      printTypes("after", window);
    } else if (mode != NULL && strcmp(mode, "front") == 0) {
      NSWindow *panel = [[NSPanel alloc] initWithContentRect:NSMakeRect(0, 0, 100, 60)
                                                   styleMask:NSWindowStyleMaskTitled
                                                     backing:NSBackingStoreBuffered
                                                       defer:NO];
      NSWindow *hidden = makeWindow();  // never shown: passed over
      NSWindow *window = makeWindow();
      [window orderFront:nil];
      [panel orderFront:nil];  // in front, but a panel cannot become main
      if ([NSApp mainWindow] != nil) {  // the system made one main by itself
        printf("a main window exists although none was made main\n");
        return 77;
      }
      printf("before types=%s\n", typesOf(window));
      removeAll(5, 6);
      printf("after types=%s\nhidden types=%s\npanel types=%s\n", typesOf(window), typesOf(hidden), typesOf(panel));
    } else {
      removeAll(5, 6);
      NSWindow *window = makeMainWindow();
      add(0, 1, "later", 3, "", -1, false);
      printTypes("after", window);
    }
  }
  return 0;
}
