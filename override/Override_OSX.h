// Installs the handlers of OverrideAppDelegate onto the host's own classes while the bundle loads:
// the dock-menu and open-file handlers onto "PlayerAppDelegate", the four drag handlers onto
// "PlayerWindowView". Nothing has to be called; the grafts are in place before dlopen returns.
//
// A graft never replaces a method that the host class defines itself, and a missing host class
// gets nothing; each such case writes one swizzler report line ending in "error", and loading goes
// on. Every graft switches the swizzler's logging on. Runs on the loading thread, without locks.
#ifndef DB_OVERRIDE_OSX_H
#define DB_OVERRIDE_OSX_H

#import "DBPlatform.h"

@interface Override_OSX : NSObject

// Class-load hook: sends +swizzle.
+ (void)load;
// The six grafts, in order: applicationDockMenu:, application:openFile: onto the delegate class;
// draggingEntered:, draggingExited:, prepareForDragOperation:, performDragOperation: onto the
// view class. Each is attempted whatever became of the ones before.
+ (void)swizzle;

// Adds source's instance method selector to "PlayerAppDelegate" ("PlayerWindowView"), unless that
// class defines selector itself.
+ (void)addAppDelegateMethod:(SEL)selector fromClass:(Class)source;
+ (void)addViewMethod:(SEL)selector fromClass:(Class)source;

// Makes "PlayerAppDelegate" answer selector with source's implementation and keeps the class's
// previous implementation under saveSelector, where source's implementation can reach it. source
// must define saveSelector too (its implementation is only a placeholder). The three steps (add
// saveSelector, exchange, replace) run whatever becomes of each; a step that fails reports through
// the swizzler, so with a source lacking saveSelector the previous implementation is not kept.
+ (void)replaceAppDelegateMethod:(SEL)selector fromClass:(Class)source savingOriginalTo:(SEL)saveSelector;

@end

#endif
