// Many menu requests through the exports: items, separators and submenus that are removed again
// (one by one and all at once), retitled and chosen leave nothing of ours allocated.
#import <AppKit/AppKit.h>
#include <gtest/gtest.h>
#include "DesktopBridge.h"

static int selections = 0;
static void onMenu(const char *tag, const char *title) { selections++; }

TEST(MenuLeaks, AddedAndRemovedItemsLeaveNothing) {
  [NSApp setMainMenu:[[[NSMenu alloc] initWithTitle:@"Host"] autorelease]];
  setMenuCallback(onMenu);
  ASSERT_TRUE(addMenuItem(0, 0, "Playback", 40, "", -1, true));
  for (int round = 0; round < 200; round++) {
    @autoreleasepool {
      ASSERT_TRUE(addMenuItem(0, 40, "Play", 41, "p", -1, false));
      ASSERT_TRUE(addMenuItem(0, 40, "", 42, "", 0, false));
      ASSERT_TRUE(addMenuItem(0, 40, "Speed", 43, "", -1, true));
      ASSERT_TRUE(addMenuItem(40, 43, "Double", 44, "", -1, false));
      ASSERT_TRUE(addMenuItem(0, 1, nullptr, 2, nullptr, -1, true));
      setMenuItemText(0, 40, 41, "Pause");
      setMenuItemChecked(0, 40, 41, true);
      NSMenu *playback = [[[NSApp mainMenu] itemWithTag:40] submenu];
      [playback performActionForItemAtIndex:[playback indexOfItemWithTag:41]];
      ASSERT_TRUE(removeMenuItem(0, 40, 41));
      removeAllMenuItems(0, 40);
      removeAllMenuItems(0, 1);
    }
  }
  setMenuCallback(nullptr);
  EXPECT_EQ(selections, 200);
}
