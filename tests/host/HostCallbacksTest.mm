// Host callbacks and string marshalling, exercised through dlsym as a host does.
#import <Foundation/Foundation.h>
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_NEEDS_NO_DISPLAY();
#include "BundleLoader.h"
#include "DesktopBridge.h"

#include <string.h>

#include <string>
#include <vector>

namespace {

struct Exports {
  decltype(&setMenuCallback) setMenu = BundleFunction<decltype(&setMenuCallback)>("setMenuCallback");
  decltype(&notifyMenuSelected) notifyMenu = BundleFunction<decltype(&notifyMenuSelected)>("notifyMenuSelected");
  decltype(&setDragDropCallback) setDrag = BundleFunction<decltype(&setDragDropCallback)>("setDragDropCallback");
  decltype(&notifyDragEnter) enter = BundleFunction<decltype(&notifyDragEnter)>("notifyDragEnter");
  decltype(&notifyDragExit) exit = BundleFunction<decltype(&notifyDragExit)>("notifyDragExit");
  decltype(&notifyDragDrop) drop = BundleFunction<decltype(&notifyDragDrop)>("notifyDragDrop");
  decltype(&setOpenFileCallback) setOpenFile = BundleFunction<decltype(&setOpenFileCallback)>("setOpenFileCallback");
  void (*setOpenFilename)(NSString *) = BundleFunction<void (*)(NSString *)>("setOpenFilename");
  decltype(&::getOpenFilename) getOpen = BundleFunction<decltype(&getOpenFilename)>("getOpenFilename");
  char **savedFilename = BundleFunction<char **>("savedFilename");
  char *(*makeCString)(NSString *) = BundleFunction<char *(*)(NSString *)>(DB_MAKE_C_STRING_SYMBOL);
};

const Exports &api() {
  static Exports exports;
  return exports;
}

std::vector<std::string> events;

void menuA(const char *tag, const char *title) { events.push_back(std::string("A ") + tag + " " + title); }
void menuB(const char *tag, const char *title) { events.push_back(std::string("B ") + tag + " " + title); }
void onEnter() { events.push_back("enter"); }
void onExit() { events.push_back("exit"); }
void onDrop(int x, int y, const char *paths) {
  events.push_back("drop " + std::to_string(x) + " " + std::to_string(y) + " " + (paths ? paths : "(null)"));
}
const char *openFileSeen[4];
int openFileCalls;
void onOpenFile(const char *path) { openFileSeen[openFileCalls++ % 4] = path; }

// Registers another menu callback from inside the callback.
void menuReplacingItself(const char *tag, const char *title) {
  events.push_back(std::string("replacing ") + tag);
  api().setMenu(menuB);
}

class HostCallbacks : public ::testing::Test {
 protected:
  void SetUp() override {
    events.clear();
    openFileCalls = 0;
    api().setMenu(nullptr);
    api().setDrag(nullptr, nullptr, nullptr);
    api().setOpenFile(nullptr);
  }
};

}  // namespace

TEST_F(HostCallbacks, EveryExportResolves) {
  const Exports &e = api();
  for (void *p : {(void *)e.setMenu, (void *)e.notifyMenu, (void *)e.setDrag, (void *)e.enter, (void *)e.exit,
                  (void *)e.drop, (void *)e.setOpenFile, (void *)e.setOpenFilename, (void *)e.getOpen,
                  (void *)e.savedFilename, (void *)e.makeCString})
    EXPECT_NE(p, nullptr);
}

TEST_F(HostCallbacks, OpenFilenameIsNullBeforeTheFirstRequestAndCopiesAreNeverFreed) {
  // This test must run first in the program: nothing has set the path yet.
  EXPECT_EQ(api().getOpen(), nullptr);
  EXPECT_EQ(*api().savedFilename, nullptr);

  // No callback registered: the path is still remembered.
  api().setOpenFilename(@"/tmp/first file.mp4");
  const char *first = api().getOpen();
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first, "/tmp/first file.mp4");
  EXPECT_EQ(*api().savedFilename, first);
  EXPECT_EQ(openFileCalls, 0);

  api().setOpenFile(onOpenFile);
  api().setOpenFilename(@"/tmp/second.mp4");
  api().setOpenFilename(@"/tmp/third.mp4");
  ASSERT_EQ(openFileCalls, 2);
  EXPECT_STREQ(openFileSeen[0], "/tmp/second.mp4");
  EXPECT_STREQ(openFileSeen[1], "/tmp/third.mp4");
  // Each callback got the copy made for its request, which is the remembered pointer.
  EXPECT_NE(openFileSeen[0], openFileSeen[1]);
  EXPECT_EQ(api().getOpen(), openFileSeen[1]);
  // Earlier copies stay readable at their addresses.
  EXPECT_STREQ(first, "/tmp/first file.mp4");
  EXPECT_STREQ(openFileSeen[0], "/tmp/second.mp4");
}

