// Opens and closes submenus as a person's click on the item that holds them does, for the tests of
// what the menu manager reports when its menus open. GNUstep puts the submenu on screen through the
// menu's representation; macOS tracks menus in an event loop of its own, which a test cannot click
// into, so there the driver tells each menu's delegate what the system would (menuWillOpen: once
// per opening, menuDidClose: when it closes).
#ifndef DB_TEST_MENU_DRIVER_H
#define DB_TEST_MENU_DRIVER_H

#import <AppKit/AppKit.h>

// Opens the submenu of the item at index of supermenu; one already open stays as it is.
void OpenSubmenuOfItem(NSMenu *supermenu, NSInteger index);
// Closes the open submenu of supermenu, with the submenus open below it.
void CloseSubmenuOf(NSMenu *supermenu);

#endif
