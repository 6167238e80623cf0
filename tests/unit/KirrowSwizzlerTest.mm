// The swizzler's operations on small class hierarchies, with the exact report lines they produce.
// Every test uses classes of its own, since changes to classes cannot be undone.
#import "KirrowSwizzler.h"
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_NEEDS_NO_DISPLAY();
#include "LogCapture.h"

#include <string>
#include <vector>

#pragma mark - A swizzler that records its reports

static std::vector<std::string> reports;  // "log: ..." or "error: ..."

@interface RecordingSwizzler : KirrowSwizzler
@end
@implementation RecordingSwizzler
+ (void)log:(NSString *)message {
  reports.push_back(std::string("log: ") + [message UTF8String]);
  [super log:message];
}
+ (void)error:(NSString *)message {
  reports.push_back(std::string("error: ") + [message UTF8String]);
  [super error:message];
}
@end

#pragma mark - Classes operated on

// Base -> Middle -> Leaf, and Sibling -> Base. Each method answers with its class and name.
#define ANSWER(text) \
  { return @text; }

@interface SwapBase : NSObject
- (NSString *)alpha;
- (NSString *)beta;
+ (NSString *)classAlpha;
+ (NSString *)classBeta;
@end
@implementation SwapBase
- (NSString *)alpha ANSWER("base alpha")
- (NSString *)beta ANSWER("base beta")
+ (NSString *)classAlpha ANSWER("base classAlpha")
+ (NSString *)classBeta ANSWER("base classBeta")
@end
@interface SwapLeaf : SwapBase
@end
@implementation SwapLeaf
@end
@interface SwapSibling : SwapBase
@end
@implementation SwapSibling
@end

@interface ReplaceBase : NSObject
- (NSString *)greeting;
+ (NSString *)classGreeting;
@end
@implementation ReplaceBase
- (NSString *)greeting ANSWER("base greeting")
+ (NSString *)classGreeting ANSWER("base classGreeting")
@end
@interface ReplaceLeaf : ReplaceBase
@end
@implementation ReplaceLeaf
@end
@interface ReplaceSibling : ReplaceBase
@end
@implementation ReplaceSibling
@end
@interface ReplaceSource : NSObject
- (NSString *)greeting;
+ (NSString *)classGreeting;
@end
@implementation ReplaceSource
- (NSString *)greeting ANSWER("source greeting")
+ (NSString *)classGreeting ANSWER("source classGreeting")
@end

@interface AddSource : NSObject
- (NSString *)handler;
- (NSString *)other;
+ (NSString *)factory;
@end
@implementation AddSource
- (NSString *)handler ANSWER("source handler")
- (NSString *)other ANSWER("source other")
+ (NSString *)factory ANSWER("source factory")
@end
@interface AddDefines : NSObject
- (NSString *)handler;
@end
@implementation AddDefines
- (NSString *)handler ANSWER("own handler")
@end
@interface AddInheritsBase : NSObject
- (NSString *)handler;
@end
@implementation AddInheritsBase
- (NSString *)handler ANSWER("inherited handler")
@end
@interface AddInherits : AddInheritsBase
@end
@implementation AddInherits
@end
@interface AddInheritsSibling : AddInheritsBase
@end
@implementation AddInheritsSibling
@end
@interface AddBare : NSObject
@end
@implementation AddBare
@end
@interface AddClassTarget : NSObject
@end
@implementation AddClassTarget
@end
@interface AddClassUntouched : NSObject  // never messaged before the add
@end
@implementation AddClassUntouched
@end

@interface NSObject (SwizzlerTestSelectors)
- (NSString *)handler;
- (NSString *)renamedHandler;
+ (NSString *)factory;
- (id)name;
- (void)setName:(id)value;
- (id)title;
- (void)setTitle:(id)value;
- (id)count;
- (void)setCount:(id)value;
- (id)other;
- (void)setOther:(id)value;
- (id)shade;
- (void)setShade:(id)value;
@end

// Where synthesized values are stored: one key object per class and property name.
@interface KirrowSwizzler (StorageKeys)
+ (id)storageKeyForPropertyNamed:(NSString *)name ofClass:(Class)target;
@end

// Works from a class-load hook, before main and before any application object exists, as the graft
// installation uses it.
static std::vector<std::string> reportsAtLoad;
static std::string nameAtLoad;

