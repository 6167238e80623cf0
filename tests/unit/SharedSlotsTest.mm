// The process-wide slots (host callbacks, the remembered open-file path) and MakeCString used from
// several threads at once: the main thread changes a slot while other threads read it.
#import <Foundation/Foundation.h>
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_NEEDS_NO_DISPLAY();
DB_TEST_PROGRAM_USES_THREADS();
#include "DesktopBridge.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

const int kReaders = 3;

// Starts kReaders threads running body(index) and joins them when done.
class Readers {
 public:
  template <typename Body> explicit Readers(Body body) {
    for (int i = 0; i < kReaders; i++) threads_.emplace_back([body, i] { body(i); });
  }
  void join() {
    for (std::thread &thread : threads_) thread.join();
    threads_.clear();
  }
  ~Readers() { join(); }

 private:
  std::vector<std::thread> threads_;
};

std::atomic<const char *> openFileCallbackPath(nullptr);
void RememberOpenFile(const char *path) { openFileCallbackPath = path; }

std::atomic<long> menuCallsA(0), menuCallsB(0), dropCallsA(0), dropCallsB(0), wrongArguments(0);
void MenuA(const char *tag, const char *title) {
  if (strcmp(tag, "7") != 0 || strcmp(title, "Item") != 0) wrongArguments++;
  menuCallsA++;
}
void MenuB(const char *tag, const char *title) {
  if (strcmp(tag, "7") != 0 || strcmp(title, "Item") != 0) wrongArguments++;
  menuCallsB++;
}
void DropA(int x, int y, const char *paths) {
  if (x != 3 || y != 4 || strcmp(paths, "/dropped") != 0) wrongArguments++;
  dropCallsA++;
}
void DropB(int x, int y, const char *paths) {
  if (x != 3 || y != 4 || strcmp(paths, "/dropped") != 0) wrongArguments++;
  dropCallsB++;
}

}  // namespace

TEST(SharedSlots, TheOpenFilePathReadOnOtherThreadsIsAlwaysACompleteRecentCopy) {
  const int records = 2000;
  setOpenFileCallback(RememberOpenFile);
  std::atomic<bool> recording(true);
  std::vector<std::string> failures(kReaders);
  std::vector<long> reads(kReaders, 0);
  Readers readers([&](int r) {
    int last = -1;
    while (recording && failures[r].empty()) {
      const char *path = getOpenFilename();
      if (path == nullptr) continue;
      int n = -1;
      char rest = 0;
      // Each record is a new, complete copy; a reader never sees an older one after a newer one.
      if (sscanf(path, "/open/%d%c", &n, &rest) != 1 || n < last)
        failures[r] = std::string(path) + " after " + std::to_string(last);
      last = n;
      reads[r]++;
    }
  });
  for (int n = 0; n < records; n++) {
    @autoreleasepool {
      setOpenFilename([NSString stringWithFormat:@"/open/%d", n]);
    }
    ASSERT_EQ(openFileCallbackPath.load(), getOpenFilename()) << "the callback hears the copy that is kept";
  }
  recording = false;
  readers.join();
  setOpenFileCallback(nullptr);
  for (int r = 0; r < kReaders; r++) EXPECT_EQ(failures[r], "") << "reader " << r;
  EXPECT_STREQ(getOpenFilename(), "/open/1999");
}

TEST(SharedSlots, CallbacksSwappedOnTheMainThreadWhileOtherThreadsNotifyAreEachCalledWhole) {
  const int notificationsPerThread = 20000;
  setMenuCallback(MenuA);
  setDragDropCallback(nullptr, nullptr, DropA);
  std::atomic<int> notifying(kReaders);
  std::atomic<bool> swapping(false);
  Readers notifiers([&](int) {
    while (!swapping) std::this_thread::yield();
    for (int i = 0; i < notificationsPerThread; i++) {
      notifyMenuSelected("7", "Item");
      notifyDragDrop(3, 4, "/dropped");
    }
    notifying--;
  });
  for (long swaps = 0; notifying > 0; swaps++) {
    setMenuCallback(swaps % 2 ? MenuA : MenuB);
    setDragDropCallback(nullptr, nullptr, swaps % 2 ? DropA : DropB);
    swapping = true;
  }
  notifiers.join();
  setMenuCallback(nullptr);
  setDragDropCallback(nullptr, nullptr, nullptr);
  // Every notification found one of the two callbacks, never a torn or empty slot.
  EXPECT_EQ(menuCallsA + menuCallsB, (long)kReaders * notificationsPerThread);
  EXPECT_EQ(dropCallsA + dropCallsB, (long)kReaders * notificationsPerThread);
  EXPECT_EQ(wrongArguments, 0);
}

TEST(SharedSlots, MakeCStringOnSeveralThreadsAtOnceCopiesEachString) {
  NSString *shared = [NSString stringWithUTF8String:"shared caf\xc3\xa9"];
  std::vector<long> wrong(kReaders, 0);
  Readers converters([&](int r) {
    for (int i = 0; i < 2000; i++) {
      @autoreleasepool {
        NSString *own = [NSString stringWithFormat:@"thread %d round %d", r, i];
        char *ownCopy = MakeCString(own), *sharedCopy = MakeCString(shared);
        if (ownCopy == nullptr || strcmp(ownCopy, [own UTF8String]) != 0) wrong[r]++;
        if (sharedCopy == nullptr || strcmp(sharedCopy, "shared caf\xc3\xa9") != 0) wrong[r]++;
        free(ownCopy);
        free(sharedCopy);
      }
    }
  });
  converters.join();
  for (int r = 0; r < kReaders; r++) EXPECT_EQ(wrong[r], 0) << "thread " << r;
}
