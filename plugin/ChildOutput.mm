// Reading a child's output while it runs, and turning it into the host's C string.
#include "ChildOutput.h"
#include "DesktopBridge.h"
#import "DBPlatform.h"
#include "DBBackgroundThread.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <vector>

namespace {

// Output up to this size is read in one piece per arrival, into a buffer sized to what arrived;
// beyond it every read has room for at least this much, in a buffer that doubles as it fills.
const size_t kMinimumRead = 64 * 1024;
const size_t kSmallestCapacity = 4096;

#pragma mark - UTF-8

// True when none of the 32 bytes at p has its high bit set.
inline bool AllASCII32(const unsigned char *p) {
  uint64_t a, b, c, d;
  memcpy(&a, p, 8);
  memcpy(&b, p + 8, 8);
  memcpy(&c, p + 16, 8);
  memcpy(&d, p + 24, 8);
  return ((a | b | c | d) & 0x8080808080808080ULL) == 0;
}

inline bool InRange(unsigned char byte, unsigned char low, unsigned char high) { return byte >= low && byte <= high; }

}  // namespace

size_t DBUTF8ValidPrefix(const unsigned char *data, size_t length, bool *invalid) {
  size_t i = 0;
  while (i < length) {
    if (length - i >= 32 && AllASCII32(data + i)) {
      i += 32;
      continue;
    }
    unsigned char lead = data[i];
    if (lead < 0x80) {
      i++;
      continue;
    }
    // The range allowed for the second byte, and the sequence's length, by lead byte.
    size_t size;
    unsigned char low = 0x80, high = 0xBF;
    if (InRange(lead, 0xC2, 0xDF)) {
      size = 2;
    } else if (lead == 0xE0) {
      size = 3, low = 0xA0;
    } else if (InRange(lead, 0xE1, 0xEC) || InRange(lead, 0xEE, 0xEF)) {
      size = 3;
    } else if (lead == 0xED) {
      size = 3, high = 0x9F;
    } else if (lead == 0xF0) {
      size = 4, low = 0x90;
    } else if (InRange(lead, 0xF1, 0xF3)) {
      size = 4;
    } else if (lead == 0xF4) {
      size = 4, high = 0x8F;
    } else {
      *invalid = true;
      return i;
    }
    size_t available = length - i;
    if (available >= 2 && !InRange(data[i + 1], low, high)) {
      *invalid = true;
      return i;
    }
    for (size_t k = 2; k < size && k < available; k++) {
      if (!InRange(data[i + k], 0x80, 0xBF)) {
        *invalid = true;
        return i;
      }
    }
    if (available < size) return i;  // a sequence the next bytes may complete
    i += size;
  }
  return i;
}

#pragma mark - Reading

