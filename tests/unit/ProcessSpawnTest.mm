// The parts under createProcess: both ways a child is started (posix_spawn, and the fork path that
// macOS before 10.15 takes for a working directory), and the background thread: leftover pipes
// with their cap, detached children in a forked host.
#import <Foundation/Foundation.h>
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_NEEDS_NO_DISPLAY();
DB_TEST_PROGRAM_USES_THREADS();
#include "BackgroundChildren.h"
#include "DesktopBridge.h"
#include "ProcessRunner.h"
#include "ProcessSpawn.h"
#include "ProcessTable.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

const std::string kChild = DB_TEST_HELPERS_DIR "/ProcessChild";
const char kFancy[] = "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // "é€😀", precomposed

struct Started {
  int error = -1;
  DBSpawnStep step = DBSpawnStepStart;
  int status = -1;
  std::string output;
};

// Starts argv with the method, its output on a pipe, and reads and collects it.
Started Spawn(DBSpawnMethod method, std::vector<std::string> arguments, const char *directory = nullptr) {
  std::vector<char *> argv;
  for (std::string &argument : arguments) argv.push_back(&argument[0]);
  argv.push_back(nullptr);
  Started run;
  int fds[2];
  if (pipe(fds) != 0) return run;
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  DBSpawnRequest request = {argv[0], argv.data(), directory, fds[1]};
  pid_t pid = -1;
  run.error = DBSpawnChild(&request, method, &pid, &run.step);
  close(fds[1]);
  char chunk[256];
  for (ssize_t n; (n = read(fds[0], chunk, sizeof chunk)) > 0;) run.output.append(chunk, (size_t)n);
  close(fds[0]);
  int status;
  if (run.error == 0 && waitpid(pid, &status, 0) == pid) run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class ProcessSpawn : public testing::TestWithParam<DBSpawnMethod> {};

}  // namespace

TEST_P(ProcessSpawn, ArgumentsEnvironmentAndDirectoryArriveAsTheHostsBytes) {
  Started arguments = Spawn(GetParam(), {DB_TEST_HELPERS_DIR "/ProcessArgumentsChild", kFancy, ""});
  EXPECT_EQ(arguments.output, std::string("2\n9:") + kFancy + "\n0:\n");
  setenv("DB_SPAWN_TEST_VALUE", kFancy, 1);
  EXPECT_EQ(Spawn(GetParam(), {kChild, "env", "DB_SPAWN_TEST_VALUE"}).output, kFancy);
  unsetenv("DB_SPAWN_TEST_VALUE");

  char directory[] = "/tmp/db-spawn-XXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);
  char resolved[PATH_MAX];
  ASSERT_NE(realpath(directory, resolved), nullptr);
  EXPECT_EQ(Spawn(GetParam(), {kChild, "pwd"}, directory).output, resolved);
  rmdir(directory);
  Started gone = Spawn(GetParam(), {kChild, "pwd"}, directory);
  EXPECT_EQ(gone.error, ENOENT);
  EXPECT_EQ(gone.step, DBSpawnStepDirectory);
}

TEST_P(ProcessSpawn, ANameWithoutASlashIsLookedUpInPath) {
  EXPECT_EQ(Spawn(GetParam(), {"sh", "-c", "echo found"}).output, "found\n");
  Started missing = Spawn(GetParam(), {"db-no-such-program", "x"});
  EXPECT_EQ(missing.error, ENOENT);
  EXPECT_EQ(missing.step, DBSpawnStepProgram);
  Started unexecutable = Spawn(GetParam(), {DB_SOURCE_DIR "/exports.txt"});
  EXPECT_EQ(unexecutable.error, EACCES);
  EXPECT_EQ(unexecutable.step, DBSpawnStepProgram);
  EXPECT_EQ(DBZombieChildren(), 0);
}

TEST_P(ProcessSpawn, TheChildGetsNoOtherDescriptorDefaultSignalsAndAnEmptyMask) {
  int stray = open("/dev/null", O_RDONLY);  // inheritable
  sigset_t blocked, previousMask;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &blocked, &previousMask);
  struct sigaction ignore, previousAction;
  memset(&ignore, 0, sizeof ignore);
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGUSR2, &ignore, &previousAction);
  Started descriptors = Spawn(GetParam(), {kChild, "descriptors"});
  Started signals = Spawn(GetParam(), {kChild, "signals"});
  sigaction(SIGUSR2, &previousAction, nullptr);
  pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
  close(stray);
  EXPECT_EQ(descriptors.output, "");
  EXPECT_EQ(signals.output, "");
}

INSTANTIATE_TEST_SUITE_P(BothMethods, ProcessSpawn, testing::Values(DBSpawnBest, DBSpawnByFork));

TEST(LeftoverPipes, BeyondTheCapTheOldestAreClosedAndTheRestReadUntilTheyEnd) {
  signal(SIGPIPE, SIG_IGN);
  const int extra = 6;
  std::vector<int> writers;
  for (int i = 0; i < DBLeftoverPipeLimit + extra; i++) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    writers.push_back(fds[1]);
    DBDrainInBackground(fds[0]);
  }
  for (int attempt = 0; attempt < 500 && DBLeftoverPipeCount() > DBLeftoverPipeLimit; attempt++) usleep(10000);
  EXPECT_EQ(DBLeftoverPipeCount(), DBLeftoverPipeLimit);
  for (size_t i = 0; i < writers.size(); i++) {
    bool oldest = i < (size_t)extra;
    errno = 0;
    ssize_t written = write(writers[i], "x", 1);
    EXPECT_EQ(written, oldest ? -1 : 1) << "pipe " << i;
    if (oldest) EXPECT_EQ(errno, EPIPE) << "pipe " << i;
  }
  for (int fd : writers) close(fd);
  for (int attempt = 0; attempt < 500 && DBLeftoverPipeCount() > 0; attempt++) usleep(10000);
  EXPECT_EQ(DBLeftoverPipeCount(), 0);
  signal(SIGPIPE, SIG_DFL);
}

// A host forked while the background thread runs starts without it, and without the parent's
// listed children: a detached child of its own is still collected there.
TEST(BackgroundChildren, AForkedHostStartsCleanAndCollectsItsOwnDetachedChildren) {
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
  GTEST_SKIP() << "ThreadSanitizer stops a forked multi-threaded program that starts a thread";
#endif
#if __has_feature(address_sanitizer)
  // This runtime's allocator takes no lock around fork: a thread of the parent that was freeing
  // memory at that moment leaves the child's allocator locked, and the child's new thread waits
  // on it for ever. glibc's own allocator is fork-safe; the normal build runs this.
  GTEST_SKIP() << "AddressSanitizer's allocator is not fork-safe in a multi-threaded program";
#endif
#endif
  ASSERT_EQ(createProcess("/bin/sleep", "2", nullptr, false, nullptr), 0);  // the thread now runs
  pid_t host = fork();
  ASSERT_GE(host, 0);
  if (host == 0) {
    if (createProcess(kChild.c_str(), "streams", nullptr, false, nullptr) != 0) _exit(2);
    for (int attempt = 0; attempt < 500; attempt++) {
      usleep(10000);
      siginfo_t info;
      if (waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) < 0 && errno == ECHILD) _exit(0);  // collected
    }
    _exit(1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(host, &status, 0), host);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the forked host's detached child stayed a zombie";
}
