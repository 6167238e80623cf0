// Every export called through dlsym with the inputs a careless or hostile host may pass: null
// pointers, empty strings, bytes that are not UTF-8, 1 MiB strings, extreme integers and null
// callbacks. Each group checks the results that docs/bad-input.md documents, and that the export
// still works normally afterwards.
#import <AppKit/AppKit.h>
#include <gtest/gtest.h>
#include "BundleLoader.h"
#include "DesktopBridge.h"
#include "LogCapture.h"
#include "PanelDriver.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DB_UNDER_ADDRESS_SANITIZER 1
#endif
#endif

#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

struct Api {
#define DB_BIND(name) decltype(&::name) name = BundleFunction<decltype(&::name)>(#name)
  DB_BIND(setMenuCallback);
  DB_BIND(notifyMenuSelected);
  DB_BIND(setDragDropCallback);
  DB_BIND(notifyDragEnter);
  DB_BIND(notifyDragExit);
  DB_BIND(notifyDragDrop);
  DB_BIND(setOpenFileCallback);
  DB_BIND(getOpenFilename);
  DB_BIND(setWindowTitle);
  DB_BIND(getScaleFactor);
  DB_BIND(bringToFront);
  DB_BIND(trashFile);
  DB_BIND(DialogOpenFilePanel);
  DB_BIND(DialogOpenFilePanelAsync);
  DB_BIND(DialogOpenFolderPanel);
  DB_BIND(DialogOpenFolderPanelAsync);
  DB_BIND(DialogSaveFilePanel);
  DB_BIND(DialogSaveFilePanelAsync);
  DB_BIND(addMenuItem);
  DB_BIND(removeMenuItem);
  DB_BIND(removeAllMenuItems);
  DB_BIND(setMenuItemEnabled);
  DB_BIND(setMenuItemChecked);
  DB_BIND(isMenuItemChecked);
  DB_BIND(setMenuItemText);
#undef DB_BIND
  void (*setOpenFilename)(NSString *) = BundleFunction<void (*)(NSString *)>("setOpenFilename");
  void (*notifyMenuBridge)(NSString *, NSString *) =
      BundleFunction<void (*)(NSString *, NSString *)>("_notifyMenuSelected");
  char *(*makeCString)(NSString *) = BundleFunction<char *(*)(NSString *)>(DB_MAKE_C_STRING_SYMBOL);
  char **savedFilename = BundleFunction<char **>("savedFilename");
  void (*setAutoRestore)() = BundleFunction<void (*)()>(DB_SET_AUTO_RESTORE_SYMBOL);
};

const Api &api() {
  static Api exports;
  return exports;
}

const char *const kInvalidUTF8 = "\xff\xfe\xc3(";  // stray bytes and a truncated sequence
const size_t kMiB = 1024 * 1024;

// 1 MiB of text: a repeated pattern, NUL-terminated.
std::string Long(const std::string &pattern = "x") {
  std::string text;
  text.reserve(kMiB + pattern.size());
  while (text.size() < kMiB) text += pattern;
  text.resize(kMiB);
  return text;
}

// A string object with no UTF-8 form: an unpaired surrogate.
NSString *Unencodable() {
  unichar lone = 0xD800;
  return [NSString stringWithCharacters:&lone length:1];
}

std::string Ns(NSString *string) { return string ? std::string([string UTF8String]) : std::string("(nil)"); }

std::vector<std::string> events;
void OnMenu(const char *tag, const char *title) {
  events.push_back(std::string("menu ") + (tag ? tag : "(null)") + "|" + (title ? title : "(null)") + "|" +
                   std::to_string(tag ? strlen(tag) : 0) + "|" + std::to_string(title ? strlen(title) : 0));
}
void OnEnter() { events.push_back("enter"); }
void OnExit() { events.push_back("exit"); }
void OnDrop(int x, int y, const char *paths) {
  events.push_back("drop " + std::to_string(x) + " " + std::to_string(y) + " " +
                   (paths ? std::to_string(strlen(paths)) : std::string("(null)")));
}
std::vector<const char *> openFiles;
void OnOpenFile(const char *path) { openFiles.push_back(path); }

