// The six dialog exports called through dlsym as a host calls them, with real panels answered by
// the panel driver: results, callbacks, threads, log lines and the lifetime of what a request makes.
#import <AppKit/AppKit.h>
#include <gtest/gtest.h>
#include "BundleLoader.h"
#include "DesktopBridge.h"
#include "LogCapture.h"
#include "ObjectCounts.h"
#include "PanelDriver.h"
#include "TestProgram.h"
DB_TEST_PROGRAM_USES_THREADS();

#include <algorithm>
#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

struct Exports {
  decltype(&DialogOpenFilePanel) open = BundleFunction<decltype(&DialogOpenFilePanel)>("DialogOpenFilePanel");
  decltype(&DialogOpenFilePanelAsync) openAsync =
      BundleFunction<decltype(&DialogOpenFilePanelAsync)>("DialogOpenFilePanelAsync");
  decltype(&DialogOpenFolderPanel) folder = BundleFunction<decltype(&DialogOpenFolderPanel)>("DialogOpenFolderPanel");
  decltype(&DialogOpenFolderPanelAsync) folderAsync =
      BundleFunction<decltype(&DialogOpenFolderPanelAsync)>("DialogOpenFolderPanelAsync");
  decltype(&DialogSaveFilePanel) save = BundleFunction<decltype(&DialogSaveFilePanel)>("DialogSaveFilePanel");
  decltype(&DialogSaveFilePanelAsync) saveAsync =
      BundleFunction<decltype(&DialogSaveFilePanelAsync)>("DialogSaveFilePanelAsync");
};

const Exports &api() {
  static Exports exports;
  return exports;
}

const std::string kSeparator(1, '\x1c');
const char *const kInvalidUTF8 = "\xff\xfe\xc3";

// What each callback received, and whether on the main thread.
std::map<char, Strings> delivered;
std::map<char, std::vector<bool>> deliveredOnMain;
void Record(char who, const char *text) {
  delivered[who].push_back(text);
  deliveredOnMain[who].push_back([NSThread isMainThread]);
}
void CallbackA(const char *text) { Record('A', text); }
void CallbackB(const char *text) { Record('B', text); }
void CallbackC(const char *text) { Record('C', text); }

size_t DeliveredCount() {
  size_t count = 0;
  for (auto &entry : delivered) count += entry.second.size();
  return count;
}

// Whether a save panel's name field shows the name the dialog set. macOS's panel shows the name with
// the allowed extension added, or with its extension hidden, as the user's settings say; the result
// path, which always has it, tells the extension.
bool NameShownAs(const std::string &shown, const std::string &set) {
#if defined(__APPLE__)
  auto bare = [](const std::string &name) {
    return ToString([[NSString stringWithUTF8String:name.c_str()] stringByDeletingPathExtension]);
  };
  if (shown != set) return bare(shown) == bare(set);
#endif
  return shown == set;
}

// Lets queued main-thread work and late releases happen.
void Settle(double seconds = 0.3) {
  RunMainLoopUntil([] { return false; }, seconds);
}

id RaisingFactory(id self, SEL _cmd) {
  [NSException raise:NSInternalInconsistencyException format:@"no panel today"];
  return nil;
}

class ClassMethodPatch {
 public:
  ClassMethodPatch(Class cls, SEL selector, IMP replacement)
      : method_(class_getClassMethod(cls, selector)), original_(method_setImplementation(method_, replacement)) {}
  ~ClassMethodPatch() { method_setImplementation(method_, original_); }

 private:
  Method method_;
  IMP original_;
};

