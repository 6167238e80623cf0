// The bad-input paths of the exports, many times over: null pointers, text that is not UTF-8,
// long strings, extreme tags, refused launches and refused trash requests leave nothing of ours
// allocated.
#import <AppKit/AppKit.h>
#include <gtest/gtest.h>
#include "DesktopBridge.h"

#include <limits.h>
#include <stdlib.h>

#include <string>

namespace {
const char *const kInvalid = "\xff\xfe\xc3(";
void OnMenu(const char *tag, const char *title) {}
}  // namespace

TEST(BadInputLeaks, RefusedAndMisusedRequestsLeaveNothing) {
  [NSApp setMainMenu:[[[NSMenu alloc] initWithTitle:@"Host"] autorelease]];
  setMenuCallback(OnMenu);
  std::string longText(64 * 1024, 'x');
  int refused = 0;
  for (int round = 0; round < 100; round++) {
    @autoreleasepool {
      ASSERT_TRUE(addMenuItem(0, 1, nullptr, 1, nullptr, INT_MIN, false));
      ASSERT_TRUE(addMenuItem(0, 1, kInvalid, INT_MAX, kInvalid, INT_MAX, true));
      ASSERT_TRUE(addMenuItem(0, 1, longText.c_str(), 3, longText.c_str(), -1, false));
      setMenuItemText(0, 1, 3, nullptr);
      ASSERT_FALSE(addMenuItem(INT_MIN, INT_MAX, "Lost", 4, "", 0, true));
      ASSERT_FALSE(removeMenuItem(INT_MAX, INT_MIN, 4));
      removeAllMenuItems(0, 1);

      char *output = nullptr;
      if (createProcess(nullptr, nullptr, nullptr, true, &output) == -1) refused++;
      free(output);
      output = nullptr;
      if (createProcess("/bin/echo", kInvalid, kInvalid, true, &output) == -1) refused++;
      free(output);
      output = nullptr;
      if (createProcess(longText.c_str(), "", nullptr, true, &output) == -1) refused++;
      free(output);
      if (createProcess("/nonexistent/program", "", nullptr, false, nullptr) == -1) refused++;

      ASSERT_FALSE(trashFile(nullptr));
      ASSERT_FALSE(trashFile(kInvalid));
      ASSERT_FALSE(trashFile(longText.c_str()));
      setWindowTitle(kInvalid);
      notifyMenuSelected(nullptr, kInvalid);
      _notifyMenuSelected(nil, nil);
      free(MakeCString(nil));
    }
  }
  setMenuCallback(nullptr);
  EXPECT_EQ(refused, 400);
}