std::vector<std::string> dialogResults;
void OnDialog(const char *result) { dialogResults.push_back(result ? result : "(null)"); }

NSMenu *DockMenu() {
  id manager = [NSClassFromString(@"MenuHelper") performSelector:@selector(sharedInstance)];
  return [manager performSelector:@selector(dockMenu)];
}

}  // namespace

#pragma mark - Host callbacks

TEST(BadInput, NotifyFunctionsPassAnyValueThroughAndDoNothingWithoutACallback) {
  const Api &e = api();
  std::string big = Long();
  events.clear();
  // No callbacks registered: nothing happens, whatever the arguments.
  e.setMenuCallback(nullptr);
  e.setDragDropCallback(nullptr, nullptr, nullptr);
  e.notifyMenuSelected(nullptr, nullptr);
  e.notifyMenuSelected(kInvalidUTF8, big.c_str());
  e.notifyDragEnter();
  e.notifyDragExit();
  e.notifyDragDrop(INT_MIN, INT_MAX, nullptr);
  EXPECT_TRUE(events.empty());

  // Registered: the values arrive unchanged, null pointers and invalid bytes included.
  e.setMenuCallback(OnMenu);
  e.setDragDropCallback(OnEnter, OnExit, OnDrop);
  e.notifyMenuSelected(nullptr, nullptr);
  e.notifyMenuSelected("", kInvalidUTF8);
  e.notifyMenuSelected(big.c_str(), "");
  e.notifyDragEnter();
  e.notifyDragExit();
  e.notifyDragDrop(INT_MIN, INT_MAX, nullptr);
  e.notifyDragDrop(-1, 0, big.c_str());
  e.setMenuCallback(nullptr);
  e.setDragDropCallback(nullptr, nullptr, nullptr);
  EXPECT_EQ(events, (Strings{"menu (null)|(null)|0|0", std::string("menu |") + kInvalidUTF8 + "|0|4",
                             "menu " + big + "||1048576|0", "enter", "exit", "drop -2147483648 2147483647 (null)",
                             "drop -1 0 1048576"}));
}

TEST(BadInput, OpenFilenameAndMakeCStringTakeNilUnencodableAndLongStrings) {
  const Api &e = api();
  openFiles.clear();
  e.setOpenFileCallback(nullptr);
  EXPECT_EQ(e.makeCString(nil), nullptr);
  EXPECT_EQ(e.makeCString(Unencodable()), nullptr);
  char *empty = e.makeCString(@"");
  ASSERT_NE(empty, nullptr);
  EXPECT_STREQ(empty, "");
  free(empty);
  std::string big = Long("d\xc3\xa9j\xc3\xa0 ");
  NSString *bigString = [NSString stringWithUTF8String:big.c_str()];
  ASSERT_NE(bigString, nil);
  char *copy = e.makeCString(bigString);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::string(copy), big);
  free(copy);

  // Without a callback the request is still remembered; nil and unencodable paths store null.
  e.setOpenFilename(bigString);
  ASSERT_NE(e.getOpenFilename(), nullptr);
  EXPECT_EQ(std::string(e.getOpenFilename()), big);
  e.setOpenFileCallback(OnOpenFile);
  e.setOpenFilename(nil);
  EXPECT_EQ(e.getOpenFilename(), nullptr);
  EXPECT_EQ(*e.savedFilename, nullptr);
  e.setOpenFilename(Unencodable());
  EXPECT_EQ(e.getOpenFilename(), nullptr);
  e.setOpenFilename(@"");
  ASSERT_NE(e.getOpenFilename(), nullptr);
  EXPECT_STREQ(e.getOpenFilename(), "");
  e.setOpenFileCallback(nullptr);
  ASSERT_EQ(openFiles.size(), 3u);
  EXPECT_EQ(openFiles[0], nullptr);
  EXPECT_EQ(openFiles[1], nullptr);
  EXPECT_EQ(openFiles[2], e.getOpenFilename());
}

