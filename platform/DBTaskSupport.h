// Launching, watching and collecting an NSTask's child process, as the process runner needs them:
//   DBTaskLaunch                 launches a configured task (standard streams as set on it)
//   DBTaskReapWhenExited         makes sure a launched task that nobody waits for is collected
//   DBTaskLaunchCapturingOutput  launches with standard output and error on one new pipe, and
//                                gives a descriptor that turns readable once the child has exited
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
  int exited;  // turns readable once the child has exited; -1 when the system gives no such watch
};

#import "DBPlatform.h"

#if defined(__APPLE__)
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

// NSTask collects its children itself.
static inline void DBTaskLaunch(NSTask *task) { [task launch]; }

static inline void DBTaskReapWhenExited(NSTask *task) {}

// -[NSTask waitUntilExit] runs the current run loop in the default mode until the task ends:
// called on the main thread, it could run a queued dialog's modal panel, or any other source of
// that loop, inside createProcess. So the wait is a pipe instead. The task's termination handler,
// which NSTask calls on a queue of its own once the task has ended and its status is set, closes
// the writing end; the reading end then reads end of file. The same end is the output drain's exit
// watch, with no process identifier to watch that NSTask may already have collected.
static inline void DBTaskLaunchCapturingOutput(NSTask *task, DBCapturedChild *child) {
  child->output = child->exited = -1;
  NSPipe *output = [NSPipe pipe];
  if (output == nil) [NSException raise:NSInvalidArgumentException format:@"NSTask - no pipe for the output"];
  [task setStandardOutput:output];
  [task setStandardError:output];
  int ended[2];
  if (pipe(ended) != 0)
    [NSException raise:NSInvalidArgumentException format:@"NSTask - no pipe to watch the task: %s", strerror(errno)];
  // Neither end may reach the child: a copy of the writing end there would keep the pipe open
  // after the handler has closed it.
  fcntl(ended[0], F_SETFD, FD_CLOEXEC);
  fcntl(ended[1], F_SETFD, FD_CLOEXEC);
  // The block holds a plain descriptor number: nothing to retain or release.
  int endedWriter = ended[1];
  @try {
    [task setTerminationHandler:^(NSTask *finished) {
      close(endedWriter);
    }];
    [task launch];
  } @catch (NSException *exception) {
    // Not launched: the handler never runs.
    [task setTerminationHandler:nil];
    close(ended[0]);
    close(ended[1]);
    @throw;
  }
  child->output = [[output fileHandleForReading] fileDescriptor];
  child->exited = ended[0];
}

static inline void DBTaskWaitForCapturedChild(NSTask *task, DBCapturedChild *child) {
  char byte;
  while (read(child->exited, &byte, 1) < 0 && errno == EINTR) {
  }
  close(child->exited);
  // The output descriptor belongs to the task's pipe object.
  [[[task standardOutput] fileHandleForReading] closeFile];
  child->output = child->exited = -1;
}
#endif

#endif
