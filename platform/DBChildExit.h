// Learning that a child process has exited, and collecting it: the one part of running a child that
// differs between the platforms. Plain C, no Objective-C.
//   DBChildExitWatch(pid)        a descriptor that polls readable (POLLIN) once the child has
//                                exited; -1 when the system gives none (no descriptor left, a kernel
//                                without process descriptors): the caller then asks
//                                DBChildHasExited from time to time instead
//   DBCollectChild(pid, watch)   waits for the child and collects it: 0 and its exit status (the
//                                signal number for a child killed by a signal) in *result, or an
//                                error number: ECHILD when someone else (a waitpid(-1) of the host,
//                                the kernel for a host that ignores SIGCHLD) collected it first
//   DBCloseChildExitWatch(watch) releases a watch (-1 is ignored)
//   DBChildHasExited(pid)        true once the child has exited, or is no child of this process
//                                any more; does not collect it
// macOS: a kqueue holding an EVFILT_PROC/NOTE_EXIT event on the child, then waitpid(pid). A kqueue
// is never inherited by a child process. Linux: a process descriptor (pidfd_open, Linux 5.3) and
// waitid(P_PIDFD) (Linux 5.4), which collects exactly that process even after its number has been
// reused; waitpid(pid) where the kernel lacks them.
#ifndef DB_CHILD_EXIT_H
#define DB_CHILD_EXIT_H

#include <errno.h>
#include <signal.h>
#include <stdbool.h>
#include <string.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__APPLE__)
#include <sys/event.h>
#include <sys/time.h>
#else
#include <sys/syscall.h>
#endif

// The caller's result from a wait status: the exit status, or the number of the signal that ended it.
static inline int DBChildResultFromStatus(int status) {
  return WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status);
}

static inline int DBWaitForChildPid(pid_t pid, int *result) {
  int status = 0;
  pid_t got;
  while ((got = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  if (got < 0) return errno;
  *result = DBChildResultFromStatus(status);
  return 0;
}

static inline bool DBChildHasExited(pid_t pid) {
  siginfo_t info;
  memset(&info, 0, sizeof info);
  int answer;
  while ((answer = waitid(P_PID, (id_t)pid, &info, WEXITED | WNOHANG | WNOWAIT)) < 0 && errno == EINTR) {
  }
  if (answer < 0) return errno == ECHILD;
  return info.si_pid == pid;
}

static inline void DBCloseChildExitWatch(int watch) {
  if (watch >= 0) close(watch);
}

#if defined(__APPLE__)

static inline int DBChildExitWatch(pid_t pid) {
  int queue = kqueue();
  if (queue < 0) return -1;
  struct kevent change;
  EV_SET(&change, (uintptr_t)pid, EVFILT_PROC, EV_ADD | EV_ENABLE, NOTE_EXIT, 0, NULL);
  if (kevent(queue, &change, 1, NULL, 0, NULL) == 0) return queue;
  // ESRCH: the child has already exited (a process that is exiting or a zombie cannot be
  // watched). The queue is made readable at once by a user event that is triggered as it is added.
  if (errno == ESRCH) {
    EV_SET(&change, 1, EVFILT_USER, EV_ADD | EV_ENABLE, NOTE_TRIGGER, 0, NULL);
    if (kevent(queue, &change, 1, NULL, 0, NULL) == 0) return queue;
  }
  close(queue);
  return -1;
}

static inline int DBCollectChild(pid_t pid, int watch, int *result) { return DBWaitForChildPid(pid, result); }

#else  // Linux

static inline int DBChildExitWatch(pid_t pid) {
#if defined(__linux__) && defined(SYS_pidfd_open)
  int watch = (int)syscall(SYS_pidfd_open, pid, 0);  // close-on-exec
  return watch >= 0 ? watch : -1;
#else
  return -1;
#endif
}

static inline int DBCollectChild(pid_t pid, int watch, int *result) {
#if defined(__linux__)
  if (watch >= 0) {
    siginfo_t info;
    memset(&info, 0, sizeof info);
    int answer;
    while ((answer = waitid((idtype_t)3 /* P_PIDFD */, (id_t)watch, &info, WEXITED)) < 0 && errno == EINTR) {
    }
    if (answer == 0) {
      *result = info.si_status;  // the exit status for CLD_EXITED, else the signal's number
      return 0;
    }
    if (errno != EINVAL) return errno;  // EINVAL: a kernel before 5.4, which knows no P_PIDFD
  }
#endif
  return DBWaitForChildPid(pid, result);
}

#endif

#endif
