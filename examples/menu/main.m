/* The menu manager from a small AppKit host: a menu of the host's own in the menu bar, items
 * addressed by tags, a check mark, a dock-menu item, and the callback that hears which item was
 * chosen and which managed submenu opened. Main thread only.
 * Run with -ExampleUnattended YES, the example chooses its own items, as a click would, and quits. */
#import <AppKit/AppKit.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "DesktopBridgeLoader.h"

#ifndef DESKTOPBRIDGE_BINARY
#define DESKTOPBRIDGE_BINARY "DesktopBridge.bundle/" DB_BUNDLE_BINARY_SUBPATH
#endif

enum { kToolsMenu = 40, kShuffle = 41, kRepeat = 42, kDockPlay = 50 };

/* Every export, bound by name once the bundle is loaded. */
static DBExports bridge;

/* The tag comes as decimal text; both strings are borrowed for the call. A submenu that opens
 * reports the tag of the item holding it. */
static void onMenu(const char *tag, const char *title) {
  int chosen = atoi(tag);
  printf("menu: tag %d \"%s\"\n", chosen, title);
  if (chosen == kRepeat) {
    bridge.setMenuItemChecked(0, kToolsMenu, kRepeat, !bridge.isMenuItemChecked(0, kToolsMenu, kRepeat));
    printf("Repeat is %s\n", bridge.isMenuItemChecked(0, kToolsMenu, kRepeat) ? "on" : "off");
  }
}

@interface ExampleDelegate : NSObject
@end

@implementation ExampleDelegate
- (void)applicationDidFinishLaunching:(NSNotification *)notification {
  bridge.setMenuCallback(onMenu);
  /* (0, 0) is the menu bar; (0, 40) the submenu of its item tagged 40; (0, 1) the dock menu. */
  bool added = bridge.addMenuItem(0, 0, "Tools", kToolsMenu, "", -1, true) &&
               bridge.addMenuItem(0, kToolsMenu, "Shuffle", kShuffle, "s", -1, false) &&
               bridge.addMenuItem(0, kToolsMenu, "Repeat", kRepeat, "", -1, false) &&
               bridge.addMenuItem(0, 1, "Play", kDockPlay, "", -1, false);
  printf("menus added: %s\n", added ? "yes" : "no");

  if ([[NSUserDefaults standardUserDefaults] boolForKey:@"ExampleUnattended"]) {
    NSMenu *tools = [[[NSApp mainMenu] itemWithTag:kToolsMenu] submenu];
    [tools performActionForItemAtIndex:[tools indexOfItemWithTag:kShuffle]];
    [tools performActionForItemAtIndex:[tools indexOfItemWithTag:kRepeat]];
    [NSApp terminate:nil];
  }
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

    /* The menu bar must exist before items are added to it. */
    NSMenu *menuBar = [[[NSMenu alloc] initWithTitle:@"Example"] autorelease];
    NSMenuItem *appItem = [[[NSMenuItem alloc] initWithTitle:@"Example" action:NULL keyEquivalent:@""] autorelease];
    [menuBar addItem:appItem];
    NSMenu *appMenu = [[[NSMenu alloc] initWithTitle:@"Example"] autorelease];
    [appMenu addItemWithTitle:@"Quit" action:@selector(terminate:) keyEquivalent:@"q"];
    [appItem setSubmenu:appMenu];
    [NSApp setMainMenu:menuBar];

    ExampleDelegate *delegate = [[ExampleDelegate alloc] init];
    [NSApp setDelegate:delegate];
    [NSApp run];
    [delegate release];
  }
  return 0;
}
