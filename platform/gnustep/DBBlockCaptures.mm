// The blocks runtime's capture helpers, for the copy and dispose helpers that the compiler emits into
// this bundle's blocks.
//
// GNUstep Base exports its own _Block_object_assign, which takes precedence over the blocks runtime's
// and does not understand clang's __block variables: it reads the layout bits that clang sets in
// their flags as a reference count, so a copied block keeps pointing at the stack variable. These
// definitions follow the compiler's ABI; being hidden, they serve only the helpers compiled into this
// binary. Captured objects are retained (as on macOS without ARC), __block variables move to the heap
// with a reference count, and captured blocks go to _Block_copy.
#import "DBPlatform.h"
#include "DBMessaging.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

extern "C" {
void *_Block_copy(const void *block);
void _Block_release(const void *block);
void _Block_object_assign(void *destination, const void *object, const int flags);
void _Block_object_dispose(const void *object, const int flags);
}

namespace {

enum {
  kFieldIsObject = 3,
  kFieldIsBlock = 7,
  kFieldIsByref = 8,
  kFieldIsWeak = 16,
  kByrefCaller = 128,
};

enum : int32_t {
  kRefCountMask = 0xfffe,
  kRefCountOne = 2,
  kByrefNeedsFree = 1 << 24,
  kByrefHasCopyDispose = 1 << 25,
};

struct Byref {
  void *isa;
  Byref *forwarding;
  std::atomic<int32_t> flags;
  uint32_t size;
  // with kByrefHasCopyDispose:
  void (*keep)(Byref *destination, Byref *source);
  void (*destroy)(Byref *byref);
};

Byref *RetainByref(Byref *source) {
  Byref *current = source->forwarding;
  if (current->flags.load() & kByrefNeedsFree) {
    current->flags.fetch_add(kRefCountOne);
    return current;
  }
  if ((current->flags.load() & kRefCountMask) != 0) return current;  // not ours to count
  // Still on the stack: move it to the heap, held by the block and by the stack frame.
  Byref *copy = (Byref *)malloc(source->size);
  memcpy((void *)copy, (const void *)source, source->size);
  copy->isa = NULL;
  copy->flags.store(source->flags.load() | kByrefNeedsFree | (2 * kRefCountOne));
  copy->forwarding = copy;
  source->forwarding = copy;
  if (source->flags.load() & kByrefHasCopyDispose) source->keep(copy, source);
  return copy;
}

void ReleaseByref(Byref *byref) {
  byref = byref->forwarding;
  if (!(byref->flags.load() & kByrefNeedsFree)) return;
  int32_t after = byref->flags.fetch_sub(kRefCountOne) - kRefCountOne;
  if ((after & kRefCountMask) != 0) return;
  if (byref->flags.load() & kByrefHasCopyDispose) byref->destroy(byref);
  free(byref);
}

}  // namespace

void _Block_object_assign(void *destination, const void *object, const int flags) {
  void **slot = (void **)destination;
  if (flags & kByrefCaller) {
    *slot = (void *)object;  // a __block variable's own object: not retained without ARC
    return;
  }
  if ((flags & kFieldIsByref) == kFieldIsByref) {
    *slot = RetainByref((Byref *)object);
  } else if ((flags & kFieldIsBlock) == kFieldIsBlock) {
    *slot = _Block_copy(object);
  } else if ((flags & kFieldIsObject) == kFieldIsObject) {
    *slot = (void *)gscompat::Retain((id)object);
  } else {
    *slot = (void *)object;
  }
}

void _Block_object_dispose(const void *object, const int flags) {
  if (flags & kByrefCaller) return;
  if ((flags & kFieldIsByref) == kFieldIsByref) {
    ReleaseByref((Byref *)object);
  } else if ((flags & kFieldIsBlock) == kFieldIsBlock) {
    _Block_release(object);
  } else if ((flags & kFieldIsObject) == kFieldIsObject) {
    gscompat::Release((id)object);
  }
}
