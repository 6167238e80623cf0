// createProcess through dlsym, as a host calls it: arguments, directories, failures, detached
// children, captured output of every size, children that leave a process behind, and threads.
#import <Foundation/Foundation.h>
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_NEEDS_NO_DISPLAY();
DB_TEST_PROGRAM_USES_THREADS();
#include "BundleLoader.h"
#include "DesktopBridge.h"
#include "LogCapture.h"
#include "ProcessTable.h"
#include "Subprocess.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#if !defined(__APPLE__)
#include <sys/prctl.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <functional>
#include <set>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using CreateProcess = decltype(&createProcess);

CreateProcess run() {
  static CreateProcess function = BundleFunction<CreateProcess>("createProcess");
  return function;
}

const std::string kArgumentsChild = DB_TEST_HELPERS_DIR "/ProcessArgumentsChild";
const std::string kChild = DB_TEST_HELPERS_DIR "/ProcessChild";
const std::string kSeparator(1, DB_LIST_SEPARATOR);

std::string Join(const std::vector<std::string> &items) {
  std::string joined;
  for (size_t i = 0; i < items.size(); i++) joined += (i ? kSeparator : "") + items[i];
  return joined;
}

struct Outcome {
  int status = -2;
  bool hasOutput = false;
  std::string output;
};

// Runs a waiting child and takes ownership of the text it returns.
Outcome Wait(const std::string &path, const std::string &arguments, const char *directory = nullptr) {
  Outcome outcome;
  char *text = reinterpret_cast<char *>(0x1);
  outcome.status = run()(path.c_str(), arguments.c_str(), directory, true, &text);
  EXPECT_NE(text, reinterpret_cast<char *>(0x1)) << "output was not written";
  if (text != nullptr && text != reinterpret_cast<char *>(0x1)) {
    outcome.hasOutput = true;
    outcome.output = text;
    free(text);
  }
  return outcome;
}

// What ProcessArgumentsChild prints for these arguments.
std::string ArgumentsListing(const std::vector<std::string> &arguments) {
  std::string listing = std::to_string(arguments.size()) + "\n";
  for (const std::string &argument : arguments) listing += std::to_string(argument.size()) + ":" + argument + "\n";
  return listing;
}

// What ProcessChild "bytes N" prints.
std::string NumberedLines(size_t total) {
  std::string text;
  text.reserve(total + 16);
  char line[17];
  for (size_t k = 0; text.size() < total; k++) {
    snprintf(line, sizeof line, "%015zu\n", k);
    text.append(line, 16);
  }
  text.resize(total);
  return text;
}

// A program every system has in the same place.
const char kTrue[] = "/usr/bin/true";

// This process's open descriptors, each with the identity of what it refers to, so that one
// closed elsewhere meanwhile and its number taken again does not hide a new one.
using Descriptors = std::set<std::tuple<int, dev_t, ino_t>>;

Descriptors OpenDescriptors() {
  Descriptors open;
  DIR *dir = opendir(DBOpenDescriptorsDirectory());
  if (dir == nullptr) return open;
  while (struct dirent *entry = readdir(dir)) {
    int fd = atoi(entry->d_name);
    struct stat status;
    if (entry->d_name[0] != '.' && fd != dirfd(dir) && fstat(fd, &status) == 0)
      open.insert(std::make_tuple(fd, status.st_dev, status.st_ino));
  }
  closedir(dir);
  return open;
}

// How many descriptors are open now that were not in `before`. With `settle`, waits a bounded
// number of times for there to be none: a pipe handed to the background drain is closed once the
// process holding it has gone.
size_t NewDescriptors(const Descriptors &before, bool settle = false) {
  for (int attempt = 0;; attempt++) {
    size_t added = 0;
    for (const auto &descriptor : OpenDescriptors()) added += before.count(descriptor) == 0;
    if (added == 0 || !settle || attempt == 1000) return added;
    usleep(20 * 1000);
  }
}

}  // namespace

TEST(ProcessRunner, ArgumentsReachTheChildLiterallySplitOnlyAtTheSeparator) {
  ASSERT_NE(run(), nullptr);
  const std::vector<std::vector<std::string>> cases = {
      {"a b", "c"},                                        // a blank stays inside its argument
      {""},                                                // the empty string is one empty argument
      {"x", "", "y"},                                      // adjacent separators: an empty argument
      {"", "trailing", ""},                                // separators at both ends
      {"$HOME", "`id`", "a;b", "*", "'quoted'", "\"dq\"", "back\\slash", "new\nline", "tab\there", "é€😀"},
  };
  for (const auto &arguments : cases) {
    Outcome outcome = Wait(kArgumentsChild, Join(arguments));
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.output, ArgumentsListing(arguments)) << Join(arguments);
  }
}

