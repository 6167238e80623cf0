// The window, application and system services, called through dlsym as a host calls them.
#import <AppKit/AppKit.h>
#include <gtest/gtest.h>
#include "BundleLoader.h"
#include "DesktopBridge.h"
#include "Subprocess.h"
#include "TestTrash.h"

#include <objc/runtime.h>

#include <ftw.h>
#include <limits.h>
#include <regex.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Services {
  decltype(&::setWindowTitle) setWindowTitle = BundleFunction<decltype(&::setWindowTitle)>("setWindowTitle");
  decltype(&::getScaleFactor) getScaleFactor = BundleFunction<decltype(&::getScaleFactor)>("getScaleFactor");
  decltype(&::bringToFront) bringToFront = BundleFunction<decltype(&::bringToFront)>("bringToFront");
  decltype(&::trashFile) trashFile = BundleFunction<decltype(&::trashFile)>("trashFile");
  decltype(&::getUUID) getUUID = BundleFunction<decltype(&::getUUID)>("getUUID");
  decltype(&::getAppVersion) getAppVersion = BundleFunction<decltype(&::getAppVersion)>("getAppVersion");
  void (*setAutoRestore)() = BundleFunction<void (*)()>(DB_SET_AUTO_RESTORE_SYMBOL);
};

const Services &api() {
  static Services services;
  return services;
}

void pumpEvents(double seconds) {
  NSDate *end = [NSDate dateWithTimeIntervalSinceNow:seconds];
  while ([end timeIntervalSinceNow] > 0) {
    NSEvent *event = [NSApp nextEventMatchingMask:NSAnyEventMask
                                        untilDate:[NSDate dateWithTimeIntervalSinceNow:0.02]
                                           inMode:NSDefaultRunLoopMode
                                          dequeue:YES];
    if (event) [NSApp sendEvent:event];
  }
}

// Handles events until done() holds or the time is up; returns done().
template <typename Done> bool pumpUntil(Done done, double seconds) {
  NSDate *end = [NSDate dateWithTimeIntervalSinceNow:seconds];
  while (!done() && [end timeIntervalSinceNow] > 0) {
    NSEvent *event = [NSApp nextEventMatchingMask:NSAnyEventMask
                                        untilDate:[NSDate dateWithTimeIntervalSinceNow:0.02]
                                           inMode:NSDefaultRunLoopMode
                                          dequeue:YES];
    if (event) [NSApp sendEvent:event];
  }
  return done();
}

// The window the bundle's window services act on: the main window, or, in a process the platform
// did not activate (one started by a test runner on macOS 14 and later), the frontmost window.
NSWindow *windowActedOn() {
  NSWindow *window = [NSApp mainWindow];
#if defined(__APPLE__)
  if (window == nil) window = [[NSApp orderedWindows] firstObject];
#endif
  return window;
}

// Whether the platform may refuse to activate this process: macOS 14 and later do for a process
// started by a test runner; GNUstep's stand-ins do when DB_ACTIVATION_REFUSED=1.
bool activationMayBeRefused() {
#if defined(__APPLE__)
  return true;
#else
  const char *refused = getenv("DB_ACTIVATION_REFUSED");
  return refused != NULL && strcmp(refused, "1") == 0;
#endif
}

const char kNotActivated[] = "the platform did not activate this process: a process started by a test runner is "
                             "not given the focus on macOS 14 and later";

// Expects the application to have become active; where the platform may refuse, the calling test
// is skipped instead.
#define EXPECT_ACTIVATED(activated)                                  \
  do {                                                               \
    bool activated_ = (activated);                                   \
    if (!activated_ && activationMayBeRefused()) GTEST_SKIP() << kNotActivated; \
    EXPECT_TRUE(activated_);                                         \
  } while (0)

bool exists(const std::string &path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

int removeEntry(const char *path, const struct stat *, int, struct FTW *) { return remove(path); }
void removeTree(const std::string &path) { nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS); }

}  // namespace

// A window whose backing scale factor the test chooses, as on a display with that factor.
@interface ScaledWindow : NSWindow {
  CGFloat _scale;
}
- (void)setScale:(CGFloat)scale;
@end

@implementation ScaledWindow
- (void)setScale:(CGFloat)scale { _scale = scale; }
- (CGFloat)backingScaleFactor { return _scale; }
@end

