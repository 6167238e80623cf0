// Window services: the main window's title, the first window's backing scale factor, bringing the
// application to the front, and frame autosaving for the main window. "The main window" is
// DBMainWindow(): also while the application is inactive.
#include "DesktopBridge.h"
#import "DBPlatform.h"
#include "ExportEdge.h"

void setWindowTitle(const char *title) {
  if (title == NULL) return;
  DBAtExportEdge("setWindowTitle", "nothing", [&] {
    @autoreleasepool {
      NSString *text = [NSString stringWithUTF8String:title];
      [DBMainWindow() setTitle:(text != nil ? text : @"")];
    }
  });
}

float getScaleFactor(void) {
  double factor = 1.0;
  DBAtExportEdge("getScaleFactor", "1.0", [&] {
    @autoreleasepool {
      NSWindow *window = DBFirstWindow();
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
      [[NSRunningApplication currentApplication] activateWithOptions:NSApplicationActivateIgnoringOtherApps];
      [DBFirstWindow() deminiaturize:nil];
    }
  });
}

void setAutoRestore() {
  DBAtExportEdge("setAutoRestore", "nothing", [&] {
    @autoreleasepool {
      NSWindow *window = DBMainWindow();
      if (window != nil) {
        [[window windowController] setShouldCascadeWindows:NO];
        [window setFrameAutosaveName:[window representedFilename]];
      }
    }
  });
}
