// createProcess: runs a program detached, or waits for it and hands back its exit status and its
// combined standard output and standard error. The work is ProcessRunner.cpp's; here are the
// export's edge and the parts that use string objects.
#include "DesktopBridge.h"
#import "DBPlatform.h"
#include "ProcessRunner.h"

#include <stdlib.h>

void DBLogLine(const char *text) {
  @autoreleasepool {
    NSLog(@"%s", text);
  }
}

char *DBDecodeOutputString(const char *bytes, size_t length) {
  char *result = NULL;
  @autoreleasepool {
    NSData *data = [NSData dataWithBytesNoCopy:(void *)bytes length:length freeWhenDone:NO];
    NSString *string = [[NSString alloc] initWithData:data encoding:NSUTF8StringEncoding];
    result = MakeCString(string);
    [string release];
  }
  return result;
}

int createProcess(const char *launchPath, const char *arguments, const char *workingDirectory, bool waitForExit,
                  char **output) {
  bool waiting = (waitForExit & 1) != 0;
  DBChildOutput captured = DBChildOutputInit(output != NULL);
  int status = -1;
  char *failure = NULL;
  bool unexpected = false;
  bool ran = DBRunProcess(launchPath, arguments, workingDirectory, waiting, DBSpawnBest, &captured, &status, &failure,
                          &unexpected);
  if (ran && waiting && output != NULL) {
    @try {
      *output = DBTakeOutputString(&captured);
    } @catch (NSException *exception) {
      ran = false;
      unexpected = true;
      @autoreleasepool {
        failure = MakeCString([NSString stringWithFormat:@"createProcess: %@", [exception description]]);
      }
    }
  }
  DBDiscardChildOutput(&captured);
  if (ran) return waiting ? status : 0;
  if (unexpected) DBLogLine(failure != NULL ? failure : "createProcess: an unexpected failure");
  if (output != NULL) {
    *output = failure;
  } else {
    free(failure);
  }
  return -1;
}
