// Asynchronous save requests from four threads at once while the main thread answers the panels.
// Every request is answered with a name of its own, so each result identifies one request: each
// must arrive exactly once, on the main thread, at a callback some request registered. Once no
// request is being made any more, every result goes to one callback, the one registered last.
#import <AppKit/AppKit.h>
#include <gtest/gtest.h>
#include "BundleLoader.h"
#include "DesktopBridge.h"
#include "PanelDriver.h"
#include "TestProgram.h"
DB_TEST_PROGRAM_USES_THREADS();

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

using SaveAsync = decltype(&DialogSaveFilePanelAsync);

const int kThreads = 4;
const int kRequestsPerThread = 6;
const int kRequests = kThreads * kRequestsPerThread;

struct Delivery {
  int callback;
  std::string text;
  bool onMain;
  bool afterLastRequest;
};
// Written by the callbacks, read by the test: both on the main thread when all is well (onMain
// says otherwise).
std::vector<Delivery> deliveries;
std::atomic<bool> requestsDone(false);

template <int N> void Callback(const char *text) {
  deliveries.push_back({N, text ? text : "(null)", [NSThread isMainThread] != NO, requestsDone.load()});
}
const DBDialogCallback kCallbacks[kThreads] = {Callback<0>, Callback<1>, Callback<2>, Callback<3>};

}  // namespace

TEST(ConcurrentDialogs, RequestsFromFourThreadsAreEachDeliveredOnce) {
  SaveAsync saveAsync = BundleFunction<SaveAsync>("DialogSaveFilePanelAsync");
  ASSERT_NE(saveAsync, nullptr);
  ResetPanelDriver();
  std::string dir = MakeTemporaryDirectory({});
  std::vector<std::string> names, expected;
  for (int k = 0; k < kRequests; k++) {
    names.push_back("answer-" + std::to_string(k) + ".txt");
    expected.push_back(dir + "/" + names.back());
  }
  for (const std::string &name : names) {
    PanelAnswer answer;
    answer.name = name.c_str();
    QueuePanelAnswer(answer);
  }

  // The threads go on asking while the main thread runs the panels of earlier requests.
  std::atomic<int> ready(0), requesting(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([t, &ready, &requesting, &dir, saveAsync] {
      ready++;
      while (ready < kThreads) std::this_thread::yield();
      for (int i = 0; i < kRequestsPerThread; i++) {
        saveAsync("", dir.c_str(), "untitled", "", kCallbacks[t]);
        usleep(20 * 1000 * (useconds_t)((t + i) % 4));
      }
      if (--requesting == 0) requestsDone = true;
    });
  }
  bool allArrived = RunMainLoopUntil([] { return deliveries.size() >= (size_t)kRequests; }, 120);
  for (std::thread &thread : threads) thread.join();
  // Late duplicates would show up here.
  RunMainLoopUntil([] { return false; }, 0.5);

  EXPECT_TRUE(allArrived) << deliveries.size() << " of " << kRequests << " results";
  EXPECT_EQ(PanelsAnswered(), kRequests);
  EXPECT_EQ(UnexpectedPanels(), 0);
  std::multiset<std::string> texts;
  std::set<int> callbacksAfterLastRequest;
  for (const Delivery &delivery : deliveries) {
    texts.insert(delivery.text);
    EXPECT_TRUE(delivery.onMain) << delivery.text;
    EXPECT_TRUE(delivery.callback >= 0 && delivery.callback < kThreads);
    if (delivery.afterLastRequest) callbacksAfterLastRequest.insert(delivery.callback);
  }
  EXPECT_EQ(texts, std::multiset<std::string>(expected.begin(), expected.end()));
  EXPECT_LE(callbacksAfterLastRequest.size(), 1u);
  ResetPanelDriver();
}