class DialogExports : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetPanelDriver();
    delivered.clear();
    deliveredOnMain.clear();
    dir_ = MakeTemporaryDirectory({"a.txt", "b.png", "c.txt", "notes.xyz"});
    [[NSFileManager defaultManager] createDirectoryAtPath:Ns(dir_ + "/sub") withIntermediateDirectories:NO
                                               attributes:nil error:NULL];
  }
  void TearDown() override {
    Settle(0.1);
    EXPECT_EQ(UnexpectedPanels(), 0);
    EXPECT_EQ(RefusedOKs(), 0);
    ResetPanelDriver();
  }
  static NSString *Ns(const std::string &s) { return [NSString stringWithUTF8String:s.c_str()]; }
  std::string In(const char *name) const { return dir_ + "/" + name; }
  std::string dir_;
};

}  // namespace

TEST_F(DialogExports, EveryDialogExportResolves) {
  const Exports &e = api();
  for (void *p : {(void *)e.open, (void *)e.openAsync, (void *)e.folder, (void *)e.folderAsync, (void *)e.save,
                  (void *)e.saveAsync})
    EXPECT_NE(p, nullptr);
}

TEST_F(DialogExports, OpenFileShowsTheFileTypePopUpAndReturnsTheChosenFile) {
  SKIP_UNLESS_PANELS_CAN(PanelAction::SelectFiles);
  Strings titles;
  PanelTypes allowed;
  std::string message, label;
  PanelAnswer answer;
  answer.inspect = [&](NSSavePanel *panel) {
    message = ToString([panel message]);
    allowed = AllowedTypes(panel);
    titles = ToStrings([AccessoryPopUp(panel) itemTitles]);
    label = ToString([[[[panel accessoryView] subviews] objectAtIndex:0] stringValue]);
  };
  answer.select = {In("b.png")};
  QueuePanelAnswer(answer);
  LogCapture capture;
  std::string result;
  @autoreleasepool {
    result = api().open("Pick an image", dir_.c_str(), "Images;png,jpg|All files;*", false);
  }
  EXPECT_EQ(capture.stop(), (Strings{"init"}));
  EXPECT_EQ(result, In("b.png"));
  EXPECT_EQ(message, "Pick an image");
  EXPECT_EQ(label, "File type:");
  EXPECT_EQ(titles, (Strings{"Images (*.png,*.jpg)", "All files (*.*)"}));
  EXPECT_EQ(allowed, (Strings{"png", "jpg"}));
}

TEST_F(DialogExports, NullArgumentsGiveAPlainFilePanelAndCancelGivesEmpty) {
  bool accessory = true, files = false, folders = true, multiple = true;
  PanelTypes allowed;
  std::string message = "unset";
  PanelAnswer answer;
  answer.inspect = [&](NSSavePanel *panel) {
    NSOpenPanel *open = (NSOpenPanel *)panel;
    accessory = [panel accessoryView] != nil;
    allowed = AllowedTypes(panel);
    message = ToString([[panel message] length] ? [panel message] : @"");
    files = [open canChooseFiles];
    folders = [open canChooseDirectories];
    multiple = [open allowsMultipleSelection];
  };
  answer.ok = false;
  QueuePanelAnswer(answer);
  @autoreleasepool {
    EXPECT_STREQ(api().open(nullptr, nullptr, nullptr, false), "");
  }
  EXPECT_FALSE(accessory);
  EXPECT_EQ(allowed, (Strings{"(all)"}));
  EXPECT_EQ(message, "");
  EXPECT_TRUE(files);
  EXPECT_FALSE(folders);
  EXPECT_FALSE(multiple);

  // Cancel ends every synchronous form with "".
  PanelAnswer cancel;
  cancel.ok = false;
  cancel.select = {In("a.txt")};
  cancel.name = "never.txt";
  QueuePanelAnswer(cancel);
  QueuePanelAnswer(cancel);
  @autoreleasepool {
    EXPECT_STREQ(api().folder("t", dir_.c_str(), true), "");
    EXPECT_STREQ(api().save("t", dir_.c_str(), "x", "Text;txt"), "");
  }
  EXPECT_EQ(PanelsAnswered(), 3);
}

