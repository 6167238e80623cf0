// A host that never calls [NSApp run], as a game does: each frame it takes the waiting events with
// nextEventMatchingMask:untilDate:inMode:dequeue: and hands them to sendEvent:. It loads the bundle,
// sets its delegate and calls finishLaunching itself, then every facility reaches it through its
// own frames: a menu's key equivalent, the dock menu, a drop, an open-file request at launch,
// synchronous and asynchronous panels; and after each panel its window is key again.
#import <AppKit/AppKit.h>
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "BundleLoader.h"
#include "DesktopBridge.h"
#include "PanelDriver.h"
#include "Subprocess.h"
#include "TourDragInfo.h"

@interface PlayerAppDelegate : NSObject
@end
@implementation PlayerAppDelegate
@end

@interface PlayerWindowView : NSView
@end
@implementation PlayerWindowView
@end

namespace {

std::vector<std::string> heard;   // what reached the host's callbacks in the current test, in order
std::vector<std::string> opened;  // open-file requests, from the launch on
bool waitingForEvents;           // true while a frame waits in nextEventMatchingMask:
NSWindow *gameWindow;

void OnMenu(const char *tag, const char *title) { heard.push_back(std::string("menu ") + tag + " " + title); }
void OnDragEnter(void) {}
void OnDragExit(void) {}
void OnDrop(int, int, const char *paths) { heard.push_back(std::string("drop ") + (paths ? paths : "(null)")); }
void OnOpenFile(const char *path) { opened.push_back(path ? path : "(null)"); }
void OnDialog(const char *result) {
  heard.push_back(std::string("dialog ") + result + (waitingForEvents ? " (in a frame's event wait)" : ""));
}

// One frame of the host's loop: every waiting event (the first waited for up to wait seconds) goes
// to the application, then the windows are updated.
void Frame(double wait) {
  @autoreleasepool {
    NSDate *until = [NSDate dateWithTimeIntervalSinceNow:wait];
    for (;;) {
      waitingForEvents = true;
      NSEvent *event = [NSApp nextEventMatchingMask:NSUIntegerMax untilDate:until inMode:NSDefaultRunLoopMode
                                            dequeue:YES];
      waitingForEvents = false;
      if (event == nil) break;
      [NSApp sendEvent:event];
      until = [NSDate distantPast];
    }
    [NSApp updateWindows];
  }
}

bool FramesUntil(const std::function<bool()> &done, double seconds = 20) {
  NSDate *limit = [NSDate dateWithTimeIntervalSinceNow:seconds];
  while (!done() && [limit timeIntervalSinceNow] > 0) Frame(0.016);
  return done();
}

bool Heard(const std::string &line) {
  for (const std::string &entry : heard)
    if (entry == line) return true;
  return false;
}

// What the host does once, before its first frame: loads the bundle, registers its callbacks, sets
// its delegate, calls finishLaunching and shows its window.
void StartHost() {
  static bool started = false;
  if (started) return;
  started = true;
  BundleHandle();  // grafts onto the two classes above
  BundleFunction<void (*)(DBMenuCallback)>("setMenuCallback")(OnMenu);
  BundleFunction<void (*)(DBDragEnterCallback, DBDragExitCallback, DBDragDropCallback)>("setDragDropCallback")(
      OnDragEnter, OnDragExit, OnDrop);
  BundleFunction<void (*)(DBOpenFileCallback)>("setOpenFileCallback")(OnOpenFile);
  [NSApp setDelegate:(id)[[PlayerAppDelegate alloc] init]];
  if ([NSApp mainMenu] == nil) [NSApp setMainMenu:[[[NSMenu alloc] initWithTitle:@"PumpingHost"] autorelease]];
  [NSApp finishLaunching];  // the host's own call: [NSApp run] would make it
  gameWindow = [[NSWindow alloc] initWithContentRect:NSMakeRect(100, 100, 320, 200)
                                           styleMask:NSWindowStyleMaskTitled
                                             backing:NSBackingStoreBuffered
                                               defer:NO];
  [gameWindow setContentView:[[[PlayerWindowView alloc] initWithFrame:NSMakeRect(0, 0, 320, 200)] autorelease]];
  [gameWindow makeKeyAndOrderFront:nil];
  [gameWindow makeMainWindow];
  BundleFunction<void (*)(int, int)>("removeAllMenuItems")(0, 1);  // registers the main view for drops
  FramesUntil([] { return [gameWindow isKeyWindow]; }, 5);
}

// The request comes with the launch: this program runs itself again with the platform's open
// arguments, and the child's frames receive it once the host has called finishLaunching. It runs
// before the other tests start the host here: a second running instance of a launched GNUstep
// application hands its open requests to the first.
TEST(PumpingHostLaunch, OpenFileRequestArrives) {
  if (const char *expected = getenv("PUMPING_HOST_OPEN")) {
    StartHost();
    EXPECT_TRUE(FramesUntil([&] { return !opened.empty(); }, 10));
    EXPECT_EQ(opened, std::vector<std::string>{expected});
    return;
  }
  std::string path = MakeTemporaryDirectory({"saved game.sav"}) + "/saved game.sav";
  std::vector<std::string> argv = {ToString([[[NSProcessInfo processInfo] arguments] objectAtIndex:0])};
  for (const std::string &argument : GuiArguments()) argv.push_back(argument);
  for (const std::string &argument : OpenAtLaunchArguments(path)) argv.push_back(argument);
  argv.push_back("--gtest_filter=PumpingHostLaunch.OpenFileRequestArrives");
  SubprocessResult child = RunSubprocess(argv, 60, {"PUMPING_HOST_OPEN=" + path});
  ASSERT_FALSE(child.timedOut) << child.out << child.err;
  EXPECT_EQ(0, child.exitStatus) << child.out << child.err;
  EXPECT_NE(std::string::npos, child.out.find("[  PASSED  ] 1 test")) << child.out;
}

class PumpingHost : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartHost(); }
  void SetUp() override { heard.clear(); }

  // After a panel, an application that was active is active again (Apple: "there may be a time lag
  // before the app activates"; one that was not may have been activated by the panel), and the
  // window is key again.
  void ExpectFocusGivenBack(BOOL wasActive) {
    if (wasActive) EXPECT_TRUE(FramesUntil([] { return (bool)[NSApp isActive]; }, 5));
    EXPECT_EQ(gameWindow, [NSApp keyWindow]);
  }
};

