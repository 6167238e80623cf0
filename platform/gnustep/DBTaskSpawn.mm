// NSTask launch and wait without GNUstep's run-loop polling; see DBTaskSpawn.h.
#import "DBTaskSpawn.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <utility>
#include <vector>

#include "DBTaskSupport.h"

extern char **environ;

#pragma mark - Task fields

// The task's own fields, the ones GNUstep's NSTask consults in -isRunning, -processIdentifier,
// -terminationStatus and -terminationReason.
@interface NSTask (DBSpawnBookkeeping)
- (void)db_recordLaunchOfProcess:(pid_t)pid;
- (void)db_recordWaitStatus:(int)status;
- (void)db_recordLostStatus;
- (BOOL)db_hasLaunched;
- (BOOL)db_hasCollected;
- (NSString *)db_explicitDirectory;
@end

@implementation NSTask (DBSpawnBookkeeping)

- (void)db_recordLaunchOfProcess:(pid_t)pid {
  _taskId = pid;
  _hasLaunched = YES;
  _hasTerminated = NO;
  _hasCollected = NO;
  // Nobody but the caller can observe this task: no termination notification is queued for it.
  _hasNotified = YES;
}

- (void)db_recordWaitStatus:(int)status {
  if (WIFSIGNALED(status)) {
    _terminationStatus = WTERMSIG(status);
    _terminationReason = NSTaskTerminationReasonUncaughtSignal;
  } else {
    _terminationStatus = WEXITSTATUS(status);
    _terminationReason = NSTaskTerminationReasonExit;
  }
  _hasCollected = YES;
  _hasTerminated = YES;
}

- (void)db_recordLostStatus {
  _terminationStatus = -1;
  _terminationReason = NSTaskTerminationReasonExit;
  _hasCollected = YES;
  _hasTerminated = YES;
}

- (BOOL)db_hasLaunched {
  return _hasLaunched;
}

- (BOOL)db_hasCollected {
  return _hasCollected;
}

// The directory set with -setCurrentDirectoryPath:, nil when none was (-currentDirectoryPath
// answers the host's directory then).
- (NSString *)db_explicitDirectory {
  return _currentDirectoryPath;
}

@end

#pragma mark - Child side