TEST_F(DialogExports, SeveralChosenFilesAreJoinedBySeparatorsBetweenThemOnly) {
  SKIP_UNLESS_PANELS_CAN(PanelAction::SelectFiles);
  PanelAnswer three;
  three.select = {In("a.txt"), In("b.png"), In("c.txt")};
  QueuePanelAnswer(three);
  PanelAnswer one;
  one.select = {In("c.txt")};
  QueuePanelAnswer(one);
  @autoreleasepool {
    EXPECT_EQ(std::string(api().open("", dir_.c_str(), "", true)),
              In("a.txt") + kSeparator + In("b.png") + kSeparator + In("c.txt"));
    EXPECT_EQ(std::string(api().open("", dir_.c_str(), "", true)), In("c.txt"));
  }
}

TEST_F(DialogExports, FolderPanelsChooseFoldersOnlyWithoutAccessory) {
  SKIP_UNLESS_PANELS_CAN(PanelAction::SelectFiles);
  bool accessory = true, files = true, folders = false;
  PanelAnswer answer;
  answer.inspect = [&](NSSavePanel *panel) {
    accessory = [panel accessoryView] != nil;
    files = [(NSOpenPanel *)panel canChooseFiles];
    folders = [(NSOpenPanel *)panel canChooseDirectories];
  };
  answer.select = {In("sub")};
  QueuePanelAnswer(answer);
  @autoreleasepool {
    EXPECT_EQ(std::string(api().folder("Pick a folder", dir_.c_str(), false)), In("sub"));
  }
  EXPECT_FALSE(accessory);
  EXPECT_FALSE(files);
  EXPECT_TRUE(folders);

  PanelAnswer again;
  again.select = {In("sub")};
  QueuePanelAnswer(again);
  api().folderAsync("", dir_.c_str(), false, CallbackA);
  ASSERT_TRUE(RunMainLoopUntil([] { return DeliveredCount() == 1; }));
  EXPECT_EQ(delivered['A'], (Strings{In("sub")}));
}

TEST_F(DialogExports, SavePanelRenamesOnPickAndReturnsOnePath) {
  std::string nameAtStart, nameAfterPick, label;
  PanelTypes allowedAtStart, allowedAfterPick;
  PanelAnswer answer;
  answer.inspect = [&](NSSavePanel *panel) {
    nameAtStart = ToString([panel nameFieldStringValue]);
    allowedAtStart = AllowedTypes(panel);
    label = ToString([[[[panel accessoryView] subviews] objectAtIndex:0] stringValue]);
  };
  answer.picks = {1};
  answer.afterPicks = [&](NSSavePanel *panel) {
    nameAfterPick = ToString([panel nameFieldStringValue]);
    allowedAfterPick = AllowedTypes(panel);
  };
  QueuePanelAnswer(answer);
  std::string result;
  @autoreleasepool {
    result = api().save("Export", dir_.c_str(), "picture", "PNG image;png|JPEG image;jpg,jpeg");
  }
  EXPECT_EQ(label, "Save as type:");
  EXPECT_TRUE(NameShownAs(nameAtStart, "picture")) << nameAtStart;
  EXPECT_EQ(allowedAtStart, (Strings{"png"}));
  EXPECT_TRUE(NameShownAs(nameAfterPick, "picture.jpg")) << nameAfterPick;
  EXPECT_EQ(allowedAfterPick, (Strings{"jpg"}));
  EXPECT_EQ(result, In("picture.jpg"));

  // Any-type pick drops the extension; an empty name gets the bare extension.
  PanelAnswer anyType;
  anyType.picks = {1};
  anyType.afterPicks = [&](NSSavePanel *panel) { nameAfterPick = ToString([panel nameFieldStringValue]); };
  QueuePanelAnswer(anyType);
  @autoreleasepool {
    result = api().save("", dir_.c_str(), "report.txt", "Text;txt|All files;*");
  }
  EXPECT_TRUE(NameShownAs(nameAfterPick, "report")) << nameAfterPick;
  EXPECT_EQ(result, In("report"));
  PanelAnswer emptyName;
  emptyName.picks = {0};
  emptyName.afterPicks = anyType.afterPicks;
  emptyName.ok = false;
  QueuePanelAnswer(emptyName);
  @autoreleasepool {
    api().save("", dir_.c_str(), "", "Images;png");
  }
  EXPECT_TRUE(NameShownAs(nameAfterPick, ".png")) << nameAfterPick;
}

