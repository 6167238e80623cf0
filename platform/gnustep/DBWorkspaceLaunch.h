// -[NSWorkspace launchApplicationAtURL:options:configuration:error:], which this GNUstep lacks.
#ifndef DB_GS_WORKSPACE_LAUNCH_H
#define DB_GS_WORKSPACE_LAUNCH_H

#import <AppKit/AppKit.h>

// Configuration keys: an NSArray of NSString arguments for the new process, and an NSDictionary of
// NSString environment variables added to (or replacing those of) the caller's environment.
extern NSString *const NSWorkspaceLaunchConfigurationArguments;
extern NSString *const NSWorkspaceLaunchConfigurationEnvironment;

@interface NSWorkspace (DBLaunch)
// Starts the application at url (an application bundle, or an executable file): its executable is
// run directly, never through a shell, in a session of its own, with the working directory "/" and
// its standard streams on /dev/null, as the window system starts applications. The call never
// waits for the new process; it is reaped when it exits, so no zombie stays behind.
// Without NSWorkspaceLaunchNewInstance, asking for the running application itself activates it
// (unless NSWorkspaceLaunchWithoutActivation) instead of starting another instance.
// Returns the new process's running application (autoreleased), or nil with *error set.
- (NSRunningApplication *)launchApplicationAtURL:(NSURL *)url
                                         options:(NSWorkspaceLaunchOptions)options
                                   configuration:(NSDictionary *)configuration
                                           error:(NSError **)error;
@end

#endif
