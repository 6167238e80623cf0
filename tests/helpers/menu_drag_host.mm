// A minimal host for the drag-registration tests: loads the bundle, makes the first menu call with
// or without a main window (DB_MENU_DRAG_MODE=window|later), and prints what the main window's
// content view is registered for (sorted).
#import <AppKit/AppKit.h>
#include "DesktopBridge.h"
#include "TestApplication.h"

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static void onUncaughtException(NSException *exception) {
  fprintf(stderr, "uncaught exception %s\n", [[exception reason] UTF8String]);
  _exit(70);
}

static NSWindow *makeMainWindow(void) {
  NSWindow *window = [[NSWindow alloc] initWithContentRect:NSMakeRect(100, 100, 200, 100)
                                                 styleMask:NSWindowStyleMaskTitled
                                                   backing:NSBackingStoreBuffered
                                                     defer:NO];
  [window makeKeyAndOrderFront:nil];
  [window makeMainWindow];
  return window;
}

static void printTypes(const char *label, NSWindow *window) {
  NSArray *types = [[[window contentView] registeredDraggedTypes] sortedArrayUsingSelector:@selector(compare:)];
  printf("%s main=%s types=%s\n", label, [NSApp mainWindow] == window ? "yes" : "no",
         [[types componentsJoinedByString:@","] UTF8String]);
}

int main(int argc, char **argv) {
  setvbuf(stdout, NULL, _IOLBF, 0);
  @autoreleasepool {
    SharedOrdinaryApplication();
    NSSetUncaughtExceptionHandler(onUncaughtException);
    void *bundle = dlopen(DB_BUNDLE_PATH "/" DB_BUNDLE_BINARY_SUBPATH, RTLD_NOW | RTLD_LOCAL);
    if (bundle == NULL) {
      fprintf(stderr, "cannot load the bundle: %s\n", dlerror());
      return 1;
    }
    decltype(&removeAllMenuItems) removeAll = (decltype(&removeAllMenuItems))dlsym(bundle, "removeAllMenuItems");
    decltype(&addMenuItem) add = (decltype(&addMenuItem))dlsym(bundle, "addMenuItem");
    [NSApp finishLaunching];
    const char *mode = getenv("DB_MENU_DRAG_MODE");
    if (mode != NULL && strcmp(mode, "window") == 0) {
      NSWindow *window = makeMainWindow();
      printTypes("before", window);
      removeAll(5, 6);  // the first menu call creates the manager
      printTypes("after", window);
    } else {
      removeAll(5, 6);
      NSWindow *window = makeMainWindow();
      add(0, 1, "later", 3, "", -1, false);
      printTypes("after", window);
    }
  }
  return 0;
}