namespace {

enum SpawnStage { StageNone = 0, StageDirectory, StageExecute };

// Everything the child needs, prepared by the parent: the child shares the parent's memory until
// it executes the program, so it may only make system calls (no allocation, no locks).
struct SpawnRequest {
  const char *path;
  char *const *argv;
  char *const *envp;
  const char *directory;  // null: the host's
  int outputFd;           // -1: the host's
  int errorFd;            // -1: the host's
  int *processFd;         // non-null: receives a process descriptor for the child (or -1)
  sigset_t childMask;
  volatile int error;     // written by the child when it fails
  volatile int stage;
  int reportFd;           // >= 0: the child also writes error and stage there (a fork's child)
};

// ThreadSanitizer cannot follow a child that runs on the parent's memory (its clone interceptor
// stops the program): its builds start the child with fork instead, and the child reports a
// failure through a pipe that is closed on exec.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define DB_SPAWN_BY_FORK 1
#endif
#endif

// Makes `fd` the child's descriptor `target`, inheritable.
__attribute__((no_sanitize("address", "undefined"))) static bool InstallDescriptor(int fd, int target) {
  if (fd < 0) return true;
  if (fd == target) {
    int flags = fcntl(fd, F_GETFD);
    return flags >= 0 && fcntl(fd, F_SETFD, flags & ~FD_CLOEXEC) == 0;
  }
  return dup2(fd, target) == target;
}

__attribute__((no_sanitize("address", "undefined"))) static int ChildMain(void *argument) {
  SpawnRequest *request = static_cast<SpawnRequest *>(argument);

  // Handlers of the host must never run here (they would run on the host's memory), and the
  // program starts with every signal at its default, as a freshly executed program expects.
  struct sigaction defaultAction;
  memset(&defaultAction, 0, sizeof defaultAction);
  defaultAction.sa_handler = SIG_DFL;
  for (int signalNumber = 1; signalNumber < NSIG; signalNumber++) {
    if (signalNumber == SIGKILL || signalNumber == SIGSTOP) continue;
    sigaction(signalNumber, &defaultAction, NULL);
  }

  int stage = StageNone;
  if (!InstallDescriptor(request->outputFd, STDOUT_FILENO) || !InstallDescriptor(request->errorFd, STDERR_FILENO))
    goto failed;
  stage = StageDirectory;
  if (request->directory != NULL && chdir(request->directory) != 0) goto failed;
  stage = StageExecute;
  if (request->reportFd >= 0) {
    unsigned keep = (unsigned)request->reportFd;
    if (keep > 3) close_range(3, keep - 1, 0);
    close_range(keep + 1, ~0U, 0);
  } else if (close_range(3, ~0U, 0) != 0) {
    // A kernel without close_range: every descriptor up to the limit, one by one.
    struct rlimit limit;
    int bound = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 65536 ? (int)limit.rlim_cur : 65536;
    for (int fd = 3; fd < bound; fd++) close(fd);
  }
  sigprocmask(SIG_SETMASK, &request->childMask, NULL);
  execve(request->path, request->argv, request->envp);

failed:
  request->error = errno != 0 ? errno : EINVAL;
  request->stage = stage;
  if (request->reportFd >= 0) {
    int report[2] = {request->error, request->stage};
    ssize_t ignored = write(request->reportFd, report, sizeof report);
    (void)ignored;
  }
  _exit(127);
}

// The descriptor behind a standard-stream object of a task: an NSPipe's write end or a file handle.
int DescriptorOf(id stream) {
  if (stream == nil) return -1;
  if ([stream isKindOfClass:[NSPipe class]]) return [[stream fileHandleForWriting] fileDescriptor];
  if ([stream isKindOfClass:[NSFileHandle class]]) return [stream fileDescriptor];
  [NSException raise:NSInvalidArgumentException format:@"NSTask - standard stream %@ not supported", stream];
  return -1;
}

// The stack the child runs on until it executes the program. One is kept for the next launch:
// mapping and unmapping a fresh one each time costs more than the rest of the parent's share of a
// launch. A launch that finds it taken (another thread is launching) maps one of its own.
const size_t kChildStackSize = 256 * 1024;
std::atomic<void *> keptChildStack(nullptr);

void *TakeChildStack() {
  void *stack = keptChildStack.exchange(nullptr);
  if (stack != nullptr) return stack;
  stack = mmap(NULL, kChildStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  return stack == MAP_FAILED ? nullptr : stack;
}

void GiveBackChildStack(void *stack) {
  void *none = nullptr;
  if (!keptChildStack.compare_exchange_strong(none, stack)) munmap(stack, kChildStackSize);
}

int OpenProcessDescriptor(pid_t pid);

#if DB_SPAWN_BY_FORK
pid_t SpawnByFork(SpawnRequest *request) {
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    request->error = errno;
    request->stage = StageNone;
    return -1;
  }
  request->reportFd = report[1];
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  pid_t pid = fork();
  if (pid == 0) {
    ChildMain(request);
    _exit(127);
  }
  int forkError = errno;
  pthread_sigmask(SIG_SETMASK, &previous, NULL);
  close(report[1]);
  request->reportFd = -1;
  if (pid < 0) {
    close(report[0]);
    request->error = forkError;
    request->stage = StageNone;
    return -1;
  }
  int failure[2] = {0, 0};
  ssize_t got;
  while ((got = read(report[0], failure, sizeof failure)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  if (got == (ssize_t)sizeof failure) {
    request->error = failure[0];
    request->stage = failure[1];
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return -1;
  }
  request->error = 0;
  if (request->processFd != NULL) *request->processFd = OpenProcessDescriptor(pid);
  return pid;
}
#endif

// Starts the child and returns its process id, or -1 with the child's error and stage.
pid_t Spawn(SpawnRequest *request) {
#if DB_SPAWN_BY_FORK
  return SpawnByFork(request);
#endif
  request->reportFd = -1;
  void *stack = TakeChildStack();
  if (stack == nullptr) {
    request->error = errno;
    request->stage = StageNone;
    return -1;
  }
  // All signals stay blocked while the child runs on shared memory; it resets them before exec.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  request->error = 0;
  request->stage = StageNone;
  int flags = CLONE_VM | CLONE_VFORK | SIGCHLD;
  int processFd = -1;
#ifdef CLONE_PIDFD
  if (request->processFd != NULL) flags |= CLONE_PIDFD;  // a kernel without it leaves processFd at -1
#endif
  pid_t pid = clone(ChildMain, static_cast<char *>(stack) + kChildStackSize, flags, request, &processFd);
  int cloneError = errno;
#ifdef CLONE_PIDFD
  if (pid < 0 && cloneError == EMFILE && (flags & CLONE_PIDFD)) {
    // No descriptor left for the process descriptor: the child can still be started and waited
    // for without one.
    processFd = -1;
    pid = clone(ChildMain, static_cast<char *>(stack) + kChildStackSize, flags & ~CLONE_PIDFD, request, NULL);
    cloneError = errno;
  }
#endif
  pthread_sigmask(SIG_SETMASK, &previous, NULL);
  // The child has executed the program or exited: it no longer runs on the stack.
  GiveBackChildStack(stack);
  if (pid < 0) {
    request->error = cloneError;
    request->stage = StageNone;
    return -1;
  }
  if (request->error != 0) {
    if (processFd >= 0) close(processFd);
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return -1;
  }
  if (request->processFd != NULL) *request->processFd = processFd;
  return pid;
}

// A descriptor for the process that polls readable once it has exited (Linux 5.3 and later).
int OpenProcessDescriptor(pid_t pid) {
#ifdef SYS_pidfd_open
  return (int)syscall(SYS_pidfd_open, pid, 0);  // close-on-exec already
#else
  return -1;
#endif
}

#pragma mark - Reaper

// Detached children, each watched through a process descriptor by one background thread, which
// runs while there is something to collect.
pthread_mutex_t reaperLock = PTHREAD_MUTEX_INITIALIZER;
std::vector<std::pair<int, pid_t>> *reaperChildren;  // (process descriptor, pid)
int reaperWake[2] = {-1, -1};
bool reaperRunning = false;

void *ReaperMain(void *) {
  std::vector<struct pollfd> watched;
  std::vector<pid_t> pids;
  for (;;) {
    watched.clear();
    pids.clear();
    pthread_mutex_lock(&reaperLock);
    if (reaperChildren->empty()) {
      reaperRunning = false;
      pthread_mutex_unlock(&reaperLock);
      return NULL;
    }
    watched.push_back({reaperWake[0], POLLIN, 0});
    pids.push_back(0);
    for (const auto &child : *reaperChildren) {
      watched.push_back({child.first, POLLIN, 0});
      pids.push_back(child.second);
    }
    pthread_mutex_unlock(&reaperLock);

    if (poll(watched.data(), watched.size(), -1) < 0) continue;
    if (watched[0].revents) {
      char drain[64];
      while (read(reaperWake[0], drain, sizeof drain) > 0) {
      }
    }
    for (size_t i = 1; i < watched.size(); i++) {
      if (!watched[i].revents) continue;
      int status;
      if (waitpid(pids[i], &status, WNOHANG) == 0) continue;
      pthread_mutex_lock(&reaperLock);
      for (auto it = reaperChildren->begin(); it != reaperChildren->end(); ++it) {
        if (it->first == watched[i].fd) {
          reaperChildren->erase(it);
          break;
        }
      }
      pthread_mutex_unlock(&reaperLock);
      close(watched[i].fd);
    }
  }
}

// Fallback without process descriptors: one thread per child, blocked in waitpid.
void *WaitForOneChild(void *argument) {
  pid_t pid = (pid_t)(intptr_t)argument;
  int status;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return NULL;
}

bool StartThread(void *(*body)(void *), void *argument) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attributes, 64 * 1024);
  // The thread must not take the host's signals.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  pthread_t thread;
  bool started = pthread_create(&thread, &attributes, body, argument) == 0;
  pthread_sigmask(SIG_SETMASK, &previous, NULL);
  pthread_attr_destroy(&attributes);
  return started;
}

}  // namespace

