// The running-application and workspace-launch stand-ins: activation of this process, and new
// processes started directly, detached from the caller and reaped.
#import <AppKit/AppKit.h>
#include <gtest/gtest.h>

#import "DBPlatform.h"
#import "gnustep/DBRunningApplication.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char *const kReporter = DB_TEST_HELPERS_DIR "/LaunchReporter";

double now() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
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

std::string waitForReport(const std::string &path, double seconds) {
  double end = now() + seconds;
  struct stat info;
  while (stat(path.c_str(), &info) != 0 && now() < end) usleep(10000);
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// 0 once the process is gone (reaped), its state letter otherwise ('Z' for a zombie).
char processState(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return 0;
  size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() ? line[close + 2] : '?';
}

bool waitUntilGone(pid_t pid, double seconds) {
  double end = now() + seconds;
  while (processState(pid) != 0 && now() < end) usleep(10000);
  return processState(pid) == 0;
}

int zombieChildren() {
  int zombies = 0;
  DIR *proc = opendir("/proc");
  while (struct dirent *entry = proc ? readdir(proc) : NULL) {
    int pid = atoi(entry->d_name);
    if (pid <= 0) continue;
    std::ifstream in(std::string("/proc/") + entry->d_name + "/stat");
    std::string line;
    if (!std::getline(in, line)) continue;
    size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    int parent = 0;
    if (sscanf(line.c_str() + close + 1, " %c %d", &state, &parent) == 2 && state == 'Z' && parent == getpid())
      zombies++;
  }
  if (proc) closedir(proc);
  return zombies;
}

NSURL *reporterURL() { return [NSURL fileURLWithPath:[NSString stringWithUTF8String:kReporter]]; }

class WorkspaceLaunch : public ::testing::Test {
 protected:
  std::string directory;
  void SetUp() override {
    char pattern[] = "/tmp/db-launch-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory = pattern;
  }
  void TearDown() override {
    std::string command = "rm -rf '" + directory + "'";
    ASSERT_EQ(system(command.c_str()), 0);
  }
  std::string report(int n) { return directory + "/report-" + std::to_string(n); }
  NSDictionary *environmentFor(int n, NSString *extra) {
    NSMutableDictionary *environment = [NSMutableDictionary dictionary];
    [environment setObject:[NSString stringWithUTF8String:report(n).c_str()] forKey:@"LAUNCH_REPORT"];
    if (extra) [environment setObject:extra forKey:@"LAUNCH_EXTRA"];
    return environment;
  }
};

}  // namespace

TEST(RunningApplication, CurrentApplicationIsThisProcessAndActivatesIt) {
  NSRunningApplication *current = [NSRunningApplication currentApplication];
  ASSERT_NE(current, nil);
  EXPECT_EQ([NSRunningApplication currentApplication], current);
  EXPECT_EQ([current processIdentifier], getpid());
  EXPECT_TRUE([[[current executableURL] path] isEqualToString:[[NSBundle mainBundle] executablePath]]);

  [NSApp finishLaunching];
  [NSApp deactivate];
  ASSERT_TRUE(pumpUntil([] { return ![NSApp isActive]; }, 5));
  EXPECT_FALSE([current isActive]);
  EXPECT_TRUE([current activateWithOptions:NSApplicationActivateIgnoringOtherApps]);
  EXPECT_TRUE(pumpUntil([] { return (bool)[NSApp isActive]; }, 5));
  EXPECT_TRUE([current isActive]);
}