TEST(BadInput, TheMenuBridgeTakesNilAndUnencodableStringsAsEmpty) {
  const Api &e = api();
  events.clear();
  e.setMenuCallback(OnMenu);
  e.notifyMenuBridge(nil, nil);
  e.notifyMenuBridge(Unencodable(), @"title");
  e.notifyMenuBridge(@"7", Unencodable());
  e.setMenuCallback(nullptr);
  EXPECT_EQ(events, (Strings{"menu ||0|0", "menu |title|0|5", "menu 7||1|0"}));
}

#pragma mark - Menu manager

class BadInputMenus : public ::testing::Test {
 protected:
  void SetUp() override {
    [NSApp setMainMenu:[[[NSMenu alloc] initWithTitle:@"Host"] autorelease]];
    api().removeAllMenuItems(0, 1);
    events.clear();
  }
  void TearDown() override { api().setMenuCallback(nullptr); }
  static std::string TitleAt(NSInteger index) { return Ns([(NSMenuItem *)[DockMenu() itemAtIndex:index] title]); }
  static std::string KeyAt(NSInteger index) {
    return Ns([(NSMenuItem *)[DockMenu() itemAtIndex:index] keyEquivalent]);
  }
};

TEST_F(BadInputMenus, NullEmptyAndInvalidStringsCountAsEmpty) {
  const Api &e = api();
  NSMenu *dock = DockMenu();
  // Null, empty and invalid titles make separators that still carry their tag.
  ASSERT_TRUE(e.addMenuItem(0, 1, nullptr, 1, nullptr, -1, false));
  ASSERT_TRUE(e.addMenuItem(0, 1, "", 2, "", -1, false));
  ASSERT_TRUE(e.addMenuItem(0, 1, kInvalidUTF8, 3, kInvalidUTF8, -1, true));
  ASSERT_TRUE(e.addMenuItem(0, 1, "Keyless", 4, nullptr, -1, false));
  ASSERT_TRUE(e.addMenuItem(0, 1, "Odd key", 5, kInvalidUTF8, -1, false));
  ASSERT_EQ([dock numberOfItems], 5);
  for (NSInteger i = 0; i < 3; i++) {
    EXPECT_TRUE([(NSMenuItem *)[dock itemAtIndex:i] isSeparatorItem]) << i;
    EXPECT_EQ([[dock itemAtIndex:i] tag], i + 1);
  }
  EXPECT_NE([[dock itemAtIndex:2] submenu], nil);
  EXPECT_EQ(KeyAt(3), "");
  EXPECT_EQ(KeyAt(4), "");
  // Retitling with null or invalid text gives "".
  e.setMenuItemText(0, 1, 4, nullptr);
  EXPECT_EQ(TitleAt(3), "");
  e.setMenuItemText(0, 1, 5, kInvalidUTF8);
  EXPECT_EQ(TitleAt(4), "");
  e.setMenuItemText(0, 1, 5, "Fine");
  EXPECT_EQ(TitleAt(4), "Fine");
}

