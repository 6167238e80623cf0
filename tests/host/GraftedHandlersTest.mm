// The handlers grafted onto a host's classes while the bundle loads, seen from real host processes:
// what each test host's classes answer after dlopen, what the bundle logged while loading, and what
// drags, drops and open-file requests deliver to the host's callbacks.
#include <gtest/gtest.h>
#include "DBPasteboardTypes.h"
#include "Subprocess.h"

#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

namespace {

struct HostRun {
  SubprocessResult result;
  std::vector<std::string> lines;
};

HostRun RunHost(const std::string &host, const std::vector<std::string> &environment,
                const std::vector<std::string> &leadingArguments = {},
                const std::vector<std::string> &trailingArguments = {}) {
  std::vector<std::string> argv = {DB_TEST_HELPERS_DIR "/" + host};
  argv.insert(argv.end(), leadingArguments.begin(), leadingArguments.end());
  for (const std::string &arg : GuiArguments()) argv.push_back(arg);
  argv.insert(argv.end(), trailingArguments.begin(), trailingArguments.end());
  HostRun run;
  run.result = RunSubprocess(argv, 60, environment);
  run.lines = SplitLines(run.result.out);
  return run;
}

void ExpectFinished(const HostRun &run) {
  EXPECT_FALSE(run.result.timedOut);
  EXPECT_EQ(0, run.result.exitStatus) << run.result.out << run.result.err;
  ASSERT_FALSE(run.lines.empty());
  EXPECT_EQ("done", run.lines.back()) << run.result.out;
}

// The lines between "case NAME" and the next case (or the end).
std::vector<std::string> CaseLines(const HostRun &run, const std::string &name) {
  std::vector<std::string> lines;
  auto start = std::find(run.lines.begin(), run.lines.end(), "case " + name);
  if (start == run.lines.end()) return {"(case " + name + " missing)"};
  for (auto it = start + 1; it != run.lines.end() && it->rfind("case ", 0) != 0 && *it != "done"; ++it)
    lines.push_back(*it);
  return lines;
}

std::vector<std::string> LinesWithPrefix(const HostRun &run, const std::string &prefix) {
  std::vector<std::string> lines;
  for (const std::string &line : run.lines)
    if (line.rfind(prefix, 0) == 0) lines.push_back(line);
  return lines;
}

bool Has(const HostRun &run, const std::string &line) {
  return std::find(run.lines.begin(), run.lines.end(), line) != run.lines.end();
}

std::string AddFailure(const std::string &selector, const std::string &target) {
  return "log: Added instance method `" + selector + "` of OverrideAppDelegate to " + target + " with error";
}

#pragma mark - Installation at load

TEST(GraftInstallation, HostWithBothClassesGetsAllSixHandlersSilently) {
  HostRun run = RunHost("GraftHost", {"GRAFT_HOST_SCENARIO=load"});
  ExpectFinished(run);
  EXPECT_EQ(std::vector<std::string>{"log lines: 0"}, LinesWithPrefix(run, "log")) << run.result.out;
  EXPECT_EQ((std::vector<std::string>{"PlayerAppDelegate answers applicationDockMenu:: yes",
                                      "PlayerAppDelegate answers application:openFile:: yes",
                                      "PlayerWindowView answers draggingEntered:: yes",
                                      "PlayerWindowView answers draggingExited:: yes",
                                      "PlayerWindowView answers prepareForDragOperation:: yes",
                                      "PlayerWindowView answers performDragOperation:: yes"}),
            LinesWithPrefix(run, "Player"));
  // The first dock-menu request creates the menu manager; its dock menu is the one the menu
  // exports address as (0, 1).
  EXPECT_TRUE(Has(run, "dock menu: DockMenu")) << run.result.out;
  EXPECT_TRUE(Has(run, "dock menu asked again is the same: yes"));
  EXPECT_TRUE(Has(run, "dock menu items: 1, tag 7 titled Play")) << run.result.out;
  EXPECT_TRUE(Has(run, "delegate openFile: YES, getOpenFilename=/tmp/graft host/first.mp3")) << run.result.out;
}

TEST(GraftInstallation, HostWithoutViewClassLogsOneLineAndKeepsTheDelegateGrafts) {
  HostRun run = RunHost("GraftHostNoView", {"GRAFT_HOST_SCENARIO=load"});
  ExpectFinished(run);
  EXPECT_EQ((std::vector<std::string>{"log: DesktopBridge: this process has no class PlayerWindowView, so file drops "
                                      "stay off; attachHostClasses turns them on for the host's own view class",
                                      "log lines: 1"}),
            LinesWithPrefix(run, "log"));
  EXPECT_TRUE(Has(run, "PlayerAppDelegate answers applicationDockMenu:: yes"));
  EXPECT_TRUE(Has(run, "PlayerAppDelegate answers application:openFile:: yes"));
  EXPECT_TRUE(Has(run, "dock menu: DockMenu")) << run.result.out;
  EXPECT_TRUE(Has(run, "delegate openFile: YES, getOpenFilename=/tmp/graft host/first.mp3")) << run.result.out;
}

TEST(GraftInstallation, OwnDockMenuStaysAndAnInheritedOpenFileIsOverriddenForTheHostClassAlone) {
  HostRun run = RunHost("GraftHostCustom", {"GRAFT_HOST_SCENARIO=load"});
  ExpectFinished(run);
  EXPECT_EQ((std::vector<std::string>{AddFailure("applicationDockMenu:", "PlayerAppDelegate"), "log lines: 1"}),
            LinesWithPrefix(run, "log"));
  EXPECT_TRUE(Has(run, "dock menu: HostDock")) << run.result.out;
  // The manager's dock menu got the item; the host's own menu did not.
  EXPECT_TRUE(Has(run, "dock menu items: 0, tag 7 titled (null)")) << run.result.out;
  EXPECT_TRUE(Has(run, "delegate openFile: YES, getOpenFilename=/tmp/graft host/first.mp3")) << run.result.out;
  // The superclass still runs its own implementation, and the path it saw is not handed on.
  EXPECT_TRUE(Has(run, "base delegate opens /tmp/graft host/second.mp3")) << run.result.out;
  EXPECT_TRUE(Has(run, "base openFile: NO, getOpenFilename=/tmp/graft host/first.mp3")) << run.result.out;
}

TEST(GraftInstallation, ReplacingWithoutAPlaceholderReportsBothMisses) {
  HostRun run = RunHost("GraftHost", {"GRAFT_HOST_SCENARIO=replace"});
  ExpectFinished(run);
  EXPECT_EQ((std::vector<std::string>{
                "log lines: 0",
                "log: Instance method `savedGreeting` not found on source class GreetingReplacementWithoutPlaceholder",
                "log: Instance method `savedGreeting` not found on class PlayerAppDelegate",
                "log: Replaced instance method `greeting` of GreetingReplacementWithoutPlaceholder from "
                "PlayerAppDelegate with success",
                "log lines: 3"}),
            LinesWithPrefix(run, "log"));
  EXPECT_TRUE(Has(run, "greeting: replacement alone")) << run.result.out;
  EXPECT_TRUE(Has(run, "answers savedGreeting: no")) << run.result.out;
}

TEST(GraftInstallation, ReplacingKeepsThePreviousImplementationUnderTheSaveSelector) {
  HostRun run = RunHost("GraftHost", {"GRAFT_HOST_SCENARIO=replace", "GRAFT_HOST_REPLACE=placeholder"});
  ExpectFinished(run);
  EXPECT_EQ((std::vector<std::string>{
                "log lines: 0", "log: Exchanged instance method `originalGreeting` with `greeting` in PlayerAppDelegate",
                "log: Replaced instance method `greeting` of GreetingReplacement from PlayerAppDelegate with success",
                "log lines: 2"}),
            LinesWithPrefix(run, "log"));
  EXPECT_TRUE(Has(run, "greeting: replacement around host greeting")) << run.result.out;
  EXPECT_TRUE(Has(run, "originalGreeting: host greeting")) << run.result.out;
}

#pragma mark - Classes the host names

const char *const kNoDefaultClassesLine =
    "log: DesktopBridge: this process has no class PlayerAppDelegate or PlayerWindowView, so the dock menu, open-file "
    "requests and file drops stay off; attachHostClasses turns them on for the host's own delegate and view classes";

TEST(HostClassesByName, LoadSaysWhatStaysOffAndTheCallAttachesAllSixOnce) {
  HostRun run = RunHost("GraftHostOwnNames", {"GRAFT_HOST_SCENARIO=load"});
  ExpectFinished(run);
  EXPECT_EQ((std::vector<std::string>{
                kNoDefaultClassesLine, "log lines: 1",
                "log: attachHostClasses: this process has no class named \"NoSuchDelegateClass\", so the dock menu "
                "and open-file requests stay off",
                "log: attachHostClasses: GameDelegate is not a kind of NSView, so file drops stay off", "log lines: 2"}),
            LinesWithPrefix(run, "log"))
      << run.result.out;
  EXPECT_TRUE(Has(run, "GameView answers performDragOperation:: no")) << run.result.out;
  EXPECT_TRUE(Has(run, "attached after load: 0x3f")) << run.result.out;
  // Calling again changes and writes nothing; the view alone gives its four bits.
  EXPECT_TRUE(Has(run, "attach again: 0x3f, view alone: 0x3c, nothing: 0x0, unknown: 0x0, delegate as view: 0x0"))
      << run.result.out;
  EXPECT_TRUE(Has(run, "GameDelegate answers applicationDockMenu:: yes"));
  EXPECT_TRUE(Has(run, "GameView answers performDragOperation:: yes"));
  EXPECT_TRUE(Has(run, "dock menu items: 1, tag 7 titled Play")) << run.result.out;
  EXPECT_TRUE(Has(run, "delegate openFile: YES, getOpenFilename=/tmp/graft host/first.mp3")) << run.result.out;
}

TEST(HostClassesByName, ViewAttachedAfterLaunchingReceivesDrops) {
  HostRun run = RunHost("GraftHostOwnNames", {"GRAFT_HOST_SCENARIO=drag"});
  ExpectFinished(run);
  EXPECT_TRUE(Has(run, "attached after launching: 0x3f")) << run.result.out;
  EXPECT_EQ((std::vector<std::string>{"  notify enter", "  entered -> 1", "  prepare -> YES",
                                      "  notify drop x=20 y=41 paths=/tmp/a.mp3<FS>/tmp/b c.mp3<FS>/tmp/ü.mp3",
                                      "  perform -> YES"}),
            CaseLines(run, "three-files"));
}

#pragma mark - Drags and drops on the main view

class GraftedDragHandlers : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { run_ = new HostRun(RunHost("GraftHost", {"GRAFT_HOST_SCENARIO=drag"})); }
  static void TearDownTestSuite() {
    delete run_;
    run_ = nullptr;
  }
  static HostRun *run_;
};
HostRun *GraftedDragHandlers::run_ = nullptr;

