// The background thread of the process runner: detached children collected when they exit, and
// leftover output pipes read until they end. See BackgroundChildren.h.
#include "BackgroundChildren.h"
#include "DBBackgroundThread.h"
#include "DBChildExit.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

// Writes one line to the system log (defined with the export, in Objective-C++).
void DBLogLine(const char *text);

namespace {

// Room for pipes handed over between two rounds of the thread, which closes the oldest beyond the
// limit at the start of each round.
const int kPipeRoom = 2 * DBLeftoverPipeLimit;
// At most this many detached children are watched with a descriptor of their own; the others are
// asked for their state every kProbeMilliseconds, so that the bundle never fills the host's
// descriptor table with watches.
const int kWatchLimit = 64;
const int kProbeMilliseconds = 100;

struct Detached {
  pid_t pid;
  int watch;  // DBChildExitWatch, or -1
};

// All of it under `lock`. Only the thread closes the descriptors listed here (pipes, watches, the
// wake pipe), so that a descriptor it polls is never closed and reused under it; callers only add.
pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
int pipes[kPipeRoom];  // oldest first
int pipeCount = 0;
Detached *children = NULL;  // malloc'd, never shrunk
size_t childCount = 0, childCapacity = 0;
int watchCount = 0;
int wakeFds[2] = {-1, -1};  // wakes the thread when work is added; -1 when none could be made
bool running = false;
pthread_once_t forkHandlersOnce = PTHREAD_ONCE_INIT;

#pragma mark - A forked host

void BeforeFork() { pthread_mutex_lock(&lock); }
void AfterForkInParent() { pthread_mutex_unlock(&lock); }

// The new process has no background thread, and the children listed are not its own: it starts
// with nothing, and closes its copies of the descriptors.
void AfterForkInChild() {
  for (int i = 0; i < pipeCount; i++) close(pipes[i]);
  for (size_t i = 0; i < childCount; i++)
    if (children[i].watch >= 0) close(children[i].watch);
  for (int &fd : wakeFds) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  pipeCount = 0;
  childCount = 0;
  watchCount = 0;
  running = false;
  pthread_mutex_t fresh = PTHREAD_MUTEX_INITIALIZER;
  lock = fresh;
}

void InstallForkHandlers() { pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild); }

#pragma mark - The thread

void BackOff(int *failures) {
  int milliseconds = *failures < 10 ? 1 << *failures : 1000;
  (*failures)++;
  struct timespec pause = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  nanosleep(&pause, NULL);
}

