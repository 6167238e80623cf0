// Repeated service calls: the strings the host frees are the only allocations they hand out, and
// the registry handles, info files and launch bookkeeping leave nothing of ours behind.
#import <AppKit/AppKit.h>
#include <gtest/gtest.h>
#include "DesktopBridge.h"
#import "DBPlatform.h"

#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace {
int removeEntry(const char *path, const struct stat *, int, struct FTW *) { return remove(path); }
}  // namespace

TEST(ServiceLeaks, StringsTrashAndWindowsLeaveNothing) {
  char pattern[] = "/tmp/db-service-leaks-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string root = pattern;
  setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
  for (int i = 0; i < 200; i++) {
    char *uuid = getUUID();
    free(uuid);
    free(getAppVersion());
    std::string file = root + "/file-" + std::to_string(i % 3);
    std::ofstream(file) << i;
    EXPECT_TRUE(trashFile(file.c_str()));
    EXPECT_FALSE(trashFile(file.c_str()));
    getScaleFactor();
    setWindowTitle("title");
    setAutoRestore();
  }
  unsetenv("XDG_DATA_HOME");
  nftw(root.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

TEST(ServiceLeaks, LaunchesLeaveNothing) {
  @autoreleasepool {
    NSDictionary *environment = [NSDictionary dictionaryWithObject:@"/dev/null" forKey:@"LAUNCH_REPORT"];
    NSDictionary *configuration =
        [NSDictionary dictionaryWithObject:environment forKey:NSWorkspaceLaunchConfigurationEnvironment];
    NSURL *child = [NSURL fileURLWithPath:@"/bin/true"];
    for (int i = 0; i < 20; i++) {
      @autoreleasepool {
        EXPECT_NE([[NSWorkspace sharedWorkspace] launchApplicationAtURL:child
                                                                options:NSWorkspaceLaunchNewInstance
                                                          configuration:configuration
                                                                  error:NULL],
                  nil);
      }
    }
  }
  usleep(300000);  // the reaper threads end once their children have exited
}