TEST_F(WorkspaceLaunch, StartsTheExecutableDirectlyDetachedAndReapsIt) {
  // A descriptor the caller leaves open must not reach the new process.
  int leaked = open("/dev/zero", O_RDONLY);
  ASSERT_GE(leaked, 3);
  NSArray *arguments = [NSArray arrayWithObjects:@"two words", @"$(touch /tmp/db-launch-pwned)", @"'quoted' \"x\"",
                                                 @"", @"; exit 3", nil];
  NSDictionary *configuration = [NSDictionary
      dictionaryWithObjectsAndKeys:arguments, NSWorkspaceLaunchConfigurationArguments, environmentFor(1, @"a=b c"),
                                   NSWorkspaceLaunchConfigurationEnvironment, nil];
  NSError *error = nil;
  NSRunningApplication *launched = [[NSWorkspace sharedWorkspace] launchApplicationAtURL:reporterURL()
                                                                                 options:NSWorkspaceLaunchAsync |
                                                                                         NSWorkspaceLaunchNewInstance
                                                                           configuration:configuration
                                                                                   error:&error];
  close(leaked);
  ASSERT_NE(launched, nil) << [[error description] UTF8String];
  pid_t pid = [launched processIdentifier];
  EXPECT_GT(pid, 0);
  EXPECT_NE(pid, getpid());
  EXPECT_FALSE([launched activateWithOptions:NSApplicationActivateIgnoringOtherApps]);

  std::string text = waitForReport(report(1), 20);
  EXPECT_EQ(text, "argc=6\n"
                  "arg=two words\n"
                  "arg=$(touch /tmp/db-launch-pwned)\n"
                  "arg='quoted' \"x\"\n"
                  "arg=\n"
                  "arg=; exit 3\n"
                  "cwd=/\n"
                  "sessionLeader=1\n"
                  "fd0=/dev/null\n"
                  "fd1=/dev/null\n"
                  "fd2=/dev/null\n"
                  "otherFds=\n"
                  "extra=a=b c\n");
  EXPECT_NE(access("/tmp/db-launch-pwned", F_OK), 0);
  EXPECT_TRUE(waitUntilGone(pid, 20)) << "state " << processState(pid);
}

TEST_F(WorkspaceLaunch, FiftyLaunchesLeaveNoZombies) {
  std::vector<pid_t> pids;
  for (int i = 0; i < 50; i++) {
    NSDictionary *configuration =
        [NSDictionary dictionaryWithObject:environmentFor(i, nil) forKey:NSWorkspaceLaunchConfigurationEnvironment];
    NSRunningApplication *launched = [[NSWorkspace sharedWorkspace] launchApplicationAtURL:reporterURL()
                                                                                   options:NSWorkspaceLaunchAsync |
                                                                                           NSWorkspaceLaunchNewInstance
                                                                             configuration:configuration
                                                                                     error:NULL];
    ASSERT_NE(launched, nil);
    pids.push_back([launched processIdentifier]);
  }
  for (int i = 0; i < 50; i++) EXPECT_NE(waitForReport(report(i), 20), "") << i;
  for (pid_t pid : pids) EXPECT_TRUE(waitUntilGone(pid, 20)) << pid;
  EXPECT_EQ(zombieChildren(), 0);
}

TEST_F(WorkspaceLaunch, RefusesWhatItCannotStart) {
  NSWorkspace *workspace = [NSWorkspace sharedWorkspace];
  NSError *error = nil;
  EXPECT_EQ([workspace launchApplicationAtURL:[NSURL fileURLWithPath:@"/nonexistent/App.app"]
                                      options:NSWorkspaceLaunchNewInstance
                                configuration:[NSDictionary dictionary]
                                        error:&error],
            nil);
  EXPECT_EQ([error code], NSFileNoSuchFileError);
  EXPECT_EQ([workspace launchApplicationAtURL:[NSURL fileURLWithPath:@"/etc/hostname"]  // not executable
                                      options:NSWorkspaceLaunchNewInstance
                                configuration:nil
                                        error:NULL],
            nil);
  EXPECT_EQ([workspace launchApplicationAtURL:[NSURL URLWithString:@"http://example.org/App.app"]
                                      options:NSWorkspaceLaunchNewInstance
                                configuration:nil
                                        error:NULL],
            nil);
  NSDictionary *badArguments = [NSDictionary dictionaryWithObject:[NSArray arrayWithObject:[NSNumber numberWithInt:1]]
                                                           forKey:NSWorkspaceLaunchConfigurationArguments];
  error = nil;
  EXPECT_EQ([workspace launchApplicationAtURL:reporterURL()
                                      options:NSWorkspaceLaunchNewInstance
                                configuration:badArguments
                                        error:&error],
            nil);
  EXPECT_NE(error, nil);
}

TEST_F(WorkspaceLaunch, WithoutNewInstanceTheRunningApplicationIsActivatedNotStarted) {
  int before = zombieChildren();
  NSRunningApplication *result = [[NSWorkspace sharedWorkspace] launchApplicationAtURL:[[NSBundle mainBundle] bundleURL]
                                                                               options:NSWorkspaceLaunchAsync
                                                                         configuration:[NSDictionary dictionary]
                                                                                 error:NULL];
  EXPECT_EQ(result, [NSRunningApplication currentApplication]);
  EXPECT_EQ([result processIdentifier], getpid());
  EXPECT_EQ(zombieChildren(), before);
}