// Where the system has a file-URL pasteboard type (macOS 10.13 and later), what a pasteboard holding
// only a URL offers is the system's choice: the tests of URL-only drags skip there.
const char *FileURLTypeMakesURLOnlyDragsTheSystemsChoice() {
  return DBFileURLPasteboardType() == nil ? nullptr
                                         : "with a file-URL pasteboard type, whether a pasteboard holding only a URL "
                                           "offers it is the system's choice";
}

TEST_F(GraftedDragHandlers, HostFinishesWithTheViewRegisteredByTheMenuManager) {
  ExpectFinished(*run_);
  NSMutableArray *types = [NSMutableArray arrayWithObject:NSFilenamesPboardType];
  if (DBFileURLPasteboardType() != nil) [types addObject:DBFileURLPasteboardType()];
  NSString *line = [[types sortedArrayUsingSelector:@selector(compare:)] componentsJoinedByString:@","];
  EXPECT_TRUE(Has(*run_, std::string("view registered for: ") + [line UTF8String])) << run_->result.out;
}

TEST_F(GraftedDragHandlers, FileNamesAdmitADragAndNotifyEnterOnce) {
  EXPECT_EQ((std::vector<std::string>{"  notify enter", "  entered -> 1", "  notify exit"}),
            CaseLines(*run_, "names-drag"));
}

