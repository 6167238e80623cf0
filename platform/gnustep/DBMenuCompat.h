// Menu interfaces that Apple's AppKit has and this GNUstep lacks.
#ifndef DB_MENU_COMPAT_H
#define DB_MENU_COMPAT_H

#import <AppKit/AppKit.h>

@interface NSMenu (DBMenuCompat)
// Removes every item, last to first (each removal as removeItemAtIndex: makes it).
- (void)removeAllItems;
@end

#endif
