// imp_implementationWithBlock for GCC's runtime, over libffi closures.
//
// The implementation is a closure with the method's own signature (receiver, selector, arguments),
// read from the block's type signature. When it runs, it calls the block's invoke function with the
// block, the receiver and the arguments. On x86-64, where every argument and the result are integer
// class values (objects, pointers, integers), the call is made directly through the registers;
// anything else (floating-point values) goes through ffi_call.
//
// The block is copied here, not with Block_copy: GNUstep Base exports its own _Block_copy, which wins
// over the blocks runtime's and returns a clang-built stack block uncopied (it waits for a flag bit
// that clang no longer sets). Our copy is marked global, so that Block_copy and Block_release of what
// imp_getBlock returns are harmless no-ops; imp_removeBlock disposes of it.
#define DB_GS_RUNTIME_COMPAT_IMPLEMENTATION
#import "DBPlatform.h"

#include <ffi.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>

extern "C" void *_NSConcreteGlobalBlock[32];

#include <unordered_map>

namespace {

// The blocks ABI, as the compiler lays it out.
enum {
  kBlockRefCountMask = 0xffff,
  kBlockNeedsFree = 1 << 24,
  kBlockHasCopyDispose = 1 << 25,
  kBlockIsGlobal = 1 << 28,
  kBlockHasSignature = 1 << 30
};

struct BlockDescriptor {
  unsigned long reserved;
  unsigned long size;
  const void *rest[3];  // copy and dispose helpers when present, then the signature
};

struct BlockLayout {
  void *isa;
  int flags;
  int reserved;
  void *invoke;
  BlockDescriptor *descriptor;
};

typedef void (*BlockCopyHelper)(void *destination, const void *source);
typedef void (*BlockDisposeHelper)(const void *block);

// A heap copy of block that nothing but imp_removeBlock frees; a global block is used as it is.
const BlockLayout *CopyBlock(const BlockLayout *block) {
  if (block->flags & kBlockIsGlobal) return block;
  BlockLayout *copy = (BlockLayout *)malloc(block->descriptor->size);
  if (!copy) return nullptr;
  memcpy(copy, block, block->descriptor->size);
  copy->isa = (void *)_NSConcreteGlobalBlock;
  copy->flags = (copy->flags & ~(kBlockRefCountMask | kBlockNeedsFree)) | kBlockIsGlobal;
  if (block->flags & kBlockHasCopyDispose) ((BlockCopyHelper)block->descriptor->rest[0])(copy, block);
  return copy;
}

void DisposeBlock(const BlockLayout *block, bool ours) {
  if (!ours) return;
  if (block->flags & kBlockHasCopyDispose) ((BlockDisposeHelper)block->descriptor->rest[1])(block);
  free((void *)block);
}

const char *BlockSignature(const BlockLayout *block) {
  if (!(block->flags & kBlockHasSignature) || !block->descriptor) return nullptr;
  int index = (block->flags & kBlockHasCopyDispose) ? 2 : 0;
  return (const char *)block->descriptor->rest[index];
}

const size_t kMaxArguments = 16;

struct BlockImplementation {
  const BlockLayout *block;  // our own copy, or the block itself when it is global
  bool ownsBlock;
  ffi_closure *closure;
  IMP implementation;
  unsigned argumentCount;  // of the block: the block itself, the receiver, then the arguments
  ffi_type *blockTypes[kMaxArguments];
  ffi_type *methodTypes[kMaxArguments];
  ffi_type *returnType;
  ffi_cif blockCif;
  ffi_cif methodCif;
  bool direct;  // all integer class: call invoke through the registers
  char returnCode;
};

// Skips type qualifiers, then reads one type; returns the position after it (and after its frame
// offset digits) or NULL for a type we cannot pass.
const char *ReadType(const char *type, ffi_type **ffiType, char *code) {
  while (*type && strchr("rnNoORV", *type)) type++;
  *code = *type;
  switch (*type) {
    case 'c': *ffiType = &ffi_type_sint8; break;
    case 'C': *ffiType = &ffi_type_uint8; break;
    case 'B': *ffiType = &ffi_type_uint8; break;
    case 's': *ffiType = &ffi_type_sint16; break;
    case 'S': *ffiType = &ffi_type_uint16; break;
    case 'i': *ffiType = &ffi_type_sint32; break;
    case 'I': *ffiType = &ffi_type_uint32; break;
    case 'l': *ffiType = sizeof(long) == 8 ? &ffi_type_sint64 : &ffi_type_sint32; break;
    case 'L': *ffiType = sizeof(long) == 8 ? &ffi_type_uint64 : &ffi_type_uint32; break;
    case 'q': *ffiType = &ffi_type_sint64; break;
    case 'Q': *ffiType = &ffi_type_uint64; break;
    case 'f': *ffiType = &ffi_type_float; break;
    case 'd': *ffiType = &ffi_type_double; break;
    case 'v': *ffiType = &ffi_type_void; break;
    case '*': case '#': case ':': *ffiType = &ffi_type_pointer; break;
    case '@':
      *ffiType = &ffi_type_pointer;
      if (type[1] == '?') type++;  // a block
      else if (type[1] == '"') {   // a class name
        const char *end = strchr(type + 2, '"');
        if (!end) return nullptr;
        type = end;
      }
      break;
    case '^': {
      *ffiType = &ffi_type_pointer;
      ffi_type *pointee;
      char pointeeCode;
      // The pointee may be anything, structures included: skip it by bracket depth.
      const char *rest = type + 1;
      if (*rest == '{' || *rest == '(' || *rest == '[') {
        int depth = 0;
        do {
          if (*rest == '{' || *rest == '(' || *rest == '[') depth++;
          else if (*rest == '}' || *rest == ')' || *rest == ']') depth--;
          else if (!*rest) return nullptr;
          rest++;
        } while (depth > 0);
        type = rest - 1;
      } else if (*rest == '?') {
        type = rest;
      } else {
        const char *after = ReadType(rest, &pointee, &pointeeCode);
        if (!after) return nullptr;
        while (after > rest && after[-1] >= '0' && after[-1] <= '9') after--;
        type = after - 1;
      }
      break;
    }
    default:
      return nullptr;  // structures, unions, arrays, bit fields, long double
  }
  type++;
  while (*type >= '0' && *type <= '9') type++;
  return type;
}

bool IsIntegerClass(ffi_type *type) { return type != &ffi_type_float && type != &ffi_type_double; }

uint64_t LoadInteger(ffi_type *type, const void *from) {
  if (type == &ffi_type_sint8) return (uint64_t)(int64_t) * (const int8_t *)from;
  if (type == &ffi_type_uint8) return *(const uint8_t *)from;
  if (type == &ffi_type_sint16) return (uint64_t)(int64_t) * (const int16_t *)from;
  if (type == &ffi_type_uint16) return *(const uint16_t *)from;
  if (type == &ffi_type_sint32) return (uint64_t)(int64_t) * (const int32_t *)from;
  if (type == &ffi_type_uint32) return *(const uint32_t *)from;
  return *(const uint64_t *)from;
}

// The closure's result slot holds a full ffi_arg for small integers.
void StoreResult(ffi_type *type, uint64_t value, void *to) {
  if (type == &ffi_type_void) return;
  if (type == &ffi_type_sint8) *(ffi_sarg *)to = (int8_t)value;
  else if (type == &ffi_type_uint8) *(ffi_arg *)to = (uint8_t)value;
  else if (type == &ffi_type_sint16) *(ffi_sarg *)to = (int16_t)value;
  else if (type == &ffi_type_uint16) *(ffi_arg *)to = (uint16_t)value;
  else if (type == &ffi_type_sint32) *(ffi_sarg *)to = (int32_t)value;
  else if (type == &ffi_type_uint32) *(ffi_arg *)to = (uint32_t)value;
  else *(uint64_t *)to = value;
}

void RunBlock(ffi_cif *, void *result, void **arguments, void *userData) {
  BlockImplementation *record = (BlockImplementation *)userData;
  const void *block = record->block;
#if defined(__x86_64__)
  if (record->direct) {
    uint64_t values[6] = {(uint64_t)(uintptr_t)block, 0, 0, 0, 0, 0};
    // Method arguments: receiver, selector, rest. The block takes receiver, rest.
    values[1] = *(uint64_t *)arguments[0];
    for (unsigned index = 2; index < record->argumentCount; index++) {
      values[index] = LoadInteger(record->blockTypes[index], arguments[index]);
    }
    typedef uint64_t (*Invoke)(uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t);
    uint64_t value = ((Invoke)record->block->invoke)(values[0], values[1], values[2], values[3], values[4], values[5]);
    StoreResult(record->returnType, value, result);
    return;
  }
#endif
  void *blockArguments[kMaxArguments];
  blockArguments[0] = &block;
  blockArguments[1] = arguments[0];
  for (unsigned index = 2; index < record->argumentCount; index++) blockArguments[index] = arguments[index];
  if (record->returnType != &ffi_type_void && record->returnType->size < sizeof(ffi_arg) &&
      IsIntegerClass(record->returnType)) {
    ffi_arg widened = 0;
    ffi_call(&record->blockCif, FFI_FN(record->block->invoke), &widened, blockArguments);
    *(ffi_arg *)result = widened;
  } else {
    ffi_call(&record->blockCif, FFI_FN(record->block->invoke), result, blockArguments);
  }
}

pthread_mutex_t registryLock = PTHREAD_MUTEX_INITIALIZER;
std::unordered_map<IMP, BlockImplementation *> *registry = nullptr;

bool Describe(BlockImplementation *record, const char *signature) {
  char code;
  const char *cursor = ReadType(signature, &record->returnType, &code);
  if (!cursor) return false;
  record->returnCode = code;
  unsigned count = 0;
  while (*cursor) {
    if (count == kMaxArguments) return false;
    cursor = ReadType(cursor, &record->blockTypes[count], &code);
    if (!cursor || record->blockTypes[count] == &ffi_type_void) return false;
    count++;
  }
  // The block's first argument is the block itself, its second the receiver.
  if (count < 2 || record->blockTypes[0] != &ffi_type_pointer || record->blockTypes[1] != &ffi_type_pointer) return false;
  record->argumentCount = count;
  record->methodTypes[0] = &ffi_type_pointer;  // receiver
  record->methodTypes[1] = &ffi_type_pointer;  // selector
  bool direct = count <= 6 && IsIntegerClass(record->returnType);
  for (unsigned index = 2; index < count; index++) {
    record->methodTypes[index] = record->blockTypes[index];
    if (!IsIntegerClass(record->blockTypes[index])) direct = false;
  }
  record->direct = direct;
  return ffi_prep_cif(&record->blockCif, FFI_DEFAULT_ABI, count, record->returnType, record->blockTypes) == FFI_OK &&
         ffi_prep_cif(&record->methodCif, FFI_DEFAULT_ABI, count, record->returnType, record->methodTypes) == FFI_OK;
}

}  // namespace

