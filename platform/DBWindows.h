// The one window lookup of the plug-in's window services.
#ifndef DB_WINDOWS_H
#define DB_WINDOWS_H

#import <AppKit/AppKit.h>

// The window the plug-in's window services act on, "the main window": [NSApp mainWindow]; while
// there is none (the application is inactive, or nothing was made main yet), the key window if it
// can become main; else the window that would become main: the frontmost of [NSApp orderedWindows]
// that is visible and can become main. Windows ordered out, miniaturized or hidden with the
// application are passed over, as are panels. With orMiniaturized, a miniaturized window that is
// not a panel is the last resort (the frontmost one, else any): for the services that restore a
// window or read its scale, not for those that change it. (Whether a miniaturized window "can
// become main" is not asked: GNUstep answers NO for any window off screen, macOS YES for any
// titled one.) nil when no window qualifies. Main thread. The order of [NSApp windows] is
// undocumented and it holds the platform's own windows too: it is searched only for a
// miniaturized window, which [NSApp orderedWindows] may leave out.
static inline NSWindow *DBMainWindow(BOOL orMiniaturized) {
  NSWindow *window = [NSApp mainWindow];
  if (window != nil) return window;
  window = [NSApp keyWindow];
  if (window != nil && [window canBecomeMainWindow]) return window;
  NSArray *ordered = [NSApp orderedWindows];
  for (NSWindow *candidate in ordered) {
    if ([candidate isVisible] && ![candidate isMiniaturized] && [candidate canBecomeMainWindow]) return candidate;
  }
  if (!orMiniaturized) return nil;
  for (NSArray *list in [NSArray arrayWithObjects:ordered, [NSApp windows], nil]) {
    for (NSWindow *candidate in list) {
      if ([candidate isMiniaturized] && ![candidate isKindOfClass:[NSPanel class]]) return candidate;
    }
  }
  return nil;
}

#endif