namespace {

// Room for the next read and the terminating NUL: for `pending` more bytes (what the pipe holds)
// while the output is small, for at least kMinimumRead once it is not.
bool Reserve(DBChildOutput *output, size_t pending) {
  size_t wanted = output->length < kMinimumRead ? pending : kMinimumRead;
  if (output->bytes != NULL && output->capacity - output->length > wanted) return true;
  size_t capacity = output->capacity < kSmallestCapacity ? kSmallestCapacity : output->capacity * 2;
  while (capacity - output->length <= wanted) capacity *= 2;
  // Large blocks are moved by remapping pages, not copied; untouched capacity costs no memory.
  char *bytes = (char *)realloc(output->bytes, capacity);
  if (bytes == NULL) return false;
  output->bytes = bytes;
  output->capacity = capacity;
  return true;
}

// What the pipe holds now, at least 1 (a read then finds the end of the pipe, or waits no longer).
size_t Pending(int fd) {
  int pending = 0;
  if (ioctl(fd, FIONREAD, &pending) != 0 || pending <= 0) return 1;
  return (size_t)pending;
}

// Lets the pipe hold more before its writer blocks: far fewer wake-ups on both sides once the
// output is large. The system may refuse (a user's pipe budget), which costs only speed. Only where
// pipes can be resized (Linux).
void EnlargePipe(int fd) {
#ifdef F_SETPIPE_SZ
  const int largePipe = 1024 * 1024;
  if (fcntl(fd, F_SETPIPE_SZ, largePipe) < 0) fcntl(fd, F_SETPIPE_SZ, largePipe / 4);
#endif
}

// Maps the pages the next reads will fill, a few at a time in one call, instead of taking one fault
// per page inside the reads: this is most of what a large capture costs beyond the copy.
void Prefault(DBChildOutput *output) {
#ifdef MADV_POPULATE_WRITE
  const size_t ahead = 2 * 1024 * 1024;
  if (output->prefaulted == SIZE_MAX) return;  // not available here
  if (output->prefaulted < output->length) output->prefaulted = output->length;
  if (output->prefaulted - output->length >= ahead / 2) return;
  uintptr_t start = ((uintptr_t)output->bytes + output->prefaulted + 4095) & ~(uintptr_t)4095;
  uintptr_t limit = ((uintptr_t)output->bytes + output->capacity) & ~(uintptr_t)4095;
  uintptr_t end = start + ahead < limit ? start + ahead : limit;
  if (end <= start) return;
  if (madvise((void *)start, end - start, MADV_POPULATE_WRITE) == 0)
    output->prefaulted = end - (uintptr_t)output->bytes;
  else
    output->prefaulted = SIZE_MAX;
#endif
}

// Checks the bytes that have arrived since the last call, while they are still in the cache.
void Examine(DBChildOutput *output, size_t previousLength) {
  if (output->firstNul == SIZE_MAX) {
    const char *nul = (const char *)memchr(output->bytes + previousLength, 0, output->length - previousLength);
    if (nul != NULL) output->firstNul = (size_t)(nul - output->bytes);
  }
  if (output->invalid) return;
  output->validated += DBUTF8ValidPrefix((const unsigned char *)output->bytes + output->validated,
                                         output->length - output->validated, &output->invalid);
}

// True when every writer has closed the pipe and nothing is left in it; does not wait.
bool PipeHasEnded(int fd) {
  struct pollfd watched = {fd, POLLIN, 0};
  return poll(&watched, 1, 0) == 1 && (watched.revents & POLLHUP) && !(watched.revents & POLLIN);
}

// What a wait for the pipe found.
enum WaitOutcome {
  KeepReading,  // data has arrived, or the wait ended early: read again
  ExitedEmpty,  // the child has exited and the pipe holds nothing it wrote
  PipeEnded,    // every writer has closed the pipe and nothing is left in it
};

// Sleeps until the pipe has data or the child has exited. Once it has, what the child wrote is in
// the pipe; anything later comes from a process it left behind, which the caller does not wait for:
// *remaining is then what the pipe holds.
WaitOutcome WaitForDataOrExit(int fd, int *exitFd, bool *exited, size_t *remaining) {
  struct pollfd watched[2] = {{fd, POLLIN, 0}, {*exitFd, POLLIN, 0}};
  if (poll(watched, *exitFd >= 0 ? 2 : 1, -1) < 0) return KeepReading;  // interrupted: try again
  if (*exitFd >= 0 && (watched[1].revents & (POLLNVAL | POLLERR))) {
    *exitFd = -1;  // a watch this system cannot poll: fall back on the end of the pipe
    return KeepReading;
  }
  if (*exitFd >= 0 && watched[1].revents && !*exited) {
    int pending = 0;
    if (ioctl(fd, FIONREAD, &pending) != 0) pending = 0;
    *exited = true;
    *remaining = pending > 0 ? (size_t)pending : 0;
    if (*remaining > 0) return KeepReading;
    return (watched[0].revents & POLLHUP) && !(watched[0].revents & POLLIN) ? PipeEnded : ExitedEmpty;
  }
  if ((watched[0].revents & POLLHUP) && !(watched[0].revents & POLLIN)) return PipeEnded;
  return KeepReading;
}

}  // namespace