TEST_F(DialogExports, AnAllFilesFirstEntryLetsAnyFileBeChosenAndSavesTheNameAsTyped) {
  SKIP_UNLESS_PANELS_CAN(PanelAction::SelectFiles);
  PanelTypes allowed;
  PanelAnswer answer;
  answer.inspect = [&](NSSavePanel *panel) { allowed = AllowedTypes(panel); };
  answer.select = {In("notes.xyz")};
  QueuePanelAnswer(answer);
  QueuePanelAnswer(answer);
  @autoreleasepool {
    EXPECT_EQ(std::string(api().open("", dir_.c_str(), "All files;*|Images;png", false)), In("notes.xyz"));
    EXPECT_EQ(allowed, (Strings{"(all)"}));
    EXPECT_EQ(std::string(api().open("", dir_.c_str(), "Name;|Text;txt", false)), In("notes.xyz"));
    EXPECT_EQ(allowed, (Strings{"(all)"}));
  }
  PanelAnswer save;
  QueuePanelAnswer(save);
  @autoreleasepool {
    EXPECT_EQ(std::string(api().save("", dir_.c_str(), "report", "All files;*|Images;png")), In("report"));
  }
}

TEST_F(DialogExports, AsyncReturnsBeforeThePanelShowsAndCallsBackOnceOnTheMainThread) {
  SKIP_UNLESS_PANELS_CAN(PanelAction::SelectFiles);
  PanelAnswer answer;
  answer.select = {In("b.png")};
  QueuePanelAnswer(answer);
  LogCapture capture;
  api().openAsync("", dir_.c_str(), "Images;png", false, CallbackA);
  EXPECT_EQ([NSApp modalWindow], nil);
  EXPECT_EQ(PanelsAnswered(), 0);
  EXPECT_EQ(DeliveredCount(), 0u);
  ASSERT_TRUE(RunMainLoopUntil([] { return DeliveredCount() == 1; }));
  Settle();
  EXPECT_EQ(capture.stop(), (Strings{"init"}));
  EXPECT_EQ(delivered['A'], (Strings{In("b.png")}));
  EXPECT_EQ(deliveredOnMain['A'], (std::vector<bool>{true}));
}

TEST_F(DialogExports, AsyncSaveReturnsBeforeThePanelShowsAndCallsBackWithTheTypedName) {
  PanelAnswer save;
  save.name = "out.png";
  QueuePanelAnswer(save);
  api().saveAsync("", dir_.c_str(), "x", "Images;png", CallbackB);
  EXPECT_EQ(PanelsAnswered(), 0);
  EXPECT_EQ(DeliveredCount(), 0u);
  ASSERT_TRUE(RunMainLoopUntil([] { return DeliveredCount() == 1; }));
  EXPECT_EQ(delivered['B'], (Strings{In("out.png")}));
  EXPECT_EQ(deliveredOnMain['B'], (std::vector<bool>{true}));
}

