// Launching, watching and collecting an NSTask's child process. On macOS these are NSTask's own
// operations (NSTask collects its children itself); on GNUstep they are the stand-ins of
// platform/gnustep/DBTaskSpawn.h, declared through DBPlatform.h.
#ifndef DB_TASK_SUPPORT_H
#define DB_TASK_SUPPORT_H

#import "DBPlatform.h"

#if defined(__APPLE__)
#include <sys/event.h>
#include <unistd.h>

static inline void DBTaskLaunch(NSTask *task) { [task launch]; }

static inline void DBTaskWaitUntilExit(NSTask *task) { [task waitUntilExit]; }

// A kqueue that turns readable once the task's process has exited. A process that is already gone
// gives a queue with a user event already triggered.
static inline int DBTaskExitDescriptor(NSTask *task) {
  int queue = kqueue();
  if (queue < 0) return -1;
  struct kevent change;
  EV_SET(&change, [task processIdentifier], EVFILT_PROC, EV_ADD | EV_ONESHOT, NOTE_EXIT, 0, NULL);
  if (kevent(queue, &change, 1, NULL, 0, NULL) != 0) {
    EV_SET(&change, 1, EVFILT_USER, EV_ADD | EV_ONESHOT, NOTE_TRIGGER, 0, NULL);
    kevent(queue, &change, 1, NULL, 0, NULL);
  }
  return queue;
}

static inline void DBTaskReapWhenExited(NSTask *task) {}
#endif

#endif