// A refused drag still notifies when it leaves.
TEST_F(GraftedDragHandlers, RefusedDragsNotifyOnlyTheirExit) {
  EXPECT_EQ((std::vector<std::string>{"  entered -> 0", "  notify exit"}), CaseLines(*run_, "text-drag"));
}

// Without a file-URL pasteboard type (GNUstep, or macOS before 10.13) a URL alone is refused as a
// drag, and its drop still reports the URL's path.
TEST_F(GraftedDragHandlers, WithoutAFileURLTypeAURLAloneIsRefusedButItsDropReportsThePath) {
  if (const char *reason = FileURLTypeMakesURLOnlyDragsTheSystemsChoice()) GTEST_SKIP() << reason;
  EXPECT_EQ((std::vector<std::string>{"  entered -> 0", "  notify exit"}), CaseLines(*run_, "url-only-drag"));
  EXPECT_EQ((std::vector<std::string>{"  entered -> 0", "  prepare -> YES",
                                      "  notify drop x=20 y=41 paths=/tmp/graft host/url.mp3", "  perform -> YES"}),
            CaseLines(*run_, "url-only-drop"));
}

TEST_F(GraftedDragHandlers, SingleItemDropsNotifyTheURLPathAloneOrNull) {
  EXPECT_EQ((std::vector<std::string>{"  notify enter", "  entered -> 1", "  prepare -> YES",
                                      "  notify drop x=20 y=41 paths=/tmp/graft host/a.mp3", "  perform -> YES"}),
            CaseLines(*run_, "one-file"));
  EXPECT_EQ((std::vector<std::string>{"  entered -> 0", "  prepare -> YES", "  notify drop x=20 y=41 paths=(null)",
                                      "  perform -> YES"}),
            CaseLines(*run_, "text-drop"));
}

