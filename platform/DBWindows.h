// Window lookups whose answer depends on the platform's own windows.
#ifndef DB_WINDOWS_H
#define DB_WINDOWS_H

#import <AppKit/AppKit.h>

// The application's first window: entry 0 of [NSApp windows]; nil when the application has none.
// GNUstep lists windows of its own in [NSApp windows] that macOS does not (the application icon,
// menu panels, the miniwindows of miniaturized windows); they are passed over, so that on both
// platforms the first window is the first of the application's own windows. Main thread.
static inline NSWindow *DBFirstWindow(void) {
  NSArray *windows = [NSApp windows];
#if defined(GNUSTEP)
  NSWindow *iconWindow = [NSApp iconWindow];
  Class iconWindowClass = NSClassFromString(@"NSIconWindow");
  Class menuPanelClass = NSClassFromString(@"NSMenuPanel");
  Class miniWindowClass = NSClassFromString(@"NSMiniWindow");
  for (NSWindow *window in windows) {
    if (window == iconWindow) continue;
    if (iconWindowClass != Nil && [window isKindOfClass:iconWindowClass]) continue;
    if (menuPanelClass != Nil && [window isKindOfClass:menuPanelClass]) continue;
    if (miniWindowClass != Nil && [window isKindOfClass:miniWindowClass]) continue;
    return window;
  }
  return nil;
#else
  return [windows count] > 0 ? [windows objectAtIndex:0] : nil;
#endif
}

// The window the bundle's window services act on: the main window, or, while there is none (the
// application is inactive, or nothing was made main yet), the window that would become main: the
// frontmost of [NSApp orderedWindows] that is visible and can become main. Windows ordered out,
// miniaturized or hidden with the application are passed over, as are panels. nil when no window
// qualifies. Main thread.
static inline NSWindow *DBMainWindow(void) {
  NSWindow *window = [NSApp mainWindow];
  if (window != nil) return window;
  for (NSWindow *candidate in [NSApp orderedWindows]) {
    if ([candidate isVisible] && ![candidate isMiniaturized] && [candidate canBecomeMainWindow]) return candidate;
  }
  return nil;
}

#endif
