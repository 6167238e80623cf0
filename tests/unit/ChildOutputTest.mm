// The captured-output path (UTF-8 checked as the bytes arrive, the read buffer handed over) against
// the platform's path (decoding into a string object, then MakeCString), byte for byte.
#import <Foundation/Foundation.h>
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_NEEDS_NO_DISPLAY();
#include "ChildOutput.h"

#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

namespace {

struct Case {
  const char *name;
  std::string bytes;
};

std::string B(const char *literal, size_t length) { return std::string(literal, length); }
#define BYTES(literal) B(literal, sizeof(literal) - 1)

const std::vector<Case> &Corpus() {
  static const std::vector<Case> corpus = {
      {"empty", ""},
      {"ascii", "plain text, long enough to cross the 32-byte ASCII stride at least once\n"},
      {"two-byte", BYTES("caf\xC3\xA9 \xC3\xBC")},
      {"three-byte", BYTES("\xE2\x82\xAC 100 \xE4\xB8\xAD\xE6\x96\x87")},
      {"four-byte", BYTES("\xF0\x9F\x98\x80 smile \xF4\x8F\xBF\xBF")},
      {"edges of ranges", BYTES("\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF0\x90\x80\x80")},
      {"noncharacters", BYTES("\xEF\xBF\xBE\xEF\xBF\xBF\xEF\xB7\x90")},
      {"lone continuation", BYTES("a\x80" "b")},
      {"invalid lead bytes", BYTES("a\xFE\xFF")},
      {"C0 overlong NUL", BYTES("a\xC0\x80" "b")},
      {"C1 overlong", BYTES("\xC1\xBF")},
      {"E0 overlong", BYTES("\xE0\x80\xAF")},
      {"E0 overlong high", BYTES("\xE0\x9F\xBF")},
      {"F0 overlong", BYTES("\xF0\x8F\xBF\xBF")},
      {"above U+10FFFF", BYTES("\xF4\x90\x80\x80")},
      {"F5 lead", BYTES("\xF5\x80\x80\x80")},
      {"five-byte form", BYTES("\xF8\x88\x80\x80\x80")},
      {"high surrogate", BYTES("x\xED\xA0\x80y")},
      {"low surrogate", BYTES("x\xED\xBF\xBFy")},
      {"surrogate pair encoded", BYTES("\xED\xA0\xBD\xED\xB8\x80")},
      {"truncated at end", BYTES("ok\xE2\x82")},
      {"truncated four at end", BYTES("ok\xF0\x9F\x98")},
      {"truncated then ascii", BYTES("\xE2\x82z")},
      {"byte-order mark only", BYTES("\xEF\xBB\xBF")},
      {"byte-order mark first", BYTES("\xEF\xBB\xBF" "abc")},
      {"two byte-order marks", BYTES("\xEF\xBB\xBF\xEF\xBB\xBF" "abc")},
      {"three byte-order marks", BYTES("\xEF\xBB\xBF\xEF\xBB\xBF\xEF\xBB\xBF\xC3\xA9")},
      {"byte-order mark inside", BYTES("ab\xEF\xBB\xBF" "c")},
      {"byte-order mark then NUL", BYTES("\xEF\xBB\xBF\0tail")},
      {"byte-order mark then invalid", BYTES("\xEF\xBB\xBF\xFF")},
      {"NUL inside", BYTES("ab\0cd")},
      {"NUL first", BYTES("\0cd")},
      {"NUL then invalid", BYTES("ab\0\xFF")},
      {"UTF-16 mark", BYTES("\xFF\xFE" "a\0")},
  };
  return corpus;
}

// The captured-output path for bytes that arrive in the given pieces.
char *FastPath(const std::string &bytes, const std::vector<size_t> &cuts) {
  DBChildOutput output = DBChildOutputInit(true);
  output.capacity = bytes.size() + 1;
  output.bytes = (char *)malloc(output.capacity);
  size_t previous = 0;
  std::vector<size_t> ends = cuts;
  ends.push_back(bytes.size());
  for (size_t end : ends) {
    memcpy(output.bytes + previous, bytes.data() + previous, end - previous);
    output.length = end;
    const void *nul = memchr(output.bytes + previous, 0, end - previous);
    if (nul != nullptr && output.firstNul == SIZE_MAX) output.firstNul = (const char *)nul - output.bytes;
    if (!output.invalid)
      output.validated += DBUTF8ValidPrefix((const unsigned char *)output.bytes + output.validated,
                                            output.length - output.validated, &output.invalid);
    previous = end;
  }
  return DBTakeOutputString(&output);
}

std::string Describe(const char *text) { return text == nullptr ? "(null)" : "\"" + std::string(text) + "\""; }

// Both paths agree on these bytes cut in these pieces; reports which case and cut differ.
::testing::AssertionResult Agree(const std::string &bytes, const std::vector<size_t> &cuts) {
  char *expected = DBDecodeOutputString(bytes.data(), bytes.size());
  char *actual = FastPath(bytes, cuts);
  bool same = (expected == nullptr) == (actual == nullptr) && (expected == nullptr || strcmp(expected, actual) == 0);
  std::string detail = Describe(expected) + " vs " + Describe(actual);
  free(expected);
  free(actual);
  if (same) return ::testing::AssertionSuccess();
  std::string where;
  for (size_t cut : cuts) where += " " + std::to_string(cut);
  return ::testing::AssertionFailure() << "cuts at" << where << ": platform " << detail;
}

}  // namespace