TEST_F(BadInputMenus, LongStringsAreKeptWhole) {
  const Api &e = api();
  std::string big = Long("Menu ");
  NSMenu *dock = DockMenu();
  // Any later change to a menu makes this platform lay it out again, measuring every title, in
  // time that grows with the square of a title's length: the 1 MiB item is checked and removed
  // before the menu changes again.
  ASSERT_TRUE(e.addMenuItem(0, 1, big.c_str(), 4, big.c_str(), -1, false));
  EXPECT_EQ(TitleAt(0), big);
  EXPECT_EQ(KeyAt(0), big);
  e.setMenuCallback(OnMenu);
  [dock performActionForItemAtIndex:0];
  EXPECT_EQ(events, (Strings{"menu 4|" + big + "|1|" + std::to_string(big.size())}));
  e.removeAllMenuItems(0, 1);
  EXPECT_EQ([dock numberOfItems], 0);

  std::string retitle = big.substr(0, 16 * 1024);
  ASSERT_TRUE(e.addMenuItem(0, 1, "Short", 5, "", -1, false));
  e.setMenuItemText(0, 1, 5, retitle.c_str());
  EXPECT_EQ(TitleAt(0), retitle);
}

TEST_F(BadInputMenus, ExtremeTagsAndIndexesAreUsedAsGiven) {
  const Api &e = api();
  NSMenu *dock = DockMenu();
  ASSERT_TRUE(e.addMenuItem(0, 1, "Max", INT_MAX, "", INT_MAX, false));
  ASSERT_TRUE(e.addMenuItem(0, 1, "Min", INT_MIN, "", INT_MIN, false));
  ASSERT_TRUE(e.addMenuItem(0, 1, "Minus one", -1, "", -1, false));
  ASSERT_TRUE(e.addMenuItem(0, 1, "Top", 0, "", 0, false));
  ASSERT_EQ([dock numberOfItems], 4);
  EXPECT_EQ(TitleAt(0), "Top");
  EXPECT_EQ(TitleAt(1), "Max");
  EXPECT_EQ(TitleAt(2), "Min");
  EXPECT_EQ(TitleAt(3), "Minus one");
  // Tags widen with their sign and are reported in decimal.
  EXPECT_EQ([[dock itemAtIndex:2] tag], (NSInteger)INT_MIN);
  e.setMenuCallback(OnMenu);
  [dock performActionForItemAtIndex:1];
  [dock performActionForItemAtIndex:2];
  EXPECT_EQ(events, (Strings{"menu 2147483647|Max|10|3", "menu -2147483648|Min|11|3"}));

  e.setMenuItemChecked(0, 1, INT_MIN, true);
  EXPECT_TRUE(e.isMenuItemChecked(0, 1, INT_MIN));
  EXPECT_FALSE(e.isMenuItemChecked(0, 1, INT_MAX));
  e.setMenuItemEnabled(0, 1, INT_MAX, false);
  EXPECT_FALSE([[dock itemAtIndex:1] isEnabled]);
  EXPECT_TRUE(e.removeMenuItem(0, 1, INT_MIN));
  EXPECT_FALSE(e.removeMenuItem(0, 1, INT_MIN));

  // Extreme addresses name no menu: false, nothing done, and nothing changed elsewhere.
  const int extremes[] = {INT_MIN, -1, 2, INT_MAX};
  for (int menuTag : extremes) {
    for (int subMenuTag : extremes) {
      EXPECT_FALSE(e.addMenuItem(menuTag, subMenuTag, "Lost", 9, "", -1, true));
      EXPECT_FALSE(e.removeMenuItem(menuTag, subMenuTag, 9));
      e.removeAllMenuItems(menuTag, subMenuTag);
      e.setMenuItemEnabled(menuTag, subMenuTag, 9, false);
      e.setMenuItemChecked(menuTag, subMenuTag, 9, true);
      EXPECT_FALSE(e.isMenuItemChecked(menuTag, subMenuTag, 9));
      e.setMenuItemText(menuTag, subMenuTag, 9, nullptr);
    }
  }
  EXPECT_EQ([dock numberOfItems], 3);
  EXPECT_EQ([[NSApp mainMenu] numberOfItems], 0);
}