@interface LoadTimeTarget : NSObject
@end
@implementation LoadTimeTarget
@end
@interface LoadTimeSwizzler : KirrowSwizzler
@end
@implementation LoadTimeSwizzler
+ (void)log:(NSString *)message {
  reportsAtLoad.push_back([message UTF8String]);
}
+ (void)load {
  [KirrowSwizzler setLogging:YES];
  [self synthesizePropertyNamed:@"loadValue" ofKind:Nil forClass:objc_getClass("LoadTimeTarget")
                     withPolicy:OBJC_ASSOCIATION_RETAIN_NONATOMIC];
  [self addClassMethod:@selector(class) toClass:objc_getClass("LoadTimeTarget") fromClass:[NSObject class]];
  id object = [objc_getClass("LoadTimeTarget") new];
  [object performSelector:NSSelectorFromString(@"setLoadValue:") withObject:@"set at load"];
  nameAtLoad = [[object performSelector:NSSelectorFromString(@"loadValue")] UTF8String];
  [object release];
  [KirrowSwizzler setLogging:NO];
}
@end

namespace {

TEST(KirrowSwizzlerAtLoadTest, SynthesizesAndAddsFromALoadHook) {
  EXPECT_EQ("set at load", nameAtLoad);
  EXPECT_EQ((std::vector<std::string>{"Added synthesized getter `loadValue` to LoadTimeTarget with success",
                                      "Added synthesized setter `setLoadValue:` to LoadTimeTarget with success",
                                      "Added class method `class` of NSObject to LoadTimeTarget with success"}),
            reportsAtLoad);
}

class KirrowSwizzlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reports.clear();
    [KirrowSwizzler setLogging:NO];
  }
  void TearDown() override { [KirrowSwizzler setLogging:NO]; }
};

std::string Latest() {
  NSString *message = [KirrowSwizzler latestErrorMessage];
  return message ? [message UTF8String] : "(nil)";
}

std::string Str(NSString *string) { return string ? [string UTF8String] : "(nil)"; }

#pragma mark - Reporting

TEST_F(KirrowSwizzlerTest, ReportsAreWrittenOnlyWhileLoggingIsOnAndOnlyErrorsAreRemembered) {
  [KirrowSwizzler error:@"first problem"];
  EXPECT_EQ("first problem", Latest());

  LogCapture silent;
  [KirrowSwizzler log:@"quiet line"];
  [KirrowSwizzler error:@"quiet problem"];
  EXPECT_TRUE(silent.stop().empty());
  EXPECT_EQ("quiet problem", Latest());

  [KirrowSwizzler setLogging:YES];
  LogCapture loud;
  [KirrowSwizzler log:@"100%d done %@"];  // never used as a format
  [KirrowSwizzler error:@"loud problem"];
  std::vector<std::string> lines = loud.stop();
  EXPECT_EQ((std::vector<std::string>{"100%d done %@", "loud problem"}), lines);
  EXPECT_EQ("loud problem", Latest());

  LogCapture more;
  [KirrowSwizzler log:@"a log line"];
  EXPECT_EQ((std::vector<std::string>{"a log line"}), more.stop());
  EXPECT_EQ("loud problem", Latest());
}

TEST_F(KirrowSwizzlerTest, RemembersItsOwnCopyOfTheErrorMessage) {
  NSMutableString *message = [NSMutableString stringWithString:@"original"];
  [KirrowSwizzler error:message];
  [message setString:@"changed"];
  EXPECT_EQ("original", Latest());
}

#pragma mark - Exchange

TEST_F(KirrowSwizzlerTest, ExchangesInheritedInstanceMethodsWhereTheyAreDefined) {
  [RecordingSwizzler swapInstanceMethod:@selector(alpha) withInstanceMethod:@selector(beta) ofClass:[SwapLeaf class]];
  EXPECT_EQ((std::vector<std::string>{"log: Exchanged instance method `alpha` with `beta` in SwapLeaf"}), reports);
  SwapLeaf *leaf = [[SwapLeaf new] autorelease];
  SwapBase *base = [[SwapBase new] autorelease];
  SwapSibling *sibling = [[SwapSibling new] autorelease];
  EXPECT_EQ("base beta", Str([leaf alpha]));
  EXPECT_EQ("base alpha", Str([leaf beta]));
  EXPECT_EQ("base beta", Str([base alpha]));
  EXPECT_EQ("base beta", Str([sibling alpha]));
  [RecordingSwizzler swapInstanceMethod:@selector(alpha) withInstanceMethod:@selector(beta) ofClass:[SwapBase class]];
  EXPECT_EQ("base alpha", Str([sibling alpha]));
}

