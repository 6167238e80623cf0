// Tour steps for the menu manager: a menu of the host's own in the menu bar, a checked item, a
// submenu that reports its opening, renaming, disabling and removing items, and the dock menu.
#include "Tour.h"

#include "EventLog.h"

// Tags the tour gives its items.
enum {
  kTourMenu = 40,
  kPlay = 41,
  kSeparator = 42,
  kShuffle = 43,
  kSpeed = 44,
  kSpeedNormal = 441,
  kSpeedDouble = 442,
  kDockPlayNext = 7,
  kDockPause = 8,
};

static bool add(TourStepContext &step, int menuTag, int subMenuTag, const char *title, int tag, const char *key,
                int index, bool isSubMenu) {
  auto addMenuItem = step.Export<decltype(&::addMenuItem)>("addMenuItem");
  bool added = addMenuItem(menuTag, subMenuTag, title, tag, key, index, isSubMenu);
  EventLog("addMenuItem(%d, %d, \"%s\", %d, \"%s\", %d, %s) -> %s", menuTag, subMenuTag, title, tag, key, index,
           isSubMenu ? "true" : "false", added ? "true" : "false");
  return added;
}

static NSMenu *submenuTagged(NSMenu *menu, NSInteger tag) { return [[menu itemWithTag:tag] submenu]; }
static NSMenu *tourMenu(void) { return submenuTagged([NSApp mainMenu], kTourMenu); }

// Opens the submenu of the item tagged tag in menu, as a click on that item does: the menu's view
// highlights the item and attaches its submenu beside it.
static NSMenu *openSubmenu(NSMenu *menu, NSInteger tag) {
  NSInteger index = [menu indexOfItemWithTag:tag];
  if (index < 0) return nil;
#ifdef GNUSTEP
  NSMenuView *view = (NSMenuView *)[menu menuRepresentation];
  [view setHighlightedItemIndex:index];
  [view attachSubmenuForItemAtIndex:index];
#else
  [menu performActionForItemAtIndex:index];
#endif
  return [[menu itemAtIndex:index] submenu];
}

// Chooses the item tagged tag in menu, as a click on it does (a disabled item does nothing).
static void choose(NSMenu *menu, NSInteger tag) {
  NSInteger index = [menu indexOfItemWithTag:tag];
  if (index < 0) return;
  EventLog("choosing \"%s\"", [[[menu itemAtIndex:index] title] UTF8String]);
  [menu performActionForItemAtIndex:index];
}

static void redraw(NSMenu *menu) {
  [menu update];
#ifdef GNUSTEP
  // GNUstep's menus are windows of their own, sized and drawn by the program (Apple's -sizeToFit
  // is deprecated and unneeded there).
  [menu sizeToFit];
  [[menu window] display];
#endif
}

static void closeMenu(NSMenu *menu) {
#ifdef GNUSTEP
  [menu close];
#endif
}

static void menuBar(TourStepContext &step) {
  TourMainWindowMadeMain(step);  // the first menu call registers the main window's view for drags
  step.Require(add(step, 0, 0, "Tour", kTourMenu, "", -1, true), "the Tour menu joined the menu bar");
  step.Check(add(step, 0, kTourMenu, "Play", kPlay, "p", -1, false), "Play was added");
  step.Check(add(step, 0, kTourMenu, "", kSeparator, "", -1, false), "a separator was added");
  step.Check(add(step, 0, kTourMenu, "Shuffle", kShuffle, "", -1, false), "Shuffle was added");
  step.Check(add(step, 0, kTourMenu, "Speed", kSpeed, "", -1, true), "the Speed submenu was added");
  step.Check(add(step, kTourMenu, kSpeed, "Normal", kSpeedNormal, "", -1, false), "Normal was added");
  step.Check(add(step, kTourMenu, kSpeed, "Double", kSpeedDouble, "", -1, false), "Double was added");
  NSMenuItem *item = (NSMenuItem *)[[NSApp mainMenu] itemWithTag:kTourMenu];
  step.Pump(0.3);
  EventLog("the menu bar shows \"%s\" (%s)", [[item title] UTF8String], [item isEnabled] ? "enabled" : "disabled");
  EventLog("opening the Tour menu");
  NSMenu *menu = openSubmenu([NSApp mainMenu], kTourMenu);
  step.Require(menu != nil, "the Tour menu has a submenu");
#ifdef GNUSTEP
  // Only GNUstep shows a menu in a window of its own that a program can look at.
  step.Check([[menu window] isVisible], "the Tour menu is on screen");
#endif
  step.Check(step.WaitForLine("menu selected: tag=40 title=\"Tour\"", 2), "the opening of Tour was reported");
  step.Pump(0.3);
  step.Shot("menu", "The host's own Tour menu, opened from the menu bar");
  choose(menu, kPlay);
  step.Check(step.WaitForLine("menu selected: tag=41 title=\"Play\"", 2), "choosing Play reached the callback");
}

