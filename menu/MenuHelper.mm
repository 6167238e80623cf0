// The shared menu manager: tag addressing, item operations and the reports of chosen items and
// opening submenus.
#import "MenuHelper.h"

#include "ExportEdge.h"

static MenuHelper *instance_ = nil;

#pragma mark - Bridge to the host callback

void _notifyMenuSelected(NSString *tag, NSString *title) {
  DBAtExportEdge("_notifyMenuSelected", "nothing", [&] {
    const char *tagText = [tag UTF8String];
    const char *titleText = [title UTF8String];
    notifyMenuSelected(tagText ? tagText : "", titleText ? titleText : "");
  });
}

static NSString *TagText(NSInteger tag) { return [NSString stringWithFormat:@"%ld", (long)tag]; }

// GNUstep declares every NSMenuDelegate method as required; the manager implements only
// menuWillOpen:, as the protocol intends.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wprotocol"

@implementation MenuHelper

@synthesize dockMenu = _dockMenu;

#pragma mark - Shared instance

+ (MenuHelper *)sharedInstance {
  objc_sync_enter(self);
  @try {
    if (instance_ == nil) instance_ = [[MenuHelper alloc] init];
  } @finally {
    // Whatever leaves the block, an exception of any class included, gives the lock back.
    objc_sync_exit(self);
  }
  return instance_;
}

- (instancetype)init {
  self = [super init];
  if (self == nil) return nil;

  NSMenu *dockMenu = [[NSMenu alloc] initWithTitle:@"DockMenu"];
  [self setDockMenu:dockMenu];
  [dockMenu release];
  [_dockMenu setAutoenablesItems:NO];

  // The main view becomes a file-drag destination here and nowhere else: the content view of
  // DBMainWindow(NO), which is the window that would become main while the application is
  // inactive. Without any such window, nothing is registered.
  NSView *mainView = [DBMainWindow(NO) contentView];
  NSString *fileURLType = DBFileURLPasteboardType();
  if (fileURLType != nil) {
    [mainView registerForDraggedTypes:[NSArray arrayWithObject:fileURLType]];
  }
  [mainView registerForDraggedTypes:[NSArray arrayWithObject:NSFilenamesPboardType]];
  return self;
}

- (void)dealloc {
  [_dockMenu release];
  [super dealloc];
}

#pragma mark - Addressing

- (NSMenu *)getMenuByTag:(NSInteger)menuTag subMenuTag:(NSInteger)subMenuTag {
  NSMenu *mainMenu = [NSApp mainMenu];
  NSMenu *parent = nil;
  if (menuTag != 0) {
    parent = [[mainMenu itemWithTag:menuTag] submenu];
  } else {
    if (subMenuTag == 0) return mainMenu;
    if (subMenuTag == 1) return _dockMenu;
    parent = mainMenu;
  }
  if (parent == nil) return nil;
  return [[parent itemWithTag:subMenuTag] submenu];
}

- (NSMenuItem *)itemAt:(NSInteger)menuTag subMenuTag:(NSInteger)subMenuTag itemTag:(NSInteger)itemTag {
  return (NSMenuItem *)[[self getMenuByTag:menuTag subMenuTag:subMenuTag] itemWithTag:itemTag];
}

#pragma mark - Adding and removing

- (BOOL)addMenuItem:(NSInteger)menuTag
         subMenuTag:(NSInteger)subMenuTag
              title:(NSString *)title
                tag:(NSInteger)tag
      keyEquivalent:(NSString *)keyEquivalent
            atIndex:(NSInteger)index
          isSubMenu:(BOOL)isSubMenu {
  NSMenu *menu = [self getMenuByTag:menuTag subMenuTag:subMenuTag];
  if (menu == nil) return NO;

  NSMenuItem *item = nil;
  if ([title length] == 0) {
    item = [(NSMenuItem *)[NSMenuItem separatorItem] retain];
  } else {
    item = [[NSMenuItem alloc] init];
    [item setTitle:title];
    if (!isSubMenu) [item setAction:@selector(menuAction:)];
    [item setKeyEquivalent:(keyEquivalent != nil ? keyEquivalent : @"")];
    [item setEnabled:YES];
    [item setTarget:self];
  }
  [item setTag:tag];

  if (isSubMenu) {
    NSMenu *submenu = [[NSMenu alloc] initWithTitle:(title != nil ? title : @"")];
    [submenu setAutoenablesItems:NO];
    [submenu setDelegate:self];
    [item setSubmenu:submenu];
    [submenu release];
  }

  if (index < 0 || index >= [menu numberOfItems]) {
    [menu addItem:item];
  } else {
    [menu insertItem:item atIndex:index];
  }
  [item release];
  return YES;
}

- (BOOL)removeMenuItem:(NSInteger)menuTag subMenuTag:(NSInteger)subMenuTag itemTag:(NSInteger)itemTag {
  NSMenu *menu = [self getMenuByTag:menuTag subMenuTag:subMenuTag];
  if (menu == nil) return NO;
  NSMenuItem *item = (NSMenuItem *)[menu itemWithTag:itemTag];
  if (item == nil) return NO;
  [menu removeItem:item];
  return YES;
}

- (void)removeAllMenuItems:(NSInteger)menuTag subMenuTag:(NSInteger)subMenuTag {
  [[self getMenuByTag:menuTag subMenuTag:subMenuTag] removeAllItems];
}

#pragma mark - Item state

- (void)setMenuItemEnabled:(NSInteger)menuTag subMenuTag:(NSInteger)subMenuTag itemTag:(NSInteger)itemTag
                   enabled:(BOOL)enabled {
  [[self itemAt:menuTag subMenuTag:subMenuTag itemTag:itemTag] setEnabled:enabled];
}

- (void)setMenuItemChecked:(NSInteger)menuTag subMenuTag:(NSInteger)subMenuTag itemTag:(NSInteger)itemTag
                   checked:(BOOL)checked {
  [[self itemAt:menuTag subMenuTag:subMenuTag itemTag:itemTag] setState:(checked ? NSOnState : NSOffState)];
}

- (BOOL)isMenuItemChecked:(NSInteger)menuTag subMenuTag:(NSInteger)subMenuTag itemTag:(NSInteger)itemTag {
  NSMenuItem *item = [self itemAt:menuTag subMenuTag:subMenuTag itemTag:itemTag];
  return item != nil && [item state] == NSOnState;
}

- (void)setMenuItemText:(NSInteger)menuTag subMenuTag:(NSInteger)subMenuTag itemTag:(NSInteger)itemTag
                   text:(NSString *)text {
  [[self itemAt:menuTag subMenuTag:subMenuTag itemTag:itemTag] setTitle:(text != nil ? text : @"")];
}

#pragma mark - Reports to the host

- (void)menuAction:(id)sender {
  NSMenuItem *item = (NSMenuItem *)sender;
  _notifyMenuSelected(TagText([item tag]), [item title]);
}

- (void)menuWillOpen:(NSMenu *)menu {
  NSMenu *supermenu = [menu supermenu];
  NSInteger index = [supermenu indexOfItemWithSubmenu:menu];
  if (supermenu == nil || index < 0) return;  // no longer attached to an item: nothing to report
  NSMenuItem *item = (NSMenuItem *)[supermenu itemAtIndex:index];
  _notifyMenuSelected(TagText([item tag]), [menu title]);
}

@end

#pragma clang diagnostic pop
