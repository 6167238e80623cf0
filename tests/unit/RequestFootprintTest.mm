// Thousands of requests of each kind (dialogs prepared, dialogs run and cancelled, menu items
// added and removed, processes run with output) leave no object of theirs behind, and the heap
// grows by no more per request than GNUstep's own caches do. The byte figures themselves are
// printed by bench_request_footprint.
#include <gtest/gtest.h>
#include "FootprintRequests.h"

using namespace footprint;

namespace {

// What a request may leave on the heap, per request, once GNUstep's caches are warm. A request
// that kept its panel would hold about 90 KB (prepared) to 110 KB (shown), and one that kept a menu
// item or a pipe's buffer hundreds of bytes or more; GNUstep's own caches move by a few tens of
// bytes per prepared panel (its text layout buffers and icon cache, reached from
// -[NSSavePanel setDirectory:]) and by up to about 1 KB per panel shown (its window table and
// tool-tip records). Smaller leaks are caught by the object counts and the LeakSanitizer checks.
const double kKeptBytesPerRequest = 256;
const double kKeptBytesPerPanelShown = 8 * 1024;
// A request that kept one object would add one per request.
const double kKeptObjectsPerRequest = 0.05;

void SwallowLogLine(NSString *message) {}

// Objects every dialog request makes; none may outlive its request.
const char *const kDialogClasses[] = {"Dovrane", "PopUpButtonHandler", "DBOpenPanel", "DBSavePanel",
                                      "NSPopUpButton", "NSTextField"};

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

  static void ExpectClassesBackToBaseline(const Series &series) {
    for (const char *name : kDialogClasses) {
      EXPECT_EQ(LiveCount(series.first, name), LiveCount(series.warm, name)) << name;
      EXPECT_EQ(LiveCount(series.last, name), LiveCount(series.warm, name)) << name;
    }
  }
  static void ExpectNothingKept(const Series &series) {
    EXPECT_LE(series.ObjectsPerRequest(), kKeptObjectsPerRequest) << ObjectCountChanges(series.first, series.last);
    EXPECT_LE(series.HeapPerRequest(), kKeptBytesPerRequest);
  }
};

}  // namespace

TEST_F(RequestFootprintTest, PreparedDialogs) {
  Series series = MeasureSeries(PrepareDialog);
  ExpectClassesBackToBaseline(series);
  ExpectNothingKept(series);
}

// GNUstep keeps something of every panel that has been on screen (records of its views' tool-tip
// areas, text layout buffers), with or without the plug-in: the heap is compared with the same
// panels run directly.
TEST_F(RequestFootprintTest, DialogsRunAndCancelled) {
  // Shown panels are slow: the growth is taken between the 200th and the 1,000th.
  Series platform = MeasureSeries(RunPlatformPanel, 200, 1000);
  int start = DialogsDelivered();
  Series requests = MeasureSeries(CancelDialog, 200, 1000);
  EXPECT_EQ(DialogsDelivered() - start, requests.lastCount + 20);
  EXPECT_EQ(UnexpectedDialogResults(), 0);

  ExpectClassesBackToBaseline(requests);
  // GSToolTips records outlive the views they describe, for the platform's panels alone as well.
  auto withoutToolTips = [](const Series &s) {
    return double((s.last.liveObjects - LiveCount(s.last, "GSToolTips")) -
                  (s.first.liveObjects - LiveCount(s.first, "GSToolTips"))) /
           (s.lastCount - s.firstCount);
  };
  EXPECT_LE(withoutToolTips(requests), kKeptObjectsPerRequest) << ObjectCountChanges(requests.first, requests.last);
  EXPECT_LE(withoutToolTips(platform), kKeptObjectsPerRequest);
  EXPECT_LE(requests.HeapPerRequest() - platform.HeapPerRequest(), kKeptBytesPerPanelShown)
      << "requests " << requests.HeapPerRequest() << ", platform " << platform.HeapPerRequest() << " bytes per run";
}

TEST_F(RequestFootprintTest, MenuItemsAddedAndRemoved) {
  int start = MenuSelections();
  Series series = MeasureSeries(AddAndRemoveMenuItems);
  ExpectNothingKept(series);
  EXPECT_EQ(MenuSelections() - start, series.lastCount + 20);
  EXPECT_EQ([[NSApp mainMenu] numberOfItems], 0);
}

TEST_F(RequestFootprintTest, ProcessesRunWithOutput) {
  Series series = MeasureSeries(RunProcessWithOutput);
  ExpectNothingKept(series);
  EXPECT_EQ(ProcessFailures(), 0);
}
