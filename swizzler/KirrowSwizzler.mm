#import "KirrowSwizzler.h"

#include <stdlib.h>

// Report lines go to the system log only while this is YES.
static BOOL _kirrowSwizzlerLogging = NO;
// The message of the most recent +error:, held by the swizzler until the next one replaces it.
static NSString *_kirrowSwizzlerLatestErrorMessage = nil;
// Its address is the association key under which a class holds the key string of its latest synthesis.
static char associationKeyKey = 0;
// Its address is the association key under which a class holds the table of its storage keys, from
// key text ("<name>Key") to the key object itself (see +storageKeyForPropertyNamed:ofClass:).
static char synthesizedKeysKey = 0;

static NSString *const kSuccess = @"success";
static NSString *const kError = @"error";

static NSString *Outcome(BOOL succeeded) { return succeeded ? kSuccess : kError; }

@interface KirrowSwizzler ()
+ (id)storageKeyForPropertyNamed:(NSString *)name ofClass:(Class)target;
@end

// The operations run inside their own autorelease pools: they may be called from a class-load hook,
// before any pool exists.
@implementation KirrowSwizzler

#pragma mark - Reporting

+ (void)setLogging:(BOOL)on {
  _kirrowSwizzlerLogging = on;
}

+ (void)log:(NSString *)message {
  if (_kirrowSwizzlerLogging) NSLog(@"%@", message);
}

+ (void)error:(NSString *)message {
  NSString *previous = _kirrowSwizzlerLatestErrorMessage;
  _kirrowSwizzlerLatestErrorMessage = [message copy];
  [previous release];
  if (_kirrowSwizzlerLogging) NSLog(@"%@", message);
}

+ (NSString *)latestErrorMessage {
  return _kirrowSwizzlerLatestErrorMessage;
}

#pragma mark - Exchange

+ (void)swapInstanceMethod:(SEL)first withInstanceMethod:(SEL)second ofClass:(Class)cls {
  @autoreleasepool {
    Method firstMethod = class_getInstanceMethod(cls, first);
    Method secondMethod = class_getInstanceMethod(cls, second);
    if (!firstMethod) {
      [self error:[NSString stringWithFormat:@"Instance method `%@` not found on class %@", NSStringFromSelector(first), cls]];
      return;
    }
    if (!secondMethod) {
      [self error:[NSString stringWithFormat:@"Instance method `%@` not found on class %@", NSStringFromSelector(second), cls]];
      return;
    }
    method_exchangeImplementations(firstMethod, secondMethod);
    [self log:[NSString stringWithFormat:@"Exchanged instance method `%@` with `%@` in %@", NSStringFromSelector(first),
                                         NSStringFromSelector(second), cls]];
  }
}

+ (void)swapClassMethod:(SEL)first withClassMethod:(SEL)second ofClass:(Class)cls {
  @autoreleasepool {
    Method firstMethod = class_getClassMethod(cls, first);
    Method secondMethod = class_getClassMethod(cls, second);
    if (!firstMethod) {
      [self error:[NSString stringWithFormat:@"Class method `%@` not found on class %@", NSStringFromSelector(first), cls]];
      return;
    }
    if (!secondMethod) {
      [self error:[NSString stringWithFormat:@"Class method `%@` not found on class %@", NSStringFromSelector(second), cls]];
      return;
    }
    method_exchangeImplementations(firstMethod, secondMethod);
    [self log:[NSString stringWithFormat:@"Exchanged class method `%@` with `%@` in %@", NSStringFromSelector(first),
                                         NSStringFromSelector(second), cls]];
  }
}

#pragma mark - Replacement

