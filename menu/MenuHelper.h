// The menu manager: the host's items in the main menu and in the dock menu, addressed by tags.
//
// A target menu is named by two tags (menuTag, subMenuTag):
//   (0, 0)  the main menu itself
//   (0, 1)  the dock menu
//   (0, s)  the submenu of the main-menu item tagged s
//   (m, s)  m != 0: the submenu of the item tagged s inside the submenu of the main-menu item
//           tagged m (here 0 and 1 are plain tags)
// Items are found with itemWithTag: on one menu: the first item carrying the tag, among that
// menu's own items only.
//
// Threads: sharedInstance may be called from any thread; everything else works on AppKit menus and
// belongs to the main thread. Chosen items and opening submenus reach the host through
// _notifyMenuSelected, on the main thread.
#ifndef DB_MENU_HELPER_H
#define DB_MENU_HELPER_H

#import "DBPlatform.h"
#include "DesktopBridge.h"  // _notifyMenuSelected, notifyMenuSelected

@interface MenuHelper : NSObject <NSMenuDelegate> {
  NSMenu *_dockMenu;
}

// The dock menu: titled "DockMenu", auto-enabling off, no delegate. Set once, by init.
@property(nonatomic, strong) NSMenu *dockMenu;

// The shared manager, created on first use under the class object's lock. Creating it registers
// the main window's content view, if there is a main window at that moment, for file drags.
+ (MenuHelper *)sharedInstance;

// The target menu of an address, or nil when an item on the way is missing or has no submenu.
- (NSMenu *)getMenuByTag:(NSInteger)menuTag subMenuTag:(NSInteger)subMenuTag;

// Adds an item to the target menu: a separator when title is empty or nil, otherwise an enabled
// item that sends menuAction: to the manager (unless isSubMenu). isSubMenu attaches a new managed
// submenu with the same title, which reports its opening. A negative index, or one past the last
// item, appends. NO only when there is no target menu.
- (BOOL)addMenuItem:(NSInteger)menuTag
         subMenuTag:(NSInteger)subMenuTag
              title:(NSString *)title
                tag:(NSInteger)tag
      keyEquivalent:(NSString *)keyEquivalent
            atIndex:(NSInteger)index
          isSubMenu:(BOOL)isSubMenu;

// Removes the first item tagged itemTag, with any submenu it holds. NO when the menu or the item
// is missing.
- (BOOL)removeMenuItem:(NSInteger)menuTag subMenuTag:(NSInteger)subMenuTag itemTag:(NSInteger)itemTag;
// Empties the target menu, if there is one.
- (void)removeAllMenuItems:(NSInteger)menuTag subMenuTag:(NSInteger)subMenuTag;

// Item state; each does nothing when the menu or the item is missing.
- (void)setMenuItemEnabled:(NSInteger)menuTag subMenuTag:(NSInteger)subMenuTag itemTag:(NSInteger)itemTag
                   enabled:(BOOL)enabled;
- (void)setMenuItemChecked:(NSInteger)menuTag subMenuTag:(NSInteger)subMenuTag itemTag:(NSInteger)itemTag
                   checked:(BOOL)checked;
// YES only for an existing item in the on state (not for the mixed state).
- (BOOL)isMenuItemChecked:(NSInteger)menuTag subMenuTag:(NSInteger)subMenuTag itemTag:(NSInteger)itemTag;
// Retitles the item only: a submenu it holds keeps its own title.
- (void)setMenuItemText:(NSInteger)menuTag subMenuTag:(NSInteger)subMenuTag itemTag:(NSInteger)itemTag
                   text:(NSString *)text;

// Action of the manager's items: reports the item's tag ("%ld") and current title.
- (void)menuAction:(id)sender;
// Delegate of the managed submenus: reports the tag of the item holding the menu and the menu's
// own title.
- (void)menuWillOpen:(NSMenu *)menu;

@end

#endif