TEST_F(GraftedDragHandlers, SeveralFilesAreJoinedWithSeparatorsBetweenThem) {
  EXPECT_EQ((std::vector<std::string>{"  notify enter", "  entered -> 1", "  prepare -> YES",
                                      "  notify drop x=20 y=41 paths=/tmp/a.mp3<FS>/tmp/b c.mp3<FS>/tmp/ü.mp3",
                                      "  perform -> YES"}),
            CaseLines(*run_, "three-files"));
}

// Files dragged the way macOS carries them (one item per file, with its file URL) are reported as
// the file-names list is. (On GNUstep the helper can build them only from that list.)
TEST_F(GraftedDragHandlers, FileURLItemsAreReportedAsTheFileNamesListIs) {
  EXPECT_EQ(CaseLines(*run_, "names-drag"), CaseLines(*run_, "file-items-drag"));
  EXPECT_EQ(CaseLines(*run_, "one-file"), CaseLines(*run_, "file-items-one"));
  EXPECT_EQ(CaseLines(*run_, "three-files"), CaseLines(*run_, "file-items-three"));
}

TEST_F(GraftedDragHandlers, SeveralItemsWithoutFileNamesAreAcceptedUnreported) {
  EXPECT_EQ((std::vector<std::string>{"  entered -> 0", "  prepare -> YES", "  perform -> YES"}),
            CaseLines(*run_, "several-items-no-names"));
  // A file-names value that is not a list, or a list without names, is no file: the drop is
  // accepted and nothing is passed on.
  for (const char *name : {"several-items-names-not-a-list", "several-items-names-empty"}) {
    EXPECT_EQ((std::vector<std::string>{"  notify enter", "  entered -> 1", "  prepare -> YES", "  perform -> YES"}),
              CaseLines(*run_, name))
        << name;
  }
}