TEST_F(KirrowSwizzlerTest, ExchangeReportsTheFirstMissingInstanceMethodOnly) {
  SwapBase *base = [[SwapBase new] autorelease];
  std::string alphaBefore = Str([base alpha]);
  [RecordingSwizzler swapInstanceMethod:@selector(noSuchOne) withInstanceMethod:@selector(noSuchTwo) ofClass:[SwapBase class]];
  [RecordingSwizzler swapInstanceMethod:@selector(alpha) withInstanceMethod:@selector(noSuchTwo) ofClass:[SwapBase class]];
  EXPECT_EQ((std::vector<std::string>{"error: Instance method `noSuchOne` not found on class SwapBase",
                                      "error: Instance method `noSuchTwo` not found on class SwapBase"}),
            reports);
  EXPECT_EQ("Instance method `noSuchTwo` not found on class SwapBase", Latest());
  EXPECT_EQ(alphaBefore, Str([base alpha]));
}

TEST_F(KirrowSwizzlerTest, ExchangesClassMethodsAndReportsMissingOnes) {
  [RecordingSwizzler swapClassMethod:@selector(classAlpha) withClassMethod:@selector(classBeta) ofClass:[SwapLeaf class]];
  EXPECT_EQ("base classBeta", Str([SwapLeaf classAlpha]));
  EXPECT_EQ("base classBeta", Str([SwapSibling classAlpha]));
  [RecordingSwizzler swapClassMethod:@selector(noSuchOne) withClassMethod:@selector(noSuchTwo) ofClass:[SwapLeaf class]];
  [RecordingSwizzler swapClassMethod:@selector(classAlpha) withClassMethod:@selector(alpha) ofClass:[SwapLeaf class]];
  EXPECT_EQ((std::vector<std::string>{"log: Exchanged class method `classAlpha` with `classBeta` in SwapLeaf",
                                      "error: Class method `noSuchOne` not found on class SwapLeaf",
                                      "error: Class method `alpha` not found on class SwapLeaf"}),
            reports);
  [RecordingSwizzler swapClassMethod:@selector(classAlpha) withClassMethod:@selector(classBeta) ofClass:[SwapBase class]];
  EXPECT_EQ("base classAlpha", Str([SwapLeaf classAlpha]));
}

#pragma mark - Replacement

TEST_F(KirrowSwizzlerTest, ReplacingAnInheritedInstanceMethodReachesTheSuperclassAndItsOtherSubclasses) {
  [RecordingSwizzler replaceInstanceMethod:@selector(greeting) ofClass:[ReplaceLeaf class] fromClass:[ReplaceSource class]];
  EXPECT_EQ((std::vector<std::string>{
                "log: Replaced instance method `greeting` of ReplaceSource from ReplaceLeaf with success"}),
            reports);
  EXPECT_EQ("source greeting", Str([[[ReplaceLeaf new] autorelease] greeting]));
  EXPECT_EQ("source greeting", Str([[[ReplaceBase new] autorelease] greeting]));
  EXPECT_EQ("source greeting", Str([[[ReplaceSibling new] autorelease] greeting]));
  EXPECT_EQ("source greeting", Str([[[ReplaceSource new] autorelease] greeting]));
}

TEST_F(KirrowSwizzlerTest, ReplaceReportsAMissingSourceBeforeAMissingTarget) {
  [RecordingSwizzler replaceInstanceMethod:@selector(handler) ofClass:[AddBare class] fromClass:[ReplaceSource class]];
  [RecordingSwizzler replaceInstanceMethod:@selector(greeting) ofClass:[AddBare class] fromClass:[ReplaceSource class]];
  [RecordingSwizzler replaceClassMethod:@selector(factory) ofClass:[AddBare class] fromClass:[ReplaceSource class]];
  [RecordingSwizzler replaceClassMethod:@selector(classGreeting) ofClass:[AddBare class] fromClass:[ReplaceSource class]];
  [RecordingSwizzler replaceInstanceMethod:@selector(greeting) ofClass:[ReplaceBase class] fromClass:Nil];
  EXPECT_EQ((std::vector<std::string>{
                "error: Instance method `handler` not found on source class ReplaceSource",
                "error: Instance method `greeting` not found on target class AddBare",
                "error: Class method `factory` not found on source class ReplaceSource",
                "error: Class method `classGreeting` not found on target class AddBare",
                "error: Instance method `greeting` not found on source class (null)"}),
            reports);
}

