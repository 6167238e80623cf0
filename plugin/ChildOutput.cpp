// Reading a child's output while it runs, and turning it into the host's C string.
#include "ChildOutput.h"
#include "DBChildExit.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

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

// How long a poll waits for the child's exit when there is no exit watch to poll.
const int kExitProbeMilliseconds = 20;

// True when every writer has closed the pipe and nothing is left in it; does not wait.
bool PipeHasEnded(int fd) {
  struct pollfd watched = {fd, POLLIN, 0};
  if (poll(&watched, 1, 0) < 0) return false;
  int pending = 0;
  if (ioctl(fd, FIONREAD, &pending) != 0) pending = 0;
  return DBPipeStateAfterPoll(watched.revents, pending) == DBPipeEnded;
}

// Sleeps a little longer each time a poll fails for want of resources, so that it never spins.
void BackOff(int *failures) {
  int milliseconds = *failures < 7 ? 1 << *failures : 100;
  (*failures)++;
  struct timespec pause = {0, milliseconds * 1000000L};
  nanosleep(&pause, NULL);
}

// What a wait for the pipe found.
enum WaitOutcome {
  KeepReading,  // data has arrived, or the wait ended early: read again
  ExitedEmpty,  // the child has exited and the pipe holds nothing it wrote
  PipeEnded,    // every writer has closed the pipe and nothing is left in it
};

// Sleeps until the pipe has data, has ended, or the child has exited. Once the child has exited,
// what it wrote is in the pipe; anything later comes from a process it left behind, which the
// caller does not wait for: *remaining is then what the pipe holds.
WaitOutcome WaitForDataOrExit(int fd, int *exitWatch, pid_t pid, bool *exited, size_t *remaining, int *failures) {
  struct pollfd watched[2] = {{fd, POLLIN, 0}, {*exitWatch, POLLIN, 0}};
  bool probe = *exitWatch < 0 && pid > 0;
  int ready = poll(watched, *exitWatch >= 0 ? 2 : 1, probe ? kExitProbeMilliseconds : -1);
  if (ready < 0) {
    if (errno != EINTR) BackOff(failures);
    return KeepReading;
  }
  *failures = 0;
  if (*exitWatch >= 0 && (watched[1].revents & (POLLNVAL | POLLERR))) {
    *exitWatch = -1;  // a watch this system cannot poll: ask the child's state instead
    return KeepReading;
  }
  int pending = 0;
  if (ioctl(fd, FIONREAD, &pending) != 0) pending = 0;
  DBPipeState state = DBPipeStateAfterPoll(watched[0].revents, pending);
  if (state == DBPipeEnded) return PipeEnded;
  bool hasExited = *exitWatch >= 0 ? watched[1].revents != 0 : probe && DBChildHasExited(pid);
  if (hasExited) {
    *exited = true;
    *remaining = pending > 0 ? (size_t)pending : 0;
    return *remaining > 0 ? KeepReading : ExitedEmpty;
  }
  return KeepReading;
}

}  // namespace

DBPipeState DBPipeStateAfterPoll(short revents, int pending) {
  if (revents & POLLNVAL) return DBPipeEnded;  // nothing can be read from it
  if (pending > 0) return DBPipeHasData;
  if (revents & (POLLHUP | POLLERR)) return DBPipeEnded;
  // POLLIN with nothing pending: a read will tell.
  return (revents & POLLIN) ? DBPipeHasData : DBPipeQuiet;
}

bool DBDrainChildOutput(int fd, int exitWatch, pid_t pid, DBChildOutput *output) {
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0 && !(flags & O_NONBLOCK)) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  bool exited = false;
  // The last read took less than it asked for, or nothing has been read yet (a child that has just
  // started has rarely written anything): wait before reading again.
  bool drained = true;
  bool enlarged = false;
  size_t total = 0;
  size_t remainingAfterExit = 0;
  int failures = 0;
  char scratch[4096];
  for (;;) {
    if (drained && !exited) {
      drained = false;
      WaitOutcome outcome = WaitForDataOrExit(fd, &exitWatch, pid, &exited, &remainingAfterExit, &failures);
      if (outcome == PipeEnded) return true;
      if (outcome == ExitedEmpty) return PipeHasEnded(fd);
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
    drained = true;
  }
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