TEST_F(DialogExports, PendingRequestsKeepTheirOwnAccessoriesAndAllResultsGoToTheLatestCallback) {
  SKIP_UNLESS_PANELS_CAN(PanelAction::SelectFiles);
  std::vector<Strings> titlesSeen;
  std::map<std::string, PanelTypes> allowedBeforePick;  // by the first title
  std::vector<PanelTypes> allowedAfterPick;
  PanelAnswer answer;
  answer.inspect = [&](NSSavePanel *panel) {
    titlesSeen.push_back(ToStrings([AccessoryPopUp(panel) itemTitles]));
    allowedBeforePick[titlesSeen.back().at(0)] = AllowedTypes(panel);
  };
  answer.picks = {1};
  answer.afterPicks = [&](NSSavePanel *panel) { allowedAfterPick.push_back(AllowedTypes(panel)); };
  answer.select = {In("notes.xyz")};
  answer.name = "out.c";
  for (int i = 0; i < 3; i++) QueuePanelAnswer(answer);

  api().openAsync("", dir_.c_str(), "A;a|All;*", false, CallbackA);
  api().openAsync("", dir_.c_str(), "B;b|All;*", false, CallbackB);
  api().saveAsync("", dir_.c_str(), "out", "C;c|All;*", CallbackC);
  ASSERT_TRUE(RunMainLoopUntil([] { return DeliveredCount() == 3; }));
  Settle();
  EXPECT_TRUE(delivered['A'].empty());
  EXPECT_TRUE(delivered['B'].empty());
  Strings results = delivered['C'];
  std::sort(results.begin(), results.end());
  EXPECT_EQ(results, (Strings{In("notes.xyz"), In("notes.xyz"), In("out.c")}));
  std::sort(titlesSeen.begin(), titlesSeen.end());
  EXPECT_EQ(titlesSeen, (std::vector<Strings>{{"A (*.a)", "All (*.*)"}, {"B (*.b)", "All (*.*)"},
                                               {"C (*.c)", "All (*.*)"}}));
  EXPECT_EQ(allowedBeforePick["A (*.a)"], Strings{"a"});
  EXPECT_EQ(allowedBeforePick["B (*.b)"], Strings{"b"});
  EXPECT_EQ(allowedBeforePick["C (*.c)"], Strings{"c"});
  ASSERT_EQ(allowedAfterPick.size(), 3u);
  for (const PanelTypes &types : allowedAfterPick) EXPECT_EQ(types, Strings{"(all)"});
}

TEST_F(DialogExports, ANullCallbackDropsTheResult) {
  SKIP_UNLESS_PANELS_CAN(PanelAction::SelectFiles);
  PanelAnswer answer;
  answer.select = {In("a.txt")};
  QueuePanelAnswer(answer);
  QueuePanelAnswer(answer);
  api().openAsync("", dir_.c_str(), "", false, nullptr);
  api().saveAsync("", dir_.c_str(), "dropped", "", nullptr);
  ASSERT_TRUE(RunMainLoopUntil([] { return PanelsAnswered() == 2 && [NSApp modalWindow] == nil; }));
  Settle();
  EXPECT_EQ(DeliveredCount(), 0u);

  // The slot takes the next callback as usual.
  QueuePanelAnswer(answer);
  api().openAsync("", dir_.c_str(), "", false, CallbackA);
  ASSERT_TRUE(RunMainLoopUntil([] { return DeliveredCount() == 1; }));
  EXPECT_EQ(delivered['A'], (Strings{In("a.txt")}));
}

TEST_F(DialogExports, StringsThatAreNotUTF8CountAsEmpty) {
  struct Seen {
    std::string message, directory, name;
    bool accessory;
  };
  std::vector<Seen> seen;
  PanelAnswer answer;
  answer.inspect = [&](NSSavePanel *panel) {
    seen.push_back({ToString([[panel message] length] ? [panel message] : @""), StartDirectory(panel),
                    ToString([panel nameFieldStringValue]), [panel accessoryView] != nil});
  };
  answer.ok = false;
  for (int i = 0; i < 6; i++) QueuePanelAnswer(answer);
  const char *bad = kInvalidUTF8;
  std::string own = ToString([Ns(dir_ + "/sub") stringByStandardizingPath]);
  PanelsStartIn panelsStartInSub(own);
  @autoreleasepool {
    EXPECT_STREQ(api().open(bad, bad, bad, false), "");
    EXPECT_STREQ(api().folder(bad, bad, false), "");
    EXPECT_STREQ(api().save(bad, bad, bad, bad), "");
  }
  api().openAsync(bad, bad, bad, false, CallbackA);
  ASSERT_TRUE(RunMainLoopUntil([] { return DeliveredCount() == 1; }));
  api().folderAsync(bad, bad, false, CallbackA);
  ASSERT_TRUE(RunMainLoopUntil([] { return DeliveredCount() == 2; }));
  api().saveAsync(bad, bad, bad, bad, CallbackA);
  ASSERT_TRUE(RunMainLoopUntil([] { return DeliveredCount() == 3; }));
  EXPECT_EQ(delivered['A'], (Strings{"", "", ""}));

  ASSERT_EQ(seen.size(), 6u);
  for (const Seen &s : seen) {
    EXPECT_EQ(s.message, "");     // title
    EXPECT_EQ(s.directory, own);  // directory: as for "", where the panel starts by itself
    EXPECT_FALSE(s.accessory);    // filters
  }
  EXPECT_EQ(seen[2].name, "");  // defaultName
  EXPECT_EQ(seen[5].name, "");
}