TEST(ProcessRunner, WorkingDirectoryEmptyMeansTheHostsAndAMissingOneFails) {
  char here[4096];
  ASSERT_NE(getcwd(here, sizeof here), nullptr);
  EXPECT_EQ(Wait(kChild, "pwd", "").output, here);
  EXPECT_EQ(Wait(kChild, "pwd", nullptr).output, here);
  char temporary[] = "/tmp/db-process-cwd-XXXXXX";
  ASSERT_NE(mkdtemp(temporary), nullptr);
  char resolved[PATH_MAX];  // what the child's getcwd gives where /tmp is a symbolic link
  ASSERT_NE(realpath(temporary, resolved), nullptr);
  EXPECT_EQ(Wait(kChild, "pwd", temporary).output, resolved);

  // A directory that cannot be entered is a failed launch, not a child run elsewhere.
  rmdir(temporary);
  Outcome missing = Wait(kChild, "pwd", temporary);
  EXPECT_EQ(missing.status, -1);
  EXPECT_FALSE(missing.output.empty());
}

// The host's bytes, unchanged: a precomposed "é€😀" stays precomposed, in an argument and in the
// environment the child inherits.
TEST(ProcessRunner, TheHostsEnvironmentReachesTheChildAsTheSameBytes) {
  const char fancy[] = "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  setenv("DB_PROCESS_TEST_VALUE", fancy, 1);
  Outcome outcome = Wait(kChild, Join({"env", "DB_PROCESS_TEST_VALUE"}));
  unsetenv("DB_PROCESS_TEST_VALUE");
  EXPECT_EQ(outcome.output, fancy);
  EXPECT_EQ(Wait(kArgumentsChild, fancy).output, ArgumentsListing({fancy}));
}

TEST(ProcessRunner, ANameWithoutASlashIsLookedUpInPathAndAMissingOneIsNamed) {
  Outcome shell = Wait("sh", Join({"-c", "echo found; exit 4"}));
  EXPECT_EQ(shell.status, 4);
  EXPECT_EQ(shell.output, "found\n");
  Outcome missing = Wait("db-no-such-program", "");
  EXPECT_EQ(missing.status, -1);
  EXPECT_NE(missing.output.find("\"db-no-such-program\""), std::string::npos) << missing.output;
  EXPECT_NE(missing.output.find("PATH"), std::string::npos) << missing.output;
  EXPECT_EQ(run()("db-no-such-program", "", nullptr, false, nullptr), -1);
}

TEST(ProcessRunner, FailedLaunchesReturnMinusOneWithADescriptionAndLeaveNothingOpen) {
  Descriptors descriptors = OpenDescriptors();
  Outcome nonexistent = Wait("/nonexistent/program", "");
  EXPECT_EQ(nonexistent.status, -1);
  EXPECT_FALSE(nonexistent.output.empty());

  for (const char *unexecutable : {"/tmp", DB_SOURCE_DIR "/exports.txt", ""}) {
    Outcome outcome = Wait(unexecutable, "");
    EXPECT_EQ(outcome.status, -1) << unexecutable;
    EXPECT_TRUE(outcome.hasOutput) << unexecutable;
  }

  char *text = nullptr;
  EXPECT_EQ(run()(nullptr, "", nullptr, true, &text), -1);
  ASSERT_NE(text, nullptr);
  EXPECT_NE(text[0], 0);
  free(text);
  text = nullptr;
  EXPECT_EQ(run()(kChild.c_str(), nullptr, nullptr, true, &text), -1);
  ASSERT_NE(text, nullptr);
  free(text);

  // Without an output pointer the failure is only the result.
  EXPECT_EQ(run()(nullptr, nullptr, nullptr, true, nullptr), -1);
  EXPECT_EQ(run()("/nonexistent/program", "", nullptr, false, nullptr), -1);
  EXPECT_EQ(NewDescriptors(descriptors), 0u);
  EXPECT_EQ(DBZombieChildren(), 0);
}

