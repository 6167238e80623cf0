// Starting a child process for createProcess: the program, its arguments and the host's
// environment as the host's bytes, unchanged. Plain C++, no Objective-C.
#ifndef DB_PROCESS_SPAWN_H
#define DB_PROCESS_SPAWN_H

#include <sys/types.h>

struct DBSpawnRequest {
  const char *program;    // with a slash: that file; without: looked up in PATH as a shell does
  char *const *argv;      // null-terminated
  const char *directory;  // the child's working directory; null: the host's
  int output;             // the child's standard output and error; -1: the host's
};

// Where a start failed.
enum DBSpawnStep {
  DBSpawnStepStart,      // no process could be made (process limit, memory)
  DBSpawnStepDirectory,  // the working directory could not be entered
  DBSpawnStepProgram,    // the program could not be run (missing, not executable, too many arguments)
};

enum DBSpawnMethod {
  DBSpawnBest,  // posix_spawn where it can do everything asked, else DBSpawnByFork
  DBSpawnByFork,  // fork, then only async-signal-safe calls until execve
};

// Starts the child: standard input as the host's, standard output and error as asked, every other
// descriptor closed, every signal at its default disposition and none blocked. Returns 0 and the
// child's pid, or an error number and the step that failed (nothing is left running then). May
// throw std::bad_alloc before anything has been started.
int DBSpawnChild(const DBSpawnRequest *request, DBSpawnMethod method, pid_t *pid, DBSpawnStep *step);

#endif
