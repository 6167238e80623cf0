// Window services: the main window's title and backing scale factor, bringing the application and
// its main window to the front, and frame autosaving for the main window. "The main window" is
// DBMainWindow(): also while the application is inactive; the scale factor and bringToFront take a
// miniaturized window too when there is no other.
#include "DesktopBridge.h"
#import "DBPlatform.h"
#include "ExportEdge.h"

void setWindowTitle(const char *title) {
  if (title == NULL) return;
  DBAtExportEdge("setWindowTitle", "nothing", [&] {
    @autoreleasepool {
      NSString *text = [NSString stringWithUTF8String:title];
      [DBMainWindow(NO) setTitle:(text != nil ? text : @"")];
    }
  });
}

float getScaleFactor(void) {
  double factor = 1.0;
  DBAtExportEdge("getScaleFactor", "1.0", [&] {
    @autoreleasepool {
      NSWindow *window = DBMainWindow(YES);
      NSScreen *screen = [NSScreen mainScreen];
      if (window != nil) {
        factor = [window backingScaleFactor];
      } else if (screen != nil) {
        factor = [screen backingScaleFactor];
      }
    }
  });
  return (float)factor;
}

void bringToFront(void) {
  DBAtExportEdge("bringToFront", "nothing", [&] {
    @autoreleasepool {
      NSWindow *window = DBMainWindow(YES);
      // From macOS 14 on, activation is cooperative: the running application's option to ignore
      // other applications "will have no effect", and the system may refuse the request. The
      // application's own request is still honoured where the system allows it, and the window is
      // ordered front even when the application stays inactive. (The application's method carries
      // a deprecation notice for a future release; the running application's option is deprecated
      // in 14. Each is called only where it still works.)
      bool cooperative = false;
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"
      if (@available(macOS 14, *)) {
        cooperative = true;
        [NSApp activateIgnoringOtherApps:YES];
      } else {
        [[NSRunningApplication currentApplication] activateWithOptions:NSApplicationActivateIgnoringOtherApps];
      }
#pragma clang diagnostic pop
      [window deminiaturize:nil];
      if (cooperative && window != nil && ![window isMiniaturized]) [window orderFrontRegardless];
    }
  });
}

void setAutoRestore() {
  DBAtExportEdge("setAutoRestore", "nothing", [&] {
    @autoreleasepool {
      NSWindow *window = DBMainWindow(NO);
      if (window != nil) {
        [[window windowController] setShouldCascadeWindows:NO];
        [window setFrameAutosaveName:[window representedFilename]];
      }
    }
  });
}
