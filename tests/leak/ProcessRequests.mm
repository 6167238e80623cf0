// Many child processes of every kind, from the main thread and from a thread without a pool: the
// texts the host receives are the host's to free, and nothing else of ours stays allocated.
#import <Foundation/Foundation.h>
#include <gtest/gtest.h>
#include "DesktopBridge.h"

#include <pthread.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

void RunEveryKind() {
  const char separator[2] = {DB_LIST_SEPARATOR, 0};
  std::string printfArguments = std::string("-c") + separator + "printf 'ok\\377'";
  for (int i = 0; i < 40; i++) {
    char *text = nullptr;
    EXPECT_EQ(createProcess("/bin/echo", "captured", nullptr, true, &text), 0);
    free(text);
    text = nullptr;
    createProcess("/bin/sh", printfArguments.c_str(), nullptr, true, &text);  // not UTF-8: null
    free(text);
    text = nullptr;
    EXPECT_EQ(createProcess("/nonexistent/program", "", nullptr, true, &text), -1);
    free(text);
    text = nullptr;
    EXPECT_EQ(createProcess("/bin/true", "", "/nonexistent/directory", true, &text), -1);
    free(text);
    EXPECT_EQ(createProcess("/bin/echo", "discarded", nullptr, true, nullptr), 0);
    EXPECT_EQ(createProcess("/bin/true", "", nullptr, false, nullptr), 0);
  }
}

void *RunWithoutPool(void *) {
  RunEveryKind();
  return nullptr;
}

}  // namespace

TEST(ProcessLeaks, CapturedFailedDiscardedAndDetachedRunsLeaveNothing) {
  RunEveryKind();
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, nullptr, RunWithoutPool, nullptr), 0);
  pthread_join(thread, nullptr);
  usleep(200 * 1000);  // the detached children finish and are collected
}