TEST(ProcessRunner, ExitStatusesAndSignalsPassThrough) {
  for (int status : {0, 1, 42, 255}) EXPECT_EQ(Wait(kChild, Join({"exit", std::to_string(status)})).status, status);
  EXPECT_EQ(Wait(kChild, Join({"signal", "9"})).status, SIGKILL);
  EXPECT_EQ(run()(kChild.c_str(), Join({"exit", "3"}).c_str(), nullptr, true, nullptr), 3);
}

TEST(ProcessRunner, BothStreamsArriveInterleavedInOneText) {
  Outcome outcome = Wait(kChild, "streams");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.output, "out 1\nerr 1\nout 2\nerr 2\n");
}

TEST(ProcessRunner, OutputThatIsNotUTF8GivesNullAndStillTheStatus) {
  Outcome invalid = Wait("/bin/sh", Join({"-c", "printf 'ok\\377'; exit 5"}));
  EXPECT_EQ(invalid.status, 5);
  EXPECT_FALSE(invalid.hasOutput);
  Outcome overlong = Wait(kChild, Join({"hex", "41c0af42"}));
  EXPECT_EQ(overlong.status, 0);
  EXPECT_FALSE(overlong.hasOutput);
  // A multi-byte character written one byte at a time is still one character.
  Outcome split = Wait(kChild, Join({"hex", "61f09f9880e282ac62", "2000"}));
  EXPECT_EQ(split.output, "a\xF0\x9F\x98\x80\xE2\x82\xAC" "b");
  // The C string ends at the first NUL, as a copy of the decoded string does.
  EXPECT_EQ(Wait(kChild, Join({"hex", "61620063"})).output, "ab");
  EXPECT_EQ(Wait(kTrue, "").output, "");
}

TEST(ProcessRunner, LargeOutputIsDrainedWhileTheChildRunsWithOrWithoutTheText) {
  const size_t size = 64u << 20;
  char *text = nullptr;
  int status = run()(kChild.c_str(), Join({"bytes", std::to_string(size)}).c_str(), nullptr, true, &text);
  EXPECT_EQ(status, 0);
  ASSERT_NE(text, nullptr);
  size_t length = strlen(text);
  EXPECT_EQ(length, size);
  if (length == size) EXPECT_TRUE(memcmp(text, NumberedLines(size).data(), size) == 0);
  free(text);

  // Discarded output still never blocks the child.
  EXPECT_EQ(run()(kChild.c_str(), Join({"bytes", std::to_string(size)}).c_str(), nullptr, true, nullptr), 0);
}

// The call returns while the background process it left holding the pipe still runs.
TEST(ProcessRunner, ABackgroundProcessHoldingThePipeDoesNotHoldTheCallUp) {
  Descriptors descriptors = OpenDescriptors();
  Outcome outcome = Wait("/bin/sh", Join({"-c", "sleep 600 & echo $!; echo done"}));
  EXPECT_EQ(outcome.status, 0);
  std::istringstream lines(outcome.output);
  int background = 0;
  std::string done;
  lines >> background >> done;
  EXPECT_EQ(done, "done") << outcome.output;
  ASSERT_GT(background, 0) << outcome.output;
  EXPECT_EQ(kill(background, 0), 0) << "the background process had ended before the call returned";
  kill(background, SIGKILL);
  // The pipe it held is closed once it has gone.
  EXPECT_EQ(NewDescriptors(descriptors, true), 0u);
}

// Before the call returns the process the child left has written nothing; it writes more than
// the pipe holds only afterwards, and is not killed for it.
TEST(ProcessRunner, AProcessLeftRunningWritesOnAfterTheCallReturned) {
  char folder[] = "/tmp/db-process-leftover-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  std::string go = std::string(folder) + "/go", report = std::string(folder) + "/report";
  ASSERT_EQ(mkfifo(go.c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(report.c_str(), 0600), 0);
  Descriptors descriptors = OpenDescriptors();

  Outcome outcome = Wait(kChild, Join({"leftover", go, report}));
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.output, "started\n");
  close(open(go.c_str(), O_WRONLY));  // the process left behind writes now
  std::string ending;
  int reportFd = open(report.c_str(), O_RDONLY);
  char chunk[64];
  for (ssize_t n; reportFd >= 0 && (n = read(reportFd, chunk, sizeof chunk)) > 0;) ending.append(chunk, (size_t)n);
  if (reportFd >= 0) close(reportFd);
  EXPECT_EQ(ending, "exit 0");
  EXPECT_EQ(NewDescriptors(descriptors, true), 0u);
  unlink(go.c_str());
  unlink(report.c_str());
  rmdir(folder);
}

