// The sample host starts, loads the bundle through dlopen and dlsym, and quits cleanly on request.
#include <gtest/gtest.h>
#include "DesktopBridge.h"
#include "Subprocess.h"

#include <algorithm>

TEST(SampleHost, StartsLoadsTheBundleAndQuits) {
  std::vector<std::string> argv = {PLAYER_EXECUTABLE};
  for (const std::string &arg : GuiArguments()) argv.push_back(arg);
  argv.insert(argv.end(), {"-PlayerQuitAfterLaunch", "YES"});
  SubprocessResult run = RunSubprocess(argv, 60);
  ASSERT_FALSE(run.timedOut) << run.out << run.err;
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  std::vector<std::string> lines = SplitLines(run.out);
  auto has = [&](const std::string &line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
  EXPECT_TRUE(has("[player] bundle loaded: " DB_BUNDLE_PATH)) << run.out;
  EXPECT_TRUE(has("[player] launched: main window \"Player\"")) << run.out;
  EXPECT_TRUE(has("[player] quitting")) << run.out;
}

TEST(SampleHost, ReportsAMissingBundleAndFails) {
  std::vector<std::string> argv = {PLAYER_EXECUTABLE};
  for (const std::string &arg : GuiArguments()) argv.push_back(arg);
  argv.insert(argv.end(), {"-PlayerBundle", "/nonexistent/DesktopBridge.bundle", "-PlayerQuitAfterLaunch", "YES"});
  SubprocessResult run = RunSubprocess(argv, 60);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_NE(run.err.find("cannot load /nonexistent/DesktopBridge.bundle/" DB_BUNDLE_BINARY_SUBPATH), std::string::npos)
      << run.err;
}