#pragma mark - Launch and wait

namespace {

// Everything the child needs from the task, as C strings that live as long as the task's strings
// (the current autorelease pool). May raise: nothing has been opened or started yet.
struct PreparedLaunch {
  NSString *launchPath;
  NSString *directory;
  std::vector<char *> argv;
  SpawnRequest request;
};

void Prepare(NSTask *task, PreparedLaunch *prepared) {
  if ([task db_hasLaunched]) [NSException raise:NSInvalidArgumentException format:@"NSTask - task has been launched"];
  NSString *launchPath = [task launchPath];
  if (launchPath == nil) [NSException raise:NSInvalidArgumentException format:@"NSTask - no launch path set"];

  // A relative launch path names a file relative to the host's directory, not the child's.
  NSString *resolvedPath = launchPath;
  if (![launchPath isAbsolutePath] && [launchPath length] > 0)
    resolvedPath = [[[NSFileManager defaultManager] currentDirectoryPath] stringByAppendingPathComponent:launchPath];

  NSArray *arguments = [task arguments];
  NSUInteger count = [arguments count];
  prepared->launchPath = launchPath;
  prepared->argv.assign(count + 2, (char *)NULL);
  prepared->argv[0] = (char *)[launchPath fileSystemRepresentation];
  for (NSUInteger i = 0; i < count; i++) prepared->argv[i + 1] = (char *)[[arguments objectAtIndex:i] UTF8String];

  SpawnRequest *request = &prepared->request;
  memset(request, 0, sizeof *request);
  request->path = [resolvedPath length] > 0 ? [resolvedPath fileSystemRepresentation] : "";
  request->argv = prepared->argv.data();
  request->envp = environ;
  prepared->directory = [task db_explicitDirectory];
  request->directory = prepared->directory != nil ? [prepared->directory fileSystemRepresentation] : NULL;
  request->outputFd = request->errorFd = -1;
  sigemptyset(&request->childMask);
}

// Raises the exception that says why the prepared child did not start.
void RaiseLaunchFailure(const PreparedLaunch &prepared) {
  const SpawnRequest &request = prepared.request;
  if (request.stage == StageDirectory)
    [NSException raise:NSInvalidArgumentException format:@"NSTask - current directory (%@) not valid: %s",
                                                         prepared.directory, strerror(request.error)];
  if (request.stage == StageExecute)
    [NSException raise:NSInvalidArgumentException format:@"NSTask - launch path (%@) not valid", prepared.launchPath];
  [NSException raise:NSInvalidArgumentException format:@"NSTask - cannot start %@: %s", prepared.launchPath,
                                                       strerror(request.error)];
}

}  // namespace

