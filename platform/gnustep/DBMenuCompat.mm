// NSMenu stand-ins for this GNUstep:
// - removeAllItems, which it lacks;
// - menuWillOpen: for delegates. GNUstep tells a menu's delegate only menuNeedsUpdate:, never
//   menuWillOpen:. Every way it puts a menu on screen goes through -display (a menu attached to
//   the item that was clicked, or a torn-off one) or -displayTransient (a pop-up or context copy),
//   so both are wrapped: when the menu is not on screen yet, the delegate hears menuWillOpen:
//   first, as on macOS. A menu that is shown again while open does not report again.
#import "DBMenuCompat.h"

#include <objc/runtime.h>

@implementation NSMenu (DBMenuCompat)

- (void)removeAllItems {
  for (NSInteger index = [self numberOfItems] - 1; index >= 0; index--) [self removeItemAtIndex:index];
}

@end

typedef void (*DBMenuDisplayIMP)(id, SEL);
static DBMenuDisplayIMP originalDisplay = NULL;
static DBMenuDisplayIMP originalDisplayTransient = NULL;

static void TellDelegateMenuWillOpen(NSMenu *menu) {
  id delegate = [menu delegate];
  if (delegate != nil && [delegate respondsToSelector:@selector(menuWillOpen:)]) [delegate menuWillOpen:menu];
}

static void DisplayReportingOpening(id self, SEL _cmd) {
  NSMenu *menu = (NSMenu *)self;
  if (![[menu window] isVisible]) TellDelegateMenuWillOpen(menu);
  originalDisplay(self, _cmd);
}

static void DisplayTransientReportingOpening(id self, SEL _cmd) {
  NSMenu *menu = (NSMenu *)self;
  if (![menu isTransient]) TellDelegateMenuWillOpen(menu);
  originalDisplayTransient(self, _cmd);
}

// Installs the two wrappers once, when the plug-in is loaded (before any menu can be shown by it).
@interface DBMenuOpeningHook : NSObject
@end

@implementation DBMenuOpeningHook

+ (void)load {
  Class menuClass = objc_getClass("NSMenu");
  Method display = class_getInstanceMethod(menuClass, @selector(display));
  Method displayTransient = class_getInstanceMethod(menuClass, @selector(displayTransient));
  if (display != NULL && originalDisplay == NULL) {
    originalDisplay = (DBMenuDisplayIMP)method_setImplementation(display, (IMP)DisplayReportingOpening);
  }
  if (displayTransient != NULL && originalDisplayTransient == NULL) {
    originalDisplayTransient =
        (DBMenuDisplayIMP)method_setImplementation(displayTransient, (IMP)DisplayTransientReportingOpening);
  }
}

@end