IMP imp_implementationWithBlock(id block) {
  if (!block) return NULL;
  const BlockLayout *original = (const BlockLayout *)(const void *)block;
  const char *signature = BlockSignature(original);
  if (!signature) return NULL;
  BlockImplementation *record = new BlockImplementation();
  if (!Describe(record, signature) || !(record->block = CopyBlock(original))) {
    delete record;
    return NULL;
  }
  record->ownsBlock = record->block != original;
  void *code = nullptr;
  if (!(record->closure = (ffi_closure *)ffi_closure_alloc(sizeof(ffi_closure), &code)) ||
      ffi_prep_closure_loc(record->closure, &record->methodCif, RunBlock, record, code) != FFI_OK) {
    if (record->closure) ffi_closure_free(record->closure);
    DisposeBlock(record->block, record->ownsBlock);
    delete record;
    return NULL;
  }
  record->implementation = (IMP)code;
  pthread_mutex_lock(&registryLock);
  if (!registry) registry = new std::unordered_map<IMP, BlockImplementation *>();
  (*registry)[record->implementation] = record;
  pthread_mutex_unlock(&registryLock);
  return record->implementation;
}

id imp_getBlock(IMP implementation) {
  id block = nil;
  pthread_mutex_lock(&registryLock);
  if (registry) {
    auto found = registry->find(implementation);
    if (found != registry->end()) block = (id)(void *)found->second->block;
  }
  pthread_mutex_unlock(&registryLock);
  return block;
}

BOOL imp_removeBlock(IMP implementation) {
  BlockImplementation *record = nullptr;
  pthread_mutex_lock(&registryLock);
  if (registry) {
    auto found = registry->find(implementation);
    if (found != registry->end()) {
      record = found->second;
      registry->erase(found);
    }
  }
  pthread_mutex_unlock(&registryLock);
  if (!record) return NO;
  ffi_closure_free(record->closure);
  DisposeBlock(record->block, record->ownsBlock);
  delete record;
  return YES;
}