namespace {

ScaledWindow *firstWindow = nil;
ScaledWindow *secondWindow = nil;

ScaledWindow *makeWindow(CGFloat scale, NSString *title) {
  ScaledWindow *window = [[ScaledWindow alloc]
      initWithContentRect:NSMakeRect(100, 100, 320, 200)
                styleMask:NSWindowStyleMaskTitled | NSWindowStyleMaskMiniaturizable | NSWindowStyleMaskResizable
                  backing:NSBackingStoreBuffered
                    defer:NO];
  [window setReleasedWhenClosed:NO];
  [window setScale:scale];
  [window setTitle:title];
  return window;
}

class ServicesWindows : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { [NSApp finishLaunching]; }
  // The host's windows, made once: the first of them is the application's first window.
  static void makeHostWindows() {
    if (firstWindow != nil) return;
    firstWindow = makeWindow(2.0, @"First");
    secondWindow = makeWindow(3.0, @"Second");
    [secondWindow orderFront:nil];
    [firstWindow makeKeyAndOrderFront:nil];  // the frontmost too, for a process that is not active
    [firstWindow makeMainWindow];
    pumpEvents(0.1);
  }
};

}  // namespace

// Runs first: the process has no window of its own yet (the platform may have some).
TEST_F(ServicesWindows, WithoutWindowsTheServicesFallBackOrDoNothing) {
  ASSERT_EQ([NSApp mainWindow], nil);
  NSScreen *screen = [NSScreen mainScreen];
  EXPECT_EQ(api().getScaleFactor(), screen ? (float)[screen backingScaleFactor] : 1.0f);
  api().setWindowTitle("nobody");
  api().setAutoRestore();
  [NSApp deactivate];
  ASSERT_TRUE(pumpUntil([] { return ![NSApp isActive]; }, 5));
  api().bringToFront();
  EXPECT_ACTIVATED(pumpUntil([] { return (bool)[NSApp isActive]; }, 5));
}

TEST_F(ServicesWindows, ScaleFactorIsTheMainWindowsConvertedToFloat) {
  makeHostWindows();
  EXPECT_EQ(api().getScaleFactor(), 2.0f);  // not the second window's 3.0
  [firstWindow setScale:1.0];
  EXPECT_EQ(api().getScaleFactor(), 1.0f);
  [firstWindow setScale:1.1];
  EXPECT_EQ(api().getScaleFactor(), (float)1.1);
  [firstWindow setScale:2.0];
}

TEST_F(ServicesWindows, TitleGoesToTheMainWindowOnly) {
  makeHostWindows();
  ASSERT_EQ(windowActedOn(), firstWindow);
  api().setWindowTitle("Caf\xc3\xa9 \xe2\x96\xb6 clip.mp4");
  EXPECT_TRUE([[firstWindow title] isEqualToString:@"Caf\u00e9 \u25b6 clip.mp4"]) << [[firstWindow title] UTF8String];
  EXPECT_TRUE([[secondWindow title] isEqualToString:@"Second"]);
  api().setWindowTitle(NULL);
  EXPECT_TRUE([[firstWindow title] isEqualToString:@"Caf\u00e9 \u25b6 clip.mp4"]);
  api().setWindowTitle("bad \xff bytes");
  EXPECT_TRUE([[firstWindow title] isEqualToString:@""]) << [[firstWindow title] UTF8String];
  api().setWindowTitle("");
  EXPECT_TRUE([[firstWindow title] isEqualToString:@""]);
}

// With no other window on screen, the miniaturized window is the one restored, also while the
// application stays inactive; its scale factor is read meanwhile.
TEST_F(ServicesWindows, BringToFrontRestoresAMiniaturizedWindowAndActivates) {
  makeHostWindows();
  [secondWindow orderOut:nil];
  [firstWindow miniaturize:nil];
  [NSApp deactivate];
  ASSERT_TRUE(pumpUntil([] { return [firstWindow isMiniaturized] && ![NSApp isActive]; }, 5));
  EXPECT_EQ(api().getScaleFactor(), 2.0f);
  api().bringToFront();
  pumpUntil([] { return ![firstWindow isMiniaturized] && [NSApp isActive]; }, 5);
  EXPECT_FALSE([firstWindow isMiniaturized]);
  EXPECT_TRUE([firstWindow isVisible]);
  bool active = [NSApp isActive];
  [secondWindow orderFront:nil];
  [firstWindow makeKeyAndOrderFront:nil];
  [firstWindow makeMainWindow];
  EXPECT_ACTIVATED(active);
}

