// Cost of synthesized accessors and of associated objects, against plain methods and ivars measured
// in the same run. Prints figures; asserts nothing.
#import "KirrowSwizzler.h"

#include <stdio.h>
#include <stdlib.h>

#include <chrono>

@interface BenchSubject : NSObject {
 @public
  id _value;
}
- (id)plainValue;
- (void)setPlainValue:(id)value;
@end
@implementation BenchSubject
- (id)plainValue {
  return _value;
}
- (void)setPlainValue:(id)value {
  if (value == _value) return;
  [_value release];
  _value = [value retain];
}
@end

@interface BenchSubject (Synthesized)
- (id)synthValue;
- (void)setSynthValue:(id)value;
@end

static double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

static volatile uintptr_t sink;
static char associationKey;

template <typename Body>
static double NanosecondsPerCall(long iterations, Body body) {
  double best = 1e30;
  for (int run = 0; run < 3; run++) {  // best of three, to damp other load on the machine
    double start = Now();
    for (long index = 0; index < iterations; index++) body(index);
    double elapsed = (Now() - start) * 1e9 / iterations;
    if (elapsed < best) best = elapsed;
  }
  return best;
}

int main(int argc, char **argv) {
  long iterations = argc > 1 ? atol(argv[1]) : 2000000;
  @autoreleasepool {
    [KirrowSwizzler synthesizePropertyNamed:@"synthValue" ofKind:Nil forClass:[BenchSubject class]
                                 withPolicy:OBJC_ASSOCIATION_RETAIN_NONATOMIC];
    BenchSubject *subject = [[BenchSubject alloc] init];
    NSString *a = [[NSString alloc] initWithFormat:@"value %d", 1];
    NSString *b = [[NSString alloc] initWithFormat:@"value %d", 2];
    [subject setPlainValue:a];
    [subject setSynthValue:a];

    printf("iterations per measurement: %ld (best of 3)\n\n", iterations);
    printf("Message send through a getter\n");
    double plainGet = NanosecondsPerCall(iterations, [&](long) { sink = (uintptr_t)[subject plainValue]; });
    double synthGet = NanosecondsPerCall(iterations, [&](long) { sink = (uintptr_t)[subject synthValue]; });
    printf("  plain method getter        %8.1f ns\n", plainGet);
    printf("  synthesized getter         %8.1f ns   %.1fx plain\n\n", synthGet, synthGet / plainGet);

    printf("Message send through a setter (alternating two values)\n");
    double plainSet = NanosecondsPerCall(iterations, [&](long i) { [subject setPlainValue:(i & 1) ? a : b]; });
    double synthSet = NanosecondsPerCall(iterations, [&](long i) { [subject setSynthValue:(i & 1) ? a : b]; });
    printf("  plain method setter        %8.1f ns\n", plainSet);
    printf("  synthesized setter         %8.1f ns   %.1fx plain\n\n", synthSet, synthSet / plainSet);

    printf("Storage: set then get\n");
    double ivar = NanosecondsPerCall(iterations, [&](long i) {
      subject->_value = (i & 1) ? a : b;
      sink = (uintptr_t)subject->_value;
    });
    double associated = NanosecondsPerCall(iterations, [&](long i) {
      objc_setAssociatedObject(subject, &associationKey, (i & 1) ? a : b, OBJC_ASSOCIATION_ASSIGN);
      sink = (uintptr_t)objc_getAssociatedObject(subject, &associationKey);
    });
    double associatedRetained = NanosecondsPerCall(iterations, [&](long i) {
      objc_setAssociatedObject(subject, &associationKey, (i & 1) ? a : b, OBJC_ASSOCIATION_RETAIN_NONATOMIC);
      sink = (uintptr_t)objc_getAssociatedObject(subject, &associationKey);
    });
    subject->_value = a;
    printf("  ivar write + read          %8.1f ns\n", ivar);
    printf("  associated, assign         %8.1f ns   %.0fx ivar\n", associated, associated / ivar);
    printf("  associated, retain         %8.1f ns   %.0fx ivar, %.1fx plain setter+getter\n", associatedRetained,
           associatedRetained / ivar, associatedRetained / (plainSet + plainGet));

    objc_setAssociatedObject(subject, &associationKey, nil, OBJC_ASSOCIATION_ASSIGN);
    [subject release];
    [a release];
    [b release];
  }
  return 0;
}
