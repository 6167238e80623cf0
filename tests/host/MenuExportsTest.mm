// The menu exports, called through dlsym as a host does, against real menus of this process.
#import <AppKit/AppKit.h>
#include <gtest/gtest.h>
#include "BundleLoader.h"
#include "DBPasteboardTypes.h"
#include "DesktopBridge.h"
#include "LogCapture.h"
#include "MenuDriver.h"
#include "Subprocess.h"

#include <limits.h>

#include <algorithm>
#include <functional>

#include <string>
#include <thread>
#include <vector>

namespace {

struct MenuExports {
#define DB_BIND(name) decltype(&::name) name = BundleFunction<decltype(&::name)>(#name)
  DB_BIND(addMenuItem);
  DB_BIND(removeMenuItem);
  DB_BIND(removeAllMenuItems);
  DB_BIND(setMenuItemEnabled);
  DB_BIND(setMenuItemChecked);
  DB_BIND(isMenuItemChecked);
  DB_BIND(setMenuItemText);
  DB_BIND(setMenuCallback);
#undef DB_BIND
  void (*notify)(NSString *, NSString *) = BundleFunction<void (*)(NSString *, NSString *)>("_notifyMenuSelected");
};

const MenuExports &api() {
  static MenuExports exports;
  return exports;
}

std::vector<std::string> reports;
void onMenu(const char *tag, const char *title) { reports.push_back(std::string(tag) + "|" + title); }

// The manager's dock menu, reached through the runtime as the dock-menu handler does.
NSMenu *dockMenu() {
  id manager = [NSClassFromString(@"MenuHelper") performSelector:@selector(sharedInstance)];
  return [manager performSelector:@selector(dockMenu)];
}

std::string titleAt(NSMenu *menu, NSInteger index) { return [[(NSMenuItem *)[menu itemAtIndex:index] title] UTF8String]; }

class MenuExportsTest : public ::testing::Test {
 protected:
  NSMenu *mainMenu = nil;
  void SetUp() override {
    mainMenu = [[[NSMenu alloc] initWithTitle:@"Host"] autorelease];
    [NSApp setMainMenu:mainMenu];
    api().removeAllMenuItems(0, 1);
    reports.clear();
    api().setMenuCallback(onMenu);
  }
  void TearDown() override { api().setMenuCallback(nullptr); }
};

}  // namespace

TEST_F(MenuExportsTest, EveryExportResolves) {
  const MenuExports &e = api();
  for (void *p : {(void *)e.addMenuItem, (void *)e.removeMenuItem, (void *)e.removeAllMenuItems,
                  (void *)e.setMenuItemEnabled, (void *)e.setMenuItemChecked, (void *)e.isMenuItemChecked,
                  (void *)e.setMenuItemText, (void *)e.notify})
    EXPECT_NE(p, nullptr);
}

TEST_F(MenuExportsTest, AHostBuildsItsMenusAndHearsEverySelection) {
  const MenuExports &e = api();
  ASSERT_TRUE(e.addMenuItem(0, 0, "Playback", 40, "", -1, true));
  ASSERT_TRUE(e.addMenuItem(0, 40, "Play", 41, "p", -1, false));
  ASSERT_TRUE(e.addMenuItem(0, 40, "", 43, "", -1, false));
  ASSERT_TRUE(e.addMenuItem(0, 40, "Repeat", 44, "", -1, false));
  ASSERT_TRUE(e.addMenuItem(0, 40, "Speed", 45, "", -1, true));
  ASSERT_TRUE(e.addMenuItem(40, 45, "Double", INT_MIN, "", 0, false));
  ASSERT_TRUE(e.addMenuItem(0, 1, "Next", -3, "", -1, false));
  EXPECT_FALSE(e.addMenuItem(5, 6, "Lost", 9, "", -1, false));

  NSMenu *playback = [[mainMenu itemWithTag:40] submenu];
  ASSERT_EQ([playback numberOfItems], 4);
  EXPECT_TRUE([(NSMenuItem *)[playback itemAtIndex:1] isSeparatorItem]);
  EXPECT_EQ([[playback itemAtIndex:1] tag], 43);

  e.setMenuItemChecked(0, 40, 44, true);
  EXPECT_TRUE(e.isMenuItemChecked(0, 40, 44));
  EXPECT_EQ([[playback itemWithTag:44] state], NSOnState);
  e.setMenuItemChecked(0, 40, 44, false);
  EXPECT_FALSE(e.isMenuItemChecked(0, 40, 44));
  EXPECT_FALSE(e.isMenuItemChecked(0, 40, 99));
  e.setMenuItemEnabled(0, 40, 41, false);
  EXPECT_FALSE([[playback itemWithTag:41] isEnabled]);
  e.setMenuItemEnabled(0, 40, 41, true);
  e.setMenuItemText(0, 40, 41, "Pause");

  [playback performActionForItemAtIndex:0];
  [[[playback itemWithTag:45] submenu] performActionForItemAtIndex:0];
  [dockMenu() performActionForItemAtIndex:0];
  OpenSubmenuOfItem(mainMenu, 0);
  CloseSubmenuOf(mainMenu);
  EXPECT_EQ(reports, (std::vector<std::string>{"41|Pause", "-2147483648|Double", "-3|Next", "40|Playback"}));

  EXPECT_TRUE(e.removeMenuItem(0, 40, 45));
  EXPECT_FALSE(e.removeMenuItem(0, 40, 45));
  EXPECT_FALSE(e.addMenuItem(40, 45, "Gone", 46, "", -1, false));
  e.removeAllMenuItems(0, 0);
  EXPECT_EQ([mainMenu numberOfItems], 0);
}