// Runs a function on a thread of its own and waits for it while the main run loop keeps going.
@interface DialogTestThread : NSObject {
 @public
  std::function<void()> body;
  std::atomic<bool> finished;
}
- (void)run:(id)unused;
@end
@implementation DialogTestThread
- (void)run:(id)unused {
  @autoreleasepool {
    body();
  }
  finished = true;
}
@end

static void RunOnOtherThread(std::function<void()> body) {
  DialogTestThread *thread = [[DialogTestThread alloc] init];
  thread->body = body;
  thread->finished = false;
  [NSThread detachNewThreadSelector:@selector(run:) toTarget:thread withObject:nil];
  RunMainLoopUntil([thread] { return thread->finished.load(); }, 10);
  EXPECT_TRUE(thread->finished.load());
  [thread release];
}

TEST_F(DialogExports, OffTheMainThreadSyncFormsRefuseWithALogLine) {
  Strings results;
  LogCapture capture;
  RunOnOtherThread([&] {
    results.push_back(api().open("", dir_.c_str(), "Images;png", false));
    results.push_back(api().folder("", dir_.c_str(), false));
    results.push_back(api().save("", dir_.c_str(), "x", ""));
  });
  Strings log = capture.stop();
  EXPECT_EQ(results, (Strings{"", "", ""}));
  ASSERT_EQ(log.size(), 3u);
  EXPECT_NE(log[0].find("DialogOpenFilePanel must be called on the main thread"), std::string::npos) << log[0];
  EXPECT_NE(log[1].find("DialogOpenFolderPanel must be called on the main thread"), std::string::npos) << log[1];
  EXPECT_NE(log[2].find("DialogSaveFilePanel must be called on the main thread"), std::string::npos) << log[2];
  EXPECT_EQ(PanelsAnswered(), 0);
}

TEST_F(DialogExports, OffTheMainThreadAsyncFormsPrepareOnTheMainThread) {
  SKIP_UNLESS_PANELS_CAN(PanelAction::SelectFiles);
  Strings titles;
  PanelAnswer answer;
  answer.inspect = [&](NSSavePanel *panel) { titles = ToStrings([AccessoryPopUp(panel) itemTitles]); };
  answer.select = {In("b.png")};
  answer.name = "from-thread.png";
  QueuePanelAnswer(answer);
  QueuePanelAnswer(answer);
  LogCapture asyncCapture;
  RunOnOtherThread([&] { api().openAsync("", dir_.c_str(), "Images;png", false, CallbackA); });
  ASSERT_TRUE(RunMainLoopUntil([] { return DeliveredCount() == 1; }));
  EXPECT_EQ(titles, (Strings{"Images (*.png)"}));
  RunOnOtherThread([&] { api().saveAsync("", dir_.c_str(), "x", "Images;png", CallbackB); });
  ASSERT_TRUE(RunMainLoopUntil([] { return DeliveredCount() == 2; }));
  Settle();
  EXPECT_EQ(asyncCapture.stop(), (Strings{"init", "init"}));
  EXPECT_EQ(delivered['A'], (Strings{In("b.png")}));
  EXPECT_EQ(delivered['B'], (Strings{In("from-thread.png")}));
  EXPECT_EQ(deliveredOnMain['A'], (std::vector<bool>{true}));
  EXPECT_EQ(deliveredOnMain['B'], (std::vector<bool>{true}));
}

