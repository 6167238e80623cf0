// What the process runner leaves to a background thread once a call has returned: collecting
// detached children when they exit, and reading the output pipes that processes left running by a
// child still hold. One detached thread serves both (DBBackgroundThread.h); it starts with the
// first piece of work and ends when none is left. Thread-safe. A process forked from the host
// starts with none of it (the thread does not exist there).
#ifndef DB_BACKGROUND_CHILDREN_H
#define DB_BACKGROUND_CHILDREN_H

#include <stdbool.h>
#include <sys/types.h>

// At most this many pipes are read in the background; beyond it the oldest is closed (a process
// still writing to it then gets SIGPIPE, or EPIPE where it ignores that signal).
enum { DBLeftoverPipeLimit = 64 };

// Collects the child pid when it exits (no zombie is left). False when no thread could be started:
// the child is then collected by a later call's thread, or stays a zombie until the host exits.
bool DBReapInBackground(pid_t pid);

// Takes over fd, the reading end of a pipe that a process left running may still write to: reads
// and discards what arrives until the pipe ends, then closes it. Where no thread can be started,
// fd is closed at once.
void DBDrainInBackground(int fd);

// For tests: how many pipes are being read in the background now.
int DBLeftoverPipeCount(void);

#endif