// Reads what the pipe holds and drops it, a bounded amount at a time so that a writer that never
// pauses does not keep the other pipes waiting; true once the pipe has ended (a read of 0) or
// cannot be read.
bool DiscardAvailable(int fd) {
  char scratch[16384];
  for (int reads = 0; reads < 64;) {
    ssize_t n = read(fd, scratch, sizeof scratch);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return !(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
    reads++;
  }
  return false;
}

void RemovePipe(int fd) {
  for (int i = 0; i < pipeCount; i++) {
    if (pipes[i] != fd) continue;
    memmove(pipes + i, pipes + i + 1, (size_t)(pipeCount - i - 1) * sizeof *pipes);
    pipeCount--;
    return;
  }
}

void RemoveChild(size_t index) {
  if (children[index].watch >= 0) watchCount--;
  children[index] = children[childCount - 1];
  childCount--;
}

// Collects the unwatched children that have exited. Under lock.
void ProbeUnwatchedChildren() {
  for (size_t i = 0; i < childCount;) {
    int status;
    pid_t got = children[i].watch < 0 ? waitpid(children[i].pid, &status, WNOHANG) : 0;
    if (got > 0 || (got < 0 && errno == ECHILD)) {
      RemoveChild(i);
    } else {
      i++;
    }
  }
}

enum Kind { Wake, Pipe, Watch };

void *BackgroundMain(void *) {
  struct pollfd watched[1 + kPipeRoom + kWatchLimit];
  Kind kinds[1 + kPipeRoom + kWatchLimit];
  int failures = 0;
  for (;;) {
    pthread_mutex_lock(&lock);
    while (pipeCount > DBLeftoverPipeLimit) {
      close(pipes[0]);
      RemovePipe(pipes[0]);
    }
    if (pipeCount == 0 && childCount == 0) {
      // Nothing is kept open while there is nothing to do.
      for (int &fd : wakeFds) {
        if (fd >= 0) close(fd);
        fd = -1;
      }
      running = false;
      pthread_mutex_unlock(&lock);
      return NULL;
    }
    nfds_t count = 0;
    bool probe = wakeFds[0] < 0;
    if (wakeFds[0] >= 0) {
      watched[count] = {wakeFds[0], POLLIN, 0};
      kinds[count++] = Wake;
    }
    for (int i = 0; i < pipeCount; i++) {
      watched[count] = {pipes[i], POLLIN, 0};
      kinds[count++] = Pipe;
    }
    for (size_t i = 0; i < childCount; i++) {
      if (children[i].watch < 0) {
        probe = true;
        continue;
      }
      watched[count] = {children[i].watch, POLLIN, 0};
      kinds[count++] = Watch;
    }
    pthread_mutex_unlock(&lock);

    if (poll(watched, count, probe ? kProbeMilliseconds : -1) < 0) {
      // EINVAL (more descriptors than the limit allows), ENOMEM: wait, never spin.
      if (errno != EINTR) BackOff(&failures);
      continue;
    }
    failures = 0;
    for (nfds_t k = 0; k < count; k++) {
      if (watched[k].revents == 0) continue;
      int fd = watched[k].fd;
      if (kinds[k] == Wake) {
        DiscardAvailable(fd);
      } else if (kinds[k] == Pipe) {
        if (!DiscardAvailable(fd)) continue;
        pthread_mutex_lock(&lock);
        RemovePipe(fd);
        pthread_mutex_unlock(&lock);
        close(fd);
      } else {
        pid_t pid = 0;
        pthread_mutex_lock(&lock);
        for (size_t i = 0; i < childCount; i++) {
          if (children[i].watch == fd) {
            pid = children[i].pid;
            RemoveChild(i);
            break;
          }
        }
        pthread_mutex_unlock(&lock);
        int ignored;
        if (pid > 0) DBCollectChild(pid, fd, &ignored);  // ECHILD: someone else collected it
        DBCloseChildExitWatch(fd);
      }
    }
    if (probe) {
      pthread_mutex_lock(&lock);
      ProbeUnwatchedChildren();
      pthread_mutex_unlock(&lock);
    }
  }
}

// Makes the wake pipe: non-blocking, never inherited by a child. Under lock.
void MakeWakePipe() {
  if (wakeFds[0] >= 0) return;
  int fds[2];
  if (pipe(fds) != 0) return;  // the thread then looks for new work every kProbeMilliseconds
  for (int fd : fds) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  wakeFds[0] = fds[0];
  wakeFds[1] = fds[1];
}

// Starts the thread, or wakes it. Under lock. False when no thread could be started.
bool StartOrWake() {
  pthread_once(&forkHandlersOnce, InstallForkHandlers);
  if (running) {
    if (wakeFds[1] >= 0) {
      char wake = 1;
      ssize_t ignored = write(wakeFds[1], &wake, 1);
      (void)ignored;
    }
    return true;
  }
  MakeWakePipe();
  running = DBStartBackgroundThread(BackgroundMain, NULL);
  if (!running) {
    for (int &fd : wakeFds) {
      if (fd >= 0) close(fd);
      fd = -1;
    }
  }
  return running;
}

}  // namespace

bool DBReapInBackground(pid_t pid) {
  int watch = DBChildExitWatch(pid);
  pthread_mutex_lock(&lock);
  bool listed = true;
  if (childCount == childCapacity) {
    size_t capacity = childCapacity == 0 ? 16 : childCapacity * 2;
    Detached *grown = (Detached *)realloc(children, capacity * sizeof *children);
    if (grown != NULL) {
      children = grown;
      childCapacity = capacity;
    } else {
      listed = false;
    }
  }
  if (listed) {
    if (watch >= 0 && watchCount >= kWatchLimit) {
      close(watch);
      watch = -1;
    }
    if (watch >= 0) watchCount++;
    children[childCount++] = {pid, watch};
  } else if (watch >= 0) {
    close(watch);
  }
  // A child left listed by a failed start is collected once a later call starts the thread.
  bool started = listed && StartOrWake();
  pthread_mutex_unlock(&lock);
  if (!started) {
    char line[96];
    snprintf(line, sizeof line, "createProcess: no background thread to collect process %d", (int)pid);
    DBLogLine(line);
  }
  return started;
}

void DBDrainInBackground(int fd) {
  if (fd < 0) return;
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0 && !(flags & O_NONBLOCK)) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  pthread_mutex_lock(&lock);
  // A full list means the thread has not run since many pipes arrived: this one, which it has not
  // seen, is the one closed.
  bool accepted = pipeCount < kPipeRoom;
  if (accepted) {
    pipes[pipeCount++] = fd;
    if (!StartOrWake()) {
      RemovePipe(fd);
      accepted = false;
    }
  }
  pthread_mutex_unlock(&lock);
  // Without the thread the pipe is closed: the process holding it gets SIGPIPE at its next write.
  if (!accepted) close(fd);
}

int DBLeftoverPipeCount(void) {
  pthread_mutex_lock(&lock);
  int count = pipeCount;
  pthread_mutex_unlock(&lock);
  return count;
}