bool DBDrainChildOutput(int fd, int exitFd, DBChildOutput *output) {
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0 && !(flags & O_NONBLOCK)) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  bool exited = false;
  // The last read took less than it asked for, or nothing has been read yet (a child that has just
  // started has rarely written anything): wait before reading again.
  bool drained = true;
  bool enlarged = false;
  size_t total = 0;
  size_t remainingAfterExit = 0;
  char scratch[4096];
  for (;;) {
    if (drained && !exited) {
      drained = false;
      WaitOutcome outcome = WaitForDataOrExit(fd, &exitFd, &exited, &remainingAfterExit);
      if (outcome != KeepReading) return outcome == PipeEnded;
      continue;
    }
    char *target = scratch;
    size_t room = sizeof scratch;
    size_t pending = exited ? remainingAfterExit : total < kMinimumRead ? Pending(fd) : kMinimumRead;
    if (Reserve(output, pending)) {
      if (output->keep && output->capacity >= 1024 * 1024) Prefault(output);
      target = output->bytes + output->length;
      room = output->capacity - output->length - 1;
    } else if (output->keep) {
      // Out of memory: go on draining so that the child can finish, and keep nothing.
      output->keep = false;
      output->invalid = true;
      output->length = 0;
    }
    if (exited && remainingAfterExit < room) room = remainingAfterExit;
    ssize_t n = read(fd, target, room);
    if (n > 0) {
      drained = (size_t)n < room;
      total += (size_t)n;
      if (!enlarged && total >= kMinimumRead) {
        EnlargePipe(fd);
        enlarged = true;
      }
      if (target != scratch) {
        output->length += (size_t)n;
        if (output->keep) {
          Examine(output, output->length - (size_t)n);
        } else {
          output->length = 0;
        }
      }
      if (exited) {
        remainingAfterExit -= (size_t)n;
        if (remainingAfterExit == 0) return PipeHasEnded(fd);
      }
      continue;
    }
    if (n == 0) return true;  // every writer has closed the pipe
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return true;  // nothing more can be read from it
    if (exited) return PipeHasEnded(fd);  // the child has gone and the pipe is empty

    WaitOutcome outcome = WaitForDataOrExit(fd, &exitFd, &exited, &remainingAfterExit);
    if (outcome != KeepReading) return outcome == PipeEnded;
  }
}

#pragma mark - Pipes left to processes the child left running

namespace {

// The pipes handed over and not yet ended, watched by one background thread while there are any.
// The thread is woken through its own pipe when another one is added.
pthread_mutex_t leftoverLock = PTHREAD_MUTEX_INITIALIZER;
std::vector<int> *leftoverPipes;
int leftoverWake[2] = {-1, -1};
bool leftoverThreadRunning = false;

// Reads what the pipe holds and drops it, a bounded amount at a time so that a writer that never
// pauses does not keep the other pipes waiting; true once the pipe has ended (or cannot be read).
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

void *LeftoverDrainMain(void *) {
  std::vector<struct pollfd> watched;
  for (;;) {
    watched.clear();
    pthread_mutex_lock(&leftoverLock);
    if (leftoverPipes->empty()) {
      // Nothing is kept open while no pipe is left.
      close(leftoverWake[0]);
      close(leftoverWake[1]);
      leftoverWake[0] = leftoverWake[1] = -1;
      leftoverThreadRunning = false;
      pthread_mutex_unlock(&leftoverLock);
      return NULL;
    }
    struct pollfd wake = {leftoverWake[0], POLLIN, 0};
    watched.push_back(wake);
    for (int fd : *leftoverPipes) {
      struct pollfd entry = {fd, POLLIN, 0};
      watched.push_back(entry);
    }
    pthread_mutex_unlock(&leftoverLock);

    if (poll(watched.data(), (nfds_t)watched.size(), -1) < 0) continue;
    if (watched[0].revents) DiscardAvailable(watched[0].fd);
    for (size_t i = 1; i < watched.size(); i++) {
      if (!watched[i].revents || !DiscardAvailable(watched[i].fd)) continue;
      pthread_mutex_lock(&leftoverLock);
      for (auto it = leftoverPipes->begin(); it != leftoverPipes->end(); ++it) {
        if (*it == watched[i].fd) {
          leftoverPipes->erase(it);
          break;
        }
      }
      pthread_mutex_unlock(&leftoverLock);
      close(watched[i].fd);
    }
  }
}

// The wake pipe, made while the thread runs: non-blocking, and never inherited by a child.
bool MakeWakePipe() {
  if (leftoverWake[0] >= 0) return true;
  int fds[2];
#if !defined(__APPLE__)
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
#else
  // A program another thread starts in between may inherit these ends; it only keeps this pipe
  // open, which nothing here waits on.
  if (pipe(fds) != 0) return false;
  for (int fd : fds) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
#endif
  leftoverWake[0] = fds[0];
  leftoverWake[1] = fds[1];
  return true;
}


}  // namespace

