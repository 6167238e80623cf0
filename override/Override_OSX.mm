// Graft installation at load, and on the classes a host names itself.
#import "Override_OSX.h"

#include "DesktopBridge.h"
#import "KirrowSwizzler.h"
#import "OverrideAppDelegate.h"

static NSString *const AppDelegateClassName = @"PlayerAppDelegate";
static NSString *const ViewClassName = @"PlayerWindowView";

// The line written at load for the default classes this process lacks; nil when it has both.
static NSString *MissingClassesLine(BOOL delegateMissing, BOOL viewMissing) {
  if (delegateMissing && viewMissing) {
    return [NSString stringWithFormat:@"DesktopBridge: this process has no class %@ or %@, so the dock menu, open-file "
                                      @"requests and file drops stay off; attachHostClasses turns them on for the "
                                      @"host's own delegate and view classes",
                                      AppDelegateClassName, ViewClassName];
  }
  if (delegateMissing) {
    return [NSString stringWithFormat:@"DesktopBridge: this process has no class %@, so the dock menu and open-file "
                                      @"requests stay off; attachHostClasses turns them on for the host's own "
                                      @"delegate class",
                                      AppDelegateClassName];
  }
  if (viewMissing) {
    return [NSString stringWithFormat:@"DesktopBridge: this process has no class %@, so file drops stay off; "
                                      @"attachHostClasses turns them on for the host's own view class",
                                      ViewClassName];
  }
  return nil;
}

@implementation Override_OSX

+ (void)load {
  [self swizzle];
}

+ (void)swizzle {
  // The class-load hook may run before anyone has made a pool.
  @autoreleasepool {
    // A class the process lacks gets one line for all its handlers, naming what stays off, rather
    // than a swizzler report per handler that names no class.
    BOOL delegateMissing = NSClassFromString(AppDelegateClassName) == Nil;
    BOOL viewMissing = NSClassFromString(ViewClassName) == Nil;
    if (!delegateMissing) {
      [self addAppDelegateMethod:@selector(applicationDockMenu:) fromClass:[OverrideAppDelegate class]];
      [self addAppDelegateMethod:@selector(application:openFile:) fromClass:[OverrideAppDelegate class]];
    }
    if (!viewMissing) {
      [self addViewMethod:@selector(draggingEntered:) fromClass:[OverrideAppDelegate class]];
      [self addViewMethod:@selector(draggingExited:) fromClass:[OverrideAppDelegate class]];
      [self addViewMethod:@selector(prepareForDragOperation:) fromClass:[OverrideAppDelegate class]];
      [self addViewMethod:@selector(performDragOperation:) fromClass:[OverrideAppDelegate class]];
    }
    NSString *missing = MissingClassesLine(delegateMissing, viewMissing);
    if (missing != nil) NSLog(@"%@", missing);
  }
}

+ (void)addAppDelegateMethod:(SEL)selector fromClass:(Class)source {
  Class host = NSClassFromString(AppDelegateClassName);
  [KirrowSwizzler setLogging:YES];
  [KirrowSwizzler addInstanceMethod:selector toClass:host fromClass:source];
}

+ (void)addViewMethod:(SEL)selector fromClass:(Class)source {
  Class host = NSClassFromString(ViewClassName);
  [KirrowSwizzler setLogging:YES];
  [KirrowSwizzler addInstanceMethod:selector toClass:host fromClass:source];
}

+ (void)replaceAppDelegateMethod:(SEL)selector fromClass:(Class)source savingOriginalTo:(SEL)saveSelector {
  Class host = NSClassFromString(AppDelegateClassName);
  [KirrowSwizzler setLogging:YES];
  [KirrowSwizzler addInstanceMethod:saveSelector toClass:host fromClass:source];
  [KirrowSwizzler swapInstanceMethod:saveSelector withInstanceMethod:selector ofClass:host];
  [KirrowSwizzler replaceInstanceMethod:selector ofClass:host fromClass:source];
}

#pragma mark - Classes the host names

+ (BOOL)graft:(SEL)selector onto:(Class)host fromClass:(Class)source {
  IMP handler = method_getImplementation(class_getInstanceMethod(source, selector));
  Method current = class_getInstanceMethod(host, selector);
  // Already the bundle's: grafted earlier (at load, by an earlier call, or onto a superclass).
  if (current != NULL && method_getImplementation(current) == handler) return YES;
  [KirrowSwizzler setLogging:YES];
  [KirrowSwizzler addInstanceMethod:selector toClass:host fromClass:source];
  current = class_getInstanceMethod(host, selector);
  return current != NULL && method_getImplementation(current) == handler;
}

+ (int)attachDelegateClass:(Class)delegateClass viewClass:(Class)viewClass {
  int attached = 0;
  @autoreleasepool {
    Class source = [OverrideAppDelegate class];
    if (delegateClass != Nil) {
      if ([self graft:@selector(applicationDockMenu:) onto:delegateClass fromClass:source])
        attached |= DB_HANDLER_DOCK_MENU;
      if ([self graft:@selector(application:openFile:) onto:delegateClass fromClass:source])
        attached |= DB_HANDLER_OPEN_FILE;
    }
    if (viewClass != Nil) {
      if ([self graft:@selector(draggingEntered:) onto:viewClass fromClass:source]) attached |= DB_HANDLER_DRAG_ENTERED;
      if ([self graft:@selector(draggingExited:) onto:viewClass fromClass:source]) attached |= DB_HANDLER_DRAG_EXITED;
      if ([self graft:@selector(prepareForDragOperation:) onto:viewClass fromClass:source])
        attached |= DB_HANDLER_PREPARE_DRAG;
      if ([self graft:@selector(performDragOperation:) onto:viewClass fromClass:source])
        attached |= DB_HANDLER_PERFORM_DRAG;
    }
  }
  return attached;
}

@end
