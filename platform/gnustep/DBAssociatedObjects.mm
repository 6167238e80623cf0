// Associated objects for GCC's runtime.
//
// Storage: a side table from object address to that object's associations, split into stripes by
// address, each stripe with its own mutex. Every lookup happens under the stripe's mutex; values are
// retained, copied and released outside it, since those may run arbitrary code (and a release may
// deallocate another object that has associations).
//
// Release at deallocation: the first association made on an instance of a class installs, once per
// class, a -dealloc hook on that class (an override when the class only inherits -dealloc, a
// replacement of its implementation when it defines one). The hook marks the object's table entry as
// dying, runs the original -dealloc chain (associations stay readable meanwhile, as on macOS), then
// drops the entry and releases the values. An entry marked dying is invisible to other threads, so an
// object that a later allocation places at the same address starts with no associations. Objects of
// classes never hooked pay nothing; hooked classes pay one atomic load when their stripe is empty.
#define DB_GS_RUNTIME_COMPAT_IMPLEMENTATION
#import "DBPlatform.h"
#include "DBMessaging.h"

#include <ffi.h>
#include <pthread.h>

#include <atomic>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

struct Association {
  const void *key;
  id value;
  objc_AssociationPolicy policy;
};

enum : uintptr_t { kPolicyRetain = 1, kPolicyCopy = 3, kPolicyAtomic = 01400 };

bool Retains(objc_AssociationPolicy policy) {
  uintptr_t kind = policy & 3;
  return kind == kPolicyRetain || kind == kPolicyCopy;
}

struct ObjectAssociations {
  std::vector<Association> entries;
  bool dying = false;
  pthread_t dyingThread;
};

typedef std::unordered_map<const void *, ObjectAssociations *> AssociationMap;

struct Stripe {
  pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  std::atomic<size_t> objects{0};
  AssociationMap *map = nullptr;  // made on first use: this may run from a +load before constructors
};

const size_t kStripeCount = 16;
Stripe stripes[kStripeCount];

Stripe &StripeFor(const void *object) {
  uintptr_t address = (uintptr_t)object;
  return stripes[((address >> 4) ^ (address >> 12)) & (kStripeCount - 1)];
}

// The entry of object as seen from the calling thread: an entry that another thread is tearing down
// belongs to an object that no longer exists.
ObjectAssociations *VisibleEntry(Stripe &stripe, id object, AssociationMap::iterator *where) {
  if (!stripe.map) return nullptr;
  AssociationMap::iterator found = stripe.map->find(object);
  if (found == stripe.map->end()) return nullptr;
  if (where) *where = found;
  ObjectAssociations *entry = found->second;
  if (entry->dying && !pthread_equal(entry->dyingThread, pthread_self())) return nullptr;
  return entry;
}

void ReleaseValues(const std::vector<Association> &entries) {
  for (const Association &association : entries) {
    if (Retains(association.policy)) gscompat::Release(association.value);
  }
}

#pragma mark - Dealloc hook

struct DeallocHook {
  Class cls;
  IMP original;  // NULL when cls only inherited -dealloc: the superclass's is looked up on each call
  ffi_cif cif;
  ffi_type *argumentTypes[2];
};

pthread_mutex_t hookLock = PTHREAD_MUTEX_INITIALIZER;
std::unordered_set<Class> *hookedClasses = nullptr;

// Marks object's entry as dying on this thread and returns it, or NULL when it has none or an outer
// hook of the same deallocation already took it.
ObjectAssociations *BeginDying(id object) {
  Stripe &stripe = StripeFor(object);
  if (stripe.objects.load(std::memory_order_acquire) == 0) return nullptr;
  ObjectAssociations *entry = nullptr;
  pthread_mutex_lock(&stripe.lock);
  AssociationMap::iterator where;
  ObjectAssociations *visible = VisibleEntry(stripe, object, &where);
  if (visible && !visible->dying) {
    visible->dying = true;
    visible->dyingThread = pthread_self();
    entry = visible;
  }
  pthread_mutex_unlock(&stripe.lock);
  return entry;
}

void FinishDying(const void *address, ObjectAssociations *entry) {
  Stripe &stripe = StripeFor(address);
  pthread_mutex_lock(&stripe.lock);
  AssociationMap::iterator found = stripe.map->find(address);
  if (found != stripe.map->end() && found->second == entry) {
    stripe.map->erase(found);
    stripe.objects.fetch_sub(1, std::memory_order_release);
  }
  pthread_mutex_unlock(&stripe.lock);
  ReleaseValues(entry->entries);
  delete entry;
}

void RunDeallocHook(ffi_cif *, void *, void **arguments, void *userData) {
  DeallocHook *hook = (DeallocHook *)userData;
  id object = *(id *)arguments[0];
  SEL selector = *(SEL *)arguments[1];
  ObjectAssociations *dying = BeginDying(object);
  IMP next = hook->original ? hook->original
                            : class_getMethodImplementation(class_getSuperclass(hook->cls), selector);
  ((void (*)(id, SEL))next)(object, selector);
  if (dying) FinishDying(object, dying);
}