TEST(ProcessRunner, SignalledAndEarlyClosingChildrenGiveTheirStatusAndOutput) {
  Outcome killed = Wait("/bin/sh", Join({"-c", "echo before; kill -TERM $$; echo after"}));
  EXPECT_EQ(killed.status, SIGTERM);
  EXPECT_EQ(killed.output, "before\n");
  // Output closed early: the call still waits for the exit, and the text is what came before.
  Outcome closed = Wait("/bin/sh", Join({"-c", "echo early; exec >&- 2>&-; sleep 0.2; exit 4"}));
  EXPECT_EQ(closed.status, 4);
  EXPECT_EQ(closed.output, "early\n");
}

TEST(ProcessRunner, DetachedChildrenReturnZeroLeaveOutputAloneAndAreReaped) {
  char sentinel[] = "untouched";
  char *text = sentinel;
  EXPECT_EQ(run()(kChild.c_str(), Join({"exit", "7"}).c_str(), nullptr, false, &text), 0);
  EXPECT_EQ(text, sentinel);

  for (int i = 0; i < 50; i++) ASSERT_EQ(run()(kTrue, "", nullptr, false, nullptr), 0);
  int zombies = -1;
  for (int attempt = 0; attempt < 100; attempt++) {
    zombies = DBZombieChildren();
    if (zombies == 0) break;
    usleep(50 * 1000);
  }
  EXPECT_EQ(zombies, 0);
}

TEST(ProcessRunner, ChildrenInheritNoDescriptorOfTheHost) {
  int stray = open("/dev/null", O_RDONLY);  // deliberately inheritable
  ASSERT_GE(stray, 0);
  Outcome outcome = Wait(kChild, "descriptors");
  close(stray);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.output, "");
}

TEST(ProcessRunner, EightThreadsAtOnceEachGetTheirOwnOutput) {
  std::vector<std::thread> threads;
  std::vector<int> failures(8, 0);
  for (int t = 0; t < 8; t++) {
    threads.emplace_back([t, &failures] {
      for (int round = 0; round < 6; round++) {
        std::vector<std::string> arguments = {"thread " + std::to_string(t), "round " + std::to_string(round)};
        char *text = nullptr;
        int status = run()(kArgumentsChild.c_str(), Join(arguments).c_str(), nullptr, true, &text);
        if (status != 0 || text == nullptr || ArgumentsListing(arguments) != text) failures[t]++;
        free(text);
        size_t size = (size_t)(t + 1) * 300000 + round;
        text = nullptr;
        status = run()(kChild.c_str(), Join({"bytes", std::to_string(size)}).c_str(), nullptr, true, &text);
        if (status != 0 || text == nullptr || NumberedLines(size) != text) failures[t]++;
        free(text);
      }
    });
  }
  for (auto &thread : threads) thread.join();
  for (int t = 0; t < 8; t++) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

namespace {

struct PoolLessRun {
  int status = -2;
  std::string output;
};

void *RunWithoutPool(void *argument) {
  PoolLessRun *result = static_cast<PoolLessRun *>(argument);
  for (int i = 0; i < 10; i++) {
    char *text = nullptr;
    result->status = run()(kArgumentsChild.c_str(), "pool-less", nullptr, true, &text);
    if (text) result->output = text;
    free(text);
    text = nullptr;
    run()("/nonexistent/program", "", nullptr, true, &text);
    free(text);
    run()(kTrue, "", nullptr, false, nullptr);
  }
  return nullptr;
}

// Ten rounds of RunWithoutPool on a new plain thread.
PoolLessRun RunOnPlainThread() {
  PoolLessRun result;
  pthread_t thread;
  if (pthread_create(&thread, nullptr, RunWithoutPool, &result) == 0) pthread_join(thread, nullptr);
  else ADD_FAILURE() << "no thread";
  return result;
}

}  // namespace

TEST(ProcessRunner, APlainThreadWithoutAnAutoreleasePoolLogsNothing) {
  RunOnPlainThread();  // a first round creates the platform's shared objects (the standard streams' handles)
  LogCapture capture;
  PoolLessRun result = RunOnPlainThread();
  std::vector<std::string> messages = capture.stop();
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, ArgumentsListing({"pool-less"}));
  for (const std::string &message : messages) ADD_FAILURE() << "logged: " << message;
}