TEST_F(KirrowSwizzlerTest, ReplacesClassMethodsWithTheirOwnLine) {
  [RecordingSwizzler replaceClassMethod:@selector(classGreeting) ofClass:[ReplaceLeaf class] fromClass:[ReplaceSource class]];
  EXPECT_EQ((std::vector<std::string>{
                "log: Replaced method `classGreeting` of ReplaceSource from ReplaceLeaf with success"}),
            reports);
  EXPECT_EQ("source classGreeting", Str([ReplaceLeaf classGreeting]));
  EXPECT_EQ("source classGreeting", Str([ReplaceSibling classGreeting]));
}

#pragma mark - Addition

TEST_F(KirrowSwizzlerTest, AddingIntoAClassThatDefinesTheSelectorKeepsItsMethod) {
  [KirrowSwizzler error:@"earlier problem"];
  [KirrowSwizzler setLogging:YES];
  LogCapture capture;
  [RecordingSwizzler addInstanceMethod:@selector(handler) toClass:[AddDefines class] fromClass:[AddSource class]];
  std::vector<std::string> lines = capture.stop();
  EXPECT_EQ((std::vector<std::string>{"Added instance method `handler` of AddSource to AddDefines with error"}), lines);
  EXPECT_EQ("own handler", Str([[[AddDefines new] autorelease] handler]));
  EXPECT_EQ("earlier problem", Latest());
}

TEST_F(KirrowSwizzlerTest, AddingOverAnInheritedMethodIsSilentAndOverridesForThatClassAlone) {
  [KirrowSwizzler setLogging:YES];
  LogCapture capture;
  [RecordingSwizzler addInstanceMethod:@selector(handler) toClass:[AddInherits class] fromClass:[AddSource class]];
  EXPECT_TRUE(capture.stop().empty());
  EXPECT_TRUE(reports.empty());
  EXPECT_EQ("source handler", Str([[[AddInherits new] autorelease] handler]));
  EXPECT_EQ("inherited handler", Str([[[AddInheritsBase new] autorelease] handler]));
  EXPECT_EQ("inherited handler", Str([[[AddInheritsSibling new] autorelease] handler]));
}

TEST_F(KirrowSwizzlerTest, AddsUnderANewNameAndLeavesTheSourceAlone) {
  [RecordingSwizzler addInstanceMethod:@selector(handler) toClass:[AddBare class] fromClass:[AddSource class]
                                    as:@selector(renamedHandler)];
  EXPECT_TRUE(reports.empty());
  AddBare *bare = [[AddBare new] autorelease];
  EXPECT_EQ("source handler", Str([bare renamedHandler]));
  EXPECT_FALSE([bare respondsToSelector:@selector(handler)]);
  EXPECT_FALSE([[[AddSource new] autorelease] respondsToSelector:@selector(renamedHandler)]);
  // A failed add names the selector looked up in the source, not the new name.
  [RecordingSwizzler addInstanceMethod:@selector(other) toClass:[AddBare class] fromClass:[AddSource class]
                                    as:@selector(renamedHandler)];
  EXPECT_EQ((std::vector<std::string>{"log: Added instance method `other` of AddSource to AddBare with error"}), reports);
  EXPECT_EQ("source handler", Str([bare renamedHandler]));
}

TEST_F(KirrowSwizzlerTest, AddReportsAMissingSourceMethodAndANilTarget) {
  [RecordingSwizzler addInstanceMethod:@selector(noSuchMethod) toClass:[AddBare class] fromClass:[AddSource class]];
  [RecordingSwizzler addInstanceMethod:@selector(handler) toClass:Nil fromClass:[AddSource class]];
  [RecordingSwizzler addClassMethod:@selector(noSuchMethod) toClass:[AddBare class] fromClass:[AddSource class]];
  EXPECT_EQ((std::vector<std::string>{"error: Instance method `noSuchMethod` not found on source class AddSource",
                                      "log: Added instance method `handler` of AddSource to (null) with error",
                                      "error: Class method `noSuchMethod` not found on source class AddSource"}),
            reports);
}

