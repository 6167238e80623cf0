// class_addMethod that also works on the metaclasses of clang-built classes.
//
// Clang emits two faults into the metaclasses it builds for this runtime:
// - info bit 0x10, which GCC's runtime reads as "class under construction": an add then lands in the
//   method list but never in the dispatch table, so the class does not answer the selector (or the
//   runtime aborts on a later install of the table);
// - an isa that points to the metaclass of GCC's own root class Object instead of the root metaclass
//   of the class's hierarchy, so the metaclass object itself answers no message (formatting it with
//   %@ raises).
// Both are mended on the metaclasses of registered classes before the add. Classes made with
// objc_allocateClassPair and not yet registered are left as they are.
#define DB_GS_RUNTIME_COMPAT_IMPLEMENTATION
#import "DBPlatform.h"

namespace {

const unsigned long kInConstruction = 0x10UL;
const int kInfoWord = 4;  // after isa, superclass, name, version

void NormaliseMetaclass(Class meta) {
  if (!meta || !class_isMetaClass(meta)) return;
  Class registered = objc_getClass(class_getName(meta));
  if (!registered || object_getClass((id)registered) != meta) return;
  unsigned long *words = (unsigned long *)(void *)meta;
  if (words[kInfoWord] & kInConstruction) words[kInfoWord] &= ~kInConstruction;
  Class root = registered;
  while (class_getSuperclass(root)) root = class_getSuperclass(root);
  Class rootMeta = object_getClass((id)root);
  Class *isa = (Class *)(void *)meta;
  if (*isa != rootMeta) *isa = rootMeta;
}

}  // namespace

BOOL DBGSClassAddMethod(Class cls, SEL name, IMP imp, const char *types) {
  if (!cls) return NO;
  NormaliseMetaclass(cls);
  return class_addMethod(cls, name, imp, types);
}
