// createProcess running out of memory in the middle of a call: operator new fails at each of the
// call's allocations in turn. Not in the ThreadSanitizer build, whose runtime owns operator new.
#import <Foundation/Foundation.h>
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_NEEDS_NO_DISPLAY();
#include "DesktopBridge.h"
#include "ProcessTable.h"

#include <stdlib.h>

#include <atomic>
#include <new>
#include <string>

// Allocations through operator new fail from the `failAt`-th one on, while armed: every allocation
// point of a call can be made to fail in turn.
namespace {
std::atomic<bool> armed(false);
std::atomic<long> allocations(0);
long failAt = 0;
}  // namespace

void *operator new(size_t size) {
  if (armed && ++allocations >= failAt) throw std::bad_alloc();
  void *block = malloc(size ? size : 1);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void operator delete(void *block) noexcept { free(block); }
void operator delete(void *block, size_t) noexcept { free(block); }

namespace {
const std::string kChild = DB_TEST_HELPERS_DIR "/ProcessChild";
}  // namespace

// Every allocation of the call fails in turn: each such call returns -1 with a description, leaves
// no child behind, and the next call works.
TEST(ProcessRunnerMemory, RunningOutOfMemoryDuringACallGivesMinusOneWithADescription) {
  const std::string arguments = std::string("say") + (char)DB_LIST_SEPARATOR + "ok" + (char)DB_LIST_SEPARATOR + "3";
  int failedCalls = 0;
  for (failAt = 1;; failAt++) {
    char *text = nullptr;
    allocations = 0;
    armed = true;
    int status = createProcess(kChild.c_str(), arguments.c_str(), "/", true, &text);
    armed = false;
    bool failed = allocations >= failAt;
    std::string got = text != nullptr ? text : "(null)";
    free(text);
    if (!failed) {
      EXPECT_EQ(status, 3);
      EXPECT_EQ(got, "ok\n");
      break;
    }
    failedCalls++;
    EXPECT_EQ(status, -1) << "allocation " << failAt;
    EXPECT_EQ(got, "createProcess: out of memory") << "allocation " << failAt;
    ASSERT_LT(failAt, 100);
  }
  EXPECT_GT(failedCalls, 0) << "the call allocated nothing that could fail";
  EXPECT_EQ(DBZombieChildren(), 0);
}
