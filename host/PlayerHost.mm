// Player: the sample host. A small application whose delegate is a PlayerAppDelegate and whose main
// window's content view is a PlayerWindowView; it loads DesktopBridge at start and prints every
// event the plug-in raises as one line of its event log (standard output).
//
// Options (GNUstep defaults on the command line, -Name value):
//   -PlayerBundle PATH          the DesktopBridge.bundle to load (default: the one built beside it)
//   -PlayerQuitAfterLaunch YES  quit once launched (for scripted runs)
#import <AppKit/AppKit.h>

#include "BridgeAPI.h"
#include "EventLog.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#ifndef PLAYER_DEFAULT_BUNDLE
#define PLAYER_DEFAULT_BUNDLE "DesktopBridge.bundle"
#endif

static BridgeAPI bridge;

#pragma mark - Callbacks

static void onMenuSelected(const char *tag, const char *title) {
  EventLog("menu selected: tag=%s title=\"%s\"", tag ? tag : "(null)", title ? title : "(null)");
}
static void onDragEnter(void) { EventLog("drag entered"); }
static void onDragExit(void) { EventLog("drag exited"); }
static void onDragDrop(int x, int y, const char *paths) {
  EventLog("drop at x=%d y=%d", x, y);
  EventLogPaths("  dropped", paths);
}
static void onOpenFile(const char *path) { EventLog("open file: %s", path ? path : "(null)"); }

#pragma mark - Host classes

@interface PlayerWindowView : NSView
@end

@implementation PlayerWindowView
- (void)drawRect:(NSRect)dirtyRect {
  [[NSColor colorWithCalibratedRed:0.16 green:0.18 blue:0.22 alpha:1.0] set];
  NSRectFill(dirtyRect);
  NSDictionary *attributes = [NSDictionary dictionaryWithObjectsAndKeys:[NSFont systemFontOfSize:18],
                                           NSFontAttributeName, [NSColor whiteColor],
                                           NSForegroundColorAttributeName, nil];
  [@"Player: drop files here" drawAtPoint:NSMakePoint(24, [self bounds].size.height / 2) withAttributes:attributes];
}
@end

@interface PlayerAppDelegate : NSObject {
  NSWindow *_window;
}
@end

@implementation PlayerAppDelegate
- (void)applicationWillFinishLaunching:(NSNotification *)notification {
  _window = [[NSWindow alloc] initWithContentRect:NSMakeRect(120, 120, 640, 400)
                                        styleMask:NSWindowStyleMaskTitled | NSWindowStyleMaskClosable |
                                                  NSWindowStyleMaskMiniaturizable | NSWindowStyleMaskResizable
                                          backing:NSBackingStoreBuffered
                                            defer:NO];
  [_window setTitle:@"Player"];
  PlayerWindowView *view = [[PlayerWindowView alloc] initWithFrame:NSMakeRect(0, 0, 640, 400)];
  [_window setContentView:view];
  [view release];
}

- (void)applicationDidFinishLaunching:(NSNotification *)notification {
  [_window makeKeyAndOrderFront:nil];
  [_window makeMainWindow];
  EventLog("launched: main window \"%s\"", [[[NSApp mainWindow] title] UTF8String]);
  if ([[NSUserDefaults standardUserDefaults] boolForKey:@"PlayerQuitAfterLaunch"]) {
    [NSApp performSelector:@selector(terminate:) withObject:nil afterDelay:0.0];
  }
}

- (void)applicationWillTerminate:(NSNotification *)notification { EventLog("quitting"); }

- (void)dealloc {
  [_window release];
  [super dealloc];
}
@end

#pragma mark - Start-up

static void onUncaughtException(NSException *exception) {
  fprintf(stderr, "player: uncaught exception %s: %s\n", [[exception name] UTF8String],
          [[exception reason] UTF8String]);
  _exit(70);
}

static NSMenu *makeMainMenu(void) {
  NSMenu *mainMenu = [[[NSMenu alloc] initWithTitle:@"Player"] autorelease];
  NSMenuItem *appItem = [[[NSMenuItem alloc] initWithTitle:@"Player" action:NULL keyEquivalent:@""] autorelease];
  NSMenu *appMenu = [[[NSMenu alloc] initWithTitle:@"Player"] autorelease];
  [appMenu addItemWithTitle:@"Quit" action:@selector(terminate:) keyEquivalent:@"q"];
  [appItem setSubmenu:appMenu];
  [mainMenu addItem:appItem];
  return mainMenu;
}

static NSString *bundlePath(void) {
  NSString *path = [[NSUserDefaults standardUserDefaults] stringForKey:@"PlayerBundle"];
  if ([path length] > 0) return path;
  const char *env = getenv("DESKTOPBRIDGE_BUNDLE");
  if (env && *env) return [NSString stringWithUTF8String:env];
  return @PLAYER_DEFAULT_BUNDLE;
}

int main(int argc, const char **argv) {
  setvbuf(stdout, NULL, _IOLBF, 0);
  @autoreleasepool {
    [NSApplication sharedApplication];
    NSSetUncaughtExceptionHandler(onUncaughtException);

    // The host's classes exist before the bundle loads, so the plug-in can graft its handlers onto them.
    NSString *path = bundlePath();
    if (!LoadBridge([path fileSystemRepresentation], &bridge)) return 1;
    EventLog("bundle loaded: %s", [path fileSystemRepresentation]);
    bridge.setMenuCallback(onMenuSelected);
    bridge.setDragDropCallback(onDragEnter, onDragExit, onDragDrop);
    bridge.setOpenFileCallback(onOpenFile);

    PlayerAppDelegate *delegate = [[PlayerAppDelegate alloc] init];
    [NSApp setDelegate:delegate];
    [NSApp setMainMenu:makeMainMenu()];
    [NSApp run];
    [delegate release];
  }
  return 0;
}
