// createProcess under load: eight threads each waiting for 500 children in turn while the main
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
#include "Subprocess.h"

#include <dirent.h>
#include <stdio.h>
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
#if defined(__has_feature) && __has_feature(thread_sanitizer)
// Under ThreadSanitizer every launch stops all threads of the program: fewer calls meet the same
// code at the same points.
const int kCallsPerThread = 40;
const int kBaselineCalls = 20;
#else
const int kCallsPerThread = 500;
const int kBaselineCalls = 100;
#endif
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

// What one call gave back, against what its child was told to print and exit with.
enum class Result { right, statusLost, wrong };
struct Call {
  Result result;
  std::string description;
};

// One call: the child prints a text and exits with a status, both derived from the call's number.
Call CallOnce(int call) {
  std::string text = "call-" + std::to_string(call);
  int expectedStatus = call % 251;
  std::string arguments = "say" + std::string(1, DB_LIST_SEPARATOR) + text + std::string(1, DB_LIST_SEPARATOR) +
                          std::to_string(expectedStatus);
  char *output = NULL;
  int status = run()(kChild.c_str(), arguments.c_str(), NULL, true, &output);
  std::string got = output != NULL ? output : "(null)";
  free(output);
  std::string description =
      "call " + std::to_string(call) + ": status " + std::to_string(status) + ", output \"" + got + "\"";
  if (status == expectedStatus && got == text + "\n") return {Result::right, ""};
  // The documented failure when something else in the host collected the child first.
  return {status == -1 && got.find("collected elsewhere") != std::string::npos ? Result::statusLost : Result::wrong,
          description};
}

// Runs the main run loop, with a repeating timer as its source, at least once and until working
// turns false.
void RunMainLoopWhile(const std::atomic<bool> &working) {
  NSTimer *tick = [NSTimer scheduledTimerWithTimeInterval:0.01 target:[NSNull null] selector:@selector(self)
                                                 userInfo:nil repeats:YES];
  do {
    @autoreleasepool {
      [[NSRunLoop currentRunLoop] runMode:NSDefaultRunLoopMode beforeDate:[NSDate dateWithTimeIntervalSinceNow:0.05]];
    }
  } while (working);
  [tick invalidate];
}

struct Load {
  std::vector<std::string> wrong;  // calls that got another child's text, or a wrong status
  int statusesLost = 0;
  double seconds = 0;
};

// threads threads of calls calls each, while the main thread runs its run loop.
Load RunLoad(int threadCount, int calls) {
  std::atomic<bool> working(true);
  std::atomic<int> running(threadCount);
  std::vector<Load> perThread(threadCount);
  std::vector<std::thread> threads;
  Clock::time_point start = Clock::now();
  for (int t = 0; t < threadCount; t++) {
    threads.emplace_back([t, calls, &perThread, &running, &working] {
      for (int i = 0; i < calls; i++) {
        Call call = CallOnce(t * calls + i);
        if (call.result == Result::wrong) perThread[t].wrong.push_back(call.description);
        if (call.result == Result::statusLost) perThread[t].statusesLost++;
      }
      if (--running == 0) working = false;
    });
  }
  RunMainLoopWhile(working);
  for (std::thread &thread : threads) thread.join();
  Load total;
  total.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (const Load &load : perThread) {
    total.wrong.insert(total.wrong.end(), load.wrong.begin(), load.wrong.end());
    total.statusesLost += load.statusesLost;
  }
  return total;
}

}  // namespace

TEST(ConcurrentProcesses, EightThreadsCallingAtOnceEachGetTheirOwnChildsOutput) {
  ASSERT_NE(run(), nullptr);
  // Warms up what the first call and the first pass of the run loop set up once (the bundle's
  // classes, the platform's caches, the run loop's own descriptors), so that the descriptor
  // listing below holds only what stays open.
  ASSERT_EQ(CallOnce(0).result, Result::right);
  std::atomic<bool> once(false);
  RunMainLoopWhile(once);
  std::set<std::string> descriptorsBefore = OpenDescriptors();

  // Calls one after another, with no run loop running: every status arrives.
  Clock::time_point start = Clock::now();
  for (int call = 0; call < kBaselineCalls; call++) ASSERT_EQ(CallOnce(call).description, "");
  double perCall = std::chrono::duration<double>(Clock::now() - start).count() / kBaselineCalls;

  Load load = RunLoad(kThreads, kCallsPerThread);
  double serial = perCall * kThreads * kCallsPerThread;
  EXPECT_EQ(load.wrong.size(), 0u) << "first: " << load.wrong.front();
  EXPECT_EQ(load.statusesLost, 0);
  EXPECT_EQ(DBZombieChildren(), 0);
  EXPECT_EQ(OpenDescriptors(), descriptorsBefore);
  printf("%d calls on %d threads: %.2f s; one after another they would take %.2f s (%.2fx); "
         "statuses lost to the run loop: %d\n",
         kThreads * kCallsPerThread, kThreads, load.seconds, serial, load.seconds / serial, load.statusesLost);
  EXPECT_LT(load.seconds, serial * kAllowedSlowdown);
}

// The bundle uses no NSTask, so GNUstep's reaper (a waitpid(-1) of its run loops after a SIGCHLD,
// which only NSTask's first use installs) stays asleep: with the main run loop running, every
// status arrives.
TEST(ConcurrentProcesses, StatusesSurviveTheMainRunLoop) {
  ASSERT_NE(run(), nullptr);
  Load load = RunLoad(kThreads, kCallsPerThread);
  EXPECT_EQ(load.wrong.size(), 0u) << "first: " << load.wrong.front();
  EXPECT_EQ(load.statusesLost, 0);
}

// A host that uses NSTask itself wakes that reaper, which may collect a call's child first: the call
// then returns -1 saying so, never another number. Runs in a process of its own (the reaper stays
// awake for the rest of a process).
TEST(ConcurrentProcesses, WithTheHostsOwnTaskReaperAwakeATakenStatusIsReportedNeverWrong) {
  if (getenv("DB_TASK_REAPER_CHILD") == nullptr) {
    char self[4096];
    ASSERT_TRUE(DBExecutablePath(self, sizeof self));
    SubprocessResult result = RunSubprocess(
        {self}, 300, {"GTEST_FILTER=ConcurrentProcesses." + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()),
                      "DB_TASK_REAPER_CHILD=1"});
    EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("[  PASSED  ] 1 test"), std::string::npos) << result.out;
    size_t figure = result.out.find("statuses taken");
    if (figure != std::string::npos) printf("%s", result.out.substr(figure).c_str());
    return;
  }
  NSTask *task = [NSTask launchedTaskWithLaunchPath:@"/bin/sh" arguments:[NSArray arrayWithObjects:@"-c", @"exit 0", nil]];
  [task waitUntilExit];
  Load load = RunLoad(kThreads, kCallsPerThread / 4);
  EXPECT_EQ(load.wrong.size(), 0u) << "first: " << load.wrong.front();
  printf("statuses taken by the host's task reaper: %d of %d calls\n", load.statusesLost, kThreads * (kCallsPerThread / 4));
}