TEST_F(ServicesWindows, AutoRestoreSavesTheFrameUnderTheRepresentedFileName) {
  makeHostWindows();
  [firstWindow makeKeyAndOrderFront:nil];
  [firstWindow makeMainWindow];
  ASSERT_EQ(windowActedOn(), firstWindow);
  NSWindowController *controller = [[NSWindowController alloc] initWithWindow:firstWindow];
  ASSERT_EQ([firstWindow windowController], controller);
  ASSERT_TRUE([controller shouldCascadeWindows]);

  NSString *name = @"/tmp/movie one.mp4";
  NSString *key = [@"NSWindow Frame " stringByAppendingString:name];
  NSUserDefaults *defaults = [NSUserDefaults standardUserDefaults];
  [defaults removeObjectForKey:key];
  [firstWindow setRepresentedFilename:name];
  api().setAutoRestore();
  EXPECT_TRUE([[firstWindow frameAutosaveName] isEqualToString:name]) << [[firstWindow frameAutosaveName] UTF8String];
  EXPECT_FALSE([controller shouldCascadeWindows]);
  [firstWindow setFrame:NSMakeRect(140, 150, 360, 220) display:NO];
  [firstWindow saveFrameUsingName:[firstWindow frameAutosaveName]];
  NSString *saved = [defaults stringForKey:key];
  ASSERT_NE(saved, nil);
  EXPECT_TRUE([saved hasPrefix:@"140 150 360 220 "]) << [saved UTF8String];

  // The empty name is used as it is: the window stops saving its frame.
  [firstWindow setRepresentedFilename:@""];
  api().setAutoRestore();
  EXPECT_EQ([[firstWindow frameAutosaveName] length], 0u);

  [defaults removeObjectForKey:key];
  [firstWindow setWindowController:nil];
  [controller release];
}

// With no main window (as in an application that is not active), the title and the frame
// autosaving go to the window that would become main: the frontmost visible one that can. A
// window never shown, a panel and a miniaturized window are passed over.
TEST_F(ServicesWindows, WithoutAMainWindowTheWindowThatWouldBecomeMainIsUsed) {
  makeHostWindows();
  [firstWindow orderOut:nil];
  [secondWindow orderOut:nil];
  ScaledWindow *candidate = makeWindow(1.0, @"Candidate");
  ScaledWindow *neverShown = makeWindow(1.0, @"Never shown");
  NSPanel *panel = [[NSPanel alloc] initWithContentRect:NSMakeRect(60, 60, 120, 80)
                                              styleMask:NSWindowStyleMaskTitled
                                                backing:NSBackingStoreBuffered
                                                  defer:NO];
  [panel setTitle:@"Panel"];
  [candidate orderFront:nil];
  [panel orderFront:nil];  // the frontmost, but a panel cannot become main
  pumpEvents(0.1);
  if ([NSApp mainWindow] != nil) {
    // An application the platform keeps inactive may keep its main window (GNUstep keeps one
    // ordered out) or have one made main by the system (macOS).
    if (activationMayBeRefused() && ![NSApp isActive])
      GTEST_SKIP() << "the platform kept or made a window main in an inactive application";
    FAIL() << "a window became main without being made main: " << [[[NSApp mainWindow] title] UTF8String];
  }

  api().setWindowTitle("Fallback");
  EXPECT_TRUE([[candidate title] isEqualToString:@"Fallback"]) << [[candidate title] UTF8String];
  EXPECT_TRUE([[neverShown title] isEqualToString:@"Never shown"]);
  EXPECT_TRUE([[panel title] isEqualToString:@"Panel"]);
  EXPECT_TRUE([[secondWindow title] isEqualToString:@"Second"]);  // ordered out

  [candidate setRepresentedFilename:@"/tmp/fallback.mp4"];
  api().setAutoRestore();
  EXPECT_TRUE([[candidate frameAutosaveName] isEqualToString:@"/tmp/fallback.mp4"])
      << [[candidate frameAutosaveName] UTF8String];
  [candidate setFrameAutosaveName:@""];
  [[NSUserDefaults standardUserDefaults] removeObjectForKey:@"NSWindow Frame /tmp/fallback.mp4"];

  [candidate miniaturize:nil];
  ASSERT_TRUE(pumpUntil([candidate] { return (bool)[candidate isMiniaturized]; }, 5));
  api().setWindowTitle("Nobody");
  EXPECT_TRUE([[candidate title] isEqualToString:@"Fallback"]) << [[candidate title] UTF8String];

  for (NSWindow *window : {(NSWindow *)candidate, (NSWindow *)neverShown, (NSWindow *)panel}) {
    [window orderOut:nil];
    [window release];
  }
  [firstWindow makeKeyAndOrderFront:nil];
  [firstWindow makeMainWindow];
}

