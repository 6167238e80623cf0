// The work of createProcess, in plain C++: no exception leaves it.
#include "ProcessRunner.h"
#include "BackgroundChildren.h"
#include "DBChildExit.h"
#include "ProcessSpawn.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <new>
#include <string>
#include <vector>

namespace {

// A malloc'd description, or null when there is no memory for it.
char *Describe(const char *format, ...) __attribute__((format(printf, 1, 2)));
char *Describe(const char *format, ...) {
  va_list arguments, again;
  va_start(arguments, format);
  va_copy(again, arguments);
  int length = vsnprintf(NULL, 0, format, arguments);
  char *text = length >= 0 ? (char *)malloc((size_t)length + 1) : NULL;
  if (text != NULL) vsnprintf(text, (size_t)length + 1, format, again);
  va_end(again);
  va_end(arguments);
  return text;
}

bool IsUTF8(const char *text) {
  size_t length = strlen(text);
  bool invalid = false;
  return DBUTF8ValidPrefix((const unsigned char *)text, length, &invalid) == length;
}

// Closes the descriptor it holds when it goes out of scope.
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
  int release() {
    int held = fd;
    fd = -1;
    return held;
  }
};

// A descriptor above the standard ones, close-on-exec: a standard descriptor the host has closed
// must not become one end of the pipe.
bool AboveStandardDescriptors(Descriptor *descriptor) {
  if (descriptor->fd > STDERR_FILENO) return fcntl(descriptor->fd, F_SETFD, FD_CLOEXEC) == 0;
  int moved = fcntl(descriptor->fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  if (moved < 0) return false;
  close(descriptor->fd);
  descriptor->fd = moved;
  return true;
}

// The output pipe, both ends close-on-exec and above the standard descriptors; an error number on
// failure.
int MakeOutputPipe(Descriptor *readEnd, Descriptor *writeEnd) {
  int fds[2];
#if !defined(__APPLE__)
  if (pipe2(fds, O_CLOEXEC) != 0) return errno;
#else
  // macOS has no pipe2: a program another thread of the host forks meanwhile may inherit these
  // ends until they are marked below; the exit watch keeps a call from waiting on such a copy.
  if (pipe(fds) != 0) return errno;
#endif
  readEnd->fd = fds[0];
  writeEnd->fd = fds[1];
  if (!AboveStandardDescriptors(readEnd) || !AboveStandardDescriptors(writeEnd)) return errno != 0 ? errno : EMFILE;
  return 0;
}

char *DescribeSpawnFailure(const DBSpawnRequest &request, int error, DBSpawnStep step) {
  switch (step) {
    case DBSpawnStepDirectory:
      return Describe("createProcess: cannot enter the working directory \"%s\": %s", request.directory,
                      strerror(error));
    case DBSpawnStepProgram:
      if (strchr(request.program, '/') == NULL && error == ENOENT)
        return Describe("createProcess: cannot run \"%s\": no such program in PATH", request.program);
      return Describe("createProcess: cannot run \"%s\": %s", request.program, strerror(error));
    case DBSpawnStepStart:
    default:
      return Describe("createProcess: cannot start \"%s\": %s", request.program, strerror(error));
  }
}

bool Run(const char *launchPath, const char *arguments, const char *workingDirectory, bool waitForExit,
         DBSpawnMethod method, DBChildOutput *output, int *result, char **failure) {
  if (launchPath == NULL) return (*failure = Describe("createProcess: no launch path (null)")), false;
  if (arguments == NULL) return (*failure = Describe("createProcess: no arguments (null)")), false;
  if (workingDirectory != NULL && workingDirectory[0] == 0) workingDirectory = NULL;
  // Text that is not UTF-8 is refused: the literal reading would run the program without the
  // text, something the host never asked for.
  if (!IsUTF8(launchPath)) return (*failure = Describe("createProcess: the launch path is not valid UTF-8")), false;
  if (!IsUTF8(arguments)) return (*failure = Describe("createProcess: the arguments are not valid UTF-8")), false;
  if (workingDirectory != NULL && !IsUTF8(workingDirectory))
    return (*failure = Describe("createProcess: the working directory is not valid UTF-8")), false;

  // The arguments, split at every separator and nowhere else, as the host's bytes.
  std::string pieces(arguments);
  std::vector<char *> argv;
  argv.push_back(const_cast<char *>(launchPath));
  DBSplitProcessArguments(&pieces[0], &argv);
  argv.push_back(NULL);

  DBSpawnRequest request = {launchPath, argv.data(), workingDirectory, -1};
  DBSpawnStep step = DBSpawnStepStart;
  pid_t pid = -1;
  if (!waitForExit) {
    int error = DBSpawnChild(&request, method, &pid, &step);
    if (error != 0) return (*failure = DescribeSpawnFailure(request, error, step)), false;
    DBReapInBackground(pid);
    *result = 0;
    return true;
  }

  // One pipe for both streams, so that the two are interleaved in one text. It is drained while
  // the child runs: a child never blocks on a full pipe, whether or not the host wants the text.
  Descriptor readEnd, writeEnd;
  int error = MakeOutputPipe(&readEnd, &writeEnd);
  if (error != 0) return (*failure = Describe("createProcess: no pipe for the output: %s", strerror(error))), false;
  request.output = writeEnd.fd;
  error = DBSpawnChild(&request, method, &pid, &step);
  close(writeEnd.release());
  if (error != 0) return (*failure = DescribeSpawnFailure(request, error, step)), false;

  // From here on nothing throws. The drain ends once the child has exited and the pipe is empty.
  // A process the child left running may still hold the pipe: it is read on in the background
  // until it ends, so that such a process is not killed at its next write.
  int watch = DBChildExitWatch(pid);
  if (DBDrainChildOutput(readEnd.fd, watch, pid, output)) {
    close(readEnd.release());
  } else {
    DBDrainInBackground(readEnd.release());
  }
  error = DBCollectChild(pid, watch, result);
  DBCloseChildExitWatch(watch);
  if (error == ECHILD)
    return (*failure = Describe("createProcess: the exit status of process %d (\"%s\") was collected elsewhere in the "
                                "host, by a wait for any child or because the host ignores SIGCHLD",
                                (int)pid, launchPath)),
           false;
  if (error != 0)
    return (*failure = Describe("createProcess: cannot collect process %d: %s", (int)pid, strerror(error))), false;
  return true;
}

}  // namespace

void DBSplitProcessArguments(char *joined, std::vector<char *> *pieces) {
  char *piece = joined;
  for (char *cursor = joined;; cursor++) {
    if (*cursor != DBProcessArgumentSeparator && *cursor != 0) continue;
    bool last = *cursor == 0;
    *cursor = 0;
    pieces->push_back(piece);
    if (last) return;
    piece = cursor + 1;
  }
}

bool DBRunProcess(const char *launchPath, const char *arguments, const char *workingDirectory, bool waitForExit,
                  DBSpawnMethod method, DBChildOutput *output, int *result, char **failure, bool *unexpected) {
  *failure = NULL;
  *unexpected = false;
  try {
    return Run(launchPath, arguments, workingDirectory, waitForExit, method, output, result, failure);
  } catch (const std::bad_alloc &) {
    *failure = Describe("createProcess: out of memory");
  } catch (const std::exception &exception) {
    *unexpected = true;
    *failure = Describe("createProcess: %s", exception.what());
  } catch (...) {
    *unexpected = true;
    *failure = Describe("createProcess: an unexpected exception");
  }
  return false;
}
