// Block-backed implementations: arguments and results of every kind reach the block and come back,
// the block outlives the scope that made it, and removal frees it.
#import "DBPlatform.h"
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_NEEDS_NO_DISPLAY();

#include <string>

@interface BlockHost : NSObject
@end
@implementation BlockHost
@end

@interface BlockHost (Added)
- (id)echo:(id)value;
- (int)sumOf:(int)a and:(char)b and:(unsigned short)c and:(long long)d;
- (double)scale:(double)value by:(float)factor;
- (char)negativeChar;
- (BOOL)isTrue;
- (long)manyArguments:(long)a :(long)b :(long)c :(long)d :(long)e :(long)f :(long)g;
- (NSString *)describeSelector:(SEL)selector class:(Class)cls;
- (id)captured;
- (int)counter;
@end

namespace {

template <typename Block>
IMP Install(const char *name, const char *types, Block block) {
  IMP implementation = imp_implementationWithBlock((id)block);
  EXPECT_TRUE(implementation != NULL) << name;
  if (implementation) EXPECT_TRUE(class_addMethod([BlockHost class], sel_registerName(name), implementation, types)) << name;
  return implementation;
}

TEST(BlockImplementationTest, PassesTheReceiverAndEveryArgumentKind) {
  BlockHost *host = [[BlockHost new] autorelease];
  __block id seenReceiver = nil;
  Install("echo:", "@@:@", ^id(id receiver, id value) {
    seenReceiver = receiver;
    return value;
  });
  Install("sumOf:and:and:and:", "i@:icSq", ^int(id receiver, int a, char b, unsigned short c, long long d) {
    return a + b + c + (int)d;
  });
  Install("scale:by:", "d@:df", ^double(id receiver, double value, float factor) { return value * factor; });
  Install("negativeChar", "c@:", ^char(id receiver) { return -3; });
  Install("isTrue", "c@:", ^BOOL(id receiver) { return YES; });
  Install("manyArguments:::::::", "l@:lllllll", ^long(id receiver, long a, long b, long c, long d, long e, long f, long g) {
    return a + 10 * b + 100 * c + 1000 * d + 10000 * e + 100000 * f + 1000000 * g;
  });
  Install("describeSelector:class:", "@@::#", ^NSString *(id receiver, SEL selector, Class cls) {
    return [NSString stringWithFormat:@"%@ %@", NSStringFromSelector(selector), NSStringFromClass(cls)];
  });

  EXPECT_EQ(@"value", [host echo:@"value"]);
  EXPECT_EQ(host, seenReceiver);
  EXPECT_EQ(1 - 2 + 65535 + 40, [host sumOf:1 and:-2 and:65535 and:40]);
  EXPECT_DOUBLE_EQ(3.75, [host scale:1.5 by:2.5f]);
  EXPECT_EQ(-3, (int)[host negativeChar]);
  EXPECT_EQ(YES, [host isTrue]);
  EXPECT_EQ(7654321L, [host manyArguments:1 :2 :3 :4 :5 :6 :7]);
  EXPECT_EQ("isTrue BlockHost",
            std::string([[host describeSelector:@selector(isTrue) class:[BlockHost class]] UTF8String]));
  // Reached through the runtime's other paths too.
  EXPECT_EQ(@"x", [host performSelector:@selector(echo:) withObject:@"x"]);
}

id MakeCapturingImplementation(IMP *out, int *counterStorage) {
  // The block lives on this function's stack: the implementation must hold a copy of its own.
  NSString *text = [NSString stringWithFormat:@"captured %d", 7];
  __block int counter = 0;
  *out = imp_implementationWithBlock((id) ^ id(id receiver) {
    counter++;
    *counterStorage = counter;
    return text;
  });
  return text;
}

TEST(BlockImplementationTest, TheBlockOutlivesItsScopeAndCanBeRemoved) {
  IMP implementation = NULL;
  int counter = 0;
  id text = MakeCapturingImplementation(&implementation, &counter);
  ASSERT_TRUE(implementation != NULL);
  // Overwrite the stack where the block literal lived.
  volatile char scribble[4096];
  for (size_t index = 0; index < sizeof(scribble); index++) scribble[index] = (char)index;
  ASSERT_TRUE(class_addMethod([BlockHost class], @selector(captured), implementation, "@@:"));
  BlockHost *host = [[BlockHost new] autorelease];
  EXPECT_EQ(text, [host captured]);
  EXPECT_EQ(text, [host captured]);
  EXPECT_EQ(2, counter);

  id block = imp_getBlock(implementation);
  ASSERT_TRUE(block != nil);
  EXPECT_EQ(text, ((id(*)(id, id))((void **)(void *)block)[2])(block, host));  // its invoke function

  IMP second = imp_implementationWithBlock((id) ^ int(id receiver) { return 5; });
  ASSERT_TRUE(second != NULL);
  EXPECT_TRUE(imp_removeBlock(second));
#ifdef GNUSTEP
  EXPECT_FALSE(imp_removeBlock(NULL));  // the stand-in refuses null; Apple declares it non-null
#endif
}

#ifdef GNUSTEP
// What the libffi stand-in promises beyond Apple's documentation, which covers only IMPs made by
// imp_implementationWithBlock and not yet removed (Apple's runtime hands a removed one's slot out
// again), and blocks its trampolines can call (any block).
TEST(BlockImplementationTest, TheStandInRecognisesForeignAndRemovedIMPsAndRefusesBlocksItCannotCall) {
  EXPECT_EQ(nil, imp_getBlock((IMP)MakeCapturingImplementation));
  IMP removed = imp_implementationWithBlock((id) ^ int(id receiver) { return 5; });
  ASSERT_TRUE(removed != NULL);
  EXPECT_TRUE(imp_removeBlock(removed));
  EXPECT_FALSE(imp_removeBlock(removed));
  EXPECT_EQ(nil, imp_getBlock(removed));

  EXPECT_TRUE(imp_implementationWithBlock(nil) == NULL);
  // A structure passed by value.
  EXPECT_TRUE(imp_implementationWithBlock((id) ^ (id receiver, NSRect rect) { (void)rect; }) == NULL);
  // No receiver parameter.
  EXPECT_TRUE(imp_implementationWithBlock((id) ^ { }) == NULL);
}
#endif

}  // namespace
