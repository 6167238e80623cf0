// Launching applications: the executable of a bundle, started with posix_spawn and reaped by a
// thread of its own.
#import "DBWorkspaceLaunch.h"

#import "DBRunningApplication.h"
#include "DBBackgroundThread.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

void *WaitForOneChild(void *argument) {
  pid_t pid = (pid_t)(intptr_t)argument;
  int status;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return NULL;
}

// Collects the process pid when it exits, on a detached thread that takes none of the host's
// signals, so that it leaves no zombie; false when no thread could be started.
bool ReapProcessOnThread(pid_t pid) { return DBStartBackgroundThread(WaitForOneChild, (void *)(intptr_t)pid); }

}  // namespace

NSString *const NSWorkspaceLaunchConfigurationArguments = @"NSWorkspaceLaunchConfigurationArguments";
NSString *const NSWorkspaceLaunchConfigurationEnvironment = @"NSWorkspaceLaunchConfigurationEnvironment";

#pragma mark - Spawning

static NSError *launchError(NSInteger code, int posixError, NSURL *url) {
  NSMutableDictionary *userInfo = [NSMutableDictionary dictionary];
  if (url != nil) [userInfo setObject:url forKey:NSURLErrorKey];
  if (posixError != 0)
    [userInfo setObject:[NSError errorWithDomain:NSPOSIXErrorDomain code:posixError userInfo:nil]
                 forKey:NSUnderlyingErrorKey];
  return [NSError errorWithDomain:NSCocoaErrorDomain code:code userInfo:userInfo];
}

// The executable that url names: the running application's own for its bundle URL, a bundle's
// executable, or the file itself when it is an executable file. nil when there is none.
static NSString *executableForURL(NSURL *url) {
  if (![url isFileURL]) return nil;
  NSString *path = [[url path] stringByStandardizingPath];
  NSBundle *mainBundle = [NSBundle mainBundle];
  if ([path isEqualToString:[[[mainBundle bundleURL] path] stringByStandardizingPath]]) return [mainBundle executablePath];
  NSFileManager *fileManager = [NSFileManager defaultManager];
  BOOL isDirectory = NO;
  if (![fileManager fileExistsAtPath:path isDirectory:&isDirectory]) return nil;
  if (isDirectory) return [[NSBundle bundleWithPath:path] executablePath];
  return [fileManager isExecutableFileAtPath:path] ? path : nil;
}

// The caller's environment with the entries of extra added or replaced, as "NAME=value" strings.
static NSArray *environmentWith(NSDictionary *extra) {
  NSMutableArray *entries = [NSMutableArray array];
  for (char **entry = environ; entry != NULL && *entry != NULL; entry++) {
    NSString *text = [NSString stringWithUTF8String:*entry];
    if (text == nil) {  // not UTF-8: passed on byte for byte
      [entries addObject:[NSData dataWithBytes:*entry length:strlen(*entry) + 1]];
      continue;
    }
    NSRange equals = [text rangeOfString:@"="];
    NSString *name = equals.location == NSNotFound ? text : [text substringToIndex:equals.location];
    if ([extra objectForKey:name] == nil) [entries addObject:text];
  }
  for (NSString *name in extra) {
    [entries addObject:[NSString stringWithFormat:@"%@=%@", name, [extra objectForKey:name]]];
  }
  return entries;
}

// C string of an entry made by environmentWith (valid while the autorelease pool lives).
static char *entryBytes(id entry) {
  if ([entry isKindOfClass:[NSData class]]) return (char *)[entry bytes];
  return (char *)[entry UTF8String];
}

static bool isStringArray(id value) {
  if (![value isKindOfClass:[NSArray class]]) return false;
  for (id item in value)
    if (![item isKindOfClass:[NSString class]]) return false;
  return true;
}

