// +[NSRunningApplication currentApplication] and the activation of this process.
#import "DBRunningApplication.h"

#include <objc/runtime.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

// Whether activation is refused to this process, decided once when the plug-in loads.
static BOOL activationRefused = NO;

// Replaces -[NSApplication activateIgnoringOtherApps:] while activation is refused.
static void refuseActivation(id self, SEL _cmd, BOOL flag) {}

static IMP originalCurrentApplication = NULL;
static DBRunningApplication *currentApplication = nil;
static pthread_once_t currentApplicationOnce = PTHREAD_ONCE_INIT;
static void makeCurrentApplication(void);

// Replaces +[NSRunningApplication currentApplication]: the platform's answer when it has one,
// else the stand-in.
static id currentApplicationStandIn(id self, SEL _cmd) {
  id original = originalCurrentApplication != NULL ? originalCurrentApplication(self, _cmd) : nil;
  if (original != nil) return original;
  return [DBRunningApplication currentApplicationStandIn];
}

@implementation DBRunningApplication

// Inside the implementation, so that it may set the object's own fields.
static void makeCurrentApplication(void) {
  @autoreleasepool {
    NSBundle *mainBundle = [NSBundle mainBundle];
    currentApplication = [[DBRunningApplication alloc] initWithProcessIdentifier:getpid()
                                                                          bundle:mainBundle
                                                                  executablePath:[mainBundle executablePath]];
    currentApplication->_isCurrent = YES;
  }
}

+ (void)load {
  const char *refused = getenv("DB_ACTIVATION_REFUSED");
  activationRefused = refused != NULL && strcmp(refused, "1") == 0;
  Method activate = class_getInstanceMethod(objc_getClass("NSApplication"), @selector(activateIgnoringOtherApps:));
  if (activationRefused && activate != NULL) method_setImplementation(activate, (IMP)refuseActivation);
  Class runningApplicationClass = objc_getClass("NSRunningApplication");
  if (runningApplicationClass == Nil) return;
  SEL selector = @selector(currentApplication);
  Method method = class_getClassMethod(runningApplicationClass, selector);
  if (method != NULL) {
    originalCurrentApplication = method_setImplementation(method, (IMP)currentApplicationStandIn);
  } else {
    class_addMethod(object_getClass((id)runningApplicationClass), selector, (IMP)currentApplicationStandIn, "@@:");
  }
}

+ (DBRunningApplication *)currentApplicationStandIn {
  pthread_once(&currentApplicationOnce, makeCurrentApplication);
  return currentApplication;
}

- (id)initWithProcessIdentifier:(pid_t)processIdentifier
                         bundle:(NSBundle *)bundle
                 executablePath:(NSString *)executablePath {
  if ((self = [super init]) != nil) {
    _processIdentifier = processIdentifier;
    _isCurrent = NO;
    _bundleURL = [[bundle bundleURL] retain];
    _executableURL = executablePath != nil ? [[NSURL fileURLWithPath:executablePath] retain] : nil;
    _bundleIdentifier = [[bundle bundleIdentifier] retain];
    NSString *name = [[bundle infoDictionary] objectForKey:@"CFBundleName"];
    if (![name isKindOfClass:[NSString class]]) name = [[executablePath lastPathComponent] stringByDeletingPathExtension];
    _localizedName = [name copy];
  }
  return self;
}

- (void)dealloc {
  [_bundleURL release];
  [_executableURL release];
  [_bundleIdentifier release];
  [_localizedName release];
  [super dealloc];
}

#pragma mark - Identity

- (pid_t)processIdentifier { return _processIdentifier; }
- (NSURL *)bundleURL { return _bundleURL; }
- (NSURL *)executableURL { return _executableURL; }
- (NSString *)bundleIdentifier { return _bundleIdentifier; }
- (NSString *)localizedName { return _localizedName; }

#pragma mark - Activation

// Only this process can be activated from here, unless activation is refused; other processes
// answer NO.
- (BOOL)activateWithOptions:(NSApplicationActivationOptions)options {
  if (!_isCurrent || NSApp == nil || activationRefused) return NO;
  [NSApp activateIgnoringOtherApps:(options & NSApplicationActivateIgnoringOtherApps) != 0];
  return YES;
}

- (BOOL)isActive { return _isCurrent && NSApp != nil && [NSApp isActive]; }

- (BOOL)hide {
  if (!_isCurrent || NSApp == nil) return NO;
  [NSApp hide:nil];
  return YES;
}

- (BOOL)unhide {
  if (!_isCurrent || NSApp == nil) return NO;
  [NSApp unhide:nil];
  return YES;
}

@end