TEST_F(KirrowSwizzlerTest, ClassMethodAddReachesTheMetaclassAndAlwaysReports) {
  [AddClassTarget class];
  [RecordingSwizzler addClassMethod:@selector(factory) toClass:[AddClassTarget class] fromClass:[AddSource class]];
  EXPECT_EQ("source factory", Str([AddClassTarget factory]));
  EXPECT_FALSE([[[AddClassTarget new] autorelease] respondsToSelector:@selector(factory)]);
  [RecordingSwizzler addClassMethod:@selector(factory) toClass:[AddClassTarget class] fromClass:[AddSource class]];
  // A class the program never messaged before the add.
  [RecordingSwizzler addClassMethod:@selector(factory) toClass:objc_getClass("AddClassUntouched") fromClass:[AddSource class]];
  EXPECT_EQ("source factory", Str([objc_getClass("AddClassUntouched") factory]));
  EXPECT_EQ((std::vector<std::string>{"log: Added class method `factory` of AddSource to AddClassTarget with success",
                                      "log: Added class method `factory` of AddSource to AddClassTarget with error",
                                      "log: Added class method `factory` of AddSource to AddClassUntouched with success"}),
            reports);
}

#pragma mark - Setter names

TEST_F(KirrowSwizzlerTest, DerivesSetterNames) {
  EXPECT_EQ("setName:", Str([KirrowSwizzler setterMethodNameForPropertyName:@"name"]));
  EXPECT_EQ("setX:", Str([KirrowSwizzler setterMethodNameForPropertyName:@"x"]));
  EXPECT_EQ("setURLString:", Str([KirrowSwizzler setterMethodNameForPropertyName:@"URLString"]));
  EXPECT_EQ("set_value:", Str([KirrowSwizzler setterMethodNameForPropertyName:@"_value"]));
  EXPECT_EQ("setÉtat:", Str([KirrowSwizzler setterMethodNameForPropertyName:@"état"]));
  NSString *empty = [NSString string];
  EXPECT_EQ(empty, [KirrowSwizzler setterMethodNameForPropertyName:empty]);
}

}  // namespace

#pragma mark - Synthesis

static int valueDeallocations = 0;

@interface CountedValue : NSObject
@end
@implementation CountedValue
- (void)dealloc {
  valueDeallocations++;
  [super dealloc];
}
@end

@interface SynthTarget : NSObject
@end
@implementation SynthTarget
@end
@interface SynthTwice : NSObject
@end
@implementation SynthTwice
@end
@interface SynthKindA : NSObject
@end
@implementation SynthKindA
@end
@interface SynthKindB : NSObject
@end
@implementation SynthKindB
@end
@interface SynthPolicies : NSObject
@end
@implementation SynthPolicies
@end
@interface SynthBase : NSObject
@end
@implementation SynthBase
@end
@interface SynthSub : SynthBase
@end
@implementation SynthSub
@end

