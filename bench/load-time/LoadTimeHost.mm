// One load of the bundle, timed: prints "dlopen_us N", the microseconds that dlopen took. Built with
// WITH_PLAYER_CLASSES=1 the host defines "PlayerAppDelegate" and "PlayerWindowView", so the load
// grafts six handlers onto them; with 0 it defines neither, and each graft fails (and is logged).
#import <AppKit/AppKit.h>

#include "DesktopBridge.h"

#include <dlfcn.h>
#include <stdio.h>

#include <chrono>

#if WITH_PLAYER_CLASSES
@interface PlayerAppDelegate : NSObject
@end
@implementation PlayerAppDelegate
@end
@interface PlayerWindowView : NSView
@end
@implementation PlayerWindowView
@end
#endif

static double nowMicroseconds(void) {
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int main(int argc, char **argv) {
  @autoreleasepool {
    [NSApplication sharedApplication];
    double start = nowMicroseconds();
    void *bundle = dlopen(DB_BUNDLE_PATH "/" DB_BUNDLE_BINARY_SUBPATH, RTLD_NOW | RTLD_LOCAL);
    double elapsed = nowMicroseconds() - start;
    if (bundle == NULL) {
      fprintf(stderr, "cannot load the bundle: %s\n", dlerror());
      return 1;
    }
    printf("dlopen_us %.1f\n", elapsed);
  }
  return 0;
}
