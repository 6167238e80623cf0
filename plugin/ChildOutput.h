// A child's combined output: read from its pipe while it runs, checked as UTF-8 as it arrives, and
// turned into the owned C string that decoding it as UTF-8 and copying it with MakeCString gives.
#ifndef DB_CHILD_OUTPUT_H
#define DB_CHILD_OUTPUT_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

struct DBChildOutput {
  char *bytes;       // malloc'd; null until the first read
  size_t length;     // bytes kept
  size_t capacity;   // allocated, always more than length
  size_t prefaulted; // bytes from the start whose pages are known to be mapped
  size_t validated;  // leading bytes known to be complete, well-formed UTF-8
  size_t firstNul;   // offset of the first NUL byte, SIZE_MAX while there is none
  bool invalid;      // an ill-formed sequence starts at `validated`
  bool keep;         // false: bytes are read and dropped
};

// An empty output that keeps its bytes or drops them.
DBChildOutput DBChildOutputInit(bool keep);

// What a poll() of a pipe's reading end reported (revents), with `pending` bytes in the pipe
// (FIONREAD): the pipe has ended only once every writer has closed it and nothing is left in it.
// Linux reports that as POLLHUP, macOS as POLLIN|POLLHUP (also for an empty pipe); POLLHUP with
// bytes pending, on either, means the bytes are still to be read.
enum DBPipeState { DBPipeQuiet, DBPipeHasData, DBPipeEnded };
DBPipeState DBPipeStateAfterPoll(short revents, int pending);

// Reads `fd` until end of file, or, once the child `pid` has exited, until the pipe has given what
// it held at that moment: a background process that inherited the pipe does not hold the caller
// up. `exitWatch` polls readable once the child has exited (DBChildExitWatch); with -1 the child
// is asked from time to time instead. Never leaves the child blocked on a full pipe. `output`
// starts as DBChildOutputInit gives it. True when the pipe reached its end (every writer has
// closed it); false when a process that inherited the pipe may still write to it.
bool DBDrainChildOutput(int fd, int exitWatch, pid_t pid, DBChildOutput *output);

// Releases the bytes of an output that is not handed over.
void DBDiscardChildOutput(DBChildOutput *output);

// The owned C string for the collected output: exactly what DBDecodeOutputString gives for the
// same bytes (null for output that is not UTF-8), reusing the read buffer where that is the
// same. The output's buffer belongs to the result afterwards, or is freed.
char *DBTakeOutputString(DBChildOutput *output);

// The platform's own path: the bytes decoded into a string object as UTF-8, then MakeCString
// (defined with the export, in Objective-C++).
char *DBDecodeOutputString(const char *bytes, size_t length);

// How many leading bytes of data form complete, well-formed UTF-8 sequences (Unicode's table of
// well-formed byte sequences: no overlong forms, no surrogates, nothing above U+10FFFF). Sets
// *invalid when the bytes at that offset are ill-formed, and leaves it alone when they are only
// the incomplete start of a sequence, which more bytes may complete.
size_t DBUTF8ValidPrefix(const unsigned char *data, size_t length, bool *invalid);

#endif