namespace {

TEST_F(KirrowSwizzlerTest, SynthesizedAccessorsStoreSeparateValuesPerInstanceAndPerProperty) {
  [RecordingSwizzler synthesizePropertyNamed:@"name" ofKind:[NSString class] forClass:[SynthTarget class]
                                  withPolicy:OBJC_ASSOCIATION_RETAIN_NONATOMIC];
  [RecordingSwizzler synthesizePropertyNamed:@"title" ofKind:[NSString class] forClass:[SynthTarget class]
                                  withPolicy:OBJC_ASSOCIATION_COPY];
  EXPECT_EQ((std::vector<std::string>{"log: Added synthesized getter `name` to SynthTarget with success",
                                      "log: Added synthesized setter `setName:` to SynthTarget with success",
                                      "log: Added synthesized getter `title` to SynthTarget with success",
                                      "log: Added synthesized setter `setTitle:` to SynthTarget with success"}),
            reports);
  EXPECT_STREQ("@16@0:8", method_getTypeEncoding(class_getInstanceMethod([SynthTarget class], @selector(name))));
  EXPECT_STREQ("v24@0:8@16", method_getTypeEncoding(class_getInstanceMethod([SynthTarget class], @selector(setName:))));

  SynthTarget *first = [[SynthTarget new] autorelease];
  SynthTarget *second = [[SynthTarget new] autorelease];
  EXPECT_EQ(nil, [first name]);
  [first setName:@"one"];
  [second setName:@"two"];
  [first setTitle:@"first title"];
  EXPECT_EQ("one", Str([first name]));
  EXPECT_EQ("two", Str([second name]));
  EXPECT_EQ("first title", Str([first title]));
  EXPECT_EQ(nil, [second title]);
  // The later synthesis replaced the key string the class holds; the earlier property still has its own.
  [first setName:@"one again"];
  EXPECT_EQ("first title", Str([first title]));
  EXPECT_EQ("one again", Str([first name]));
  EXPECT_EQ("one again", Str([first valueForKey:@"name"]));
}

TEST_F(KirrowSwizzlerTest, SynthesizingTheSameNameTwiceKeepsTheFirstAccessors) {
  [RecordingSwizzler synthesizePropertyNamed:@"count" ofKind:[NSNumber class] forClass:[SynthTwice class]
                                  withPolicy:OBJC_ASSOCIATION_RETAIN_NONATOMIC];
  IMP firstGetter = class_getMethodImplementation([SynthTwice class], @selector(count));
  SynthTwice *object = [[SynthTwice new] autorelease];
  [object setCount:@"kept"];
  [KirrowSwizzler error:@"earlier problem"];
  reports.clear();
  [RecordingSwizzler synthesizePropertyNamed:@"count" ofKind:[NSNumber class] forClass:[SynthTwice class]
                                  withPolicy:OBJC_ASSOCIATION_ASSIGN];
  EXPECT_EQ((std::vector<std::string>{"log: Added synthesized getter `count` to SynthTwice with error",
                                      "log: Added synthesized setter `setCount:` to SynthTwice with error"}),
            reports);
  EXPECT_EQ(firstGetter, class_getMethodImplementation([SynthTwice class], @selector(count)));
  EXPECT_EQ("kept", Str([object count]));
  [object setCount:@"still retained"];
  EXPECT_EQ("still retained", Str([object count]));
  EXPECT_EQ("earlier problem", Latest());
}

TEST_F(KirrowSwizzlerTest, TheKindTakesNoPartInTheSynthesis) {
  [RecordingSwizzler synthesizePropertyNamed:@"other" ofKind:[NSString class] forClass:[SynthKindA class]
                                  withPolicy:OBJC_ASSOCIATION_RETAIN_NONATOMIC];
  [RecordingSwizzler synthesizePropertyNamed:@"other" ofKind:[NSArray class] forClass:[SynthKindB class]
                                  withPolicy:OBJC_ASSOCIATION_RETAIN_NONATOMIC];
  Method getterA = class_getInstanceMethod([SynthKindA class], @selector(other));
  Method getterB = class_getInstanceMethod([SynthKindB class], @selector(other));
  EXPECT_STREQ(method_getTypeEncoding(getterA), method_getTypeEncoding(getterB));
  SynthKindA *a = [[SynthKindA new] autorelease];
  SynthKindB *b = [[SynthKindB new] autorelease];
  [a setOther:[NSNumber numberWithInt:4]];
  [b setOther:[NSNumber numberWithInt:4]];
  EXPECT_TRUE([[a other] isEqual:[b other]]);
}

TEST_F(KirrowSwizzlerTest, AClassAndItsSubclassStoreTheSameNameApartAndResynthesisKeepsTheStorage) {
  [RecordingSwizzler synthesizePropertyNamed:@"shade" ofKind:Nil forClass:[SynthBase class]
                                  withPolicy:OBJC_ASSOCIATION_RETAIN_NONATOMIC];
  [RecordingSwizzler synthesizePropertyNamed:@"shade" ofKind:Nil forClass:[SynthSub class]
                                  withPolicy:OBJC_ASSOCIATION_RETAIN_NONATOMIC];
  EXPECT_EQ((std::vector<std::string>{"log: Added synthesized getter `shade` to SynthBase with success",
                                      "log: Added synthesized setter `setShade:` to SynthBase with success",
                                      "log: Added synthesized getter `shade` to SynthSub with success",
                                      "log: Added synthesized setter `setShade:` to SynthSub with success"}),
            reports);
  id baseKey = [KirrowSwizzler storageKeyForPropertyNamed:@"shade" ofClass:[SynthBase class]];
  id subKey = [KirrowSwizzler storageKeyForPropertyNamed:@"shade" ofClass:[SynthSub class]];
  EXPECT_NE(baseKey, subKey);
  EXPECT_EQ(baseKey, [KirrowSwizzler storageKeyForPropertyNamed:[NSMutableString stringWithString:@"shade"]
                                                        ofClass:[SynthBase class]]);
  EXPECT_NE(baseKey, [KirrowSwizzler storageKeyForPropertyNamed:@"other" ofClass:[SynthBase class]]);

  // The superclass's accessors, run on an instance of the subclass, reach storage of their own.
  IMP baseGetter = class_getMethodImplementation([SynthBase class], @selector(shade));
  IMP baseSetter = class_getMethodImplementation([SynthBase class], @selector(setShade:));
  SynthSub *object = [[SynthSub new] autorelease];
  [object setShade:@"sub"];
  ((void (*)(id, SEL, id))baseSetter)(object, @selector(setShade:), @"base");
  EXPECT_EQ("sub", Str([object shade]));
  EXPECT_EQ("base", Str(((id (*)(id, SEL))baseGetter)(object, @selector(shade))));
  EXPECT_EQ("sub", Str(objc_getAssociatedObject(object, subKey)));

  [RecordingSwizzler synthesizePropertyNamed:@"shade" ofKind:Nil forClass:[SynthSub class]
                                  withPolicy:OBJC_ASSOCIATION_RETAIN_NONATOMIC];
  EXPECT_EQ(subKey, [KirrowSwizzler storageKeyForPropertyNamed:@"shade" ofClass:[SynthSub class]]);
  EXPECT_EQ("sub", Str([object shade]));
}

TEST_F(KirrowSwizzlerTest, SynthesisForANilClassChangesNothingAndReportsBothAccessorsAsErrors) {
  [KirrowSwizzler error:@"earlier problem"];
  reports.clear();
  LogCapture capture;  // logging is off: any line comes from below the swizzler
  [RecordingSwizzler synthesizePropertyNamed:@"shade" ofKind:Nil forClass:Nil
                                  withPolicy:OBJC_ASSOCIATION_RETAIN_NONATOMIC];
  EXPECT_TRUE(capture.stop().empty());
  EXPECT_EQ((std::vector<std::string>{"log: Added synthesized getter `shade` to (null) with error",
                                      "log: Added synthesized setter `setShade:` to (null) with error"}),
            reports);
  EXPECT_EQ("earlier problem", Latest());
  EXPECT_EQ(nil, [KirrowSwizzler storageKeyForPropertyNamed:@"shade" ofClass:Nil]);
}

TEST_F(KirrowSwizzlerTest, SynthesizedValuesFollowTheirPolicyAndGoAwayWithTheInstance) {
  [RecordingSwizzler synthesizePropertyNamed:@"name" ofKind:Nil forClass:[SynthPolicies class]
                                  withPolicy:OBJC_ASSOCIATION_RETAIN_NONATOMIC];
  [RecordingSwizzler synthesizePropertyNamed:@"title" ofKind:Nil forClass:[SynthPolicies class]
                                  withPolicy:OBJC_ASSOCIATION_COPY_NONATOMIC];
  [RecordingSwizzler synthesizePropertyNamed:@"other" ofKind:Nil forClass:[SynthPolicies class]
                                  withPolicy:OBJC_ASSOCIATION_ASSIGN];
  valueDeallocations = 0;
  CountedValue *retained = [CountedValue new];
  CountedValue *assigned = [CountedValue new];
  NSMutableString *copied = [NSMutableString stringWithString:@"before"];
  SynthPolicies *object = [SynthPolicies new];
  [object setName:retained];
  [object setOther:assigned];
  [object setTitle:copied];
  [copied setString:@"after"];
  EXPECT_EQ("before", Str([object title]));
  [retained release];
  EXPECT_EQ(0, valueDeallocations);  // held by the instance
  EXPECT_EQ(retained, [object name]);
  [object release];
  EXPECT_EQ(1, valueDeallocations);  // released with the instance
  [assigned release];
  EXPECT_EQ(2, valueDeallocations);  // never retained by it
}

}  // namespace

