// createProcess under load: eight threads each waiting for 500 children at once while the main
// thread runs its run loop. Every call must hand back its own child's text and status, leave no
// descriptor or zombie behind, and the load must not take much longer than the same number of calls
// made one after another.
#import <Foundation/Foundation.h>
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_NEEDS_NO_DISPLAY();
DB_TEST_PROGRAM_USES_THREADS();
#include "BundleLoader.h"
#include "DesktopBridge.h"
#include "ProcessTable.h"

#include <dirent.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using CreateProcess = decltype(&createProcess);
using Clock = std::chrono::steady_clock;

const std::string kChild = DB_TEST_HELPERS_DIR "/ProcessChild";
const int kThreads = 8;
const int kCallsPerThread = 500;
const int kBaselineCalls = 100;
// How much longer than the calls made one after another the load may take. Eight threads on two
// cores should take at most about as long; the margin absorbs a machine busy with other work.
const double kAllowedSlowdown = 8.0;

CreateProcess run() {
  static CreateProcess function = BundleFunction<CreateProcess>("createProcess");
  return function;
}

std::set<std::string> OpenDescriptors() {
  std::set<std::string> names;
  DIR *dir = opendir(DBOpenDescriptorsDirectory());
  if (dir == NULL) return names;
  std::string self = std::to_string(dirfd(dir));
  while (struct dirent *entry = readdir(dir)) {
    if (entry->d_name[0] != '.' && entry->d_name != self) names.insert(entry->d_name);
  }
  closedir(dir);
  return names;
}

// One call: the child prints a text and exits with a status, both derived from the call's number.
// Returns "" when the call gave back exactly that, else what went wrong.
std::string CallAndCheck(int call) {
  std::string text = "call-" + std::to_string(call);
  int expectedStatus = call % 251;
  std::string arguments = "say" + std::string(1, DB_LIST_SEPARATOR) + text + std::string(1, DB_LIST_SEPARATOR) +
                          std::to_string(expectedStatus);
  char *output = NULL;
  int status = run()(kChild.c_str(), arguments.c_str(), NULL, true, &output);
  std::string got = output != NULL ? output : "(null)";
  free(output);
  if (status == expectedStatus && got == text + "\n") return "";
  return "call " + std::to_string(call) + ": status " + std::to_string(status) + ", output \"" + got + "\"";
}

// Runs the main run loop, with a repeating timer as its source, until done() holds.
void RunMainLoopWhile(const std::atomic<bool> &working) {
  NSTimer *tick = [NSTimer scheduledTimerWithTimeInterval:0.01 target:[NSNull null] selector:@selector(self)
                                                 userInfo:nil repeats:YES];
  while (working) {
    @autoreleasepool {
      [[NSRunLoop currentRunLoop] runMode:NSDefaultRunLoopMode beforeDate:[NSDate dateWithTimeIntervalSinceNow:0.05]];
    }
  }
  [tick invalidate];
}

}  // namespace

TEST(ConcurrentProcesses, EightThreadsOfFiveHundredCallsEachGetTheirOwnChildsOutputAndStatus) {
  ASSERT_NE(run(), nullptr);
  // Warms up what the first call sets up once (the bundle's classes, the platform's caches), so
  // that the descriptor listing below holds only what stays open.
  ASSERT_EQ(CallAndCheck(0), "");
  std::set<std::string> descriptorsBefore = OpenDescriptors();

  Clock::time_point start = Clock::now();
  for (int call = 0; call < kBaselineCalls; call++) ASSERT_EQ(CallAndCheck(call), "");
  double perCall = std::chrono::duration<double>(Clock::now() - start).count() / kBaselineCalls;

  std::atomic<bool> working(true);
  std::atomic<int> running(kThreads);
  std::vector<std::vector<std::string>> failures(kThreads);
  std::vector<std::thread> threads;
  start = Clock::now();
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([t, &failures, &running, &working] {
      for (int i = 0; i < kCallsPerThread; i++) {
        std::string failure = CallAndCheck(t * kCallsPerThread + i);
        if (!failure.empty()) failures[t].push_back(failure);
      }
      if (--running == 0) working = false;
    });
  }
  RunMainLoopWhile(working);
  for (std::thread &thread : threads) thread.join();
  double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  double serial = perCall * kThreads * kCallsPerThread;

  for (int t = 0; t < kThreads; t++) {
    EXPECT_EQ(failures[t].size(), 0u) << "thread " << t << ", first: " << failures[t].front();
  }
  EXPECT_EQ(DBZombieChildren(), 0);
  EXPECT_EQ(OpenDescriptors(), descriptorsBefore);
  printf("%d calls on %d threads: %.2f s; one after another they would take %.2f s (%.2fx)\n",
         kThreads * kCallsPerThread, kThreads, elapsed, serial, elapsed / serial);
  EXPECT_LT(elapsed, serial * kAllowedSlowdown);
}