// A process that the platform refuses to activate, as macOS 14 and later refuse a process that a
// test runner started: the window tests run again in a child with GNUstep's stand-ins refusing
// (DB_ACTIVATION_REFUSED=1). bringToFront still restores and shows the window; only the checks
// of activation are skipped, with the reason.
TEST(ServicesActivation, WhenActivationIsRefusedTheWindowIsStillShownAndOnlyActivationSkips) {
#if defined(__APPLE__)
  GTEST_SKIP() << "DB_ACTIVATION_REFUSED is read by GNUstep's stand-ins; macOS decides for itself";
#endif
  if (getenv("DB_ACTIVATION_REFUSED") != NULL) GTEST_SKIP() << "already the child";
  std::vector<std::string> argv = {[[[[NSProcessInfo processInfo] arguments] objectAtIndex:0] UTF8String]};
  for (const std::string &arg : GuiArguments()) argv.push_back(arg);
  argv.push_back("--gtest_filter=ServicesWindows.*");
  SubprocessResult child = RunSubprocess(argv, 120, {"DB_ACTIVATION_REFUSED=1"});
  ASSERT_FALSE(child.timedOut) << child.out << child.err;
  EXPECT_EQ(child.exitStatus, 0) << child.out << child.err;
  std::vector<std::string> lines = SplitLines(child.out);
  for (const char *name : {"WithoutWindowsTheServicesFallBackOrDoNothing", "BringToFrontRestoresAMiniaturizedWindowAndActivates"}) {
    std::string skipped = std::string("[  SKIPPED ] ServicesWindows.") + name;
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string &line) { return line.compare(0, skipped.size(), skipped) == 0; }))
        << skipped << "\n" << child.out;
  }
  EXPECT_NE(child.out.find(kNotActivated), std::string::npos) << child.out;
  EXPECT_EQ(child.out.find("[  FAILED  ]"), std::string::npos) << child.out;
}

TEST(ServicesSystem, TrashFileMovesToTheTrashAndRefusesBadPaths) {
  char pattern[] = "/tmp/db-services-trash-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string root = pattern;
  TestTrash trash(root);
  std::string file = root + "/clip #1.mp4";
  std::ofstream(file) << "x";

  EXPECT_TRUE(api().trashFile(file.c_str()));
  EXPECT_FALSE(exists(file));
  for (const std::string &entry : trash.EntriesFor("clip #1.mp4")) EXPECT_TRUE(exists(entry)) << entry;
  EXPECT_FALSE(api().trashFile(file.c_str()));  // gone already

  // Null, empty and non-UTF-8 paths name nothing: the working directory is never trashed.
  std::string cwd = root + "/cwd";
  ASSERT_EQ(mkdir(cwd.c_str(), 0755), 0);
  char saved[PATH_MAX];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(chdir(cwd.c_str()), 0);
  EXPECT_FALSE(api().trashFile(NULL));
  EXPECT_FALSE(api().trashFile(""));
  EXPECT_FALSE(api().trashFile("bad\xff"));
  EXPECT_TRUE(exists(cwd));
  ASSERT_EQ(chdir(saved), 0);

  removeTree(root);
}