#pragma mark - Property copying

@interface PropertySourceBase : NSObject {
  id _label;
  id _identifier;
}
- (id)label;
- (void)setLabel:(id)value;
- (id)identifier;
@end
@implementation PropertySourceBase
+ (void)load {
  DBDeclareProperty(self, "label", "T@,&,N,V_label");
  DBDeclareProperty(self, "identifier", "T@,R,N,V_identifier");
}
- (id)label { return _label; }
- (void)setLabel:(id)value {
  [_label release];
  _label = [value retain];
}
- (id)identifier { return @"source identifier"; }
@end
@interface PropertySource : PropertySourceBase  // only inherits the properties
@end
@implementation PropertySource
@end
@interface PropertyTarget : NSObject {
  id _label;  // storage for the copied accessors, at the same place as in the source
}
@end
@implementation PropertyTarget
@end
@interface PropertyTargetWithLabel : NSObject {
  id _label;
}
- (id)label;
@end
@implementation PropertyTargetWithLabel
+ (void)load {
  DBDeclareProperty(self, "label", "T@\"NSString\",C,V_label");
}
- (id)label { return @"own label"; }
@end
@interface ReadOnlyTarget : NSObject
@end
@implementation ReadOnlyTarget
@end

@interface NSObject (PropertyTestSelectors)
- (id)label;
- (void)setLabel:(id)value;
- (id)identifier;
@end

