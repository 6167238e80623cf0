// NSTask launch and wait without GNUstep's run-loop polling; see DBTaskSpawn.h.
#import "DBTaskSpawn.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/futex.h>
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
#include <new>
#include <utility>
#include <vector>

#include "DBBackgroundThread.h"
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

// The stack the child runs on until it executes the program (for a waited-for child: the waiter's
// record and stack, and the child's stack; see Waiter below). One is kept for the next launch:
// mapping and unmapping a fresh one each time costs more than the rest of the parent's share of a
// launch. A launch that finds it taken (another thread is launching, or waiting) maps one of its
// own. Forked waiters write their record back through a shared mapping.
const size_t kChildStackSize = 256 * 1024;
std::atomic<void *> keptChildStack(nullptr);

void *TakeChildStack() {
  void *stack = keptChildStack.exchange(nullptr);
  if (stack != nullptr) return stack;
#if DB_SPAWN_BY_FORK
  int sharing = MAP_SHARED;
#else
  int sharing = MAP_PRIVATE;
#endif
  stack = mmap(NULL, kChildStackSize, PROT_READ | PROT_WRITE, sharing | MAP_ANONYMOUS | MAP_STACK, -1, 0);
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

#pragma mark - Waited-for children

// A child that the host waits for is not the host's own child but a waiter's: GNUstep's run loops
// collect every exited child of the host with waitpid(-1) after a SIGCHLD, and a child collected
// there would have lost its status. The waiter is a process that shares the host's memory; it is
// started with exit signal 0, so that only a wait asking for such children (__WCLONE or __WALL)
// can collect it, and GNUstep's waitpid(-1) and NSTask's own waits never do. It starts the child
// as Spawn does, closes every descriptor it holds, waits for the child and leaves its status in
// its record, then exits. The waiter's process descriptor
// turns readable once it has exited, right after the child; the host then collects the waiter and
// reads the status.
//
// The waiter never executes a program: it keeps running on the host's memory, and on the
// thread-local storage of the thread that started it, which goes on (and may even end) meanwhile.
// Once the child has started, it makes only raw system calls, which write no errno and test no
// cancellation, on its own stack, and writes only to its record.
enum WaiterPhase { WaiterGone = 0, WaiterStarting = 1, WaiterLaunched = 2 };

struct Waiter {
  int phase;              // a WaiterPhase; a cloned waiter's exit clears it
  pid_t childPid;         // > 0: the child runs
  int error;              // otherwise: why not, and at which stage
  int stage;
  int status;             // the child's wait status, once collected is set
  int collected;
  SpawnRequest *request;  // the launching thread's, until phase leaves WaiterStarting
  char *childStackTop;
  pid_t pid;              // the waiter's
  int watch;              // its process descriptor (-1: none), closed by whoever was handed it
  NSTask *task;           // whose child it waits for, in the list of waiters not yet collected
  Waiter *next;
};

#if defined(__has_attribute)
#if __has_attribute(no_stack_protector)
#define DB_NO_STACK_PROTECTOR __attribute__((no_stack_protector))
#endif
#endif
#ifndef DB_NO_STACK_PROTECTOR
#define DB_NO_STACK_PROTECTOR
#endif
// What the waiter runs: no sanitizer or coverage instrumentation, no stack guard read from the
// thread's storage.
#define DB_WAITER_CODE __attribute__((no_sanitize("address", "undefined", "coverage"))) DB_NO_STACK_PROTECTOR

// A system call that touches only registers: the result, or minus the error number.
DB_WAITER_CODE __attribute__((always_inline)) static inline long RawCall(long number, long a, long b = 0, long c = 0,
                                                                        long d = 0) {
#if defined(__x86_64__)
  long result;
  register long r10 __asm__("r10") = d;
  __asm__ volatile("syscall" : "=a"(result) : "a"(number), "D"(a), "S"(b), "d"(c), "r"(r10) : "rcx", "r11", "memory");
  return result;
#elif defined(__aarch64__)
  register long x8 __asm__("x8") = number;
  register long x0 __asm__("x0") = a;
  register long x1 __asm__("x1") = b;
  register long x2 __asm__("x2") = c;
  register long x3 __asm__("x3") = d;
  __asm__ volatile("svc 0" : "+r"(x0) : "r"(x8), "r"(x1), "r"(x2), "r"(x3) : "memory");
  return x0;
#else
  // Elsewhere the C library's call, which writes errno on failure.
  long result = syscall(number, a, b, c, d);
  return result == -1 ? -errno : result;
#endif
}

// Closes every descriptor of the calling process.
DB_WAITER_CODE __attribute__((always_inline)) static inline void CloseEveryDescriptor() {
#ifdef SYS_close_range
  if (RawCall(SYS_close_range, 0, ~0U, 0) == 0) return;
#endif
  // A kernel without close_range: every descriptor up to the limit, one by one.
  struct rlimit limit;
  long bound = 65536;
  if (RawCall(SYS_prlimit64, 0, RLIMIT_NOFILE, 0, (long)&limit) == 0 && limit.rlim_cur < 65536)
    bound = (long)limit.rlim_cur;
  for (long fd = 0; fd < bound; fd++) RawCall(SYS_close, fd);
}

#if DB_SPAWN_BY_FORK

// Closes the descriptors from 3 up, but a and b.
void CloseDescriptorsAbove2Except(int a, int b) {
  unsigned keep[2] = {(unsigned)(a < b ? a : b), (unsigned)(a < b ? b : a)};
  unsigned from = 3;
  for (unsigned k : keep) {
    if (k < from || k == ~0U) continue;
    if (k > from) close_range(from, k - 1, 0);
    from = k + 1;
  }
  close_range(from, ~0U, 0);
}

// The forked waiter has memory of its own: its record is on a shared mapping. It keeps only the
// descriptors its child gets, so that it needs no more room in a full table than a cloned one.
__attribute__((noreturn)) void WaiterAfterFork(Waiter *waiter, SpawnRequest *request) {
  CloseDescriptorsAbove2Except(request->outputFd, request->errorFd);
  pid_t child = SpawnByFork(request);
  waiter->childPid = child > 0 ? child : 0;
  waiter->error = child > 0 ? 0 : request->error;
  waiter->stage = child > 0 ? (int)StageNone : request->stage;
  CloseEveryDescriptor();
  __atomic_store_n(&waiter->phase, (int)WaiterLaunched, __ATOMIC_RELEASE);
  syscall(SYS_futex, &waiter->phase, FUTEX_WAKE, 1, NULL, NULL, 0);
  if (child > 0) {
    int status;
    pid_t got;
    while ((got = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
    }
    if (got == child) {
      waiter->status = status;
      __atomic_store_n(&waiter->collected, 1, __ATOMIC_RELEASE);
    }
  }
  _exit(0);
}

bool StartWaiterProcess(Waiter *waiter) {
  SpawnRequest *request = waiter->request;
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  pid_t pid = fork();
  if (pid == 0) WaiterAfterFork(waiter, request);
  int forkError = errno;
  pthread_sigmask(SIG_SETMASK, &previous, NULL);
  if (pid < 0) {
    waiter->error = forkError;
    return false;
  }
  waiter->pid = pid;
  // Opened before the waiter can end: it waits for the child first.
  waiter->watch = OpenProcessDescriptor(pid);
  // A waiter that ends without telling leaves the phase as it was: it is looked for now and then.
  while (__atomic_load_n(&waiter->phase, __ATOMIC_ACQUIRE) == WaiterStarting) {
    struct timespec tick = {0, 100 * 1000 * 1000};
    syscall(SYS_futex, &waiter->phase, FUTEX_WAIT, WaiterStarting, &tick, NULL, 0);
    siginfo_t info;
    info.si_pid = 0;
    if (__atomic_load_n(&waiter->phase, __ATOMIC_ACQUIRE) == WaiterStarting &&
        (waitid(P_PID, (id_t)pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == pid))
      break;
  }
  if (__atomic_load_n(&waiter->phase, __ATOMIC_ACQUIRE) == WaiterStarting) {
    waiter->childPid = 0;
    waiter->error = ECHILD;
  }
  return true;
}

// Waits for the waiter to exit and collects it, unless a run loop of the host did (its exit signal
// is SIGCHLD here).
void CollectWaiter(Waiter *waiter) {
  int result;
  if (waiter->watch >= 0) {
    siginfo_t info;
    while ((result = waitid((idtype_t)P_PIDFD, (id_t)waiter->watch, &info, WEXITED)) < 0 && errno == EINTR) {
    }
    if (result == 0 || errno == ECHILD) return;
  }
  int status;
  while (waitpid(waiter->pid, &status, 0) < 0 && errno == EINTR) {
  }
}

#else

DB_WAITER_CODE static int WaiterMain(void *argument) {
  Waiter *waiter = static_cast<Waiter *>(argument);
  // The kernel stores the child's pid in the record before the child runs, and clears phase and
  // wakes the launching thread as soon as the child has executed the program or exited: that
  // thread goes on from there, without waiting for this process to be scheduled again. Until
  // then it sleeps with every signal blocked, and the C library may be called here.
  int flags = CLONE_VM | CLONE_VFORK | SIGCHLD | CLONE_PARENT_SETTID | CLONE_CHILD_CLEARTID;
  pid_t child =
      clone(ChildMain, waiter->childStackTop, flags, waiter->request, &waiter->childPid, NULL, &waiter->phase);
  if (child < 0) {
    waiter->error = errno;
    __atomic_store_n(&waiter->phase, (int)WaiterGone, __ATOMIC_RELEASE);
    RawCall(SYS_futex, (long)&waiter->phase, FUTEX_WAKE, 1);
    return 0;
  }

  // The request, the launching thread's stack frame and its errno may be gone from here on.
  CloseEveryDescriptor();
  int status = 0;
  long got;
  while ((got = RawCall(SYS_wait4, child, (long)&status, 0, 0)) == -EINTR) {
  }
  if (got == child) {
    waiter->status = status;
    __atomic_store_n(&waiter->collected, 1, __ATOMIC_RELEASE);
  }
  return 0;
}

bool StartWaiterProcess(Waiter *waiter) {
  // Every signal stays blocked on this thread until the waiter has settled the launch: no handler
  // runs here meanwhile, and nothing here writes errno.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  char *stackTop = reinterpret_cast<char *>(waiter) + kChildStackSize / 2;
  // Exit signal 0; the kernel also clears phase and wakes its sleepers when the waiter exits, so
  // that a waiter killed before it started the child still wakes this thread.
  int flags = CLONE_VM | CLONE_CHILD_CLEARTID;
  int watch = -1;
#ifdef CLONE_PIDFD
  flags |= CLONE_PIDFD;
#endif
  pid_t pid = clone(WaiterMain, stackTop, flags, waiter, &watch, NULL, &waiter->phase);
  int cloneError = errno;
#ifdef CLONE_PIDFD
  if (pid < 0 && cloneError == EMFILE) {
    // No descriptor left for the process descriptor: the waiter is collected without one.
    watch = -1;
    pid = clone(WaiterMain, stackTop, flags & ~CLONE_PIDFD, waiter, NULL, NULL, &waiter->phase);
    cloneError = errno;
  }
#endif
  if (pid > 0) {
    while (__atomic_load_n(&waiter->phase, __ATOMIC_ACQUIRE) == WaiterStarting)
      RawCall(SYS_futex, (long)&waiter->phase, FUTEX_WAIT, WaiterStarting, 0);
  }
  pthread_sigmask(SIG_SETMASK, &previous, NULL);
  if (pid < 0) {
    waiter->error = cloneError;
    return false;
  }
  SpawnRequest *request = waiter->request;
  if (request->error != 0) {
    waiter->error = request->error;  // the child's, which then exited
    waiter->stage = request->stage;
  } else if (waiter->error == 0 && waiter->childPid <= 0) {
    waiter->error = ECHILD;  // the waiter ended before it started the child
  }
  if (waiter->error != 0) waiter->childPid = 0;
  waiter->pid = pid;
  // Nobody else can collect the waiter, so its pid is still its own.
  waiter->watch = watch >= 0 ? watch : OpenProcessDescriptor(pid);
  return true;
}

// Waits for the waiter to exit and collects it. Only a wait with __WCLONE or __WALL can collect a
// process whose exit signal is not SIGCHLD: its pid is not reused before this wait.
void CollectWaiter(Waiter *waiter) {
  int status;
  while (waitpid(waiter->pid, &status, __WCLONE) < 0 && errno == EINTR) {
  }
}

#endif

// Starts a waiter for the prepared child; null with the request's error and stage when the child
// did not start (nothing is left running or open then).
Waiter *StartWaiter(SpawnRequest *request) {
  void *block = TakeChildStack();
  if (block == nullptr) {
    request->error = errno;
    request->stage = StageNone;
    return nullptr;
  }
  Waiter *waiter = new (block) Waiter();
  waiter->phase = WaiterStarting;
  waiter->stage = StageNone;
  waiter->request = request;
  waiter->childStackTop = static_cast<char *>(block) + kChildStackSize;
  waiter->watch = -1;
  request->reportFd = -1;
  request->processFd = NULL;
  request->error = 0;
  request->stage = StageNone;
  bool started = StartWaiterProcess(waiter);
  waiter->request = nullptr;
  if (started && waiter->childPid > 0) return waiter;
  request->error = waiter->error;
  request->stage = waiter->stage;
  if (started) {
    if (waiter->watch >= 0) close(waiter->watch);
    CollectWaiter(waiter);
  }
  GiveBackChildStack(block);
  return nullptr;
}

// Launched tasks whose waiter has not been collected yet.
pthread_mutex_t waitersLock = PTHREAD_MUTEX_INITIALIZER;
Waiter *waiters;

void RememberWaiter(NSTask *task, Waiter *waiter) {
  waiter->task = task;
  pthread_mutex_lock(&waitersLock);
  waiter->next = waiters;
  waiters = waiter;
  pthread_mutex_unlock(&waitersLock);
}

Waiter *TakeWaiter(NSTask *task) {
  pthread_mutex_lock(&waitersLock);
  Waiter **link = &waiters;
  while (*link != nullptr && (*link)->task != task) link = &(*link)->next;
  Waiter *waiter = *link;
  if (waiter != nullptr) *link = waiter->next;
  pthread_mutex_unlock(&waitersLock);
  return waiter;
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
  Waiter *waiter = StartWaiter(&prepared.request);
  close(fds[1]);  // the child holds the writing end now, or nobody does
  if (waiter == nullptr) {
    close(fds[0]);
    RaiseLaunchFailure(prepared);
  }
  [task db_recordLaunchOfProcess:waiter->childPid];
  RememberWaiter(task, waiter);
  child->output = fds[0];
  child->exited = waiter->watch;
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
  if (Waiter *waiter = TakeWaiter(task)) {
    CollectWaiter(waiter);
    if (__atomic_load_n(&waiter->collected, __ATOMIC_ACQUIRE)) {
      [task db_recordWaitStatus:waiter->status];
    } else {
      // The waiter was killed before the child ended.
      [task db_recordLostStatus];
    }
    GiveBackChildStack(waiter);
    return;
  }
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
    if (!DBStartBackgroundThread(ReaperMain, NULL)) {
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

bool DBReapProcessOnThread(pid_t pid) { return DBStartBackgroundThread(WaitForOneChild, (void *)(intptr_t)pid); }
