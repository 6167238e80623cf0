// Graft installation at load.
#import "Override_OSX.h"

#import "KirrowSwizzler.h"
#import "OverrideAppDelegate.h"

static NSString *const AppDelegateClassName = @"PlayerAppDelegate";
static NSString *const ViewClassName = @"PlayerWindowView";

@implementation Override_OSX

+ (void)load {
  [self swizzle];
}

+ (void)swizzle {
  // The class-load hook may run before anyone has made a pool.
  @autoreleasepool {
    [self addAppDelegateMethod:@selector(applicationDockMenu:) fromClass:[OverrideAppDelegate class]];
    [self addAppDelegateMethod:@selector(application:openFile:) fromClass:[OverrideAppDelegate class]];
    [self addViewMethod:@selector(draggingEntered:) fromClass:[OverrideAppDelegate class]];
    [self addViewMethod:@selector(draggingExited:) fromClass:[OverrideAppDelegate class]];
    [self addViewMethod:@selector(prepareForDragOperation:) fromClass:[OverrideAppDelegate class]];
    [self addViewMethod:@selector(performDragOperation:) fromClass:[OverrideAppDelegate class]];
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

@end