namespace {

TEST_F(KirrowSwizzlerTest, CopiesAPropertyThatTheSourceOnlyInherits) {
  [RecordingSwizzler addPropertyNamed:@"label" toClass:[PropertyTarget class] fromClass:[PropertySource class]];
  EXPECT_EQ((std::vector<std::string>{"log: Added property `label` of PropertySource to PropertyTarget with success"}),
            reports);
  objc_property_t copied = class_getProperty([PropertyTarget class], "label");
  ASSERT_TRUE(copied != NULL);
  EXPECT_STREQ("T@,&,N,V_label", property_getAttributes(copied));
  EXPECT_EQ(class_getMethodImplementation([PropertySourceBase class], @selector(label)),
            class_getMethodImplementation([PropertyTarget class], @selector(label)));
  EXPECT_EQ(class_getMethodImplementation([PropertySourceBase class], @selector(setLabel:)),
            class_getMethodImplementation([PropertyTarget class], @selector(setLabel:)));
  PropertyTarget *target = [[PropertyTarget new] autorelease];
  [target setLabel:@"copied"];
  EXPECT_EQ("copied", Str([target label]));
}

TEST_F(KirrowSwizzlerTest, CopyingOntoAnExistingPropertyReplacesItAndKeepsTheTargetsMethods) {
  [RecordingSwizzler addPropertyNamed:@"label" toClass:[PropertyTargetWithLabel class] fromClass:[PropertySource class]];
  EXPECT_EQ((std::vector<std::string>{
                "log: Replaced property `label` of PropertySource to PropertyTargetWithLabel with error",
                "log: Added instance method `label` of PropertySource to PropertyTargetWithLabel with error"}),
            reports);
  EXPECT_STREQ("T@,&,N,V_label", property_getAttributes(class_getProperty([PropertyTargetWithLabel class], "label")));
  EXPECT_EQ("own label", Str([[[PropertyTargetWithLabel new] autorelease] label]));
  EXPECT_TRUE([[[PropertyTargetWithLabel new] autorelease] respondsToSelector:@selector(setLabel:)]);
}

TEST_F(KirrowSwizzlerTest, CopyingAReadOnlyPropertyReportsTheMissingSetter) {
  [RecordingSwizzler addPropertyNamed:@"identifier" toClass:[ReadOnlyTarget class] fromClass:[PropertySource class]];
  EXPECT_EQ((std::vector<std::string>{
                "log: Added property `identifier` of PropertySource to ReadOnlyTarget with success",
                "error: Instance method `setIdentifier:` not found on source class PropertySource"}),
            reports);
  EXPECT_EQ("Instance method `setIdentifier:` not found on source class PropertySource", Latest());
  EXPECT_EQ("source identifier", Str([[[ReadOnlyTarget new] autorelease] identifier]));
}

TEST_F(KirrowSwizzlerTest, AMissingPropertyCopiesNothing) {
  [RecordingSwizzler addPropertyNamed:@"handler" toClass:[ReadOnlyTarget class] fromClass:[AddSource class]];
  EXPECT_EQ((std::vector<std::string>{"error: Property `handler` not found on source class AddSource"}), reports);
  EXPECT_FALSE([[[ReadOnlyTarget new] autorelease] respondsToSelector:@selector(handler)]);
  EXPECT_TRUE(class_getProperty([ReadOnlyTarget class], "handler") == NULL);
}

}  // namespace
