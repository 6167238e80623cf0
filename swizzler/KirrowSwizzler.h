// Moves method implementations and properties between classes at run time, and reports what it did.
//
// Every operation looks its methods up first (inherited methods count), acts only when they are
// there, and reports in one line through the receiving class's own +log: (what was done, ending in
// "success" or "error") or +error: (a method or property that was not found). Nothing is returned;
// the effect on the classes, the log lines and +latestErrorMessage are the only results. A derived
// class that redefines +log: or +error: receives the reports of every inherited operation.
//
// Changes to classes last until the process ends. Safe to call from a +load, before the application
// object exists. Not thread-safe: the logging switch and the latest error message are plain statics,
// and concurrent changes to one class are not ordered. Call from one thread (in this bundle, the
// thread that loads it).
#ifndef DB_KIRROW_SWIZZLER_H
#define DB_KIRROW_SWIZZLER_H

#import "DBPlatform.h"

@interface KirrowSwizzler : NSObject

#pragma mark - Reporting

// Switches the writing of report lines to the system log on or off (off when the bundle loads).
+ (void)setLogging:(BOOL)on;
// Writes message to the system log when logging is on.
+ (void)log:(NSString *)message;
// Remembers message as the latest error, then writes it when logging is on.
+ (void)error:(NSString *)message;
// The message of the most recent +error:, nil before the first. Valid at least until the next one.
+ (NSString *)latestErrorMessage;

#pragma mark - Methods

// Exchanges the implementations of two instance (class) methods of cls.
+ (void)swapInstanceMethod:(SEL)first withInstanceMethod:(SEL)second ofClass:(Class)cls;
+ (void)swapClassMethod:(SEL)first withClassMethod:(SEL)second ofClass:(Class)cls;

// Gives target's instance (class) method selector the implementation of source's method selector. A
// method that target only inherits is changed where it is defined, for all the classes that share it.
+ (void)replaceInstanceMethod:(SEL)selector ofClass:(Class)target fromClass:(Class)source;
+ (void)replaceClassMethod:(SEL)selector ofClass:(Class)target fromClass:(Class)source;

// Adds to target a copy of source's instance method selector under the name newSelector (or the same
// name). Nothing changes when target itself already defines that name; a method that target only
// inherits is overridden for target and its subclasses.
+ (void)addInstanceMethod:(SEL)selector toClass:(Class)target fromClass:(Class)source;
+ (void)addInstanceMethod:(SEL)selector toClass:(Class)target fromClass:(Class)source as:(SEL)newSelector;
// Adds to target's metaclass a copy of source's class method selector.
+ (void)addClassMethod:(SEL)selector toClass:(Class)target fromClass:(Class)source;

#pragma mark - Properties

// "set" + the name with its first UTF-16 unit capitalised + ":"; the empty string for the empty string.
+ (NSString *)setterMethodNameForPropertyName:(NSString *)name;

// Copies the declared property name (found on source or a superclass) to target, replacing target's
// own, then copies its getter and setter with +addInstanceMethod:toClass:fromClass:.
+ (void)addPropertyNamed:(NSString *)name toClass:(Class)target fromClass:(Class)source;

// Gives target a getter `name` and a setter whose storage is an associated object of each instance,
// held with policy (an objc_AssociationPolicy value). kind is accepted and not used. Accessors of
// earlier syntheses on the same class keep their own storage. The storage of a name belongs to the
// class it was synthesized on: a subclass that synthesizes the same name stores apart from its
// superclass, and a name synthesized again on the same class finds the same storage. A Nil target
// is left alone: both report lines end in "error".
+ (void)synthesizePropertyNamed:(NSString *)name ofKind:(Class)kind forClass:(Class)target withPolicy:(int32_t)policy;

@end

#endif