TEST_F(BadInputMenus, WithoutAMenuCallbackChoosingAnItemIsSilent) {
  const Api &e = api();
  ASSERT_TRUE(e.addMenuItem(0, 1, "Quiet", 3, "", -1, false));
  e.setMenuCallback(nullptr);
  [DockMenu() performActionForItemAtIndex:0];
  EXPECT_TRUE(events.empty());
  e.setMenuCallback(OnMenu);
  [DockMenu() performActionForItemAtIndex:0];
  EXPECT_EQ(events, (Strings{"menu 3|Quiet|1|5"}));
}

#pragma mark - Window and system services

TEST(BadInput, WindowTitleTakesNullAsNothingAndInvalidTextAsEmpty) {
  const Api &e = api();
  NSWindow *window = [[NSWindow alloc] initWithContentRect:NSMakeRect(50, 50, 200, 100)
                                                 styleMask:NSWindowStyleMaskTitled
                                                   backing:NSBackingStoreBuffered
                                                     defer:NO];
  [window setReleasedWhenClosed:NO];
  [window setTitle:@"Before"];
  [NSApp finishLaunching];
  [window makeKeyAndOrderFront:nil];
  [window makeMainWindow];
  RunMainLoopUntil([window] { return [NSApp mainWindow] == window; }, 5);
  NSWindow *target = [NSApp mainWindow];
#if defined(__APPLE__)
  // An inactive process has no main window: the title then goes to the frontmost window.
  if (target == nil) target = [[NSApp orderedWindows] firstObject];
#endif
  ASSERT_EQ(target, window);
  e.setWindowTitle(nullptr);
  EXPECT_EQ(Ns([window title]), "Before");
  e.setWindowTitle(kInvalidUTF8);
  EXPECT_EQ(Ns([window title]), "");
  std::string big = Long("Title ");
  e.setWindowTitle(big.c_str());
  EXPECT_EQ(Ns([window title]), big);
  e.setWindowTitle("");
  EXPECT_EQ(Ns([window title]), "");
  e.setWindowTitle("After");
  EXPECT_EQ(Ns([window title]), "After");
  [window close];
  [window release];
}

TEST(BadInput, TrashFileRefusesNullEmptyInvalidAndOverlongPaths) {
  const Api &e = api();
  char pattern[] = "/tmp/db-bad-input-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string dir = pattern;
  // The working directory holds a file: an empty path must not be taken for it.
  char *previous = getcwd(NULL, 0);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  std::string kept = dir + "/kept";
  FILE *file = fopen(kept.c_str(), "w");
  ASSERT_NE(file, nullptr);
  fclose(file);
  EXPECT_FALSE(e.trashFile(nullptr));
  EXPECT_FALSE(e.trashFile(""));
  EXPECT_FALSE(e.trashFile(kInvalidUTF8));
  std::string big = dir + "/" + Long("kept/");
  EXPECT_FALSE(e.trashFile(big.c_str()));
  std::string longName = dir + "/" + std::string(300, 'k');
  EXPECT_FALSE(e.trashFile(longName.c_str()));
  struct stat info;
  EXPECT_EQ(stat(kept.c_str(), &info), 0);
  EXPECT_EQ(stat(dir.c_str(), &info), 0);
  ASSERT_EQ(chdir(previous), 0);
  free(previous);
  unlink(kept.c_str());
  rmdir(dir.c_str());
}

#pragma mark - Dialogs

class BadInputDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetPanelDriver();
    dialogResults.clear();
  }
  void TearDown() override {
    RunMainLoopUntil([] { return false; }, 0.1);
    EXPECT_EQ(UnexpectedPanels(), 0);
    EXPECT_EQ(RefusedOKs(), 0);
    ResetPanelDriver();
  }
  struct Seen {
    std::string message, name, directory;
    size_t popUpItems = 0;
    bool accessory = false;
  };
  // Queues n cancelling answers that record what each panel showed.
  void QueueCancels(int n) {
    PanelAnswer answer;
    answer.inspect = [this](NSSavePanel *panel) {
      Seen s;
      s.message = Ns([[panel message] length] ? [panel message] : @"");
      s.name = Ns([panel nameFieldStringValue]);
      s.directory = StartDirectory(panel);
      s.accessory = [panel accessoryView] != nil;
      s.popUpItems = [AccessoryPopUp(panel) numberOfItems];
      seen.push_back(s);
    };
    answer.ok = false;
    for (int i = 0; i < n; i++) QueuePanelAnswer(answer);
  }
  std::vector<Seen> seen;
};