IMP MakeHookImplementation(DeallocHook *hook) {
  void *code = nullptr;
  ffi_closure *closure = (ffi_closure *)ffi_closure_alloc(sizeof(ffi_closure), &code);
  if (!closure) return nullptr;
  hook->argumentTypes[0] = &ffi_type_pointer;
  hook->argumentTypes[1] = &ffi_type_pointer;
  if (ffi_prep_cif(&hook->cif, FFI_DEFAULT_ABI, 2, &ffi_type_void, hook->argumentTypes) != FFI_OK ||
      ffi_prep_closure_loc(closure, &hook->cif, RunDeallocHook, hook, code) != FFI_OK) {
    ffi_closure_free(closure);
    return nullptr;
  }
  return (IMP)code;
}

// Installs the hook on cls once. Classes without any -dealloc cannot be hooked.
void EnsureDeallocHook(Class cls) {
  pthread_mutex_lock(&hookLock);
  if (!hookedClasses) hookedClasses = new std::unordered_set<Class>();
  if (hookedClasses->count(cls)) {
    pthread_mutex_unlock(&hookLock);
    return;
  }
  SEL deallocSelector = sel_registerName("dealloc");
  Method inherited = class_getInstanceMethod(cls, deallocSelector);
  if (inherited) {
    DeallocHook *hook = new DeallocHook();
    hook->cls = cls;
    IMP implementation = MakeHookImplementation(hook);
    if (!implementation) {
      delete hook;
    } else {
      // GCC's original class_addMethod: this is an instance method of an ordinary class.
      if (!class_addMethod(cls, deallocSelector, implementation, method_getTypeEncoding(inherited))) {
        Method own = class_getInstanceMethod(cls, deallocSelector);
        hook->original = method_getImplementation(own);
        method_setImplementation(own, implementation);
      }
    }
  }
  hookedClasses->insert(cls);
  pthread_mutex_unlock(&hookLock);
}

bool IsClassObject(id object) { return class_isMetaClass(object_getClass(object)); }

}  // namespace

#pragma mark - Interface

void objc_setAssociatedObject(id object, const void *key, id value, objc_AssociationPolicy policy) {
  if (!object) {
    // Apple's runtime returns early only when the value is nil as well; given a value, it
    // dereferences the nil object. Refused here, with a line, so the caller's fault shows up.
    if (value) {
      @autoreleasepool {
        NSLog(@"objc_setAssociatedObject: a nil object given a value (Apple's runtime crashes on this); ignored");
      }
    }
    return;
  }
  if (!key) return;
  id stored = value;
  if (value && (policy & 3) == kPolicyCopy) stored = gscompat::Copy(value);
  else if (value && (policy & 3) == kPolicyRetain) stored = gscompat::Retain(value);

  Stripe &stripe = StripeFor(object);
  Association old = {key, nil, OBJC_ASSOCIATION_ASSIGN};
  bool created = false;
  pthread_mutex_lock(&stripe.lock);
  if (!stripe.map) stripe.map = new AssociationMap();
  AssociationMap::iterator where;
  ObjectAssociations *entry = VisibleEntry(stripe, object, &where);
  if (!entry && stored) {
    // A dying entry of an earlier object at this address stays with its hook; this object gets its own.
    entry = new ObjectAssociations();
    AssociationMap::iterator previous = stripe.map->find(object);
    if (previous != stripe.map->end()) previous->second = entry;
    else {
      stripe.map->emplace(object, entry);
      stripe.objects.fetch_add(1, std::memory_order_release);
    }
    created = true;
  }
  if (entry) {
    std::vector<Association> &entries = entry->entries;
    size_t index = 0;
    while (index < entries.size() && entries[index].key != key) index++;
    if (index < entries.size()) {
      old = entries[index];
      if (stored) entries[index] = Association{key, stored, policy};
      else entries.erase(entries.begin() + index);
    } else if (stored) {
      entries.push_back(Association{key, stored, policy});
    }
    if (entries.empty() && !entry->dying) {
      stripe.map->erase(stripe.map->find(object));
      stripe.objects.fetch_sub(1, std::memory_order_release);
      delete entry;
    }
  }
  pthread_mutex_unlock(&stripe.lock);

  if (old.value && Retains(old.policy)) gscompat::Release(old.value);
  if (created && !IsClassObject(object)) EnsureDeallocHook(object_getClass(object));
}

id objc_getAssociatedObject(id object, const void *key) {
  if (!object || !key) return nil;
  Stripe &stripe = StripeFor(object);
  if (stripe.objects.load(std::memory_order_acquire) == 0) return nil;
  id value = nil;
  bool atomic = false;
  pthread_mutex_lock(&stripe.lock);
  ObjectAssociations *entry = VisibleEntry(stripe, object, nullptr);
  if (entry) {
    for (const Association &association : entry->entries) {
      if (association.key != key) continue;
      value = association.value;
      atomic = (association.policy & kPolicyAtomic) && Retains(association.policy);
      if (atomic) gscompat::Retain(value);
      break;
    }
  }
  pthread_mutex_unlock(&stripe.lock);
  return atomic ? gscompat::Autorelease(value) : value;
}

void objc_removeAssociatedObjects(id object) {
  if (!object) return;
  Stripe &stripe = StripeFor(object);
  std::vector<Association> removed;
  pthread_mutex_lock(&stripe.lock);
  AssociationMap::iterator where;
  ObjectAssociations *entry = VisibleEntry(stripe, object, &where);
  if (entry) {
    removed.swap(entry->entries);
    if (!entry->dying) {
      stripe.map->erase(where);
      stripe.objects.fetch_sub(1, std::memory_order_release);
      delete entry;
    }
  }
  pthread_mutex_unlock(&stripe.lock);
  ReleaseValues(removed);
}
