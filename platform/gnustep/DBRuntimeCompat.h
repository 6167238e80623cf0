// Object-runtime interfaces that Apple's runtime has and GCC's runtime lacks (or has only as empty
// shells), with Apple's names and shapes, so that code calling them reads as it does on macOS.
//
// Associated objects
//   objc_setAssociatedObject / objc_getAssociatedObject / objc_removeAssociatedObjects with the
//   assign, retain and copy policies, atomic and not. Thread-safe. Values held with the retain or
//   copy policy are released when their object is deallocated: the first association on an instance
//   of a class hooks that class's -dealloc once (see DBAssociatedObjects.mm). Associations stay
//   readable during the object's own -dealloc chain and are released after it. An object of a class
//   that has no -dealloc at all (a root class other than NSObject or NSProxy without one) keeps its
//   associations until objc_removeAssociatedObjects. Class objects are never deallocated, so their
//   associations last for the process. Blocks are not objects on this runtime: do not store them
//   with the copy policy. A nil object with a nil value is ignored, as on macOS; a nil object with
//   a value, which crashes Apple's runtime, is ignored with one log line.
//
// Block-backed implementations
//   imp_implementationWithBlock copies the block and returns an implementation that calls it with
//   the receiver followed by the method's arguments (the selector is dropped). The
//   block must carry a type signature (clang always emits one); arguments and results may be
//   integers, floating-point values, pointers, objects, classes and selectors, not structures or
//   unions passed by value. On anything else it returns NULL. imp_getBlock and imp_removeBlock work
//   as on macOS. Thread-safe. (Block_copy itself does not copy a stack block on this platform: GNUstep
//   Base's _Block_copy, which takes precedence over the blocks runtime's, returns it as it is. Do not
//   keep a stack block beyond its scope through Block_copy.)
//
// Properties
//   This runtime records no property metadata from the compiler, so class_getProperty and friends
//   work over a registry of our own. A class declares its properties to the registry before anyone
//   looks them up, normally from its +load, either with Apple's class_addProperty or with the
//   shorthand DBDeclareProperty(cls, "name", "T@\"NSString\",&,N,V_name") of DBPropertyDeclaration.h,
//   which takes the attribute string that property_getAttributes returns. As on macOS, class_getProperty also finds the
//   properties of superclasses, class_addProperty refuses a name that the class or a superclass
//   already has, and class_replaceProperty replaces the attributes of the property it finds that
//   way (adding the property to the class when there is none). objc_property_t values stay valid for
//   the life of the process. Thread-safe.
//
// Class methods added at run time
//   class_addMethod on the metaclass of a clang-built class adds the method but the class never
//   answers it: clang sets a metaclass flag that GCC's runtime reads as "class under construction".
//   class_addMethod here clears that flag on registered metaclasses first, then adds as usual.
#ifndef DB_GS_RUNTIME_COMPAT_H
#define DB_GS_RUNTIME_COMPAT_H

#include <objc/runtime.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma mark - Associated objects

typedef uintptr_t objc_AssociationPolicy;
enum {
  OBJC_ASSOCIATION_ASSIGN = 0,
  OBJC_ASSOCIATION_RETAIN_NONATOMIC = 1,
  OBJC_ASSOCIATION_COPY_NONATOMIC = 3,
  OBJC_ASSOCIATION_RETAIN = 01401,
  OBJC_ASSOCIATION_COPY = 01403
};

void objc_setAssociatedObject(id object, const void *key, id value, objc_AssociationPolicy policy);
id objc_getAssociatedObject(id object, const void *key);
void objc_removeAssociatedObjects(id object);

#pragma mark - Block-backed implementations

IMP imp_implementationWithBlock(id block);
id imp_getBlock(IMP anImp);
BOOL imp_removeBlock(IMP anImp);

#pragma mark - Properties

typedef struct {
  const char *name;
  const char *value;
} objc_property_attribute_t;

// GCC's runtime exports these names with implementations that know nothing of our registry; ours
// take their place through the macros below.
objc_property_t DBGSClassGetProperty(Class cls, const char *name);
objc_property_t *DBGSClassCopyPropertyList(Class cls, unsigned int *outCount);
const char *DBGSPropertyGetName(objc_property_t property);
const char *DBGSPropertyGetAttributes(objc_property_t property);

objc_property_attribute_t *property_copyAttributeList(objc_property_t property, unsigned int *outCount);
char *property_copyAttributeValue(objc_property_t property, const char *attributeName);
BOOL class_addProperty(Class cls, const char *name, const objc_property_attribute_t *attributes,
                       unsigned int attributeCount);
void class_replaceProperty(Class cls, const char *name, const objc_property_attribute_t *attributes,
                           unsigned int attributeCount);

#pragma mark - Methods

BOOL DBGSClassAddMethod(Class cls, SEL name, IMP imp, const char *types);

#ifdef __cplusplus
}
#endif

// The stand-ins' own sources define DB_GS_RUNTIME_COMPAT_IMPLEMENTATION to reach GCC's originals.
#ifndef DB_GS_RUNTIME_COMPAT_IMPLEMENTATION
#define class_getProperty DBGSClassGetProperty
#define class_copyPropertyList DBGSClassCopyPropertyList
#define property_getName DBGSPropertyGetName
#define property_getAttributes DBGSPropertyGetAttributes
#define class_addMethod DBGSClassAddMethod
#endif

#endif