TEST(ChildOutput, MatchesThePlatformDecodingOnTheCorpusCutAtEveryReadBoundary) {
  for (const Case &c : Corpus()) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(Agree(c.bytes, {}));
    for (size_t cut = 0; cut <= c.bytes.size(); cut++) EXPECT_TRUE(Agree(c.bytes, {cut}));
    for (size_t first = 0; first <= c.bytes.size(); first++)
      for (size_t second = first; second <= c.bytes.size(); second++) EXPECT_TRUE(Agree(c.bytes, {first, second}));
  }
}

TEST(ChildOutput, MatchesThePlatformDecodingOnCorpusCasesInsideLongASCIIRuns) {
  // The ASCII stride must hand over to the sequence check at any alignment.
  for (const Case &c : Corpus()) {
    SCOPED_TRACE(c.name);
    for (size_t before = 0; before < 40; before += 3) {
      std::string bytes = std::string(before, 'a') + c.bytes + std::string(70, 'z');
      EXPECT_TRUE(Agree(bytes, {}));
      EXPECT_TRUE(Agree(bytes, {before + 1}));
    }
  }
}

TEST(ChildOutput, MatchesThePlatformDecodingOnRandomBytesAndMutatedText) {
  std::mt19937 random(20261208);
  const std::string text = BYTES("mixed \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 text \xED\x9F\xBF\xEF\xBF\xBD end");
  for (int round = 0; round < 3000; round++) {
    std::string bytes;
    if (round % 2 == 0) {
      size_t length = random() % 24;
      for (size_t i = 0; i < length; i++) {
        // Bias towards the interesting bytes: continuation bytes and lead bytes.
        unsigned value = random() % 4 == 0 ? random() % 128 : 0x80 + random() % 128;
        bytes.push_back((char)value);
      }
    } else {
      bytes = text;
      for (int k = 0; k < 2; k++) bytes[random() % bytes.size()] = (char)(random() % 256);
    }
    size_t cut = bytes.empty() ? 0 : random() % (bytes.size() + 1);
    ASSERT_TRUE(Agree(bytes, {cut})) << "round " << round;
  }
}

TEST(ChildOutput, HandsOverTheReadBufferForWellFormedText) {
  DBChildOutput output = DBChildOutputInit(true);
  output.capacity = 1 << 20;
  output.bytes = (char *)malloc(output.capacity);
  memcpy(output.bytes, "hello", 5);
  output.length = output.validated = 5;
  char *result = DBTakeOutputString(&output);
  ASSERT_NE(result, nullptr);
  EXPECT_STREQ(result, "hello");
  EXPECT_EQ(output.bytes, nullptr);
  free(result);
}

