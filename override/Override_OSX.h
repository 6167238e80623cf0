// Installs the handlers of OverrideAppDelegate onto the host's own classes while the bundle loads:
// the dock-menu and open-file handlers onto "PlayerAppDelegate", the four drag handlers onto
// "PlayerWindowView". Nothing has to be called; the grafts are in place before dlopen returns. A
// host whose classes have other names names them later (+attachDelegateClass:viewClass:, behind
// the export attachHostClasses).
//
// A graft never replaces a method that the host class defines itself: that case writes one
// swizzler report line ending in "error". A default class the process lacks gets nothing, and
// the load writes one line for the missing classes, saying what stays off. Loading goes on. Every
// graft switches the swizzler's logging on. Runs on the loading thread, without locks.
#ifndef DB_OVERRIDE_OSX_H
#define DB_OVERRIDE_OSX_H

#import "DBPlatform.h"

@interface Override_OSX : NSObject

// Class-load hook: sends +swizzle.
+ (void)load;
// The six grafts, in order: applicationDockMenu:, application:openFile: onto the delegate class;
// draggingEntered:, draggingExited:, prepareForDragOperation:, performDragOperation: onto the
// view class, for each class the process has. Each is attempted whatever became of the ones
// before. Then one line for the default classes the process lacks, if any.
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

// Grafts the two delegate handlers onto delegateClass and the four view handlers onto viewClass (Nil
// skips that class), leaving alone a handler that is the bundle's there already, so calling again
// changes and writes nothing. Returns the DB_HANDLER_* bits of the handlers that the classes answer
// with the bundle's implementation afterwards. Main thread.
+ (int)attachDelegateClass:(Class)delegateClass viewClass:(Class)viewClass;

@end

#endif