TEST_F(BadInputDialogs, EveryStringArgumentMayBeNullEmptyOrInvalid) {
  const Api &e = api();
  const char *inputs[] = {nullptr, "", kInvalidUTF8};
  std::string own = Ns([[NSString stringWithUTF8String:MakeTemporaryDirectory({}).c_str()] stringByStandardizingPath]);
  PanelsStartIn panelsStartInOwn(own);
  for (const char *bad : inputs) {
    QueueCancels(3);
    @autoreleasepool {
      EXPECT_STREQ(e.DialogOpenFilePanel(bad, bad, bad, true), "");
      EXPECT_STREQ(e.DialogOpenFolderPanel(bad, bad, true), "");
      EXPECT_STREQ(e.DialogSaveFilePanel(bad, bad, bad, bad), "");
    }
    QueueCancels(3);
    e.DialogOpenFilePanelAsync(bad, bad, bad, false, OnDialog);
    ASSERT_TRUE(RunMainLoopUntil([] { return dialogResults.size() == 1; }));
    e.DialogOpenFolderPanelAsync(bad, bad, false, OnDialog);
    ASSERT_TRUE(RunMainLoopUntil([] { return dialogResults.size() == 2; }));
    e.DialogSaveFilePanelAsync(bad, bad, bad, bad, OnDialog);
    ASSERT_TRUE(RunMainLoopUntil([] { return dialogResults.size() == 3; }));
    EXPECT_EQ(dialogResults, (Strings{"", "", ""}));
    dialogResults.clear();
  }
  ASSERT_EQ(seen.size(), 18u);
  for (const Seen &s : seen) {
    EXPECT_EQ(s.message, "");
    EXPECT_EQ(s.name, "");
    EXPECT_EQ(s.directory, own);  // none set: where the panel starts by itself
    EXPECT_FALSE(s.accessory);
  }
}

TEST_F(BadInputDialogs, LongTitle) {
  const Api &e = api();
  std::string title = Long("Pick one ");
  QueueCancels(1);
  @autoreleasepool {
    EXPECT_STREQ(e.DialogOpenFilePanel(title.c_str(), "", "", false), "");
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].message, title);
}

TEST_F(BadInputDialogs, LongDirectory) {
  const Api &e = api();
  std::string directory = "/" + Long("missing/");
  QueueCancels(2);
  @autoreleasepool {
    EXPECT_STREQ(e.DialogOpenFolderPanel("", directory.c_str(), false), "");
    EXPECT_STREQ(e.DialogSaveFilePanel("", directory.c_str(), "", ""), "");
  }
  ASSERT_EQ(seen.size(), 2u);
}

TEST_F(BadInputDialogs, LongName) {
  const Api &e = api();
  std::string name = Long("n");
  QueueCancels(1);
  @autoreleasepool {
    EXPECT_STREQ(e.DialogSaveFilePanel("", "", name.c_str(), ""), "");
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].name, name);
}

TEST_F(BadInputDialogs, LongFilterEntry) {
  const Api &e = api();
  std::string bigEntry = Long("N") + ";png";
#if defined(DB_UNDER_ADDRESS_SANITIZER)
  // Laying out the pop-up's title reallocates its buffers step by step; the sanitizer's allocator
  // copies on every step, which makes a 1 MiB title take minutes there. 64 KiB stands for it.
  bigEntry = Long("N").substr(0, 64 * 1024) + ";png";
#endif
  QueueCancels(1);
  @autoreleasepool {
    EXPECT_STREQ(e.DialogOpenFilePanel("", "", bigEntry.c_str(), false), "");
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].popUpItems, 1u);
}