TEST_F(DialogExports, AHostThreadTheFrameworkNeverSawCanAskForAsyncPanels) {
  SKIP_UNLESS_PANELS_CAN(PanelAction::SelectFiles);
  PanelAnswer answer;
  answer.select = {In("c.txt")};
  QueuePanelAnswer(answer);
  std::string refused = "unset";
  std::atomic<bool> finished(false);
  std::thread host([&] {
    refused = api().save("", dir_.c_str(), "x", "");
    api().openAsync("", dir_.c_str(), "Text;txt", false, CallbackA);
    finished = true;
  });
  ASSERT_TRUE(RunMainLoopUntil([&] { return finished && DeliveredCount() == 1; }));
  host.join();
  EXPECT_EQ(refused, "");
  EXPECT_EQ(delivered['A'], (Strings{In("c.txt")}));
  EXPECT_EQ(deliveredOnMain['A'], (std::vector<bool>{true}));
}

TEST_F(DialogExports, APanelThatRaisesWhileItRunsStillDeliversOnceAsynchronously) {
  bool both;
  {
    PanelsRaiseWhenRun raising;
    api().openAsync("t", dir_.c_str(), "Images;png", false, CallbackA);
    api().saveAsync("t", dir_.c_str(), "n", "Images;png", CallbackB);
    // The run loop reports and drops each exception; each request still ends with "".
    both = RunMainLoopUntil([] { return DeliveredCount() == 2; }, 10);
  }
  ASSERT_TRUE(both) << DeliveredCount();
  Settle();
  EXPECT_EQ(delivered['B'], (Strings{"", ""}));
  EXPECT_EQ(DeliveredCount(), 2u);
}

TEST_F(DialogExports, APreparationThatRaisesLogsOneLineAndEndsWithEmpty) {
  {
    ClassMethodPatch patch([NSOpenPanel class], @selector(openPanel), (IMP)RaisingFactory);
    LogCapture capture;
    @autoreleasepool {
      EXPECT_STREQ(api().open("t", dir_.c_str(), "Images;png", false), "");
    }
    EXPECT_EQ(capture.stop(), (Strings{"init", "Dovrane::dialogOpenFilePanel Exception: no panel today"}));
    LogCapture asyncCapture;
    api().openAsync("t", dir_.c_str(), "Images;png", false, CallbackA);
    ASSERT_TRUE(RunMainLoopUntil([] { return DeliveredCount() == 1; }));
    Settle();
    EXPECT_EQ(asyncCapture.stop(), (Strings{"init", "Dovrane::dialogOpenFilePanel Exception: no panel today"}));
    EXPECT_EQ(delivered['A'], (Strings{""}));
  }
  {
    ClassMethodPatch patch([NSSavePanel class], @selector(savePanel), (IMP)RaisingFactory);
    LogCapture capture;
    @autoreleasepool {
      EXPECT_STREQ(api().save("t", dir_.c_str(), "n", "Images;png"), "");
    }
    api().saveAsync("t", dir_.c_str(), "n", "", CallbackB);
    ASSERT_TRUE(RunMainLoopUntil([] { return DeliveredCount() == 2; }));
    Settle();
    EXPECT_EQ(capture.stop(), (Strings{"init", "Dovrane::dialogSaveFilePanel Exceptionno panel today", "init",
                                       "Dovrane::dialogSaveFilePanel Exceptionno panel today"}));
    EXPECT_EQ(delivered['B'], (Strings{""}));
  }
  EXPECT_EQ(PanelsAnswered(), 0);
}

