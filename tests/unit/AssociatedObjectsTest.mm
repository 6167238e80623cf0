// Associated objects: policies, replacement and removal, release at deallocation (also of objects
// whose classes define their own -dealloc, on other threads, and in chains), and concurrent use.
#import "DBPlatform.h"
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_NEEDS_NO_DISPLAY();
DB_TEST_PROGRAM_USES_THREADS();
#include <pthread.h>
#include "LogCapture.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

static std::atomic<int> tokenDeallocations{0};

// A value that counts its deallocations.
@interface Token : NSObject
@end
@implementation Token
- (void)dealloc {
  tokenDeallocations++;
  [super dealloc];
}
@end

// A copyable value whose copies are new objects.
@interface CopyableToken : Token <NSCopying>
@end
@implementation CopyableToken
- (id)copyWithZone:(NSZone *)zone {
  return [[CopyableToken allocWithZone:zone] init];
}
@end

@interface PlainHolder : NSObject  // only inherits -dealloc
@end
@implementation PlainHolder
@end

static char readKey;
static id seenDuringDealloc = nil;

// Defines its own -dealloc and reads an association there.
@interface DeallocatingHolder : NSObject
@end
@implementation DeallocatingHolder
- (void)dealloc {
  seenDuringDealloc = objc_getAssociatedObject(self, &readKey);
  [super dealloc];
}
@end
@interface DeallocatingHolderChild : DeallocatingHolder
@end
@implementation DeallocatingHolderChild
@end

@interface HolderProxy : NSProxy  // outside NSObject's hierarchy
@end
@implementation HolderProxy
+ (id)make {
  return [self alloc];
}
@end

