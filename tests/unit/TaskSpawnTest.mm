// The NSTask launch and wait used by the process runner: the task's own state afterwards, failures
// that leave nothing behind, and the state a child starts in whatever the host's threads did.
#import <Foundation/Foundation.h>
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_NEEDS_NO_DISPLAY();
DB_TEST_PROGRAM_USES_THREADS();
#import "DBPlatform.h"
#include "DBTaskSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

NSTask *ShellTask(NSString *script) {
  NSTask *task = [[[NSTask alloc] init] autorelease];
  [task setLaunchPath:@"/bin/sh"];
  [task setArguments:[NSArray arrayWithObjects:@"-c", script, nil]];
  return task;
}

// Runs the task with its output on a pipe; returns the output.
std::string RunCapturing(NSTask *task) {
  NSPipe *pipe = [NSPipe pipe];
  [task setStandardOutput:pipe];
  [task setStandardError:pipe];
  DBTaskLaunch(task);
  NSData *data = [[pipe fileHandleForReading] readDataToEndOfFile];
  DBTaskWaitUntilExit(task);
  return std::string((const char *)[data bytes], [data length]);
}

bool LaunchRaises(NSTask *task) {
  @try {
    DBTaskLaunch(task);
  } @catch (NSException *exception) {
    return true;
  }
  return false;
}

bool HasUncollectedChild() {
  int status;
  return waitpid(-1, &status, WNOHANG | __WALL) > 0;  // would collect a zombie left behind, of any kind
}

int OpenDescriptorCount() {
  int count = 0;
  if (DIR *fds = opendir("/proc/self/fd")) {
    while (readdir(fds) != nullptr) count++;
    closedir(fds);
  }
  return count;
}

}  // namespace

TEST(TaskSpawn, TheTaskReportsStatusReasonAndIdentifierAfterTheWait) {
  @autoreleasepool {
    NSTask *task = ShellTask(@"echo $$; exit 3");
    std::string printed = RunCapturing(task);
    EXPECT_FALSE([task isRunning]);
    EXPECT_EQ([task terminationStatus], 3);
    EXPECT_EQ([task terminationReason], NSTaskTerminationReasonExit);
    EXPECT_EQ(std::to_string([task processIdentifier]) + "\n", printed);

    NSTask *killed = ShellTask(@"kill -9 $$");
    RunCapturing(killed);
    EXPECT_EQ([killed terminationStatus], SIGKILL);
    EXPECT_EQ([killed terminationReason], NSTaskTerminationReasonUncaughtSignal);

    // GNUstep's own wait sees a finished task and returns at once.
    [killed waitUntilExit];
    EXPECT_TRUE(LaunchRaises(killed));
  }
}

TEST(TaskSpawn, FailedLaunchesRaiseAndLeaveNoChild) {
  @autoreleasepool {
    NSTask *missing = [[[NSTask alloc] init] autorelease];
    [missing setLaunchPath:@"/nonexistent/program"];
    EXPECT_TRUE(LaunchRaises(missing));
    EXPECT_FALSE([missing isRunning]);

    NSTask *noPath = [[[NSTask alloc] init] autorelease];
    EXPECT_TRUE(LaunchRaises(noPath));

    NSTask *badDirectory = ShellTask(@"exit 0");
    [badDirectory setCurrentDirectoryPath:@"/nonexistent/directory"];
    @try {
      DBTaskLaunch(badDirectory);
      ADD_FAILURE() << "launched in a missing directory";
    } @catch (NSException *exception) {
      EXPECT_NE(std::string([[exception reason] UTF8String]).find("/nonexistent/directory"), std::string::npos);
    }
    EXPECT_FALSE(HasUncollectedChild());
  }
}

namespace {

void *LaunchWithHostileSignalState(void *result) {
  // The thread blocks signals and the process ignores SIGPIPE (as GNUstep itself does): neither
  // may reach the program.
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR1);
  sigaddset(&blocked, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &blocked, NULL);
  @autoreleasepool {
    NSTask *task = [[[NSTask alloc] init] autorelease];
    [task setLaunchPath:@"/bin/grep"];
    [task setArguments:[NSArray arrayWithObjects:@"-E", @"^Sig(Ign|Blk)", @"/proc/self/status", nil]];
    *static_cast<std::string *>(result) = RunCapturing(task);
  }
  return NULL;
}

}  // namespace