void DBTaskLaunch(NSTask *task) {
  PreparedLaunch prepared;
  Prepare(task, &prepared);
  id output = [task standardOutput], error = [task standardError];
  prepared.request.outputFd = DescriptorOf(output);
  prepared.request.errorFd = DescriptorOf(error);
  pid_t pid = Spawn(&prepared.request);
  if (pid < 0) RaiseLaunchFailure(prepared);
  [task db_recordLaunchOfProcess:pid];

  // As on macOS: the host keeps only the reading end of a pipe it gave as an output stream.
  if ([output isKindOfClass:[NSPipe class]]) [[output fileHandleForWriting] closeFile];
  if ([error isKindOfClass:[NSPipe class]] && error != output) [[error fileHandleForWriting] closeFile];
}

void DBTaskLaunchCapturingOutput(NSTask *task, DBCapturedChild *child) {
  child->output = child->exited = -1;
  PreparedLaunch prepared;
  Prepare(task, &prepared);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0)
    [NSException raise:NSInvalidArgumentException format:@"NSTask - no pipe for the output: %s", strerror(errno)];
  prepared.request.outputFd = prepared.request.errorFd = fds[1];
  int processFd = -1;
  prepared.request.processFd = &processFd;
  pid_t pid = Spawn(&prepared.request);
  close(fds[1]);  // the child holds the writing end now, or nobody does
  if (pid < 0) {
    close(fds[0]);
    RaiseLaunchFailure(prepared);
  }
  [task db_recordLaunchOfProcess:pid];
  child->output = fds[0];
  child->exited = processFd >= 0 ? processFd : OpenProcessDescriptor(pid);
}

int DBTaskDetachOutput(NSTask *task, DBCapturedChild *child) {
  int fd = child->output;
  child->output = -1;
  return fd;
}

void DBTaskWaitForCapturedChild(NSTask *task, DBCapturedChild *child) {
  DBTaskWaitUntilExit(task);
  if (child->exited >= 0) close(child->exited);
  if (child->output >= 0) close(child->output);
  child->output = child->exited = -1;
}

void DBTaskWaitUntilExit(NSTask *task) {
  if (![task db_hasLaunched] || [task db_hasCollected]) return;
  int status = 0;
  pid_t result;
  while ((result = waitpid([task processIdentifier], &status, 0)) < 0 && errno == EINTR) {
  }
  if (result < 0) {
    // Someone else collected the child (a waitpid(-1) elsewhere in the host): its status is lost.
    [task db_recordLostStatus];
    return;
  }
  [task db_recordWaitStatus:status];
}

void DBTaskReapWhenExited(NSTask *task) {
  if (![task db_hasLaunched] || [task db_hasCollected]) return;
  pid_t pid = [task processIdentifier];
  int pidfd = OpenProcessDescriptor(pid);
  if (pidfd < 0) {
    if (!DBReapProcessOnThread(pid)) NSLog(@"DBTaskReapWhenExited: no thread for %d", pid);
    return;
  }
  pthread_mutex_lock(&reaperLock);
  if (reaperChildren == NULL) reaperChildren = new std::vector<std::pair<int, pid_t>>();
  if (reaperWake[0] < 0 && pipe2(reaperWake, O_CLOEXEC | O_NONBLOCK) != 0) reaperWake[0] = reaperWake[1] = -1;
  reaperChildren->push_back(std::make_pair(pidfd, pid));
  bool start = !reaperRunning;
  if (start) reaperRunning = true;
  pthread_mutex_unlock(&reaperLock);
  if (start) {
    if (!StartThread(ReaperMain, NULL)) {
      pthread_mutex_lock(&reaperLock);
      reaperRunning = false;
      pthread_mutex_unlock(&reaperLock);
    }
  } else if (reaperWake[1] >= 0) {
    char wake = 1;
    ssize_t ignored = write(reaperWake[1], &wake, 1);
    (void)ignored;
  }
}

bool DBReapProcessOnThread(pid_t pid) { return StartThread(WaitForOneChild, (void *)(intptr_t)pid); }