TEST_F(BadInputDialogs, ManyFilterEntries) {
  const Api &e = api();
  // A panel whose pop-up holds many items takes this platform time that grows faster than the
  // number of items (16,384 items: about 30 s; the 262,144 entries of 1 MiB of "T;e|": minutes).
  // 16 KiB of entries (4,096 items) stands for the 1 MiB case here.
  std::string manyEntries = Long("T;e|").substr(0, 16 * 1024);
  manyEntries.resize(manyEntries.size() - 1);  // ends with a whole entry
  QueueCancels(1);
  @autoreleasepool {
    EXPECT_STREQ(e.DialogSaveFilePanel("", "", "", manyEntries.c_str()), "");
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].popUpItems, manyEntries.size() / 4 + 1);
}

TEST_F(BadInputDialogs, ANullCallbackDropsTheResultAndTheNextRequestIsServed) {
  const Api &e = api();
  QueueCancels(3);
  e.DialogOpenFilePanelAsync("", "", "", false, nullptr);
  e.DialogOpenFolderPanelAsync("", "", false, nullptr);
  e.DialogSaveFilePanelAsync("", "", "", "", nullptr);
  ASSERT_TRUE(RunMainLoopUntil([] { return PanelsAnswered() == 3 && [NSApp modalWindow] == nil; }));
  RunMainLoopUntil([] { return false; }, 0.2);
  EXPECT_TRUE(dialogResults.empty());
  QueueCancels(1);
  e.DialogSaveFilePanelAsync("", "", "", "", OnDialog);
  ASSERT_TRUE(RunMainLoopUntil([] { return dialogResults.size() == 1; }));
}

#pragma mark - Process runner

namespace {

const std::string kArgumentsChild = DB_TEST_HELPERS_DIR "/ProcessArgumentsChild";
const char kSeparator[] = {DB_LIST_SEPARATOR, 0};

decltype(&::createProcess) CreateProcess() { return BundleFunction<decltype(&::createProcess)>("createProcess"); }

struct ProcessRun {
  int status;
  bool written;        // the pointer behind output was changed
  bool hasText;
  std::string text;
};

ProcessRun Wait(const char *path, const char *arguments, const char *directory = nullptr) {
  char *text = reinterpret_cast<char *>(0x1);
  ProcessRun run;
  run.status = CreateProcess()(path, arguments, directory, true, &text);
  run.written = text != reinterpret_cast<char *>(0x1);
  run.hasText = run.written && text != nullptr;
  if (run.hasText) {
    run.text = text;
    free(text);
  }
  return run;
}

// What ProcessArgumentsChild prints for these arguments.
std::string Listing(const std::vector<std::string> &arguments) {
  std::string listing = std::to_string(arguments.size()) + "\n";
  for (const std::string &argument : arguments) listing += std::to_string(argument.size()) + ":" + argument + "\n";
  return listing;
}

}  // namespace

TEST(BadInput, CreateProcessRefusesNullInvalidAndOverlongPathsWithADescription) {
  ASSERT_NE(CreateProcess(), nullptr);
  std::string big = "/" + Long("missing/");
  const char *paths[] = {nullptr, "", kInvalidUTF8, big.c_str(), "/nonexistent/program"};
  for (const char *path : paths) {
    ProcessRun run = Wait(path, "");
    EXPECT_EQ(run.status, -1) << (path ? strlen(path) : 0);
    EXPECT_TRUE(run.hasText) << (path ? strlen(path) : 0);
    EXPECT_FALSE(run.text.empty());
    // Detached, a refused launch is -1 as well; no output pointer is needed, and one that is
    // given receives the description (owned).
    EXPECT_EQ(CreateProcess()(path, "", nullptr, false, nullptr), -1);
    char *description = nullptr;
    EXPECT_EQ(CreateProcess()(path, "", nullptr, false, &description), -1);
    EXPECT_TRUE(description != nullptr && description[0] != 0);
    free(description);
  }
  // A working directory that is not there fails the launch; one that is 1 MiB long too.
  EXPECT_EQ(Wait(kArgumentsChild.c_str(), "", big.c_str()).status, -1);
  EXPECT_EQ(Wait(kArgumentsChild.c_str(), "", "/nonexistent/directory").status, -1);
}