void DBDrainInBackground(int fd) {
  if (fd < 0) return;
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0 && !(flags & O_NONBLOCK)) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  pthread_mutex_lock(&leftoverLock);
  bool accepted = MakeWakePipe();
  if (accepted) {
    if (leftoverPipes == NULL) leftoverPipes = new std::vector<int>();
    leftoverPipes->push_back(fd);
    if (!leftoverThreadRunning) {
      leftoverThreadRunning = DBStartBackgroundThread(LeftoverDrainMain, NULL);
      if (!leftoverThreadRunning) {
        leftoverPipes->pop_back();
        accepted = false;
      }
    } else {
      char wake = 1;
      ssize_t ignored = write(leftoverWake[1], &wake, 1);
      (void)ignored;
    }
  }
  if (!leftoverThreadRunning && leftoverWake[0] >= 0) {
    close(leftoverWake[0]);
    close(leftoverWake[1]);
    leftoverWake[0] = leftoverWake[1] = -1;
  }
  pthread_mutex_unlock(&leftoverLock);
  // Without the thread the pipe is closed as before: the process holding it gets SIGPIPE.
  if (!accepted) close(fd);
}

DBChildOutput DBChildOutputInit(bool keep) {
  DBChildOutput output;
  memset(&output, 0, sizeof output);
  output.firstNul = SIZE_MAX;
  output.keep = keep;
  return output;
}

void DBDiscardChildOutput(DBChildOutput *output) {
  free(output->bytes);
  output->bytes = NULL;
  output->length = output->capacity = output->validated = output->prefaulted = 0;
  output->firstNul = SIZE_MAX;
}

#pragma mark - The host's string

char *DBDecodeOutputString(const char *bytes, size_t length) {
  char *result = NULL;
  @autoreleasepool {
    NSData *data = [NSData dataWithBytesNoCopy:(void *)bytes length:length freeWhenDone:NO];
    NSString *string = [[NSString alloc] initWithData:data encoding:NSUTF8StringEncoding];
    result = MakeCString(string);
    [string release];
  }
  return result;
}

char *DBTakeOutputString(DBChildOutput *output) {
  char *result = NULL;
  if (!output->keep || output->invalid || output->validated != output->length) {
    // Ill-formed or cut short: the platform's decoding gives no string.
    result = NULL;
  } else if (output->length >= 3 && memcmp(output->bytes, "\xEF\xBB\xBF", 3) == 0) {
    // A leading byte-order mark is treated by the platform's decoder in its own way: let it.
    result = DBDecodeOutputString(output->bytes, output->length);
  } else if (output->bytes == NULL) {
    result = (char *)calloc(1, 1);
  } else {
    // Well-formed UTF-8 decodes and encodes back to the same bytes; the C string ends at the
    // first NUL, as the copy's strlen would.
    size_t used = output->firstNul < output->length ? output->firstNul : output->length;
    output->bytes[used] = 0;
    result = output->bytes;
    if (output->capacity != used + 1) {
      char *shrunk = (char *)realloc(output->bytes, used + 1);
      if (shrunk != NULL) result = shrunk;
    }
    output->bytes = NULL;
  }
  DBDiscardChildOutput(output);
  return result;
}