// (10.3, 20.7) at scale 2.0 is (20.6, 41.4): 20 and 41; (-0.75, 0.49) is (-1.5, 0.98): truncated
// toward zero, -1 and 0. At scale 1.0 the same point gives 10 and 20.
TEST_F(GraftedDragHandlers, LocationIsScaledByTheFirstWindowAndTruncatedTowardZero) {
  std::vector<std::string> negative = CaseLines(*run_, "negative-location");
  EXPECT_NE(std::find(negative.begin(), negative.end(), "  notify drop x=-1 y=0 paths=/tmp/a.mp3"), negative.end())
      << run_->result.out;
  std::vector<std::string> unscaled = CaseLines(*run_, "scale-one");
  EXPECT_NE(std::find(unscaled.begin(), unscaled.end(), "  notify drop x=10 y=20 paths=/tmp/a.mp3"), unscaled.end())
      << run_->result.out;
}

#pragma mark - Open-file requests at launch

class OpenFileAtLaunch : public ::testing::Test {
 protected:
  void SetUp() override {
    char directory[] = "/tmp/graft-open-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(directory));
    directory_ = directory;
    path_ = directory_ + "/song one.mp3";
    std::ofstream(path_) << "not really music";
  }
  void TearDown() override {
    unlink(path_.c_str());
    rmdir(directory_.c_str());
  }
  std::string directory_;
  std::string path_;
};

TEST_F(OpenFileAtLaunch, TheLaunchRequestReachesTheCallbackAndIsRemembered) {
  HostRun run = RunHost("GraftHost", {"GRAFT_HOST_SCENARIO=launch"}, {}, OpenAtLaunchArguments(path_));
  ExpectFinished(run);
  EXPECT_EQ(std::vector<std::string>{"open-file callback: " + path_}, LinesWithPrefix(run, "open-file callback"))
      << run.result.out;
  EXPECT_TRUE(Has(run, "launched: getOpenFilename=" + path_)) << run.result.out;
}

TEST_F(OpenFileAtLaunch, DelegateAttachedBeforeLaunchingReceivesTheRequest) {
  HostRun run = RunHost("GraftHostOwnNames", {"GRAFT_HOST_SCENARIO=launch"}, {}, OpenAtLaunchArguments(path_));
  ExpectFinished(run);
  EXPECT_TRUE(Has(run, "attached before launching: 0x3f")) << run.result.out;
  EXPECT_EQ(std::vector<std::string>{"open-file callback: " + path_}, LinesWithPrefix(run, "open-file callback"))
      << run.result.out;
}

TEST_F(OpenFileAtLaunch, PositionalFileWithoutACallbackIsStillRemembered) {
  if (const char *reason = PositionalArgumentIsNotOpened()) GTEST_SKIP() << reason;
  HostRun run = RunHost("GraftHost", {"GRAFT_HOST_SCENARIO=launch", "GRAFT_HOST_OPEN_CALLBACK=0"}, {path_});
  ExpectFinished(run);
  EXPECT_TRUE(LinesWithPrefix(run, "open-file callback").empty()) << run.result.out;
  EXPECT_TRUE(Has(run, "launched: getOpenFilename=" + path_)) << run.result.out;
}

TEST_F(OpenFileAtLaunch, SampleHostPrintsTheRequestInItsEventLog) {
  std::vector<std::string> argv = {PLAYER_EXECUTABLE};
  for (const std::string &arg : GuiArguments()) argv.push_back(arg);
  for (const std::string &arg : OpenAtLaunchArguments(path_)) argv.push_back(arg);
  argv.insert(argv.end(), {"-PlayerQuitAfterLaunch", "YES"});
  SubprocessResult result = RunSubprocess(argv, 60);
  ASSERT_FALSE(result.timedOut) << result.out << result.err;
  EXPECT_EQ(0, result.exitStatus) << result.err;
  std::vector<std::string> lines = SplitLines(result.out);
  auto has = [&](const std::string &line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
  EXPECT_TRUE(has("[player] handlers grafted onto the host: PlayerAppDelegate applicationDockMenu:, "
                  "PlayerAppDelegate application:openFile:, PlayerWindowView draggingEntered:, "
                  "PlayerWindowView draggingExited:, PlayerWindowView prepareForDragOperation:, "
                  "PlayerWindowView performDragOperation:"))
      << result.out;
  EXPECT_TRUE(has("[player] open file: " + path_)) << result.out;
}

}  // namespace
