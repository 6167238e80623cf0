#include "MenuDriver.h"

#if defined(GNUSTEP)

void OpenSubmenuOfItem(NSMenu *supermenu, NSInteger index) {
  [[supermenu menuRepresentation] attachSubmenuForItemAtIndex:index];
}

void CloseSubmenuOf(NSMenu *supermenu) { [[supermenu menuRepresentation] detachSubmenu]; }

#else

namespace {

// The submenus opened and not yet closed, outermost first: each one's supermenu is the one before
// it, or a menu that is not a submenu.
NSMutableArray *OpenMenus() {
  static NSMutableArray *menus = [[NSMutableArray alloc] init];
  return menus;
}

}  // namespace

void OpenSubmenuOfItem(NSMenu *supermenu, NSInteger index) {
  NSMenu *menu = [(NSMenuItem *)[supermenu itemAtIndex:index] submenu];
  if (menu == nil || [OpenMenus() containsObject:menu]) return;
  CloseSubmenuOf(supermenu);  // a sibling open before: the system closes it first
  [OpenMenus() addObject:menu];
  id<NSMenuDelegate> delegate = [menu delegate];
  if ([delegate respondsToSelector:@selector(menuWillOpen:)]) [delegate menuWillOpen:menu];
}

void CloseSubmenuOf(NSMenu *supermenu) {
  NSMutableArray *open = OpenMenus();
  NSUInteger first = NSNotFound;
  for (NSUInteger i = 0; i < [open count] && first == NSNotFound; i++)
    if ([[open objectAtIndex:i] supermenu] == supermenu) first = i;
  // Innermost first, as the system closes them.
  while (first != NSNotFound && [open count] > first) {
    NSMenu *menu = [[[open lastObject] retain] autorelease];
    [open removeLastObject];
    id<NSMenuDelegate> delegate = [menu delegate];
    if ([delegate respondsToSelector:@selector(menuDidClose:)]) [delegate menuDidClose:menu];
  }
}

#endif
