// class_addMethod on metaclasses of compiler-built classes: the class answers what was added to it,
// and the metaclass object itself answers messages.
#import "DBPlatform.h"
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_NEEDS_NO_DISPLAY();

#include <string>

@interface MetaTouched : NSObject
@end
@implementation MetaTouched
@end
@interface MetaUntouched : NSObject
@end
@implementation MetaUntouched
@end
@interface MetaChild : MetaTouched
@end
@implementation MetaChild
@end

@interface NSObject (MethodAdditionTest)
+ (NSString *)addedClassMethod;
- (NSString *)addedInstanceMethod;
@end

static id AddedClassMethod(id self, SEL _cmd) { return [NSString stringWithFormat:@"added to %@", self]; }
static id AddedInstanceMethod(id self, SEL _cmd) { return @"instance"; }

namespace {

std::string Str(NSString *string) { return string ? [string UTF8String] : "(nil)"; }

TEST(MethodAdditionTest, ClassMethodsAddedToAMetaclassAreAnsweredByTheClassAndItsSubclasses) {
  [MetaTouched class];
  Class meta = object_getClass((id)[MetaTouched class]);
  EXPECT_TRUE(class_addMethod(meta, @selector(addedClassMethod), (IMP)AddedClassMethod, "@@:"));
  EXPECT_EQ("added to MetaTouched", Str([MetaTouched addedClassMethod]));
  EXPECT_EQ("added to MetaChild", Str([MetaChild addedClassMethod]));
  EXPECT_FALSE([[[MetaTouched new] autorelease] respondsToSelector:@selector(addedClassMethod)]);
  EXPECT_FALSE(class_addMethod(meta, @selector(addedClassMethod), (IMP)AddedClassMethod, "@@:"));
}

TEST(MethodAdditionTest, WorksOnAClassNeverMessagedAndMendsItsMetaclassObject) {
  Class cls = objc_getClass("MetaUntouched");
  Class meta = object_getClass((id)cls);
  EXPECT_TRUE(class_addMethod(meta, @selector(addedClassMethod), (IMP)AddedClassMethod, "@@:"));
  EXPECT_EQ("added to MetaUntouched", Str([cls addedClassMethod]));
  // The metaclass object answers messages as an instance of the root metaclass.
  EXPECT_EQ(object_getClass((id)[NSObject class]), object_getClass((id)meta));
  EXPECT_EQ("MetaUntouched", Str([NSString stringWithFormat:@"%@", meta]));
}

TEST(MethodAdditionTest, InstanceMethodsAndNilClassesBehaveAsBefore) {
  EXPECT_TRUE(class_addMethod([MetaChild class], @selector(addedInstanceMethod), (IMP)AddedInstanceMethod, "@@:"));
  EXPECT_EQ("instance", Str([[[MetaChild new] autorelease] addedInstanceMethod]));
  EXPECT_FALSE(class_addMethod(Nil, @selector(addedInstanceMethod), (IMP)AddedInstanceMethod, "@@:"));
}

}  // namespace
