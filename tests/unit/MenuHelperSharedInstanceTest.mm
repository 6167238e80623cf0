// Creation of the shared menu manager under concurrent first calls. The tests run in this order in
// a fresh process: no manager exists before the first one.
#import "MenuHelper.h"
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_USES_THREADS();

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

typedef id (*InitIMP)(id, SEL);
InitIMP originalInit = NULL;
std::atomic<int> initCalls(0);
// What the observed init throws: nothing, an NSException, or an object of another class.
enum class Throw { nothing, exception, otherObject };
std::atomic<Throw> initThrows(Throw::nothing);

// Counts creations and widens the window in which an unlocked test-and-set would let a second
// thread create a second manager.
id observedInit(id self, SEL _cmd) {
  initCalls++;
  usleep(50 * 1000);
  if (initThrows == Throw::exception) [NSException raise:NSInternalInconsistencyException format:@"init failed on purpose"];
  if (initThrows == Throw::otherObject) @throw [NSString stringWithFormat:@"init failed on purpose"];
  return originalInit(self, _cmd);
}

void observeInit() {
  if (originalInit != NULL) return;
  Method init = class_getInstanceMethod([MenuHelper class], @selector(init));
  originalInit = (InitIMP)method_setImplementation(init, (IMP)observedInit);
}

enum class Outcome { returned, raised, blocked };

// A thread that calls sharedInstance once, then stays alive until the attempt object goes away:
// a lock held by a thread that has ended can look free to a later thread with the same identity.
class Attempt {
 public:
  Attempt() : state_(std::make_shared<std::atomic<int>>(-1)), release_(std::make_shared<std::atomic<bool>>(false)) {
    std::shared_ptr<std::atomic<int>> state = state_;
    std::shared_ptr<std::atomic<bool>> release = release_;
    thread_ = std::thread([state, release] {
      @autoreleasepool {
        @try {
          [MenuHelper sharedInstance];
          *state = 0;
        } @catch (id thrown) {
          *state = 1;
        }
      }
      while (!*release) usleep(1000);
    });
  }
  ~Attempt() {
    *release_ = true;
    if (*state_ < 0) thread_.detach();  // blocked on the lock for good
    else thread_.join();
  }
  // Waits up to five seconds for the call to end.
  Outcome outcome() {
    for (int waited = 0; waited < 500 && *state_ < 0; waited++) usleep(10 * 1000);
    if (*state_ < 0) return Outcome::blocked;
    return *state_ == 0 ? Outcome::returned : Outcome::raised;
  }

 private:
  std::shared_ptr<std::atomic<int>> state_;
  std::shared_ptr<std::atomic<bool>> release_;
  std::thread thread_;
};

}  // namespace

TEST(MenuHelperSharedInstance, AFailedCreationReleasesTheLockAndPassesTheExceptionOn) {
  observeInit();
  // An NSException, then an object of another class: each must leave the lock free.
  for (Throw kind : {Throw::exception, Throw::otherObject}) {
    SCOPED_TRACE(kind == Throw::exception ? "NSException" : "another object");
    initCalls = 0;
    initThrows = kind;
    Attempt first;
    EXPECT_EQ(first.outcome(), Outcome::raised);
    // A lock left held by the first thread would block this one for good.
    Attempt second;
    EXPECT_EQ(second.outcome(), Outcome::raised);
    EXPECT_EQ(initCalls, 2);
  }
  initThrows = Throw::nothing;
}

TEST(MenuHelperSharedInstance, ConcurrentFirstCallsMakeExactlyOneManager) {
  observeInit();
  initCalls = 0;
  const int threadCount = 8;
  std::vector<MenuHelper *> seen(threadCount, nil);
  std::atomic<int> ready(0);
  std::vector<std::thread> threads;
  for (int i = 0; i < threadCount; i++) {
    threads.emplace_back([&, i] {
      ready++;
      while (ready < threadCount) std::this_thread::yield();
      @autoreleasepool {
        seen[i] = [MenuHelper sharedInstance];
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(initCalls, 1);
  ASSERT_NE(seen[0], nil);
  for (MenuHelper *manager : seen) EXPECT_EQ(manager, seen[0]);
  EXPECT_EQ([MenuHelper sharedInstance], seen[0]);
  EXPECT_EQ(std::string([[[seen[0] dockMenu] title] UTF8String]), "DockMenu");
}