namespace {

char keyA, keyB;

class AssociatedObjectsTest : public ::testing::Test {
 protected:
  void SetUp() override { tokenDeallocations = 0; }
};

TEST_F(AssociatedObjectsTest, PoliciesRetainCopyOrAssign) {
  PlainHolder *holder = [PlainHolder new];
  Token *retained = [Token new];
  Token *assigned = [Token new];
  CopyableToken *original = [CopyableToken new];
  objc_setAssociatedObject(holder, &keyA, retained, OBJC_ASSOCIATION_RETAIN_NONATOMIC);
  objc_setAssociatedObject(holder, &keyB, assigned, OBJC_ASSOCIATION_ASSIGN);
  static char copyKey;
  objc_setAssociatedObject(holder, &copyKey, original, OBJC_ASSOCIATION_COPY);
  EXPECT_EQ(2u, [retained retainCount]);
  EXPECT_EQ(1u, [assigned retainCount]);
  EXPECT_EQ(retained, objc_getAssociatedObject(holder, &keyA));
  EXPECT_EQ(assigned, objc_getAssociatedObject(holder, &keyB));
  @autoreleasepool {  // the atomic get autoreleases what it returns
    id copied = objc_getAssociatedObject(holder, &copyKey);
    EXPECT_NE(original, copied);
    EXPECT_TRUE([copied isKindOfClass:[CopyableToken class]]);
  }
  EXPECT_EQ(1u, [original retainCount]);
  [original release];
  EXPECT_EQ(1, tokenDeallocations);

  [holder release];  // releases the retained value and the copy, not the assigned one
  EXPECT_EQ(2, tokenDeallocations);
  EXPECT_EQ(1u, [retained retainCount]);
  EXPECT_EQ(1u, [assigned retainCount]);
  [retained release];
  [assigned release];
  EXPECT_EQ(4, tokenDeallocations);
}

TEST_F(AssociatedObjectsTest, KeysAreAddressesAndSettingReplacesOrRemoves) {
  PlainHolder *holder = [[PlainHolder new] autorelease];
  // Non-atomic, so that the gets below leave nothing in the autorelease pool.
  EXPECT_EQ(nil, objc_getAssociatedObject(holder, &keyA));
  Token *first = [Token new];
  Token *second = [Token new];
  objc_setAssociatedObject(holder, &keyA, first, OBJC_ASSOCIATION_RETAIN_NONATOMIC);
  objc_setAssociatedObject(holder, &keyB, second, OBJC_ASSOCIATION_RETAIN_NONATOMIC);
  EXPECT_EQ(first, objc_getAssociatedObject(holder, &keyA));
  EXPECT_EQ(second, objc_getAssociatedObject(holder, &keyB));
  // Equal texts at different addresses are different keys.
  char *heapKey = strdup("keyA");
  char *otherKey = strdup("keyA");
  objc_setAssociatedObject(holder, heapKey, first, OBJC_ASSOCIATION_ASSIGN);
  EXPECT_EQ(nil, objc_getAssociatedObject(holder, otherKey));

  objc_setAssociatedObject(holder, &keyA, second, OBJC_ASSOCIATION_RETAIN_NONATOMIC);  // releases first
  [first release];
  EXPECT_EQ(1, tokenDeallocations);
  EXPECT_EQ(second, objc_getAssociatedObject(holder, &keyA));
  objc_setAssociatedObject(holder, &keyA, nil, OBJC_ASSOCIATION_RETAIN_NONATOMIC);
  objc_setAssociatedObject(holder, &keyB, nil, OBJC_ASSOCIATION_ASSIGN);
  EXPECT_EQ(nil, objc_getAssociatedObject(holder, &keyA));
  EXPECT_EQ(1u, [second retainCount]);
  [second release];
  EXPECT_EQ(2, tokenDeallocations);
  free(heapKey);
  free(otherKey);
}

#ifdef GNUSTEP  // a nil object given a value crashes Apple's runtime
// Apple's runtime ignores a nil object only when the value is nil too; the stand-in ignores a nil
// object in both cases, but says so when it was given a value.
TEST_F(AssociatedObjectsTest, ANilObjectIsIgnoredAndOneGivenAValueIsReported) {
  Token *value = [Token new];
  LogCapture quiet;
  objc_setAssociatedObject(nil, &keyA, nil, OBJC_ASSOCIATION_RETAIN);
  EXPECT_TRUE(quiet.stop().empty());
  LogCapture loud;
  objc_setAssociatedObject(nil, &keyA, value, OBJC_ASSOCIATION_RETAIN);
  std::vector<std::string> lines = loud.stop();
  ASSERT_EQ(1u, lines.size());
  EXPECT_NE(std::string::npos, lines[0].find("objc_setAssociatedObject: a nil object given a value"));
  EXPECT_EQ(1u, [value retainCount]);
  EXPECT_EQ(nil, objc_getAssociatedObject(nil, &keyA));
  [value release];
}
#endif

TEST_F(AssociatedObjectsTest, AtomicGetsOutliveAReplacementInTheSamePool) {
  PlainHolder *holder = [PlainHolder new];
  Token *value = [Token new];
  objc_setAssociatedObject(holder, &keyA, value, OBJC_ASSOCIATION_RETAIN);
  [value release];
  @autoreleasepool {
    id got = objc_getAssociatedObject(holder, &keyA);
    objc_setAssociatedObject(holder, &keyA, nil, OBJC_ASSOCIATION_RETAIN);
    EXPECT_EQ(0, tokenDeallocations);  // the atomic get's autorelease still holds it
    EXPECT_EQ(1u, [got retainCount]);
  }
  EXPECT_EQ(1, tokenDeallocations);
  [holder release];
}

TEST_F(AssociatedObjectsTest, RemoveReleasesEverything) {
  PlainHolder *holder = [[PlainHolder new] autorelease];
  Token *a = [Token new];
  Token *b = [Token new];
  objc_setAssociatedObject(holder, &keyA, a, OBJC_ASSOCIATION_RETAIN_NONATOMIC);
  objc_setAssociatedObject(holder, &keyB, b, OBJC_ASSOCIATION_RETAIN_NONATOMIC);
  [a release];
  [b release];
  objc_removeAssociatedObjects(holder);
  EXPECT_EQ(2, tokenDeallocations);
  EXPECT_EQ(nil, objc_getAssociatedObject(holder, &keyA));
  objc_removeAssociatedObjects(holder);
}

TEST_F(AssociatedObjectsTest, ValuesStayReadableDuringTheOwnersDeallocAndAreReleasedAfter) {
  for (Class cls : {[DeallocatingHolder class], [DeallocatingHolderChild class]}) {
    tokenDeallocations = 0;
    seenDuringDealloc = nil;
    id holder = [cls new];
    Token *value = [Token new];
    objc_setAssociatedObject(holder, &readKey, value, OBJC_ASSOCIATION_RETAIN_NONATOMIC);
    [value release];
    [holder release];
    EXPECT_EQ(value, seenDuringDealloc) << class_getName(cls);
    EXPECT_EQ(1, tokenDeallocations) << class_getName(cls);
  }
}

TEST_F(AssociatedObjectsTest, ReleasesValuesOfProxiesAndOfFoundationObjects) {
  id proxy = [HolderProxy make];
  NSMutableArray *array = [[NSMutableArray alloc] init];
  Token *a = [Token new];
  Token *b = [Token new];
  objc_setAssociatedObject(proxy, &keyA, a, OBJC_ASSOCIATION_RETAIN_NONATOMIC);
  objc_setAssociatedObject(array, &keyA, b, OBJC_ASSOCIATION_RETAIN_NONATOMIC);
  [a release];
  [b release];
  [proxy release];
  [array release];
  EXPECT_EQ(2, tokenDeallocations);
}

TEST_F(AssociatedObjectsTest, AnObjectAtTheAddressOfADeallocatedOneStartsWithoutAssociations) {
  int staleSightings = 0;
  for (int round = 0; round < 200; round++) {
    PlainHolder *holder = [PlainHolder new];
    if (objc_getAssociatedObject(holder, &keyA)) staleSightings++;
    Token *value = [Token new];
    objc_setAssociatedObject(holder, &keyA, value, OBJC_ASSOCIATION_RETAIN_NONATOMIC);
    [value release];
    [holder release];
  }
  EXPECT_EQ(0, staleSightings);
  EXPECT_EQ(200, tokenDeallocations);
}

TEST_F(AssociatedObjectsTest, ReleasingAValueMayDeallocateFurtherOwners) {
  PlainHolder *outer = [PlainHolder new];
  PlainHolder *middle = [PlainHolder new];
  Token *inner = [Token new];
  objc_setAssociatedObject(outer, &keyA, middle, OBJC_ASSOCIATION_RETAIN_NONATOMIC);
  objc_setAssociatedObject(middle, &keyA, inner, OBJC_ASSOCIATION_RETAIN_NONATOMIC);
  [middle release];
  [inner release];
  [outer release];
  EXPECT_EQ(1, tokenDeallocations);
}

TEST_F(AssociatedObjectsTest, ClassObjectsKeepTheirAssociations) {
  Token *value = [Token new];
  static char classKey;
  objc_setAssociatedObject([PlainHolder class], &classKey, value, OBJC_ASSOCIATION_RETAIN_NONATOMIC);
  [value release];
  EXPECT_EQ(value, objc_getAssociatedObject([PlainHolder class], &classKey));
  EXPECT_EQ(nil, objc_getAssociatedObject([[PlainHolder new] autorelease], &classKey));  // not its instances
  EXPECT_EQ(0, tokenDeallocations);
}

TEST_F(AssociatedObjectsTest, ObjectsDeallocatedOnOtherThreadsAndConcurrentUse) {
  const int threads = 4, rounds = 2000;
  PlainHolder *shared = [PlainHolder new];
  std::vector<std::thread> workers;
  std::atomic<int> wrongReads{0};
  for (int t = 0; t < threads; t++) {
    workers.emplace_back([&] {
      @autoreleasepool {
        for (int round = 0; round < rounds; round++) {
          PlainHolder *holder = [PlainHolder new];
          Token *value = [Token new];
          objc_setAssociatedObject(holder, &keyA, value, OBJC_ASSOCIATION_RETAIN);
          objc_setAssociatedObject(shared, &keyB, value, OBJC_ASSOCIATION_RETAIN);  // contended key
          if (objc_getAssociatedObject(holder, &keyA) != value) wrongReads++;
          [value release];
          [holder release];
          if (round % 256 == 0) objc_getAssociatedObject(shared, &keyB);
        }
      }
    });
  }
  for (std::thread &worker : workers) worker.join();
  EXPECT_EQ(0, wrongReads.load());
  // Every value but the one still held by the shared object is gone.
  EXPECT_EQ(threads * rounds - 1, tokenDeallocations.load());
  [shared release];
  EXPECT_EQ(threads * rounds, tokenDeallocations.load());
}

}  // namespace