TEST_F(MenuExportsTest, NullAndInvalidStringsCountAsEmpty) {
  const MenuExports &e = api();
  const char invalid[] = {'\xff', '\xfe', 'a', 0};
  ASSERT_TRUE(e.addMenuItem(0, 1, nullptr, 1, nullptr, -1, false));
  ASSERT_TRUE(e.addMenuItem(0, 1, invalid, 2, "", -1, true));
  ASSERT_TRUE(e.addMenuItem(0, 1, "Keyless", 3, nullptr, -1, false));
  ASSERT_TRUE(e.addMenuItem(0, 1, "Odd key", 4, invalid, -1, false));
  NSMenu *dock = dockMenu();
  ASSERT_EQ([dock numberOfItems], 4);
  EXPECT_TRUE([(NSMenuItem *)[dock itemAtIndex:0] isSeparatorItem]);
  EXPECT_TRUE([(NSMenuItem *)[dock itemAtIndex:1] isSeparatorItem]);
  EXPECT_NE([[dock itemAtIndex:1] submenu], nil);
  EXPECT_EQ(std::string([[[dock itemAtIndex:2] keyEquivalent] UTF8String]), "");
  EXPECT_EQ(std::string([[[dock itemAtIndex:3] keyEquivalent] UTF8String]), "");

  e.setMenuItemText(0, 1, 3, nullptr);
  EXPECT_EQ(titleAt(dock, 2), "");
  e.setMenuItemText(0, 1, 4, invalid);
  EXPECT_EQ(titleAt(dock, 3), "");
  e.setMenuItemText(0, 1, 4, "caf\xc3\xa9");
  EXPECT_EQ(titleAt(dock, 3), "caf\xc3\xa9");
}

TEST_F(MenuExportsTest, ExportsNeedNoAutoreleasePoolOnTheCallingThread) {
  const MenuExports &e = api();
  auto logLinesFrom = [](const std::function<void()> &work) {
    LogCapture capture;
    std::thread thread(work);
    thread.join();
    return capture.stop();
  };
  // Control: an autoreleased object on this kind of thread is reported without a pool. Apple's
  // runtime reports it only with OBJC_DEBUG_MISSING_POOLS=YES, which the build sets for this
  // program; run by hand without it, the check cannot be made there. The object is a real one: a
  // small string or number may be a tagged pointer there, which autorelease does not record.
  std::vector<std::string> control = logLinesFrom([] { [[NSObject new] autorelease]; });
#if defined(__APPLE__)
  if (control.empty()) GTEST_SKIP() << "the runtime reports no missing pools: run with OBJC_DEBUG_MISSING_POOLS=YES";
#endif
  ASSERT_FALSE(control.empty()) << "this platform does not report autorelease without a pool";

  std::vector<std::string> lines = logLinesFrom([&] {
    e.addMenuItem(5, 6, "Lost", 9, "k", -1, false);
    e.setMenuItemText(5, 6, 9, "text");
    e.isMenuItemChecked(5, 6, 9);
  });
  EXPECT_TRUE(lines.empty()) << lines.front();
}

TEST(MenuDragRegistration, TheMainWindowAtCreationIsRegisteredForFileNames) {
  std::vector<std::string> argv = {DB_TEST_HELPERS_DIR "/menu_drag_host"};
  for (const std::string &arg : GuiArguments()) argv.push_back(arg);
  SubprocessResult run = RunSubprocess(argv, 60, {"DB_MENU_DRAG_MODE=window"});
  ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
  // Printed in sorted order.
  std::vector<std::string> types = {[NSFilenamesPboardType UTF8String]};
  if (DBFileURLPasteboardType() != nil) types.push_back([DBFileURLPasteboardType() UTF8String]);
  std::sort(types.begin(), types.end());
  std::string expected = types[0] + (types.size() > 1 ? "," + types[1] : "");
  EXPECT_EQ(SplitLines(run.out), (std::vector<std::string>{"before main=yes types=none",
                                                            "after main=yes types=" + expected}));
}

// No window was made main (as in a host that is not the active application): the frontmost window
// that can become main is registered; a window never shown and a panel are passed over.
TEST(MenuDragRegistration, WithoutAMainWindowTheWindowThatWouldBecomeMainIsRegistered) {
  std::vector<std::string> argv = {DB_TEST_HELPERS_DIR "/menu_drag_host"};
  for (const std::string &arg : GuiArguments()) argv.push_back(arg);
  SubprocessResult run = RunSubprocess(argv, 60, {"DB_MENU_DRAG_MODE=front"});
#if defined(__APPLE__)
  if (run.exitStatus == 77) GTEST_SKIP() << "the system made the helper's window main by itself: " << run.out;
#endif
  ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
  std::vector<std::string> types = {[NSFilenamesPboardType UTF8String]};
  if (DBFileURLPasteboardType() != nil) types.push_back([DBFileURLPasteboardType() UTF8String]);
  std::sort(types.begin(), types.end());
  std::string expected = types[0] + (types.size() > 1 ? "," + types[1] : "");
  EXPECT_EQ(SplitLines(run.out), (std::vector<std::string>{"before types=none", "after types=" + expected,
                                                            "hidden types=none", "panel types=none"}));
}

TEST(MenuDragRegistration, WithoutAMainWindowAtCreationNothingIsRegisteredLater) {
  std::vector<std::string> argv = {DB_TEST_HELPERS_DIR "/menu_drag_host"};
  for (const std::string &arg : GuiArguments()) argv.push_back(arg);
  SubprocessResult run = RunSubprocess(argv, 60, {"DB_MENU_DRAG_MODE=later"});
  ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
  EXPECT_EQ(SplitLines(run.out), (std::vector<std::string>{"after main=yes types=none"}));
}