TEST(BadInput, CreateProcessArgumentsNullInvalidLongAndBeginningWithCombiningMarks) {
  ASSERT_NE(CreateProcess(), nullptr);
  // Null and invalid argument strings launch nothing.
  ProcessRun null = Wait(kArgumentsChild.c_str(), nullptr);
  EXPECT_EQ(null.status, -1);
  EXPECT_TRUE(null.hasText);
  ProcessRun invalid = Wait(kArgumentsChild.c_str(), kInvalidUTF8);
  EXPECT_EQ(invalid.status, -1);
  EXPECT_TRUE(invalid.hasText);
  // A null working directory is the host's; one that is not UTF-8 names no directory: the launch
  // fails, waiting or detached, rather than running the child in the host's.
  EXPECT_EQ(Wait(kArgumentsChild.c_str(), "a", nullptr).text, Listing({"a"}));
  ProcessRun invalidDirectory = Wait(kArgumentsChild.c_str(), "a", kInvalidUTF8);
  EXPECT_EQ(invalidDirectory.status, -1);
  EXPECT_TRUE(invalidDirectory.hasText);
  EXPECT_NE(invalidDirectory.text.find("working directory"), std::string::npos) << invalidDirectory.text;
  EXPECT_EQ(CreateProcess()(kArgumentsChild.c_str(), "a", kInvalidUTF8, false, nullptr), -1);

  // Every separator separates, also one followed by a combining mark.
  std::vector<std::string> marked = {"x", "\xcc\x81y", "\xcc\x81"};
  std::string joined = marked[0] + kSeparator + marked[1] + kSeparator + marked[2];
  EXPECT_EQ(Wait(kArgumentsChild.c_str(), joined.c_str()).text, Listing(marked));

  // Arguments up to half of what the system takes in all (1 MiB where it takes more), in 16
  // pieces, reach the child whole.
  size_t total = std::min<size_t>(1u << 20, (size_t)sysconf(_SC_ARG_MAX) / 2);
  std::vector<std::string> pieces(16, std::string(total / 16 - 1, 'a'));
  std::string many;
  for (size_t i = 0; i < pieces.size(); i++) many += (i ? kSeparator : "") + pieces[i];
  ProcessRun whole = Wait(kArgumentsChild.c_str(), many.c_str());
  EXPECT_EQ(whole.status, 0);
  EXPECT_TRUE(whole.text == Listing(pieces)) << whole.text.substr(0, 200);
  // One argument of 1 MiB is more than the system lets a program take: a launch failure.
  std::string one = Long("a");
  ProcessRun tooLong = Wait(kArgumentsChild.c_str(), one.c_str());
  EXPECT_EQ(tooLong.status, -1);
  EXPECT_TRUE(tooLong.hasText);
}

TEST(BadInput, CreateProcessWithoutAnOutputPointerStillWaitsAndReportsTheStatus) {
  ASSERT_NE(CreateProcess(), nullptr);
  EXPECT_EQ(CreateProcess()(kArgumentsChild.c_str(), "a", nullptr, true, nullptr), 0);
  EXPECT_EQ(CreateProcess()(nullptr, nullptr, nullptr, true, nullptr), -1);
  char *untouched = reinterpret_cast<char *>(0x2);
  EXPECT_EQ(CreateProcess()(kArgumentsChild.c_str(), "a", nullptr, false, &untouched), 0);
  EXPECT_EQ(untouched, reinterpret_cast<char *>(0x2));
}
