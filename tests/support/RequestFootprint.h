// What a process holds between requests: the bytes of heap in use and the number of live objects
// of every class. Measured before and after many requests, the difference is what the requests
// left behind. Header-only, for the tests and the benchmarks.
#ifndef DB_TEST_REQUEST_FOOTPRINT_H
#define DB_TEST_REQUEST_FOOTPRINT_H

#import <AppKit/AppKit.h>

#include <malloc.h>

#include <functional>
#include <map>
#include <string>

#include "ObjectCounts.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DB_FOOTPRINT_ASAN 1
#endif
#endif
#if defined(DB_FOOTPRINT_ASAN)
#include <sanitizer/allocator_interface.h>
#endif

// GNUstep's list of the classes it counts (NSDebug.h declares it only without NDEBUG).
extern "C" Class *GSDebugAllocationClassList(void);

struct RequestFootprint {
  long long heapBytes = 0;
  long long liveObjects = 0;
  std::map<std::string, int> objectsByClass;
};

// Lets queued main-thread work and delayed releases happen, outside any request.
inline void SettleMainRunLoop(double seconds = 0.05) {
  @autoreleasepool {
    NSDate *limit = [NSDate dateWithTimeIntervalSinceNow:seconds];
    while ([limit timeIntervalSinceNow] > 0) {
      @autoreleasepool {
        [[NSRunLoop currentRunLoop] runMode:NSDefaultRunLoopMode beforeDate:limit];
      }
    }
  }
}

inline RequestFootprint MeasureFootprint() {
  RequestFootprint footprint;
#if defined(DB_FOOTPRINT_ASAN)
  footprint.heapBytes = (long long)__sanitizer_get_current_allocated_bytes();
#else
  footprint.heapBytes = (long long)mallinfo2().uordblks;
#endif
  Class *classes = GSDebugAllocationClassList();
  Class *toFree = classes;
  for (Class *cls = classes; cls != NULL && *cls != Nil; cls++) {
    int count = LiveInstances(*cls);
    if (count == 0) continue;
    footprint.liveObjects += count;
    footprint.objectsByClass[class_getName(*cls)] = count;
  }
  free(toFree);
  return footprint;
}

// Classes whose live count differs between two measurements, as "name: before -> after" lines.
inline std::string ObjectCountChanges(const RequestFootprint &before, const RequestFootprint &after) {
  std::string lines;
  std::map<std::string, int> names = before.objectsByClass;
  for (auto &entry : after.objectsByClass) names[entry.first] = 0;
  for (auto &entry : names) {
    auto b = before.objectsByClass.find(entry.first);
    auto a = after.objectsByClass.find(entry.first);
    int countBefore = b == before.objectsByClass.end() ? 0 : b->second;
    int countAfter = a == after.objectsByClass.end() ? 0 : a->second;
    if (countBefore != countAfter)
      lines += entry.first + ": " + std::to_string(countBefore) + " -> " + std::to_string(countAfter) + "\n";
  }
  return lines;
}

#endif