TEST(TaskSpawn, ChildrenStartWithDefaultSignalsAndAnEmptyMask) {
  void (*previous)(int) = signal(SIGPIPE, SIG_IGN);
  std::string status;
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, NULL, LaunchWithHostileSignalState, &status), 0);
  pthread_join(thread, NULL);
  signal(SIGPIPE, previous);
  EXPECT_EQ(status, "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
}

TEST(TaskSpawn, ADetachedChildIsCollectedWithoutARunLoop) {
  @autoreleasepool {
    NSTask *task = ShellTask(@"exit 0");
    DBTaskLaunch(task);
    pid_t pid = [task processIdentifier];
    DBTaskReapWhenExited(task);
    // Collected by the reaper, not by this thread: waitpid finds no such child once it has gone.
    bool collected = false;
    for (int attempt = 0; attempt < 200 && !collected; attempt++) {
      collected = kill(pid, 0) != 0;
      if (!collected) usleep(10 * 1000);
    }
    EXPECT_TRUE(collected);
    int status;
    EXPECT_EQ(waitpid(pid, &status, WNOHANG), -1);
  }
}

TEST(TaskSpawn, AFailedCapturingLaunchLeavesNoDescriptorOpen) {
  @autoreleasepool {
    int before = OpenDescriptorCount();
    NSTask *missing = [[[NSTask alloc] init] autorelease];
    [missing setLaunchPath:@"/nonexistent/program"];
    NSTask *badDirectory = ShellTask(@"exit 0");
    [badDirectory setCurrentDirectoryPath:@"/nonexistent/directory"];
    for (NSTask *task in [NSArray arrayWithObjects:missing, badDirectory, nil]) {
      DBCapturedChild child;
      @try {
        DBTaskLaunchCapturingOutput(task, &child);
        ADD_FAILURE() << "launched " << [[task launchPath] UTF8String];
      } @catch (NSException *exception) {
      }
    }
    EXPECT_EQ(OpenDescriptorCount(), before);
    EXPECT_FALSE(HasUncollectedChild());
  }
}

namespace {

// Sleeps until the child's exit watch turns readable, then collects any exited child of this
// process, as GNUstep's run loop does after a SIGCHLD; false if there is no watch.
bool CollectAnyOnceEnded(const DBCapturedChild &child) {
  if (child.exited < 0) return false;
  struct pollfd exited = {child.exited, POLLIN, 0};
  while (poll(&exited, 1, -1) < 0) {
  }
  int status;
  while (waitpid(-1, &status, WNOHANG) > 0) {
  }
  return true;
}

}  // namespace

// A child launched to be waited for keeps its status whatever else in the host collects exited
// children, and nothing but the child holds the host's descriptors while it runs.
TEST(TaskSpawn, ACapturedChildsStatusSurvivesWaitsForAnyChild) {
  @autoreleasepool {
    NSTask *task = ShellTask(@"echo $$; exit 7");
    DBCapturedChild child;
    DBTaskLaunchCapturingOutput(task, &child);
    ASSERT_TRUE(CollectAnyOnceEnded(child));
    char printed[32] = {0};
    ssize_t got = read(child.output, printed, sizeof printed - 1);
    DBTaskWaitForCapturedChild(task, &child);
    EXPECT_EQ([task terminationStatus], 7);
    EXPECT_EQ([task terminationReason], NSTaskTerminationReasonExit);
    EXPECT_GT(got, 0);
    EXPECT_EQ(std::to_string([task processIdentifier]) + "\n", std::string(printed));

    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    NSTask *sleeper = ShellTask(@"exec sleep 100");
    DBTaskLaunchCapturingOutput(sleeper, &child);
    close(fds[1]);
    // The pipe's writing end was this process's alone: it ends while the child still runs.
    struct pollfd ended = {fds[0], POLLIN, 0};
    EXPECT_EQ(poll(&ended, 1, 60 * 1000), 1);
    close(fds[0]);
    kill([sleeper processIdentifier], SIGKILL);
    ASSERT_TRUE(CollectAnyOnceEnded(child));
    DBTaskWaitForCapturedChild(sleeper, &child);
    EXPECT_EQ([sleeper terminationStatus], SIGKILL);
    EXPECT_EQ([sleeper terminationReason], NSTaskTerminationReasonUncaughtSignal);
  }
}
