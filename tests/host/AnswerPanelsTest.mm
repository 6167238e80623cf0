// The panel answerer that the package installs for hosts' own tests (testing/), compiled in and used
// as a host's test uses it: told before each dialog export what to do, answering the bundle's real
// panels, synchronous and asynchronous. The suite's own panel driver is not used here.
#import <AppKit/AppKit.h>
#include <gtest/gtest.h>
#include "BundleLoader.h"
#include "DesktopBridge.h"
#include "DesktopBridgeAnswerPanels.h"
#include "DesktopBridgeLoader.h"
#include "PanelDriver.h"
#include "TestProgram.h"

#include <string>

namespace {

// The exports, bound by the loader a host would use.
const DBExports &api() {
  static DBExports exports;
  static char error[512];
  static bool loaded = DBLoadExports(BundleBinaryPath().c_str(), &exports, error, sizeof error);
  if (!loaded) {
    fprintf(stderr, "%s\n", error);
    abort();
  }
  return exports;
}

std::string asyncResult;
bool asyncDelivered = false;
void OnSaved(const char *result) {
  asyncResult = result;
  asyncDelivered = true;
}

class AnswerPanels : public ::testing::Test {
 protected:
  void SetUp() override {
    DesktopBridgeResetPanelAnswers();
    dir_ = MakeTemporaryDirectory({"song.mp3", "other.mp3"});
    [[NSFileManager defaultManager] createDirectoryAtPath:[NSString stringWithUTF8String:In("albums").c_str()]
                              withIntermediateDirectories:NO attributes:nil error:NULL];
  }
  std::string In(const char *name) const { return dir_ + "/" + name; }
  std::string dir_;
};

}  // namespace

TEST_F(AnswerPanels, SavePanelsTakeAPathTheirOwnNameOrCancelInTheOrderTold) {
  DBFn_DialogSaveFilePanel save = api().DialogSaveFilePanel;
  DesktopBridgeAnswerNextPanelWithPath(In("albums/new list.m3u").c_str());
  DesktopBridgeAnswerNextPanelOK();
  DesktopBridgeAnswerNextPanelCancel();
  EXPECT_EQ(std::string(save("Save", dir_.c_str(), "playlist.m3u", "Playlist;m3u")), In("albums/new list.m3u"));
  EXPECT_EQ(std::string(save("Save", dir_.c_str(), "playlist.m3u", "Playlist;m3u")), In("playlist.m3u"));
  EXPECT_EQ(std::string(save("Save", dir_.c_str(), "playlist.m3u", "Playlist;m3u")), "");
  EXPECT_EQ(DesktopBridgeAnsweredPanels(), 3);
  EXPECT_EQ(DesktopBridgeUnexpectedPanels(), 0);
  EXPECT_EQ(DesktopBridgeRefusedPanels(), 0);

  // A panel with no answer left is cancelled and counted, so that a test never hangs on it.
  EXPECT_EQ(std::string(api().DialogOpenFolderPanel("Choose", dir_.c_str(), false)), "");
  EXPECT_EQ(DesktopBridgeUnexpectedPanels(), 1);
  EXPECT_EQ(DesktopBridgeAnsweredPanels(), 3);
}

TEST_F(AnswerPanels, FolderPanelsChooseTheFolderGivenAndAsyncPanelsAreAnsweredToo) {
  DesktopBridgeAnswerNextPanelWithPath(In("albums").c_str());
  EXPECT_EQ(std::string(api().DialogOpenFolderPanel("Choose", dir_.c_str(), false)), In("albums"));

  DesktopBridgeAnswerNextPanelWithPath(In("later.m3u").c_str());
  asyncDelivered = false;
  api().DialogSaveFilePanelAsync("Save", dir_.c_str(), "playlist.m3u", "", OnSaved);
  NSDate *limit = [NSDate dateWithTimeIntervalSinceNow:30];
  while (!asyncDelivered && [limit timeIntervalSinceNow] > 0) {
    @autoreleasepool {
      [[NSRunLoop currentRunLoop] runMode:NSDefaultRunLoopMode beforeDate:[NSDate dateWithTimeIntervalSinceNow:0.05]];
    }
  }
  ASSERT_TRUE(asyncDelivered);
  EXPECT_EQ(asyncResult, In("later.m3u"));
  EXPECT_EQ(DesktopBridgeAnsweredPanels(), 2);
  EXPECT_EQ(DesktopBridgeUnexpectedPanels(), 0);
}

TEST_F(AnswerPanels, OpenPanelsSelectTheFileGivenAndAnOKTheyRefuseIsCancelled) {
  SKIP_UNLESS_PANELS_CAN(PanelAction::SelectFiles);
  DesktopBridgeAnswerNextPanelWithPath(In("other.mp3").c_str());
  EXPECT_EQ(std::string(api().DialogOpenFilePanel("Open", dir_.c_str(), "Music;mp3", false)), In("other.mp3"));

  // OK with no file selected is refused by the panel: after a while the answerer cancels it.
  DesktopBridgeAnswerNextPanelOK();
  EXPECT_EQ(std::string(api().DialogOpenFilePanel("Open", dir_.c_str(), "Music;mp3", false)), "");
  EXPECT_EQ(DesktopBridgeRefusedPanels(), 1);
  EXPECT_EQ(DesktopBridgeAnsweredPanels(), 2);
}
