// createProcess: runs a program detached, or waits for it and hands back its exit status and its
// combined standard output and standard error.
#include "DesktopBridge.h"
#import "DBPlatform.h"
#include "ChildOutput.h"
#include "DBTaskSupport.h"
#include "ProcessArguments.h"

int createProcess(const char *launchPath, const char *arguments, const char *workingDirectory, bool waitForExit,
                  char **output) {
  int result = -1;
  @autoreleasepool {
    NSTask *task = nil;
    DBChildOutput captured = DBChildOutputInit(output != NULL);
    @try {
      task = [[NSTask alloc] init];
      [task setLaunchPath:[NSString stringWithUTF8String:launchPath]];
      // Text that is not UTF-8 gives no string. Going on without it would run the program in the
      // host's own directory, or with no arguments: in each case something the host never asked
      // for. The launch fails instead.
      if (workingDirectory != NULL && workingDirectory[0] != 0) {
        NSString *directory = [NSString stringWithUTF8String:workingDirectory];
        if (directory == nil)
          [NSException raise:NSInvalidArgumentException format:@"working directory is not valid UTF-8"];
        [task setCurrentDirectoryPath:directory];
      }

      NSString *joined = [NSString stringWithUTF8String:arguments];
      if (joined == nil) [NSException raise:NSInvalidArgumentException format:@"arguments are not valid UTF-8"];
      NSArray *argumentList = DBSplitProcessArguments(joined);
      if ([argumentList count] > 0) [task setArguments:argumentList];

      if (!(waitForExit & 1)) {
        DBTaskLaunch(task);
        DBTaskReapWhenExited(task);
        [task release];
        task = nil;
        result = 0;
      } else {
        // One pipe for both streams, so that the two are interleaved in one text. It is drained
        // while the child runs: a child never blocks on a full pipe, whether or not the host
        // wants the text. The drain ends once the child has exited and the pipe is empty. A
        // process the child left running may still hold the pipe: it is read on in the
        // background until it ends, so that such a process is not killed at its next write.
        DBCapturedChild child;
        DBTaskLaunchCapturingOutput(task, &child);
        if (!DBDrainChildOutput(child.output, child.exited, &captured))
          DBDrainInBackground(DBTaskDetachOutput(task, &child));
        DBTaskWaitForCapturedChild(task, &child);

        int status = [task terminationStatus];
        [task release];
        task = nil;
        if (output != NULL) {
          *output = DBTakeOutputString(&captured);
        } else {
          DBDiscardChildOutput(&captured);
        }
        result = status;
      }
    } @catch (NSException *exception) {
      [task release];
      DBDiscardChildOutput(&captured);
      if (output != NULL) *output = MakeCString([exception description]);
      result = -1;
    }
  }
  return result;
}