TEST_F(PumpingHost, MenuKeyEquivalentAndDockMenuReachTheCallback) {
  auto add = BundleFunction<bool (*)(int, int, const char *, int, const char *, int, bool)>("addMenuItem");
  ASSERT_TRUE(add(0, 0, "Game", 700, "", -1, true));
  ASSERT_TRUE(add(0, 700, "Pause", 701, "k", -1, false));
  ASSERT_TRUE(add(0, 1, "Resume", 702, "", -1, false));
  NSEvent *key = [NSEvent keyEventWithType:NSKeyDown location:NSZeroPoint modifierFlags:NSCommandKeyMask
                                 timestamp:0 windowNumber:[gameWindow windowNumber] context:nil characters:@"k"
               charactersIgnoringModifiers:@"k" isARepeat:NO keyCode:40];
  [NSApp postEvent:key atStart:NO];
  EXPECT_TRUE(FramesUntil([] { return Heard("menu 701 Pause"); }, 5));

  NSMenu *dock = [(id)[NSApp delegate] applicationDockMenu:NSApp];
  [dock performActionForItemAtIndex:[dock indexOfItemWithTag:702]];  // as the system does for a dock choice
  Frame(0);
  EXPECT_EQ(heard, (std::vector<std::string>{"menu 701 Pause", "menu 702 Resume"}));
}

// A file arrives as the same bytes whether it is dropped alone (as its URL) or with others (as the
// list of names): a precomposed "é" (U+00E9) stays C3 A9, it is not decomposed.
TEST_F(PumpingHost, DropsReachTheCallbackAsTheSameBytesAloneOrWithOthers) {
  NSString *accented = @"/tmp/\u00e9t\u00e9.txt";
  NSArray *drops = [NSArray arrayWithObjects:[NSArray arrayWithObject:@"/tmp/level one.map"],
                                             [NSArray arrayWithObject:accented],
                                             [NSArray arrayWithObjects:accented, @"/tmp/b.txt", nil], nil];
  id view = [gameWindow contentView];
  for (NSArray *files in drops) {
    TourDragInfo *drag = [TourDragInfo dragOfFiles:files at:NSMakePoint(20, 30) inWindow:gameWindow];
    ASSERT_NE(NSDragOperationNone, [view draggingEntered:drag]);
    EXPECT_TRUE([view prepareForDragOperation:drag] && [view performDragOperation:drag]);
    [drag finish];
    Frame(0);
  }
  EXPECT_EQ(heard, (std::vector<std::string>{"drop /tmp/level one.map", "drop /tmp/\xc3\xa9t\xc3\xa9.txt",
                                             "drop /tmp/\xc3\xa9t\xc3\xa9.txt\x1c/tmp/b.txt"}));
}

TEST_F(PumpingHost, PanelsGiveTheKeyWindowBack) {
#if defined(__APPLE__)
  if ([NSApp keyWindow] != gameWindow)
    GTEST_SKIP() << "macOS did not activate this process, so it has no key window: a process started by a "
                    "test runner is not given the focus on macOS 14 and later";
#else
  ASSERT_EQ(gameWindow, [NSApp keyWindow]);
#endif
  std::string folder = MakeTemporaryDirectory({});
  BOOL wasActive = [NSApp isActive];
  auto save = BundleFunction<const char *(*)(const char *, const char *, const char *, const char *)>(
      "DialogSaveFilePanel");
  auto saveAsync = BundleFunction<void (*)(const char *, const char *, const char *, const char *, DBDialogCallback)>(
      "DialogSaveFilePanelAsync");
  auto folderAsync = BundleFunction<void (*)(const char *, const char *, bool, DBDialogCallback)>(
      "DialogOpenFolderPanelAsync");

  PanelAnswer name;
  name.name = "sync.sav";
  QueuePanelAnswer(name);
  EXPECT_EQ(folder + "/sync.sav", std::string(save("Save", folder.c_str(), "x.sav", "")));
  ExpectFocusGivenBack(wasActive);

  // The asynchronous panel runs modally inside the frame that waits for events next: that frame
  // lasts as long as the panel is up.
  name.name = "async.sav";
  QueuePanelAnswer(name);
  saveAsync("Save", folder.c_str(), "x.sav", "", OnDialog);
  EXPECT_TRUE(heard.empty());
  EXPECT_TRUE(FramesUntil([] { return !heard.empty(); }));
  EXPECT_EQ(heard, (std::vector<std::string>{"dialog " + folder + "/async.sav (in a frame's event wait)"}));
  ExpectFocusGivenBack(wasActive);

  PanelAnswer cancel;
  cancel.ok = false;
  QueuePanelAnswer(cancel);
  folderAsync("Folder", folder.c_str(), false, OnDialog);
  EXPECT_TRUE(FramesUntil([] { return heard.size() == 2; }));
  ExpectFocusGivenBack(wasActive);
  EXPECT_EQ(0, UnexpectedPanels());
}

}  // namespace
