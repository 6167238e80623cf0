// A detached helper thread with a small stack that never takes the host's signals: the process
// runner's background thread (detached children collected, leftover output drained) and the
// GNUstep workspace launch's reaper run on such threads.
#ifndef DB_BACKGROUND_THREAD_H
#define DB_BACKGROUND_THREAD_H

#include <pthread.h>
#include <signal.h>

// Starts body(argument) on a new detached thread with every signal blocked; false when no thread
// could be started.
static inline bool DBStartBackgroundThread(void *(*body)(void *), void *argument) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attributes, 64 * 1024);
  // The new thread inherits the mask in force while it is created.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  pthread_t thread;
  bool started = pthread_create(&thread, &attributes, body, argument) == 0;
  pthread_sigmask(SIG_SETMASK, &previous, NULL);
  pthread_attr_destroy(&attributes);
  return started;
}

#endif
