// ServicesHost.app: loads DesktopBridge like a host and exercises the application services that
// depend on the running application's bundle. It prints one "key=value" line per finding.
//
// Environment:
//   SERVICES_HOST_MODE=version   calls getAppVersion twice
//   SERVICES_HOST_MODE=launch    calls launchApp, lets the second instance go on by creating the
//                                file SERVICES_HOST_GO, waits for its report in SERVICES_HOST_REPORT
//                                and then for the second instance to be reaped
// The second instance learns its part from a hand-over file that the first one leaves beside the
// application bundle, not from the environment: the system may start it with an environment of its
// own (macOS starts it through Launch Services). It waits for the go file, writes its report and
// exits; it never starts a GUI.
#import <AppKit/AppKit.h>

#include "DesktopBridgeLoader.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>

#include "ProcessTable.h"

static void onUncaughtException(NSException *exception) {
  fprintf(stderr, "uncaught exception %s: %s\n", [[exception name] UTF8String], [[exception reason] UTF8String]);
  _exit(70);
}

static double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

static bool exists(const char *path) {
  struct stat info;
  return stat(path, &info) == 0;
}

static bool waitForFile(const char *path, double seconds) {
  double end = now() + seconds;
  while (now() < end) {
    if (exists(path)) return true;
    usleep(10000);
  }
  return exists(path);
}

// The bundle's exports, loaded at the first use.
static const DBExports &bridge() {
  static DBExports exports;
  static bool loaded = false;
  if (!loaded) {
    char error[512];
    if (!DBLoadExports(DB_BUNDLE_PATH "/" DB_BUNDLE_BINARY_SUBPATH, &exports, error, sizeof error)) {
      fprintf(stderr, "%s\n", error);
      exit(1);
    }
    loaded = true;
  }
  return exports;
}

// What the first instance tells the second: its own process id, the go file and the report file,
// one per line.
struct HandOver {
  int firstPid = 0;
  std::string go, report;
};

static std::string handOverPath() {
  return std::string([[[NSBundle mainBundle] bundlePath] fileSystemRepresentation]) + ".handover";
}

static bool writeHandOver(const HandOver &handOver) {
  std::string path = handOverPath(), temporary = path + ".part";
  {
    std::ofstream out(temporary);
    out << handOver.firstPid << "\n" << handOver.go << "\n" << handOver.report << "\n";
    if (!out) return false;
  }
  return rename(temporary.c_str(), path.c_str()) == 0;  // appears complete or not at all
}

// The hand-over meant for this process: one left by another instance that is still running (a file
// left behind by an instance that died is ignored).
static bool readHandOver(HandOver *handOver) {
  std::ifstream in(handOverPath());
  if (!(in >> handOver->firstPid) || handOver->firstPid == (int)getpid()) return false;
  in.ignore(1);
  if (!std::getline(in, handOver->go) || !std::getline(in, handOver->report)) return false;
  return kill(handOver->firstPid, 0) == 0 || errno == EPERM;
}

// The second instance: proves who it is once the first one says go.
static int runSecondInstance(const HandOver &handOver) {
  if (!waitForFile(handOver.go.c_str(), 30)) return 3;
  char exe[4096] = {0};
  if (!DBExecutablePath(exe, sizeof exe)) exe[0] = 0;
  NSString *version = [[[NSBundle mainBundle] infoDictionary] objectForKey:@"CFBundleVersion"];
  std::string temporary = handOver.report + ".part";
  FILE *out = fopen(temporary.c_str(), "w");
  if (out == NULL) return 4;
  fprintf(out, "pid=%d\nexe=%s\nversion=%s\n", (int)getpid(), exe, version ? [version UTF8String] : "(null)");
  fclose(out);
  rename(temporary.c_str(), handOver.report.c_str());  // the report appears complete or not at all
  return 0;
}

static int runLaunch() {
  const char *go = getenv("SERVICES_HOST_GO");
  const char *report = getenv("SERVICES_HOST_REPORT");
  if (go == NULL || report == NULL) return 2;
  HandOver handOver;
  handOver.firstPid = (int)getpid();
  handOver.go = go;
  handOver.report = report;
  if (!writeHandOver(handOver)) {
    printf("handover=unwritable\n");
    return 0;
  }
  bridge().launchApp();
  printf("returned=1\n");
  // launchApp must not wait for the second instance: it is still waiting for this file.
  FILE *goFile = fopen(go, "w");
  if (goFile != NULL) fclose(goFile);
  bool reported = waitForFile(report, 30);
  unlink(handOverPath().c_str());
  if (!reported) {
    printf("report=missing\n");
    return 0;
  }
  FILE *in = fopen(report, "r");
  char line[4200];
  int pid = 0;
  while (in != NULL && fgets(line, sizeof line, in) != NULL) {
    line[strcspn(line, "\n")] = 0;
    printf("second.%s\n", line);
    if (strncmp(line, "pid=", 4) == 0) pid = atoi(line + 4);
  }
  if (in != NULL) fclose(in);
  printf("first.pid=%d\n", (int)getpid());
  // The second instance exits right after its report; it must not stay a zombie of this one.
  char state = 'R';
  double end = now() + 20;
  while (pid > 0 && (state = DBProcessState(pid)) != 0 && now() < end) usleep(10000);
  printf("second.finalState=%s\n", state == 0 ? "gone" : std::string(1, state).c_str());
  return 0;
}

static int runVersion() {
  DBFn_getAppVersion getVersion = bridge().getAppVersion;
  char *first = getVersion();
  char *second = getVersion();
  printf("version=%s\n", first ? first : "(null)");
  printf("again=%s\n", second ? second : "(null)");
  printf("distinct=%d\n", first != NULL && second != NULL && first != second);
  free(first);
  free(second);
  return 0;
}

int main(int argc, const char **argv) {
  setvbuf(stdout, NULL, _IOLBF, 0);
  @autoreleasepool {
    HandOver handOver;
    if (readHandOver(&handOver)) return runSecondInstance(handOver);
  }
  int result = 2;
  @autoreleasepool {
    [NSApplication sharedApplication];
    NSSetUncaughtExceptionHandler(onUncaughtException);
    const char *mode = getenv("SERVICES_HOST_MODE");
    if (mode != NULL && strcmp(mode, "version") == 0) result = runVersion();
    if (mode != NULL && strcmp(mode, "launch") == 0) result = runLaunch();
  }
  return result;
}