TEST_F(HostCallbacks, OpenFilenameWithoutUtf8FormStoresNullAndNotifiesNull) {
  api().setOpenFile(onOpenFile);
  unichar lone = 0xD800;  // an unpaired surrogate has no UTF-8 form
  api().setOpenFilename([NSString stringWithCharacters:&lone length:1]);
  EXPECT_EQ(api().getOpen(), nullptr);
  ASSERT_EQ(openFileCalls, 1);
  EXPECT_EQ(openFileSeen[0], nullptr);
  api().setOpenFilename(nil);
  EXPECT_EQ(api().getOpen(), nullptr);
  EXPECT_EQ(openFileCalls, 2);
}

TEST_F(HostCallbacks, NotifyWithoutCallbacksDoesNothing) {
  api().notifyMenu("1", "x");
  api().enter();
  api().exit();
  api().drop(1, 2, "/a");
  EXPECT_TRUE(events.empty());
}

TEST_F(HostCallbacks, NotifyPassesArgumentsUnchanged) {
  api().setMenu(menuA);
  api().setDrag(onEnter, onExit, onDrop);
  api().notifyMenu("-3", "Open…");
  api().enter();
  api().exit();
  api().drop(-12, -7, "/a\x1c/b");
  api().drop(5, 6, nullptr);
  std::vector<std::string> expected = {"A -3 Open…", "enter", "exit", "drop -12 -7 /a\x1c/b", "drop 5 6 (null)"};
  EXPECT_EQ(events, expected);
}

TEST_F(HostCallbacks, NullSlotTurnsOffOnlyThatNotification) {
  api().setDrag(onEnter, nullptr, onDrop);
  api().enter();
  api().exit();
  api().drop(1, 2, "/x");
  std::vector<std::string> expected = {"enter", "drop 1 2 /x"};
  EXPECT_EQ(events, expected);
  api().setMenu(menuA);
  api().setMenu(nullptr);
  api().notifyMenu("1", "t");
  EXPECT_EQ(events.size(), 2u);
}

TEST_F(HostCallbacks, LaterRegistrationReplacesEarlierOne) {
  api().setMenu(menuA);
  api().setMenu(menuB);
  api().notifyMenu("7", "Seven");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], "B 7 Seven");
}

TEST_F(HostCallbacks, CallbackMayRegisterAnotherCallbackFromInsideItself) {
  api().setMenu(menuReplacingItself);
  api().notifyMenu("1", "first");
  api().notifyMenu("2", "second");
  std::vector<std::string> expected = {"replacing 1", "B 2 second"};
  EXPECT_EQ(events, expected);
}

TEST_F(HostCallbacks, MakeCStringGivesFreshOwnedCopies) {
  EXPECT_EQ(api().makeCString(nil), nullptr);
  char *empty = api().makeCString(@"");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty[0], '\0');
  NSString *text = @"Grüße, 世界 🎵";
  char *a = api().makeCString(text);
  char *b = api().makeCString(text);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_STREQ(a, [text UTF8String]);
  EXPECT_STREQ(a, b);
  unichar lone = 0xDC00;
  EXPECT_EQ(api().makeCString([NSString stringWithCharacters:&lone length:1]), nullptr);
  free(empty);
  free(a);
  free(b);
}

TEST_F(HostCallbacks, MakeCStringCopiesLongStringsWhole) {
  NSMutableString *big = [NSMutableString string];
  for (int i = 0; i < 1 << 16; i++) [big appendString:@"0123456789abcdé"];
  char *copy = api().makeCString(big);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(strlen(copy), strlen([big UTF8String]));
  EXPECT_EQ(memcmp(copy, [big UTF8String], strlen(copy)), 0);
  free(copy);
}
