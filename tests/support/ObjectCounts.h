// Live instances of a class, for tests that check what a request leaves allocated. GNUstep counts
// them per class once its allocation debugging is on; Apple's runtime keeps no public per-class
// count, so there the counting tests skip with kNoObjectCounts. Header-only, for the tests and the
// benchmarks.
#ifndef DB_TEST_OBJECT_COUNTS_H
#define DB_TEST_OBJECT_COUNTS_H

#include <objc/runtime.h>

#if defined(GNUSTEP)
// GNUstep's live-instance counters (NSDebug.h declares them only without NDEBUG).
extern "C" {
BOOL GSDebugAllocationActive(BOOL active);
int GSDebugAllocationCount(Class cls);
}
#endif

// Why ObjectCountingAvailable() is false, for GTEST_SKIP.
#define kNoObjectCounts "per-class live-object counts need GNUstep's allocation counters"

// Whether LiveInstances counts on this platform.
inline bool ObjectCountingAvailable() {
#if defined(GNUSTEP)
  return true;
#else
  return false;
#endif
}

// Starts counting; instances allocated earlier are not counted, so call it before the baseline.
inline void StartCountingObjects() {
#if defined(GNUSTEP)
  GSDebugAllocationActive(YES);
#endif
}

// Instances of exactly cls allocated since counting started and not yet deallocated; -1 where
// ObjectCountingAvailable() is false.
inline int LiveInstances(Class cls) {
#if defined(GNUSTEP)
  return GSDebugAllocationCount(cls);
#else
  (void)cls;
  return -1;
#endif
}

#endif