#pragma mark - Starved resources

namespace {

// The tests below lower a limit of their process: each runs again in a process of its own (this
// program, told by DB_STARVED_CHILD to run only that test), and the first run reports its outcome.
bool InStarvedChild() { return getenv("DB_STARVED_CHILD") != nullptr; }

// Runs the current test in a child process; its failures and skips become this run's.
void RunCurrentTestStarved() {
  char self[4096];
  ASSERT_TRUE(DBExecutablePath(self, sizeof self));
  const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
  std::string filter = std::string("GTEST_FILTER=") + test->test_suite_name() + "." + test->name();
  SubprocessResult result = RunSubprocess({self}, 120, {filter, "DB_STARVED_CHILD=1"});
  if (result.exitStatus == 0 && result.out.find("[  SKIPPED ]") != std::string::npos) {
    GTEST_SKIP() << result.out;
  }
  EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
  EXPECT_NE(result.out.find("[  PASSED  ] 1 test"), std::string::npos) << result.out;
}

// One call that should work: "/bin/sh -c 'echo next; exit 3'".
void ExpectANormalCall() {
  Outcome next = Wait("/bin/sh", Join({"-c", "echo next; exit 3"}));
  EXPECT_EQ(next.status, 3);
  EXPECT_EQ(next.output, "next\n");
}

}  // namespace

TEST(ProcessRunnerStarved, AFullDescriptorTableFailsCleanlyAndTheNextCallWorks) {
  if (!InStarvedChild()) return RunCurrentTestStarved();
  ExpectANormalCall();  // the platform's one-time set-up is done before the table is filled
  struct rlimit original;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &original), 0);
  int highest = 0;
  for (int fd = 0; fd < 4096; fd++)
    if (fcntl(fd, F_GETFD) >= 0) highest = fd;
  struct rlimit lowered = original;
  lowered.rlim_cur = (rlim_t)highest + 32;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
  std::vector<int> fillers;
  for (int fd; (fd = open("/dev/null", O_RDONLY)) >= 0;) fillers.push_back(fd);
  ASSERT_FALSE(fillers.empty());

  // Looking needs a descriptor of its own: one filler makes room for it meanwhile.
  auto withRoom = [&fillers](const std::function<void()> &look) {
    close(fillers.back());
    look();
    fillers.back() = open("/dev/null", O_RDONLY);
  };

  // With no descriptor free, and then with one more free each round: a clean failure or a
  // complete call, and never a descriptor or child left behind.
  for (int spare = 0; spare <= 6; spare++) {
    if (spare > 0) {
      close(fillers.back());
      fillers.pop_back();
    }
    Descriptors before;
    withRoom([&before] { before = OpenDescriptors(); });
    Outcome outcome = Wait(kChild, Join({"exit", "3"}));
    size_t added = 0;
    int zombies = -1;
    withRoom([&] {
      added = NewDescriptors(before);
      zombies = DBZombieChildren();
    });
    if (spare == 0) EXPECT_EQ(outcome.status, -1);
#if !defined(__APPLE__)
    if (spare >= 2) EXPECT_EQ(outcome.status, 3) << "the pipe is all a call needs";
#endif
    if (outcome.status == -1) {
      EXPECT_FALSE(outcome.output.empty()) << spare << " free";
    } else {
      EXPECT_EQ(outcome.status, 3) << spare << " free";
      EXPECT_EQ(outcome.output, "") << spare << " free";
    }
    EXPECT_EQ(added, 0u) << spare << " free";
    EXPECT_EQ(zombies, 0) << spare << " free";
  }
  for (int fd : fillers) close(fd);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &original), 0);
  Descriptors descriptors = OpenDescriptors();
  ExpectANormalCall();
  EXPECT_EQ(NewDescriptors(descriptors), 0u);
}

