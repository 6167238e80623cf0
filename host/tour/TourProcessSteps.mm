// Tour steps for the child process runner: captured output and status, arguments that keep their
// blanks, a failed launch, and a detached child.
#include "Tour.h"

#include "EventLog.h"

#include <stdlib.h>

static void logOutput(const char *output) {
  if (output == nullptr) {
    EventLog("  output: (null)");
    return;
  }
  NSArray *lines = [[NSString stringWithUTF8String:output] componentsSeparatedByString:@"\n"];
  for (NSUInteger i = 0; i < [lines count]; i++) {
    NSString *line = [lines objectAtIndex:i];
    if (i + 1 == [lines count] && [line length] == 0) break;  // the text's final line end
    EventLog("  output: %s", [line UTF8String]);
  }
}

static void capturedOutput(TourStepContext &step) {
  auto run = step.Export<decltype(&createProcess)>("createProcess");
  const char *script = "echo \"to standard output\"; echo \"to standard error\" >&2; exit 3";
  std::string arguments = std::string("-c") + DB_LIST_SEPARATOR + script;
  char *output = nullptr;
  int status = run("/bin/sh", arguments.c_str(), nullptr, true, &output);
  EventLog("createProcess(\"/bin/sh\", %s, NULL, true, &output) -> %d", Quoted(arguments.c_str()).c_str(), status);
  logOutput(output);
  step.Check(status == 3, "the child's exit status");
  step.Check(output && strcmp(output, "to standard output\nto standard error\n") == 0,
             "both streams captured, in order");
  free(output);

  arguments = std::string("[%s]\\n") + DB_LIST_SEPARATOR + "two words" + DB_LIST_SEPARATOR + DB_LIST_SEPARATOR + "it's";
  output = nullptr;
  status = run("/usr/bin/printf", arguments.c_str(), step.FileC(@""), true, &output);
  EventLog("createProcess(\"/usr/bin/printf\", %s, files/, true, &output) -> %d", Quoted(arguments.c_str()).c_str(),
           status);
  logOutput(output);
  step.Check(status == 0 && output && strcmp(output, "[two words]\n[]\n[it's]\n") == 0,
             "each argument arrives whole, the empty one included, with no shell in between");
  free(output);
}

static void failedLaunch(TourStepContext &step) {
  auto run = step.Export<decltype(&createProcess)>("createProcess");
  char *output = nullptr;
  int status = run("/nonexistent/player-tool", "", nullptr, true, &output);
  EventLog("createProcess(\"/nonexistent/player-tool\", \"\", NULL, true, &output) -> %d", status);
  logOutput(output);
  step.Check(status == -1, "a launch failure returns -1");
  step.Check(output != nullptr && *output != '\0', "with the reason in the output");
  free(output);
}

static void detached(TourStepContext &step) {
  auto run = step.Export<decltype(&createProcess)>("createProcess");
  NSString *mark = step.File(@"detached.txt");
  std::string arguments = std::string("-c") + DB_LIST_SEPARATOR + "sleep 0.2; echo finished > detached.txt";
  char *untouched = (char *)"(left as it was)";
  char *output = untouched;
  int status = run("/bin/sh", arguments.c_str(), step.FileC(@""), false, &output);
  EventLog("createProcess(\"/bin/sh\", %s, files/, false, &output) -> %d; output %s", Quoted(arguments.c_str()).c_str(),
           status, output == untouched ? "untouched" : "changed");
  step.Check(status == 0 && output == untouched, "a detached child returns 0 at once");
  bool finished = false;
  for (int i = 0; i < 100 && !finished; i++) {
    step.Pump(0.05);
    finished = [[NSFileManager defaultManager] fileExistsAtPath:mark];
  }
  EventLog("the detached child %s", finished ? "wrote detached.txt and ended" : "left no trace");
  step.Check(finished, "the detached child ran");
}

static const TourStep kProcessSteps[] = {
    {"process-output", "A child process with captured output and status", "createProcess", capturedOutput},
    {"process-failure", "A child that cannot be launched", "createProcess", failedLaunch},
    {"process-detached", "A detached child", "createProcess", detached},
};

TourStepList ProcessTourSteps(void) {
  return {kProcessSteps, sizeof kProcessSteps / sizeof kProcessSteps[0], __FILE__};
}