static bool isStringDictionary(id value) {
  if (![value isKindOfClass:[NSDictionary class]]) return false;
  for (id key in value)
    if (![key isKindOfClass:[NSString class]] || ![[value objectForKey:key] isKindOfClass:[NSString class]])
      return false;
  return true;
}

// Starts executable with arguments in a new session: working directory "/", standard streams on
// /dev/null, no other descriptor of ours, default signal handling and an empty signal mask.
static int spawnApplication(NSString *executable, NSArray *arguments, NSArray *environment, pid_t *pid) {
  NSUInteger argumentCount = [arguments count];
  NSUInteger environmentCount = [environment count];
  char **argv = (char **)calloc(argumentCount + 2, sizeof(char *));
  char **envp = (char **)calloc(environmentCount + 1, sizeof(char *));
  if (argv == NULL || envp == NULL) {
    free(argv);
    free(envp);
    return ENOMEM;
  }
  argv[0] = (char *)[executable fileSystemRepresentation];
  for (NSUInteger i = 0; i < argumentCount; i++) argv[i + 1] = (char *)[[arguments objectAtIndex:i] UTF8String];
  for (NSUInteger i = 0; i < environmentCount; i++) envp[i] = entryBytes([environment objectAtIndex:i]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
#if defined(__GLIBC__) && __GLIBC_PREREQ(2, 34)
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
#if defined(__GLIBC__) && __GLIBC_PREREQ(2, 29)
  posix_spawn_file_actions_addchdir_np(&actions, "/");
#endif

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  for (int signal = 1; signal < 32; signal++)
    if (signal != SIGKILL && signal != SIGSTOP) sigaddset(&signals, signal);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);

  int error = posix_spawn(pid, argv[0], &actions, &attributes, argv, envp);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  free(argv);
  free(envp);
  return error;
}

@implementation NSWorkspace (DBLaunch)

- (NSRunningApplication *)launchApplicationAtURL:(NSURL *)url
                                         options:(NSWorkspaceLaunchOptions)options
                                   configuration:(NSDictionary *)configuration
                                           error:(NSError **)error {
  NSString *executable = executableForURL(url);
  if (executable == nil) {
    if (error != NULL) *error = launchError(NSFileNoSuchFileError, ENOENT, url);
    return nil;
  }
  id arguments = [configuration objectForKey:NSWorkspaceLaunchConfigurationArguments];
  id extraEnvironment = [configuration objectForKey:NSWorkspaceLaunchConfigurationEnvironment];
  if ((arguments != nil && !isStringArray(arguments)) ||
      (extraEnvironment != nil && !isStringDictionary(extraEnvironment))) {
    if (error != NULL) *error = launchError(NSFileReadUnknownError, EINVAL, url);
    return nil;
  }

  NSString *runningExecutable = [[NSBundle mainBundle] executablePath];
  if ((options & NSWorkspaceLaunchNewInstance) == 0 && [executable isEqualToString:runningExecutable]) {
    NSRunningApplication *current = [NSRunningApplication currentApplication];
    if ((options & NSWorkspaceLaunchWithoutActivation) == 0)
      [current activateWithOptions:NSApplicationActivateIgnoringOtherApps];
    return current;
  }

  pid_t pid = 0;
  int spawnError = spawnApplication(executable, arguments, environmentWith(extraEnvironment), &pid);
  if (spawnError != 0) {
    if (error != NULL) *error = launchError(NSFileReadUnknownError, spawnError, url);
    return nil;
  }
  // Without a thread to wait with, the process stays a zombie once it exits: better than holding
  // the caller until the new instance quits.
  if (!ReapProcessOnThread(pid)) NSLog(@"launchApplicationAtURL: no thread to reap process %d", (int)pid);
  NSBundle *bundle = [NSBundle bundleWithPath:[[url path] stringByStandardizingPath]];
  return [[[DBRunningApplication alloc] initWithProcessIdentifier:pid bundle:bundle executablePath:executable]
      autorelease];
}

@end
