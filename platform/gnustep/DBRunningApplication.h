// Running-application objects that answer for real: this GNUstep's +[NSRunningApplication
// currentApplication] returns nil, and its instances do nothing. Once the plug-in is loaded,
// +currentApplication returns a DBRunningApplication for this process (whose -activateWithOptions:
// activates the shared application); the workspace's launches return one for the new process.
//
// Activation as macOS 14 and later may handle it: with DB_ACTIVATION_REFUSED=1 in the environment
// when the plug-in loads, every activation of this process is refused, as macOS refuses it to a
// process that a test runner started: -activateWithOptions: returns NO and
// -[NSApplication activateIgnoringOtherApps:] does nothing, so the application stays inactive.
#ifndef DB_GS_RUNNING_APPLICATION_COMPAT_H
#define DB_GS_RUNNING_APPLICATION_COMPAT_H

#import <AppKit/AppKit.h>
#include <sys/types.h>

@interface DBRunningApplication : NSRunningApplication {
  pid_t _processIdentifier;
  BOOL _isCurrent;
  NSURL *_bundleURL;
  NSURL *_executableURL;
  NSString *_bundleIdentifier;
  NSString *_localizedName;
}
// The one object for this process.
+ (DBRunningApplication *)currentApplicationStandIn;
// Another process, started from bundle's executable (bundle may be nil).
- (id)initWithProcessIdentifier:(pid_t)processIdentifier
                         bundle:(NSBundle *)bundle
                 executablePath:(NSString *)executablePath;
@end

#endif
