// Runs a program to completion for a test: captures its standard output and standard error,
// kills it (SIGKILL) when it outlives its time limit.
#ifndef DB_TEST_SUBPROCESS_H
#define DB_TEST_SUBPROCESS_H

#include <string>
#include <vector>

struct SubprocessResult {
  int exitStatus = -1;    // exit code, or -1 when killed or not started
  int signal = 0;         // the terminating signal, if any
  bool timedOut = false;
  std::string out;        // standard output
  std::string err;        // standard error
};

// argv[0] is the program's path. extraEnvironment holds "NAME=value" entries added to (or
// replacing entries of) the test's own environment.
SubprocessResult RunSubprocess(const std::vector<std::string> &argv, double timeoutSeconds = 60,
                               const std::vector<std::string> &extraEnvironment = {});

// The arguments every GUI program gets in tests: on GNUstep, no wait for a window manager; none on
// macOS.
std::vector<std::string> GuiArguments();

// The arguments that ask a starting application to open path, as the system does when a person
// opens a file with it: GNUstep's -GSFilePath, Cocoa's -NSOpen.
std::vector<std::string> OpenAtLaunchArguments(const std::string &path);
// Why a positional argument is not a file to open at launch on this platform; null where it is
// (GNUstep).
const char *PositionalArgumentIsNotOpened();

// Lines of text, without their line ends.
std::vector<std::string> SplitLines(const std::string &text);

#endif