+ (void)replaceInstanceMethod:(SEL)selector ofClass:(Class)target fromClass:(Class)source {
  @autoreleasepool {
    Method targetMethod = class_getInstanceMethod(target, selector);
    Method sourceMethod = class_getInstanceMethod(source, selector);
    NSString *name = NSStringFromSelector(selector);
    if (!sourceMethod) {
      [self error:[NSString stringWithFormat:@"Instance method `%@` not found on source class %@", name, source]];
      return;
    }
    if (!targetMethod) {
      [self error:[NSString stringWithFormat:@"Instance method `%@` not found on target class %@", name, target]];
      return;
    }
    IMP previous = method_setImplementation(targetMethod, method_getImplementation(sourceMethod));
    [self log:[NSString stringWithFormat:@"Replaced instance method `%@` of %@ from %@ with %@", name, source, target,
                                         Outcome(previous != NULL)]];
  }
}

+ (void)replaceClassMethod:(SEL)selector ofClass:(Class)target fromClass:(Class)source {
  @autoreleasepool {
    Method targetMethod = class_getClassMethod(target, selector);
    Method sourceMethod = class_getClassMethod(source, selector);
    NSString *name = NSStringFromSelector(selector);
    if (!sourceMethod) {
      [self error:[NSString stringWithFormat:@"Class method `%@` not found on source class %@", name, source]];
      return;
    }
    if (!targetMethod) {
      [self error:[NSString stringWithFormat:@"Class method `%@` not found on target class %@", name, target]];
      return;
    }
    IMP previous = method_setImplementation(targetMethod, method_getImplementation(sourceMethod));
    [self log:[NSString stringWithFormat:@"Replaced method `%@` of %@ from %@ with %@", name, source, target,
                                         Outcome(previous != NULL)]];
  }
}

#pragma mark - Addition

+ (void)addInstanceMethod:(SEL)selector toClass:(Class)target fromClass:(Class)source {
  [self addInstanceMethod:selector toClass:target fromClass:source as:selector];
}

+ (void)addInstanceMethod:(SEL)selector toClass:(Class)target fromClass:(Class)source as:(SEL)newSelector {
  @autoreleasepool {
    Method sourceMethod = class_getInstanceMethod(source, selector);
    NSString *name = NSStringFromSelector(selector);
    if (!sourceMethod) {
      [self error:[NSString stringWithFormat:@"Instance method `%@` not found on source class %@", name, source]];
      return;
    }
    BOOL added = class_addMethod(target, newSelector, method_getImplementation(sourceMethod),
                                 method_getTypeEncoding(sourceMethod));
    if (!added) {
      [self log:[NSString stringWithFormat:@"Added instance method `%@` of %@ to %@ with %@", name, source, target, kError]];
    }
  }
}

+ (void)addClassMethod:(SEL)selector toClass:(Class)target fromClass:(Class)source {
  @autoreleasepool {
    Method sourceMethod = class_getClassMethod(source, selector);
    NSString *name = NSStringFromSelector(selector);
    if (!sourceMethod) {
      [self error:[NSString stringWithFormat:@"Class method `%@` not found on source class %@", name, source]];
      return;
    }
    Class metaclass = object_getClass((id)target);
    BOOL added = class_addMethod(metaclass, selector, method_getImplementation(sourceMethod),
                                 method_getTypeEncoding(sourceMethod));
    [self log:[NSString stringWithFormat:@"Added class method `%@` of %@ to %@ with %@", name, source, metaclass,
                                         Outcome(added)]];
  }
}

#pragma mark - Properties

+ (NSString *)setterMethodNameForPropertyName:(NSString *)name {
  if ([name length] == 0) return name;
  NSString *first = [[name substringToIndex:1] capitalizedString];
  NSString *rest = [name substringFromIndex:1];
  return [NSString stringWithFormat:@"set%@%@:", first, rest];
}

