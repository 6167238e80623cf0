// attachHostClasses: the grafted handlers on classes that the host names itself.
#include "DesktopBridge.h"
#import "DBPlatform.h"
#include "ExportEdge.h"
#import "Override_OSX.h"

static BOOL InheritsFrom(Class cls, Class ancestor) {
  for (Class current = cls; current != Nil; current = class_getSuperclass(current))
    if (current == ancestor) return YES;
  return NO;
}

// The class named name that descends from ancestor; Nil, silently, for null or "" (the host skips
// that class), and Nil with one line for a name the process does not know or a class of another
// kind, saying what stays off.
static Class HostClass(const char *name, Class ancestor, const char *facilities) {
  if (name == NULL || name[0] == 0) return Nil;
  NSString *text = [NSString stringWithUTF8String:name];
  Class cls = text != nil ? NSClassFromString(text) : Nil;
  if (cls == Nil) {
    NSLog(@"attachHostClasses: this process has no class named \"%s\", so %s stay off", name, facilities);
    return Nil;
  }
  if (!InheritsFrom(cls, ancestor)) {
    NSLog(@"attachHostClasses: %@ is not a kind of %@, so %s stay off", text, NSStringFromClass(ancestor), facilities);
    return Nil;
  }
  return cls;
}

int attachHostClasses(const char *delegateClassName, const char *viewClassName) {
  int attached = 0;
  DBAtExportEdge("attachHostClasses", "0", [&] {
    @autoreleasepool {
      Class delegateClass = HostClass(delegateClassName, [NSObject class], "the dock menu and open-file requests");
      Class viewClass = HostClass(viewClassName, [NSView class], "file drops");
      attached = [Override_OSX attachDelegateClass:delegateClass viewClass:viewClass];
    }
  });
  return attached;
}