TEST_F(DialogExports, ASynchronousResultStaysValidUntilTheCallersPoolDrains) {
  SKIP_UNLESS_PANELS_CAN(PanelAction::SelectFiles);
  PanelAnswer answer;
  answer.select = {In("a.txt"), In("b.png")};
  QueuePanelAnswer(answer);
  @autoreleasepool {
    const char *result = api().open("", dir_.c_str(), "", true);
    // Churn the allocator: freed result memory would be reused.
    for (int i = 0; i < 2000; i++) [[NSString stringWithFormat:@"%d %s", i, "filler text of some length"] UTF8String];
    EXPECT_EQ(std::string(result), In("a.txt") + kSeparator + In("b.png"));
  }
}

TEST_F(DialogExports, NothingOfAFinishedRequestStaysAllocated) {
  if (!ObjectCountingAvailable()) GTEST_SKIP() << kNoObjectCounts;
  SKIP_UNLESS_PANELS_CAN(PanelAction::SelectFiles);
  api();  // loads the bundle, whose classes are counted
  StartCountingObjects();
  NSArray *classes = [NSArray arrayWithObjects:NSClassFromString(@"Dovrane"), NSClassFromString(@"PopUpButtonHandler"),
                                               NSClassFromString(@"DBOpenPanel"), NSClassFromString(@"DBSavePanel"),
                                               [NSPopUpButton class], [NSView class], nil];
  ASSERT_EQ([classes count], 6u);
  auto counts = [classes] {
    std::vector<int> result;
    for (Class cls in classes) result.push_back(LiveInstances(cls));
    return result;
  };
  Settle(0.1);
  std::vector<int> baseline = counts();

  std::vector<int> whilePending;
  PanelAnswer observe;
  observe.inspect = [&](NSSavePanel *) { whilePending = counts(); };
  observe.select = {In("b.png")};
  observe.name = "kept.png";
  PanelAnswer cancel;
  cancel.ok = false;
  for (int round = 0; round < 5; round++) {
    @autoreleasepool {
      QueuePanelAnswer(round == 0 ? observe : cancel);
      api().openAsync("", dir_.c_str(), "Images;png|All;*", false, CallbackA);
      ASSERT_TRUE(RunMainLoopUntil([&] { return DeliveredCount() == (size_t)(4 * round + 1); }));
      QueuePanelAnswer(observe);
      api().open("", dir_.c_str(), "Images;png|All;*", false);
      QueuePanelAnswer(cancel);
      api().save("", dir_.c_str(), "x", "Images;png");
      QueuePanelAnswer(round % 2 ? observe : cancel);
      api().saveAsync("", dir_.c_str(), "x", "Images;png|All;*", CallbackA);
      QueuePanelAnswer(cancel);
      api().folderAsync("", dir_.c_str(), false, CallbackA);
      {
        ClassMethodPatch patch([NSOpenPanel class], @selector(openPanel), (IMP)RaisingFactory);
        api().openAsync("", dir_.c_str(), "Images;png", false, CallbackA);
      }
      ASSERT_TRUE(RunMainLoopUntil([&] { return DeliveredCount() == (size_t)(4 * round + 4); }));
    }
    if (round == 0) {
      // While its panel is up, a request keeps its dialog, handler, panel and pop-up.
      ASSERT_EQ(whilePending.size(), baseline.size());
      for (size_t i = 0; i < 5; i++) EXPECT_GE(whilePending[i], baseline[i]) << i;
      EXPECT_EQ(whilePending[0], baseline[0] + 1);
      EXPECT_EQ(whilePending[1], baseline[1] + 1);
      EXPECT_EQ(whilePending[2], baseline[2] + 1);
      EXPECT_EQ(whilePending[4], baseline[4] + 1);
    }
  }
  Settle();
  ResetPanelDriver();
  Settle(0.1);
  EXPECT_EQ(counts(), baseline);
}