+ (void)addPropertyNamed:(NSString *)name toClass:(Class)target fromClass:(Class)source {
  @autoreleasepool {
    const char *runtimeName = [name UTF8String];
    objc_property_t property = class_getProperty(source, runtimeName);
    if (!property) {
      [self error:[NSString stringWithFormat:@"Property `%@` not found on source class %@", name, source]];
      return;
    }
    unsigned int count = 0;
    objc_property_attribute_t *attributes = property_copyAttributeList(property, &count);
    if (class_addProperty(target, runtimeName, attributes, count)) {
      [self log:[NSString stringWithFormat:@"Added property `%@` of %@ to %@ with %@", name, source, target, kSuccess]];
    } else {
      class_replaceProperty(target, runtimeName, attributes, count);
      // The outcome word is that of the add, which failed.
      [self log:[NSString stringWithFormat:@"Replaced property `%@` of %@ to %@ with %@", name, source, target, kError]];
    }
    free(attributes);

    [self addInstanceMethod:NSSelectorFromString(name) toClass:target fromClass:source];
    NSString *setterName = [self setterMethodNameForPropertyName:name];
    [self addInstanceMethod:NSSelectorFromString(setterName) toClass:target fromClass:source];
  }
}

// The object whose address is the key under which instances of target store property name: made on
// the first synthesis of name on target and handed out again for every later one, so re-synthesizing
// finds the same storage. target keeps it in its table, and a class lives as long as the process.
// It is a mutable string "<name>Key": a mutable object always has an identity of its own, whereas
// equal immutable strings may be one object (on 64-bit macOS a short one is a tagged pointer, its
// text held in the pointer itself), which would let a class and its subclass share storage.
// Nil for a Nil class, which has nothing to keep a key in.
+ (id)storageKeyForPropertyNamed:(NSString *)name ofClass:(Class)target {
  if (target == Nil) return nil;
  NSMutableDictionary *keys = objc_getAssociatedObject(target, &synthesizedKeysKey);
  if (!keys) {
    keys = [[NSMutableDictionary alloc] init];
    objc_setAssociatedObject(target, &synthesizedKeysKey, keys, OBJC_ASSOCIATION_RETAIN_NONATOMIC);
    [keys release];
  }
  NSString *text = [NSString stringWithFormat:@"%@Key", name];
  id key = [keys objectForKey:text];
  if (!key) {
    key = [NSMutableString stringWithString:text];
    [keys setObject:key forKey:text];
  }
  return key;
}

+ (void)synthesizePropertyNamed:(NSString *)name ofKind:(Class)kind forClass:(Class)target withPolicy:(int32_t)policy {
  @autoreleasepool {
    id key = [self storageKeyForPropertyNamed:name ofClass:target];
    // Apple's runtime dereferences a nil object that is given a value. A Nil class gets no methods
    // either: both adds below fail and report "error", as an add of a copied method to Nil does.
    if (target != Nil) objc_setAssociatedObject(target, &associationKeyKey, key, OBJC_ASSOCIATION_RETAIN_NONATOMIC);

    // The accessors capture the key's address only; the class's table keeps the key alive.
    const void *storageKey = key;
    objc_AssociationPolicy storagePolicy = (objc_AssociationPolicy)policy;
    IMP getter = imp_implementationWithBlock((id) ^ id(id receiver) { return objc_getAssociatedObject(receiver, storageKey); });
    IMP setter = imp_implementationWithBlock((id) ^ (id receiver, id value) {
      objc_setAssociatedObject(receiver, storageKey, value, storagePolicy);
    });

    BOOL getterAdded = class_addMethod(target, NSSelectorFromString(name), getter, "@16@0:8");
    [self log:[NSString stringWithFormat:@"Added synthesized getter `%@` to %@ with %@", name, target, Outcome(getterAdded)]];
    NSString *setterName = [self setterMethodNameForPropertyName:name];
    BOOL setterAdded = class_addMethod(target, NSSelectorFromString(setterName), setter, "v24@0:8@16");
    [self log:[NSString stringWithFormat:@"Added synthesized setter `%@` to %@ with %@", setterName, target,
                                         Outcome(setterAdded)]];

    // Implementations that no class took are of no further use.
    if (!getterAdded) imp_removeBlock(getter);
    if (!setterAdded) imp_removeBlock(setter);
  }
}

@end