TEST(ServicesSystem, UUIDIsUpperCaseHyphenatedAndNewOnEveryCall) {
  char *first = api().getUUID();
  char *second = api().getUUID();
  ASSERT_NE(first, nullptr) << "this machine has a DMI product UUID or a machine id";
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_STREQ(first, second);
  regex_t pattern;
  ASSERT_EQ(regcomp(&pattern, "^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$", REG_EXTENDED), 0);
  EXPECT_EQ(regexec(&pattern, first, 0, NULL, 0), 0) << first;
  regfree(&pattern);
  free(first);
  free(second);
}

TEST(ServicesSystem, AppVersionIsNullWithoutAnInfoDictionaryKey) {
  // This test program is a bare executable: its main bundle has no CFBundleVersion.
  ASSERT_EQ([[[NSBundle mainBundle] infoDictionary] objectForKey:@"CFBundleVersion"], nil);
  EXPECT_EQ(api().getAppVersion(), nullptr);
}

namespace {

NSDictionary *versionedInfo = nil;
NSDictionary *InfoWithVersion(id self, SEL _cmd) { return versionedInfo; }

}  // namespace

// A malformed Info dictionary whose version is a number, or text: only text is given back.
TEST(ServicesSystem, AppVersionIsNullForAVersionThatIsNotText) {
  Method info = class_getInstanceMethod([NSBundle class], @selector(infoDictionary));
  IMP original = method_setImplementation(info, (IMP)InfoWithVersion);
  versionedInfo = [NSDictionary dictionaryWithObject:[NSNumber numberWithInt:1234] forKey:@"CFBundleVersion"];
  char *number = api().getAppVersion();
  versionedInfo = [NSDictionary dictionaryWithObject:@"1234" forKey:@"CFBundleVersion"];
  char *text = api().getAppVersion();
  method_setImplementation(info, original);
  versionedInfo = nil;
  EXPECT_EQ(number, nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "1234");
  free(number);
  free(text);
}

namespace {

const std::string kServicesHost = SERVICES_HOST_EXECUTABLE;

SubprocessResult runServicesHost(const std::vector<std::string> &environment) {
  std::vector<std::string> argv = {kServicesHost};
  for (const std::string &arg : GuiArguments()) argv.push_back(arg);
  return RunSubprocess(argv, 90, environment);
}

bool hasLine(const SubprocessResult &run, const std::string &line) {
  std::vector<std::string> lines = SplitLines(run.out);
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string valueOf(const SubprocessResult &run, const std::string &key) {
  for (const std::string &line : SplitLines(run.out))
    if (line.compare(0, key.size() + 1, key + "=") == 0) return line.substr(key.size() + 1);
  return "(missing)";
}

}  // namespace

TEST(ServicesApplication, AppVersionComesFromTheBundlesInfoDictionary) {
  SubprocessResult run = runServicesHost({"SERVICES_HOST_MODE=version"});
  ASSERT_FALSE(run.timedOut) << run.out << run.err;
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_TRUE(hasLine(run, "version=1234")) << run.out;
  EXPECT_TRUE(hasLine(run, "again=1234")) << run.out;
  EXPECT_TRUE(hasLine(run, "distinct=1")) << run.out;
}

TEST(ServicesApplication, LaunchAppStartsASecondInstanceWithoutWaitingAndReapsIt) {
  char pattern[] = "/tmp/db-services-launch-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string directory = pattern;
  std::string go = directory + "/go", report = directory + "/report";
  SubprocessResult run = runServicesHost({"SERVICES_HOST_MODE=launch", "SERVICES_HOST_GO=" + go,
                                          "SERVICES_HOST_REPORT=" + report});
  ASSERT_FALSE(run.timedOut) << run.out << run.err;
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_TRUE(hasLine(run, "returned=1")) << run.out;
  std::string secondPid = valueOf(run, "second.pid");
  ASSERT_NE(secondPid, "(missing)") << run.out;
  EXPECT_NE(secondPid, valueOf(run, "first.pid"));
  char resolved[PATH_MAX];
  ASSERT_NE(realpath(kServicesHost.c_str(), resolved), nullptr);
  EXPECT_EQ(valueOf(run, "second.exe"), std::string(resolved));  // the same application, run again
  EXPECT_EQ(valueOf(run, "second.version"), "1234");
  EXPECT_EQ(valueOf(run, "second.finalState"), "gone");  // reaped, not left a zombie
  unlink(go.c_str());
  unlink(report.c_str());
  rmdir(directory.c_str());
}
