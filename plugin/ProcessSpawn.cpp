// Starting createProcess's child. posix_spawn does it where the system can do everything asked in
// one call: the working directory (posix_spawn_file_actions_addchdir_np: macOS 10.15, glibc 2.29)
// and closing the host's descriptors (POSIX_SPAWN_CLOEXEC_DEFAULT on macOS, addclosefrom_np from
// glibc 2.34). Elsewhere a fork whose child calls only async-signal-safe functions before execve.
#include "ProcessSpawn.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <pthread.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#if defined(__APPLE__)
#include <crt_externs.h>
#else
#include <sys/syscall.h>
extern char **environ;
#endif

#if !defined(__APPLE__) && defined(__GLIBC__)
#define DB_SPAWN_HAS_CHDIR __GLIBC_PREREQ(2, 29)
#define DB_SPAWN_HAS_CLOSEFROM __GLIBC_PREREQ(2, 34)
#else
#define DB_SPAWN_HAS_CHDIR 0
#define DB_SPAWN_HAS_CLOSEFROM 0
#endif

namespace {

// The host's environment as it is now. A bundle on macOS reaches it through _NSGetEnviron; the
// `environ` symbol belongs to the main executable there.
char **HostEnvironment() {
#if defined(__APPLE__)
  return *_NSGetEnviron();
#else
  return environ;
#endif
}

// Every signal a process may catch, for the dispositions reset to their defaults.
void CatchableSignals(sigset_t *set) {
  sigfillset(set);
  sigdelset(set, SIGKILL);
  sigdelset(set, SIGSTOP);
}

// Which step failed, for an error of posix_spawn, which reports a directory that cannot be entered
// and a program that cannot be run with the same error numbers.
DBSpawnStep StepOfSpawnError(const DBSpawnRequest *request, int error) {
  switch (error) {
    case EAGAIN:
    case ENOMEM:
    case ENFILE:
    case EMFILE:
      return DBSpawnStepStart;
    default:
      break;
  }
  if (request->directory != NULL) {
    struct stat status;
    if (stat(request->directory, &status) != 0 || !S_ISDIR(status.st_mode) || access(request->directory, X_OK) != 0)
      return DBSpawnStepDirectory;
  }
  return DBSpawnStepProgram;
}

bool PosixSpawnCanDo(const DBSpawnRequest *request) {
#if defined(__APPLE__)
  if (request->directory == NULL) return true;
  if (__builtin_available(macOS 10.15, *)) return true;
  return false;
#else
  return DB_SPAWN_HAS_CLOSEFROM && (request->directory == NULL || DB_SPAWN_HAS_CHDIR);
#endif
}

int SpawnWithPosixSpawn(const DBSpawnRequest *request, pid_t *pid, DBSpawnStep *step) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  *step = DBSpawnStepStart;
  int error = posix_spawn_file_actions_init(&actions);
  if (error != 0) return error;
  error = posix_spawnattr_init(&attributes);
  if (error != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return error;
  }
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  sigset_t none, catchable;
  sigemptyset(&none);
  CatchableSignals(&catchable);
  error = posix_spawnattr_setsigmask(&attributes, &none);
  if (error == 0) error = posix_spawnattr_setsigdefault(&attributes, &catchable);
#if defined(__APPLE__)
  // Every descriptor not named by a file action is closed in the child; the standard ones are named.
  flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
  for (int fd = STDIN_FILENO; error == 0 && fd <= STDERR_FILENO; fd++) {
    if (request->output >= 0 && fd != STDIN_FILENO) {
      error = posix_spawn_file_actions_adddup2(&actions, request->output, fd);
    } else if (fcntl(fd, F_GETFD) >= 0) {  // a closed one stays closed
      error = posix_spawn_file_actions_addinherit_np(&actions, fd);
    }
  }
  if (error == 0 && request->directory != NULL) {
    if (__builtin_available(macOS 10.15, *)) error = posix_spawn_file_actions_addchdir_np(&actions, request->directory);
  }
#else
  if (error == 0 && request->output >= 0) error = posix_spawn_file_actions_adddup2(&actions, request->output, STDOUT_FILENO);
  if (error == 0 && request->output >= 0) error = posix_spawn_file_actions_adddup2(&actions, request->output, STDERR_FILENO);
#if DB_SPAWN_HAS_CLOSEFROM
  if (error == 0) error = posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
#if DB_SPAWN_HAS_CHDIR
  if (error == 0 && request->directory != NULL) error = posix_spawn_file_actions_addchdir_np(&actions, request->directory);
#endif
#endif
  if (error == 0) error = posix_spawnattr_setflags(&attributes, flags);
  if (error == 0) {
    error = posix_spawnp(pid, request->program, &actions, &attributes, request->argv, HostEnvironment());
    if (error != 0) *step = StepOfSpawnError(request, error);
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

#pragma mark - fork

// The files to try for the program, in order, as execvp would: the program itself when it names a
// path; else each directory of PATH (the system's default path when PATH is unset; an empty entry
// is the current directory).
std::vector<std::string> ProgramCandidates(const char *program) {
  std::vector<std::string> candidates;
  if (program[0] == 0) return candidates;
  if (strchr(program, '/') != NULL) {
    candidates.push_back(program);
    return candidates;
  }
  const char *path = getenv("PATH");
  std::string directories = path != NULL ? path : "/usr/bin:/bin";
  size_t start = 0;
  for (;;) {
    size_t end = directories.find(':', start);
    std::string directory = directories.substr(start, end == std::string::npos ? std::string::npos : end - start);
    candidates.push_back((directory.empty() ? std::string(".") : directory) + "/" + program);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return candidates;
}

// The highest descriptor number to close in the child, plus one.
int DescriptorBound() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > 65536) return 65536;
  return (int)limit.rlim_cur;
}

struct ChildFailure {
  int error;
  int step;
};

// The child of the fork: only async-signal-safe calls, on what the parent prepared.
[[noreturn]] void RunForkedChild(const DBSpawnRequest *request, char *const *paths, size_t pathCount,
                                 char *const *environment, int bound, int report) {
  struct sigaction defaultAction;
  memset(&defaultAction, 0, sizeof defaultAction);
  defaultAction.sa_handler = SIG_DFL;
  sigemptyset(&defaultAction.sa_mask);
  for (int signalNumber = 1; signalNumber < NSIG; signalNumber++) {
    if (signalNumber != SIGKILL && signalNumber != SIGSTOP) sigaction(signalNumber, &defaultAction, NULL);
  }
  ChildFailure failure = {0, DBSpawnStepStart};
  if (request->output >= 0 &&
      (dup2(request->output, STDOUT_FILENO) < 0 || dup2(request->output, STDERR_FILENO) < 0)) {
    failure.error = errno;
  } else if (request->directory != NULL && chdir(request->directory) != 0) {
    failure = {errno, DBSpawnStepDirectory};
  } else {
    // Every descriptor above the standard ones but the report pipe, which closes itself on execve.
#if defined(__linux__) && defined(SYS_close_range)
    bool closed = syscall(SYS_close_range, STDERR_FILENO + 1, report - 1, 0) == 0 &&
                  syscall(SYS_close_range, report + 1, ~0U, 0) == 0;
#else
    bool closed = false;
#endif
    for (int fd = STDERR_FILENO + 1; !closed && fd < bound; fd++)
      if (fd != report) close(fd);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, NULL);
    // As execvp: a missing file moves on to the next directory; one that may not be run is
    // remembered and the search goes on; any other error ends it.
    failure = {ENOENT, DBSpawnStepProgram};
    bool denied = false;
    for (size_t i = 0; i < pathCount; i++) {
      execve(paths[i], request->argv, environment);
      if (errno == EACCES) {
        denied = true;
      } else if (errno != ENOENT && errno != ENOTDIR) {
        failure.error = errno;
        denied = false;
        break;
      }
    }
    if (denied) failure.error = EACCES;
  }
  ssize_t ignored = write(report, &failure, sizeof failure);
  (void)ignored;
  _exit(127);
}

