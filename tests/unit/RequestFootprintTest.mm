// Over a thousand requests of each kind (dialogs prepared, dialogs run and cancelled, menu items
// added and removed, processes run with output), the process's live objects and heap come back
// to their level before the requests.
#import "Dovrane.h"
#include <gtest/gtest.h>
#include "DesktopBridge.h"
#include "RequestFootprint.h"

#include <stdlib.h>

#include <functional>
#include <string>
#include <vector>

namespace {

const int kRequests = 1000;
// Allowed growth of the heap over all the requests of one kind: allocator bookkeeping and
// GNUstep's own tables may move by a few kilobytes, while anything a request kept would come to
// at least its size times a thousand.
const long long kHeapSlackBytes = 16 * 1024;

void SwallowLogLine(NSString *message) {}

}  // namespace

// Cancels every modal panel as soon as it is up, and keeps the modal loop awake.
@interface FastCanceller : NSObject
- (void)tick:(NSTimer *)timer;
@end
@implementation FastCanceller
- (void)tick:(NSTimer *)timer {
  NSWindow *modal = [NSApp modalWindow];
  if (modal == nil) return;
  if ([modal isKindOfClass:[NSSavePanel class]]) [(NSSavePanel *)modal cancel:nil];
  [NSApp postEvent:[NSEvent otherEventWithType:NSApplicationDefined location:NSZeroPoint modifierFlags:0
                                     timestamp:0 windowNumber:0 context:nil subtype:0 data1:0 data2:0]
           atStart:NO];
}
@end

namespace {

void InstallCanceller() {
  static FastCanceller *canceller = nil;
  if (canceller != nil) return;
  canceller = [[FastCanceller alloc] init];
  NSTimer *timer = [NSTimer timerWithTimeInterval:0.002 target:canceller selector:@selector(tick:) userInfo:nil
                                          repeats:YES];
  [[NSRunLoop currentRunLoop] addTimer:timer forMode:NSModalPanelRunLoopMode];
}

int delivered = 0;
std::vector<std::string> unexpectedResults;
void OnDialog(const char *result) {
  delivered++;
  if (result == NULL || result[0] != 0) unexpectedResults.push_back(result ? result : "(null)");
}
int selections = 0;
void OnMenu(const char *tag, const char *title) { selections++; }

void PrepareDialog(int i) {
  @autoreleasepool {
    Dovrane *dialog = [[Dovrane alloc] init];
    if (i % 2 == 0) {
      [dialog createOpenPanel:@"Pick" directory:@"/tmp" filters:@"Images;png,jpg|All files;*" multiselect:YES
               canChooseFiles:YES canChooseFolders:NO];
    } else {
      [dialog createSavePanel:@"Save" directory:@"/tmp" defaultName:@"name.png" filters:@"PNG;png|Text;txt"];
    }
    [dialog release];
  }
}

void CancelDialog(int i) {
  int expected = delivered + 1;
  @autoreleasepool {
    if (i % 2 == 0)
      DialogOpenFilePanelAsync("Pick", "/tmp", "Images;png,jpg|All files;*", false, OnDialog);
    else
      DialogSaveFilePanelAsync("Save", "/tmp", "name", "PNG;png", OnDialog);
    NSDate *limit = [NSDate dateWithTimeIntervalSinceNow:10];
    while (delivered < expected && [limit timeIntervalSinceNow] > 0) {
      @autoreleasepool {
        [[NSRunLoop currentRunLoop] runMode:NSDefaultRunLoopMode
                                 beforeDate:[NSDate dateWithTimeIntervalSinceNow:0.01]];
      }
    }
  }
}

// The platform's own cycle for comparison: a panel made directly (not through the plug-in's
// factories) with a file-type accessory, run modally, cancelled and released.
void RunPlatformPanel(int i) {
  @autoreleasepool {
    NSSavePanel *panel = (i % 2 == 0) ? [[NSOpenPanel alloc] init] : [[NSSavePanel alloc] init];
    [panel setDirectoryURL:[NSURL fileURLWithPath:@"/tmp"]];
    // An accessory like the dialogs' own: a label and a pop-up in a view.
    NSView *accessory = [[[NSView alloc] initWithFrame:NSMakeRect(0, 0, 200, 24)] autorelease];
    NSTextField *label = [[[NSTextField alloc] initWithFrame:NSMakeRect(0, 0, 60, 22)] autorelease];
    [label setStringValue:@"File type:"];
    NSPopUpButton *popUp = [[[NSPopUpButton alloc] initWithFrame:NSMakeRect(61, 2, 140, 22) pullsDown:NO] autorelease];
    [popUp addItemWithTitle:@"Images (*.png,*.jpg)"];
    [popUp addItemWithTitle:@"All files (*.*)"];
    [accessory addSubview:label];
    [accessory addSubview:popUp];
    [panel setAccessoryView:accessory];
    [panel runModal];
    [panel setAccessoryView:nil];
    [panel release];
  }
}

// Counts of the objects a dialog request makes, which must all be gone again.
const char *const kDialogClasses[] = {"Dovrane", "PopUpButtonHandler", "DBOpenPanel", "DBSavePanel",
                                      "NSPopUpButton", "NSTextField"};

void AddAndRemoveMenuItems(int i) {
  @autoreleasepool {
    addMenuItem(0, 0, "Playback", 40, "", -1, true);
    addMenuItem(0, 40, "Play", 41, "p", -1, false);
    addMenuItem(0, 40, "", 42, "", 0, false);
    addMenuItem(0, 1, "Dock item", 7, "", -1, false);
    setMenuItemText(0, 40, 41, "Pause");
    setMenuItemChecked(0, 40, 41, true);
    NSMenu *playback = [[[NSApp mainMenu] itemWithTag:40] submenu];
    [playback performActionForItemAtIndex:[playback indexOfItemWithTag:41]];
    removeMenuItem(0, 40, 41);
    removeMenuItem(0, 1, 7);
    removeMenuItem(0, 0, 40);
  }
}

int processFailures = 0;
void RunProcessWithOutput(int i) {
  char *output = NULL;
  int status = createProcess("/bin/echo", "request\x1cwith output", NULL, true, &output);
  if (status != 0 || output == NULL || std::string(output) != "request with output\n") processFailures++;
  free(output);
}

// Runs a few warm-up requests (GNUstep fills caches of its own on first use), then kRequests,
// and returns the footprints before and after.
std::pair<RequestFootprint, RequestFootprint> Measure(const std::function<void(int)> &request, int count = kRequests) {
  for (int i = 0; i < 20; i++) request(i);
  SettleMainRunLoop();
  RequestFootprint before = MeasureFootprint();
  for (int i = 0; i < count; i++) request(i);
  SettleMainRunLoop();
  RequestFootprint after = MeasureFootprint();
  return {before, after};
}

class RequestFootprintTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    StartCountingObjects();
    _NSLog_printf_handler = SwallowLogLine;  // "init" for every dialog request
    [NSApp setMainMenu:[[[NSMenu alloc] initWithTitle:@"Host"] autorelease]];
    setMenuCallback(OnMenu);
    InstallCanceller();
  }
  static void TearDownTestSuite() {
    setMenuCallback(NULL);
    _NSLog_printf_handler = NULL;
  }
  static void Check(const std::pair<RequestFootprint, RequestFootprint> &footprints) {
    const RequestFootprint &before = footprints.first, &after = footprints.second;
    // Anything a request kept would add at least one object per request; GNUstep's own caches
    // may move by a few objects over the whole run.
    EXPECT_LE(after.liveObjects - before.liveObjects, kRequests / 20) << ObjectCountChanges(before, after);
    EXPECT_LE(after.heapBytes - before.heapBytes, kHeapSlackBytes)
        << (after.heapBytes - before.heapBytes) / kRequests << " bytes per request";
  }
};

}  // namespace

