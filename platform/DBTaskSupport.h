// Launching, watching and collecting an NSTask's child process, as the process runner needs them:
//   DBTaskLaunch                 launches a configured task (standard streams as set on it)
//   DBTaskReapWhenExited         makes sure a launched task that nobody waits for is collected
//   DBTaskLaunchCapturingOutput  launches with standard output and error on one new pipe, and
//                                gives a descriptor that turns readable once the child has exited
//   DBTaskDetachOutput           a descriptor of that child's output pipe that the caller owns,
//                                to go on reading it after the wait (-1 when none can be had)
//   DBTaskWaitForCapturedChild   blocks until that child has exited and its status is set,
//                                without running the caller's run loop, then closes both
// Each launch raises NSInvalidArgumentException when the task cannot be started, leaving nothing
// open or running. On macOS these are NSTask's own operations; on GNUstep they are the stand-ins of
// platform/gnustep/DBTaskSpawn.h, declared through DBPlatform.h.
#ifndef DB_TASK_SUPPORT_H
#define DB_TASK_SUPPORT_H

// A child launched to be waited for.
struct DBCapturedChild {
  int output;  // reading end of the pipe holding the child's standard output and error
  int exited;  // polls readable once the child has exited; -1 when the system gives no such watch
};

#import "DBPlatform.h"

#if defined(__APPLE__)
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/event.h>
#include <sys/time.h>
#include <sys/types.h>
#include <unistd.h>

// NSTask collects its children itself.
static inline void DBTaskLaunch(NSTask *task) { [task launch]; }

static inline void DBTaskReapWhenExited(NSTask *task) {}

// The identifier of the user event that marks the task's end in its kqueue.
enum { DBTaskEndedEvent = 1 };

// -[NSTask waitUntilExit] runs the current run loop in the default mode until the task ends:
// called on the main thread, it could run a queued dialog's modal panel, or any other source of
// that loop, inside createProcess. So the wait is a kqueue instead, holding one user event that
// the task's termination handler (called by NSTask on a queue of its own once the task has ended
// and its status is set) triggers. The event stays triggered once it is, and the queue turns
// readable then: it is also the output drain's exit watch, with no process identifier to watch
// that NSTask may already have collected. A kqueue is never inherited by a child process, so a
// program that another thread of the host starts meanwhile cannot hold the wait up, as a copy of
// a pipe's writing end would.
static inline void DBTaskLaunchCapturingOutput(NSTask *task, DBCapturedChild *child) {
  child->output = child->exited = -1;
  NSPipe *output = [NSPipe pipe];
  if (output == nil) [NSException raise:NSInvalidArgumentException format:@"NSTask - no pipe for the output"];
  [task setStandardOutput:output];
  [task setStandardError:output];
  int queue = kqueue();
  if (queue < 0)
    [NSException raise:NSInvalidArgumentException format:@"NSTask - no queue to watch the task: %s", strerror(errno)];
  struct kevent event;
  EV_SET(&event, DBTaskEndedEvent, EVFILT_USER, EV_ADD | EV_ENABLE, 0, 0, NULL);
  if (kevent(queue, &event, 1, NULL, 0, NULL) != 0) {
    int error = errno;
    close(queue);
    [NSException raise:NSInvalidArgumentException format:@"NSTask - no event to watch the task: %s", strerror(error)];
  }
  // The block holds a plain descriptor number: nothing to retain or release. The queue stays open
  // until the wait has seen the event, which this handler's kevent call delivers.
  int watchedQueue = queue;
  @try {
    [task setTerminationHandler:^(NSTask *finished) {
      struct kevent ended;
      EV_SET(&ended, DBTaskEndedEvent, EVFILT_USER, 0, NOTE_TRIGGER, 0, NULL);
      // Only a change, no wait: nothing interrupts it, and it is made exactly once (after it the
      // queue may be closed and its number reused).
      kevent(watchedQueue, &ended, 1, NULL, 0, NULL);
    }];
    [task launch];
  } @catch (NSException *exception) {
    // Not launched: the handler never runs.
    [task setTerminationHandler:nil];
    close(queue);
    @throw;
  }
  child->output = [[output fileHandleForReading] fileDescriptor];
  child->exited = queue;
}

// A descriptor of the output pipe's reading end that the caller owns (close-on-exec), or -1.
static inline int DBTaskDetachOutput(NSTask *task, DBCapturedChild *child) {
  return child->output >= 0 ? fcntl(child->output, F_DUPFD_CLOEXEC, 0) : -1;
}

static inline void DBTaskWaitForCapturedChild(NSTask *task, DBCapturedChild *child) {
  struct kevent event;
  int received;
  do {
    received = kevent(child->exited, NULL, 0, &event, 1, NULL);
  } while ((received < 0 && errno == EINTR) || (received == 1 && event.filter != EVFILT_USER));
  close(child->exited);
  // The output descriptor belongs to the task's pipe object.
  [[[task standardOutput] fileHandleForReading] closeFile];
  child->output = child->exited = -1;
}
#endif

#endif