int SpawnWithFork(const DBSpawnRequest *request, pid_t *pid, DBSpawnStep *step) {
  *step = DBSpawnStepStart;
  std::vector<std::string> candidates = ProgramCandidates(request->program);
  std::vector<char *> paths;
  for (std::string &candidate : candidates) paths.push_back(&candidate[0]);
  paths.push_back(NULL);
  char **environment = HostEnvironment();
  int bound = DescriptorBound();

  // The child reports a failure through this pipe; a successful execve closes it.
  int report[2];
  if (pipe(report) != 0) return errno;
  for (int fd : report) fcntl(fd, F_SETFD, FD_CLOEXEC);
  // No handler of the host may run in the child: every signal stays blocked until it has reset them.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  pid_t child = fork();
  if (child == 0) RunForkedChild(request, paths.data(), candidates.size(), environment, bound, report[1]);
  int forkError = errno;
  pthread_sigmask(SIG_SETMASK, &previous, NULL);
  close(report[1]);
  if (child < 0) {
    close(report[0]);
    return forkError;
  }
  ChildFailure failure = {0, DBSpawnStepStart};
  ssize_t got;
  while ((got = read(report[0], &failure, sizeof failure)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  if (got != (ssize_t)sizeof failure) {
    *pid = child;
    return 0;
  }
  int status;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  *step = (DBSpawnStep)failure.step;
  return failure.error != 0 ? failure.error : EINVAL;
}

}  // namespace

int DBSpawnChild(const DBSpawnRequest *request, DBSpawnMethod method, pid_t *pid, DBSpawnStep *step) {
  if (method == DBSpawnBest && PosixSpawnCanDo(request)) return SpawnWithPosixSpawn(request, pid, step);
  return SpawnWithFork(request, pid, step);
}