TEST_F(RequestFootprintTest, PreparedDialogs) { Check(Measure(PrepareDialog)); }

// GNUstep keeps something of every panel that has been on screen (tool-tip records of its views,
// window-server resources), with or without the plug-in. The requests may hold no more than the
// platform's own panel cycle does, and none of the objects a request makes may stay.
TEST_F(RequestFootprintTest, DialogsRunAndCancelled) {
  const int platformRuns = 200;
  auto platform = Measure(RunPlatformPanel, platformRuns);
  int start = delivered;
  auto requests = Measure(CancelDialog);
  NSDate *limit = [NSDate dateWithTimeIntervalSinceNow:10];
  while (delivered - start < kRequests + 20 && [limit timeIntervalSinceNow] > 0) SettleMainRunLoop(0.01);
  // The measurement needs the requests to have run; that each is delivered exactly once is the
  // dialog tests' business (here one delivery in about a thousand has been seen missing, under
  // investigation).
  EXPECT_GE(delivered - start, kRequests);
  EXPECT_LE(delivered - start, kRequests + 20);
  EXPECT_TRUE(unexpectedResults.empty()) << unexpectedResults.size() << " cancelled requests gave "
                                         << (unexpectedResults.empty() ? "" : unexpectedResults[0]);

  for (const char *name : kDialogClasses) {
    auto count = [](const RequestFootprint &f, const char *cls) {
      auto found = f.objectsByClass.find(cls);
      return found == f.objectsByClass.end() ? 0 : found->second;
    };
    EXPECT_EQ(count(requests.second, name), count(requests.first, name)) << name;
  }
  // GSToolTips is GNUstep's own record of the tool-tip and tracking areas of views that have been
  // on screen; it outlives the views, for the platform's panels alone as well (counted apart).
  auto withoutToolTips = [](const RequestFootprint &f) {
    auto found = f.objectsByClass.find("GSToolTips");
    return f.liveObjects - (found == f.objectsByClass.end() ? 0 : found->second);
  };
  double platformObjects = double(withoutToolTips(platform.second) - withoutToolTips(platform.first)) / platformRuns;
  double requestObjects = double(withoutToolTips(requests.second) - withoutToolTips(requests.first)) / kRequests;
  double platformBytes = double(platform.second.heapBytes - platform.first.heapBytes) / platformRuns;
  double requestBytes = double(requests.second.heapBytes - requests.first.heapBytes) / kRequests;
  // Anything a request kept would add at least one object per request.
  EXPECT_LE(requestObjects, 0.05) << ObjectCountChanges(requests.first, requests.second);
  EXPECT_LE(platformObjects, 0.05);
  EXPECT_LE(requestBytes, platformBytes + 256) << "platform panel: " << platformBytes << " bytes per run";
}

TEST_F(RequestFootprintTest, MenuItemsAddedAndRemoved) {
  int start = selections;
  Check(Measure(AddAndRemoveMenuItems));
  EXPECT_EQ(selections - start, kRequests + 20);
  EXPECT_EQ([[NSApp mainMenu] numberOfItems], 0);
}

TEST_F(RequestFootprintTest, ProcessesRunWithOutput) {
  Check(Measure(RunProcessWithOutput));
  EXPECT_EQ(processFailures, 0);
}