TEST(ChildOutput, DrainReadsEverythingAndStopsOnceTheChildHasExitedAndThePipeIsEmpty) {
  int pipeFds[2], exitFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  ASSERT_EQ(pipe(exitFds), 0);
  const std::string payload = BYTES("before exit \xE2\x82\xAC");
  ASSERT_EQ(write(pipeFds[1], payload.data(), payload.size()), (ssize_t)payload.size());
  ASSERT_EQ(write(exitFds[1], "x", 1), 1);
  // The write end stays open, as it does when a background process inherited it.
  DBChildOutput output = DBChildOutputInit(true);
  EXPECT_FALSE(DBDrainChildOutput(pipeFds[0], exitFds[0], -1, &output)) << "the pipe has not ended";
  char *text = DBTakeOutputString(&output);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text), payload);
  free(text);

  // Without an exit watch the end of the pipe ends the drain, and what the pipe still held when the
  // last writer closed it is read first.
  int ended[2];
  ASSERT_EQ(pipe(ended), 0);
  ASSERT_EQ(write(ended[1], payload.data(), payload.size()), (ssize_t)payload.size());
  close(ended[1]);
  output = DBChildOutputInit(true);
  EXPECT_TRUE(DBDrainChildOutput(ended[0], -1, -1, &output));
  close(ended[0]);
  text = DBTakeOutputString(&output);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text), payload);
  free(text);

  // The child wrote, exited and closed its end: the pipe has ended, and says so, also when the exit
  // is seen first.
  int closedPipe[2];
  ASSERT_EQ(pipe(closedPipe), 0);
  ASSERT_EQ(write(closedPipe[1], payload.data(), payload.size()), (ssize_t)payload.size());
  close(closedPipe[1]);
  output = DBChildOutputInit(true);
  EXPECT_TRUE(DBDrainChildOutput(closedPipe[0], exitFds[0], -1, &output));
  close(closedPipe[0]);
  EXPECT_EQ(output.length, payload.size());
  DBDiscardChildOutput(&output);

  // Discarding: nothing is kept, and the call still returns.
  ASSERT_EQ(write(pipeFds[1], "more", 4), 4);
  output = DBChildOutputInit(false);
  EXPECT_FALSE(DBDrainChildOutput(pipeFds[0], exitFds[0], -1, &output));
  EXPECT_EQ(output.length, 0u);
  DBDiscardChildOutput(&output);
  for (int fd : {pipeFds[0], pipeFds[1], exitFds[0], exitFds[1]}) close(fd);
}

// Linux reports an ended pipe as POLLHUP, macOS as POLLIN|POLLHUP even when it is empty: on both,
// the pipe has ended only once nothing is left in it.
TEST(ChildOutput, EndOfPipeIsDecidedTheSameWayForBothPlatformsPollReports) {
  for (short ended : {(short)POLLHUP, (short)(POLLIN | POLLHUP)}) {
    EXPECT_EQ(DBPipeStateAfterPoll(ended, 0), DBPipeEnded) << ended;
    EXPECT_EQ(DBPipeStateAfterPoll(ended, 5), DBPipeHasData) << ended;
  }
  EXPECT_EQ(DBPipeStateAfterPoll(POLLIN, 5), DBPipeHasData);
  EXPECT_EQ(DBPipeStateAfterPoll(0, 0), DBPipeQuiet);
  EXPECT_EQ(DBPipeStateAfterPoll(POLLNVAL, 0), DBPipeEnded);

  // And this system's own report for an ended pipe, empty and not.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "abc", 3), 3);
  close(fds[1]);
  struct pollfd watched = {fds[0], POLLIN, 0};
  ASSERT_EQ(poll(&watched, 1, 0), 1);
  EXPECT_EQ(DBPipeStateAfterPoll(watched.revents, 3), DBPipeHasData);
  char bytes[3];
  ASSERT_EQ(read(fds[0], bytes, 3), 3);
  ASSERT_EQ(poll(&watched, 1, 0), 1);
  EXPECT_EQ(DBPipeStateAfterPoll(watched.revents, 0), DBPipeEnded);
  close(fds[0]);
}