static void checkedItem(TourStepContext &step) {
  auto setChecked = step.Export<decltype(&setMenuItemChecked)>("setMenuItemChecked");
  auto isChecked = step.Export<decltype(&isMenuItemChecked)>("isMenuItemChecked");
  NSMenu *menu = tourMenu();
  step.Require(menu != nil, "the Tour menu is there");
  setChecked(0, kTourMenu, kShuffle, true);
  bool checked = isChecked(0, kTourMenu, kShuffle);
  EventLog("setMenuItemChecked(0, 40, 43, true); isMenuItemChecked(0, 40, 43) -> %s", checked ? "true" : "false");
  step.Check(checked, "Shuffle is checked");
  redraw(menu);
  step.Pump(0.2);
  step.Shot("checked", "Shuffle checked");
  choose(menu, kShuffle);
  step.Check(step.WaitForLine("menu selected: tag=43 title=\"Shuffle\"", 2), "choosing Shuffle reached the callback");
  setChecked(0, kTourMenu, kShuffle, false);
  checked = isChecked(0, kTourMenu, kShuffle);
  EventLog("setMenuItemChecked(0, 40, 43, false); isMenuItemChecked(0, 40, 43) -> %s", checked ? "true" : "false");
  step.Check(!checked, "Shuffle is unchecked");
  bool missing = isChecked(0, kTourMenu, 4999);
  EventLog("isMenuItemChecked(0, 40, 4999) -> %s (no such item)", missing ? "true" : "false");
  step.Check(!missing, "a missing item is not checked");
}

static void submenuOpening(TourStepContext &step) {
  NSMenu *menu = tourMenu();
  step.Require(menu != nil, "the Tour menu is there");
  EventLog("opening the Speed submenu");
  NSMenu *speed = openSubmenu(menu, kSpeed);
  step.Require(speed != nil, "Speed has a submenu");
  step.Check(step.WaitForLine("menu selected: tag=44 title=\"Speed\"", 2), "the opening of Speed was reported");
  step.Pump(0.2);
  step.Shot("submenu", "The Speed submenu open");
  choose(speed, kSpeedDouble);
  step.Check(step.WaitForLine("menu selected: tag=442 title=\"Double\"", 2), "choosing Double reached the callback");
  closeMenu(speed);
}

static void editItems(TourStepContext &step) {
  auto setText = step.Export<decltype(&setMenuItemText)>("setMenuItemText");
  auto setEnabled = step.Export<decltype(&setMenuItemEnabled)>("setMenuItemEnabled");
  auto remove = step.Export<decltype(&removeMenuItem)>("removeMenuItem");
  NSMenu *menu = tourMenu();
  step.Require(menu != nil, "the Tour menu is there");
  setText(0, kTourMenu, kPlay, "Pause");
  EventLog("setMenuItemText(0, 40, 41, \"Pause\")");
  setEnabled(0, kTourMenu, kShuffle, false);
  EventLog("setMenuItemEnabled(0, 40, 43, false)");
  bool removed = remove(0, kTourMenu, kSeparator);
  EventLog("removeMenuItem(0, 40, 42) -> %s", removed ? "true" : "false");
  step.Check(removed, "the separator was removed");
  bool again = remove(0, kTourMenu, kSeparator);
  EventLog("removeMenuItem(0, 40, 42) -> %s (already gone)", again ? "true" : "false");
  step.Check(!again, "a second removal finds nothing");
  step.Check(!add(step, 5, 6, "Nowhere", 99, "", -1, false), "no menu answers to (5, 6)");
  redraw(menu);
  step.Pump(0.2);
  step.Shot("edited", "Play renamed to Pause, Shuffle disabled, the separator gone");
  choose(menu, kPlay);
  step.Check(step.WaitForLine("menu selected: tag=41 title=\"Pause\"", 2), "the renamed item reports its new title");
  choose(menu, kShuffle);
  step.Pump(0.3);
  step.Check(!step.HasLine("menu selected: tag=43"), "a disabled item reports nothing");
  closeMenu(menu);
}

static void dockMenu(TourStepContext &step) {
  auto removeAll = step.Export<decltype(&removeAllMenuItems)>("removeAllMenuItems");
  step.Check(add(step, 0, 1, "Play Next", kDockPlayNext, "", -1, false), "Play Next joined the dock menu");
  step.Check(add(step, 0, 1, "Pause", kDockPause, "", -1, false), "Pause joined the dock menu");
  // What the system does when the person right-clicks the application icon.
  id delegate = [NSApp delegate];
  NSMenu *dock = [delegate applicationDockMenu:NSApp];
  step.Require(dock != nil, "the application delegate answers with a dock menu");
  EventLog("applicationDockMenu: -> \"%s\" with %ld items", [[dock title] UTF8String], (long)[dock numberOfItems]);
  step.Check([dock numberOfItems] == 2, "the dock menu holds the two items");
#ifdef GNUSTEP
  // Shown where the system shows it: beside the application icon, in the lower-left corner.
  [dock display];
  [dock nestedSetFrameOrigin:NSMakePoint(72, 8)];
#endif
  step.Pump(0.3);
  step.Shot("dock", "The dock menu the plug-in hands to the system");
  choose(dock, kDockPlayNext);
  step.Check(step.WaitForLine("menu selected: tag=7 title=\"Play Next\"", 2), "choosing Play Next reached the callback");
  closeMenu(dock);
  removeAll(0, 1);
  EventLog("removeAllMenuItems(0, 1): dock menu now has %ld items", (long)[dock numberOfItems]);
  step.Check([dock numberOfItems] == 0, "the dock menu is empty");
}

static const TourStep kMenuSteps[] = {
    {"menu-bar", "A menu of the host's own in the menu bar, chosen by tag", "addMenuItem", menuBar},
    {"menu-check", "A checked item", "setMenuItemChecked isMenuItemChecked", checkedItem},
    {"menu-submenu", "A submenu reporting its opening", "addMenuItem", submenuOpening},
    {"menu-edit", "Renaming, disabling and removing items", "addMenuItem setMenuItemText setMenuItemEnabled removeMenuItem",
     editItems},
    {"dock-menu", "Dock-menu items", "addMenuItem removeAllMenuItems PlayerAppDelegate/applicationDockMenu:", dockMenu},
};

TourStepList MenuTourSteps(void) {
  return {kMenuSteps, sizeof kMenuSteps / sizeof kMenuSteps[0], __FILE__};
}
