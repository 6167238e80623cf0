// How the tour's launch-app step tells the second instance of the host that it is one: a file
// beside the application bundle holding the first instance's process id and the report file's
// path. The system may start the second instance with an environment of its own (macOS starts it
// through Launch Services), so the environment cannot carry this.
#ifndef PLAYER_SECOND_INSTANCE_H
#define PLAYER_SECOND_INSTANCE_H

#import <Foundation/Foundation.h>

#include <errno.h>
#include <signal.h>
#include <unistd.h>

static inline NSString *SecondInstanceHandOverPath(void) {
  return [[[NSBundle mainBundle] bundlePath] stringByAppendingString:@".second-instance"];
}

// Asks the instance started next to report to reportPath; false when that cannot be written.
static inline bool HandOverToSecondInstance(NSString *reportPath) {
  NSString *text = [NSString stringWithFormat:@"%d\n%@\n", (int)getpid(), reportPath];
  return [text writeToFile:SecondInstanceHandOverPath() atomically:YES encoding:NSUTF8StringEncoding error:NULL];
}

static inline void EndHandOver(void) {
  [[NSFileManager defaultManager] removeItemAtPath:SecondInstanceHandOverPath() error:NULL];
}

// The report path handed over by another instance that is still running; nil when this process is
// no second instance (a file left by an instance that has gone is passed over).
static inline NSString *HandedOverReportPath(void) {
  NSString *text = [NSString stringWithContentsOfFile:SecondInstanceHandOverPath() encoding:NSUTF8StringEncoding
                                                error:NULL];
  NSArray *lines = [text componentsSeparatedByString:@"\n"];
  if ([lines count] < 2) return nil;
  int first = [[lines objectAtIndex:0] intValue];
  if (first <= 0 || first == (int)getpid() || (kill(first, 0) != 0 && errno != EPERM)) return nil;
  NSString *report = [lines objectAtIndex:1];
  return [report length] ? report : nil;
}

#endif
