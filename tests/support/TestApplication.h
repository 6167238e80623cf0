// The shared application of a test program or test host that is a bare executable, not an
// application bundle. Header-only, for the test hosts too.
#ifndef DB_TEST_APPLICATION_H
#define DB_TEST_APPLICATION_H

#import <AppKit/AppKit.h>

// Makes the shared application an ordinary one, as an application bundle's is: one that can be
// activated and have key and main windows. Apple gives an executable without an Info.plist the
// prohibited activation policy (no activation, no main window); GNUstep has no such policy.
static inline NSApplication *SharedOrdinaryApplication(void) {
  NSApplication *application = [NSApplication sharedApplication];
#if defined(__APPLE__)
  [application setActivationPolicy:NSApplicationActivationPolicyRegular];
#endif
  return application;
}

#endif