// The process limit does not bind the superuser: as root, the child process takes the identity of
// the user "nobody" first.
TEST(ProcessRunnerStarved, NoProcessLeftFailsCleanlyAndTheNextCallWorks) {
  if (!InStarvedChild()) return RunCurrentTestStarved();
  ExpectANormalCall();
  if (geteuid() == 0) {
    struct passwd *nobody = getpwnam("nobody");
    if (nobody == nullptr) GTEST_SKIP() << "running as root, and there is no user nobody to become";
    if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)
      GTEST_SKIP() << "running as root, and cannot become nobody: " << strerror(errno);
  }
  struct rlimit original;
  ASSERT_EQ(getrlimit(RLIMIT_NPROC, &original), 0);
  struct rlimit none = original;
  none.rlim_cur = 0;
  ASSERT_EQ(setrlimit(RLIMIT_NPROC, &none), 0);
  Descriptors descriptors = OpenDescriptors();
  Outcome waited = Wait("/bin/sh", Join({"-c", "exit 3"}));
  EXPECT_EQ(waited.status, -1);
  EXPECT_FALSE(waited.output.empty());
  EXPECT_EQ(run()("/bin/sh", Join({"-c", "exit 3"}).c_str(), nullptr, false, nullptr), -1);
  EXPECT_EQ(NewDescriptors(descriptors), 0u);
  EXPECT_EQ(DBZombieChildren(), 0);
  ASSERT_EQ(setrlimit(RLIMIT_NPROC, &original), 0);
  ExpectANormalCall();
  EXPECT_EQ(NewDescriptors(descriptors), 0u);
}

#pragma mark - A host of its own

// A host that exits while it waits for a child leaves only that child: nothing else of the host
// (no process sharing its memory) stays behind, and the child's parent is whoever adopts orphans,
// here this test, made their adopter.
TEST(ProcessRunnerStarved, AHostThatExitsLeavesOnlyItsChild) {
#if !defined(__APPLE__)
  const char *pidFile = getenv("DB_PID_FILE");
  if (InStarvedChild()) {
    ASSERT_NE(pidFile, nullptr);
    std::thread([pidFile] {
      run()("/bin/sh", Join({"-c", "echo $$ > \"$0.new\"; mv \"$0.new\" \"$0\"; exec sleep 60", pidFile}).c_str(),
            nullptr, true, nullptr);
    }).detach();
    while (access(pidFile, F_OK) != 0) usleep(10000);
    _exit(0);
  }
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  char folder[] = "/tmp/db-host-exit-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  std::string file = std::string(folder) + "/pid";
  char self[4096];
  ASSERT_TRUE(DBExecutablePath(self, sizeof self));
  SubprocessResult host = RunSubprocess({self}, 60, {"GTEST_FILTER=ProcessRunnerStarved.AHostThatExitsLeavesOnlyItsChild",
                                                     "DB_STARVED_CHILD=1", "DB_PID_FILE=" + file});
  EXPECT_EQ(host.exitStatus, 0) << host.out << host.err;
  FILE *stream = fopen(file.c_str(), "r");
  ASSERT_NE(stream, nullptr);
  int child = 0;
  EXPECT_EQ(fscanf(stream, "%d", &child), 1);
  fclose(stream);
  unlink(file.c_str());
  rmdir(folder);
  ASSERT_GT(child, 0);
  std::ifstream lines(std::string("/proc/") + std::to_string(child) + "/status");
  int parent = -1;
  for (std::string line; std::getline(lines, line);)
    if (line.compare(0, 5, "PPid:") == 0) parent = atoi(line.c_str() + 5);
  EXPECT_EQ(parent, getpid()) << "the child's parent is not the adopter but a process left by the host";
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  prctl(PR_SET_CHILD_SUBREAPER, 0);
#else
  GTEST_SKIP() << "needs an adopter of orphans (Linux's PR_SET_CHILD_SUBREAPER)";
#endif
}

// A host that ignores SIGCHLD has its children collected by the system as they exit: the status
// is gone, and the call says so instead of inventing one.
TEST(ProcessRunnerStarved, AHostIgnoringSIGCHLDGetsMinusOneSayingTheStatusWasCollectedElsewhere) {
  if (!InStarvedChild()) return RunCurrentTestStarved();
  // Both ways a host tells the system to discard its children's statuses at once.
  struct sigaction discard;
  memset(&discard, 0, sizeof discard);
  discard.sa_handler = SIG_IGN;
  discard.sa_flags = SA_NOCLDWAIT;
  ASSERT_EQ(sigaction(SIGCHLD, &discard, nullptr), 0);
  Outcome outcome = Wait(kChild, Join({"say", "lost", "3"}));
  EXPECT_EQ(outcome.status, -1);
  EXPECT_NE(outcome.output.find("collected elsewhere"), std::string::npos) << outcome.output;
  discard.sa_handler = SIG_DFL;
  discard.sa_flags = 0;
  ASSERT_EQ(sigaction(SIGCHLD, &discard, nullptr), 0);
  ExpectANormalCall();
}
