// createProcess against the least a program can do to run a child and collect its output (raw: a
// plain C program doing posix_spawn with one pipe for both streams, a read to the end and waitpid)
// and against Python's subprocess.run, all measured in this run: launch-and-wait of /bin/true, and
// capture of 1, 64, 256 and 512 MiB of output (wall time and peak memory). Every measurement runs
// in a driver process of its own, whose peak resident size comes from wait4: bench_raw_driver for
// raw, this program started again with --driver for createProcess. The launch is also measured
// in this one process, one raw call and one createProcess call alternating, so that both pay the
// same process's costs and the same moments of the machine's load.
//
//   bench_ProcessRunner [--quick]         the table (--quick: smaller sizes, fewer rounds)
//   bench_ProcessRunner --alternate COUNT  only the in-process alternation, COUNT calls of each
//   bench_ProcessRunner --driver launch COUNT | output BYTES
//
// The goals: launch and wait, alternating in one process, median at most 1.15x raw and mean at
// most 1.30x raw; capture of 256 MiB and more at least 0.90x raw's speed, with a peak resident
// size at most 1.5x the output. Most of a launch is the child's own start (exec, the loader), the
// same for both; createProcess adds the argument split, a process descriptor (Linux) or kqueue
// (macOS) to learn of the exit, and the poll on it and the pipe.
#include "DesktopBridge.h"

#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

extern char **environ;

namespace {

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

std::string SelfDirectory() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  path[n] = 0;
  std::string self = path;
  return self.substr(0, self.rfind('/'));
}

std::string WriterPath() { return SelfDirectory() + "/bench_output_writer"; }

#pragma mark - Drivers

// createProcess in a process of its own. One launch first: the timed calls do not pay the one-time
// set-up of the libraries (class initialisation, the dynamic loader's first binding), which the
// raw driver skips in the same way.
int Driver(const char *what, unsigned long long amount) {
  createProcess("/bin/true", "", NULL, true, NULL);
  if (strcmp(what, "launch") == 0) {
    std::vector<double> times;
    for (unsigned long long i = 0; i < amount; i++) {
      double start = Now();
      char *text = NULL;
      createProcess("/bin/true", "", NULL, true, &text);
      free(text);
      times.push_back(Now() - start);
    }
    printf("%.9f 0\n", Median(times));
    return 0;
  }
  std::string writer = WriterPath();
  std::string size = std::to_string(amount);
  double start = Now();
  char *text = NULL;
  createProcess(writer.c_str(), size.c_str(), NULL, true, &text);
  double seconds = Now() - start;
  size_t length = text ? strlen(text) : 0;
  free(text);
  printf("%.9f %zu\n", seconds, length);
  return 0;
}

#pragma mark - In one process

// The raw call, as bench_raw_driver makes it: one pipe for both streams, posix_spawn, a read loop to
// the end of the pipe, waitpid. False when the child could not be run.
bool RawLaunch(char *const argv[]) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  pid_t pid;
  int failed = posix_spawn(&pid, argv[0], &actions, NULL, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (failed) {
    close(fds[0]);
    return false;
  }
  size_t capacity = 64 * 1024, length = 0;
  char *buffer = (char *)malloc(capacity);
  for (ssize_t n; buffer != NULL && (n = read(fds[0], buffer + length, capacity - length - 1)) > 0;)
    length += (size_t)n;
  free(buffer);
  close(fds[0]);
  int status;
  return waitpid(pid, &status, 0) == pid;
}

// Seconds of processor time used so far by this process (who = RUSAGE_SELF) or by its collected
// children (RUSAGE_CHILDREN), user and system together.
double ProcessorSeconds(int who) {
  struct rusage usage;
  getrusage(who, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Medians per call, in seconds: wall time, and the processor time of this process and of the
// child. The processor times hardly depend on other work on the machine; the wall time does.
struct CallCost {
  double wall = 0, self = 0, child = 0;
  double meanWall = 0;
};

struct Alternation {
  CallCost raw, ours;
  int failures = 0;
};

// `count` rounds of one raw call and one createProcess call of /bin/true, the order swapped every
// round, after one of each to warm up.
Alternation Alternate(int count) {
  char *child[] = {(char *)"/bin/true", (char *)"", NULL};
  std::vector<double> wall[2], self[2], children[2];
  Alternation result;
  for (int round = -1; round < count; round++) {
    for (int k = 0; k < 2; k++) {
      bool rawTurn = (k == 0) == (round % 2 == 0);
      double selfStart = ProcessorSeconds(RUSAGE_SELF), childStart = ProcessorSeconds(RUSAGE_CHILDREN);
      double start = Now();
      bool ok;
      if (rawTurn) {
        ok = RawLaunch(child);
      } else {
        char *text = NULL;
        ok = createProcess("/bin/true", "", NULL, true, &text) == 0 && text != NULL;
        free(text);
      }
      double seconds = Now() - start;
      if (!ok) result.failures++;
      if (round < 0) continue;
      int which = rawTurn ? 0 : 1;
      wall[which].push_back(seconds);
      self[which].push_back(ProcessorSeconds(RUSAGE_SELF) - selfStart);
      children[which].push_back(ProcessorSeconds(RUSAGE_CHILDREN) - childStart);
    }
  }
  CallCost *costs[2] = {&result.raw, &result.ours};
  for (int k = 0; k < 2; k++) {
    costs[k]->wall = Median(wall[k]);
    double sum = 0;
    for (double seconds : wall[k]) sum += seconds;
    costs[k]->meanWall = wall[k].empty() ? 0 : sum / wall[k].size();
    costs[k]->self = Median(self[k]);
    costs[k]->child = Median(children[k]);
  }
  return result;
}

#pragma mark - Orchestration

struct Sample {
  double seconds = 0;   // what the driver measured
  double peakMiB = 0;   // the driver process's peak resident size
  size_t length = 0;
  bool ok = false;
};

// Runs a driver to completion; its standard output carries "seconds length".
Sample RunDriver(const std::vector<std::string> &arguments) {
  Sample sample;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return sample;
  std::vector<char *> argv;
  for (const std::string &argument : arguments) argv.push_back((char *)argument.c_str());
  argv.push_back(NULL);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  pid_t pid;
  int failed = posix_spawn(&pid, argv[0], &actions, NULL, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (failed) {
    close(fds[0]);
    return sample;
  }
  std::string text;
  char chunk[256];
  ssize_t n;
  while ((n = read(fds[0], chunk, sizeof chunk)) > 0) text.append(chunk, (size_t)n);
  close(fds[0]);
  int status;
  struct rusage usage;
  wait4(pid, &status, 0, &usage);
  sample.peakMiB = usage.ru_maxrss / 1024.0;  // kilobytes on Linux
  sample.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
              sscanf(text.c_str(), "%lf %zu", &sample.seconds, &sample.length) == 2;
  return sample;
}

std::vector<std::string> DriverCommand(const std::string &mode, const char *what, unsigned long long amount) {
  if (mode == "raw") {
    std::vector<std::string> command = {SelfDirectory() + "/bench_raw_driver", what, std::to_string(amount)};
    if (strcmp(what, "output") == 0) command.push_back(WriterPath());
    return command;
  }
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  self[n > 0 ? n : 0] = 0;
  return {self, "--driver", what, std::to_string(amount)};
}

const char *kPythonLaunch =
    "import subprocess, sys, time\n"
    "times = []\n"
    "for _ in range(int(sys.argv[1])):\n"
    "    t = time.perf_counter()\n"
    "    subprocess.run(['/bin/true', ''], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)\n"
    "    times.append(time.perf_counter() - t)\n"
    "times.sort()\n"
    "print('%.9f 0' % times[len(times) // 2])\n";

const char *kPythonOutput =
    "import subprocess, sys, time\n"
    "t = time.perf_counter()\n"
    "r = subprocess.run([sys.argv[2], sys.argv[1]], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)\n"
    "print('%.9f %d' % (time.perf_counter() - t, len(r.stdout)))\n";

std::vector<std::string> PythonCommand(const char *what, unsigned long long amount) {
  if (strcmp(what, "launch") == 0) return {"/usr/bin/env", "python3", "-c", kPythonLaunch, std::to_string(amount)};
  return {"/usr/bin/env", "python3", "-c", kPythonOutput, std::to_string(amount), WriterPath()};
}

struct Row {
  Sample raw, ours, python;
};

// Alternates the three contenders round by round; medians of time and of peak memory.
Row Measure(const char *what, unsigned long long amount, int rounds) {
  std::vector<double> times[3], peaks[3];
  Row row;
  Sample *last[3] = {&row.raw, &row.ours, &row.python};
  for (int round = 0; round < rounds; round++) {
    for (int k = 0; k < 3; k++) {
      Sample s = k == 0   ? RunDriver(DriverCommand("raw", what, amount))
                 : k == 1 ? RunDriver(DriverCommand("ours", what, amount))
                          : RunDriver(PythonCommand(what, amount));
      if (!s.ok) {
        last[k]->ok = false;
        continue;
      }
      times[k].push_back(s.seconds);
      peaks[k].push_back(s.peakMiB);
      *last[k] = s;
    }
  }
  for (int k = 0; k < 3; k++) {
    last[k]->seconds = Median(times[k]);
    last[k]->peakMiB = Median(peaks[k]);
    last[k]->ok = !times[k].empty();
  }
  return row;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 4 && strcmp(argv[1], "--driver") == 0) return Driver(argv[2], strtoull(argv[3], NULL, 10));
  bool quick = argc > 1 && strcmp(argv[1], "--quick") == 0;
  setvbuf(stdout, NULL, _IOLBF, 0);

  printf("createProcess against a plain C posix_spawn + read + waitpid program (raw) and Python subprocess.run,\n"
         "one run\n");
  FILE *load = fopen("/proc/loadavg", "r");
  char loadText[64] = "?";
  if (load != NULL) {
    if (fgets(loadText, sizeof loadText, load) == NULL) strcpy(loadText, "?");
    fclose(load);
  }
  printf("load average at start: %s(other work on the machine widens the spread of every figure)\n\n", loadText);
  int alternations = quick ? 200 : 1000;
  if (argc > 2 && strcmp(argv[1], "--alternate") == 0) alternations = atoi(argv[2]);
  Alternation alternation = Alternate(alternations);
  printf("launch and wait of /bin/true in this process, one raw call and one createProcess call alternating\n"
         "(%d of each, medians; processor time of this process and of the child)%s\n", alternations,
         alternation.failures ? "  (some calls failed)" : "");
  printf("  %-8s %10s %8s %10s %8s %12s %8s %12s %8s\n", "", "wall", "vs raw", "mean wall", "vs raw", "this process",
         "vs raw", "child", "vs raw");
  const CallCost *costs[2] = {&alternation.raw, &alternation.ours};
  for (int k = 0; k < 2; k++) {
    const CallCost &c = *costs[k];
    printf("  %-8s %7.3f ms %7.2fx %7.3f ms %7.2fx %9.3f ms %7.2fx %9.3f ms %7.2fx\n", k == 0 ? "raw" : "ours",
           c.wall * 1e3, c.wall / alternation.raw.wall, c.meanWall * 1e3, c.meanWall / alternation.raw.meanWall,
           c.self * 1e3, c.self / alternation.raw.self, c.child * 1e3, c.child / alternation.raw.child);
  }
  printf("  goals: median wall at most 1.15x raw, mean wall at most 1.30x raw\n");
  printf("\n");
  if (argc > 2 && strcmp(argv[1], "--alternate") == 0) return 0;

  int launches = quick ? 100 : 400;
  Row launch = Measure("launch", (unsigned long long)launches, quick ? 3 : 5);
  printf("launch and wait of /bin/true, each contender in a driver process of its own (median of %d calls\n"
         "per driver)\n", launches);
  printf("  %-8s %10s %12s\n", "", "per call", "vs raw");
  printf("  %-8s %8.3f ms %11.2fx\n", "raw", launch.raw.seconds * 1e3, 1.0);
  printf("  %-8s %8.3f ms %11.2fx   (goal: at most 1.15x)\n", "ours", launch.ours.seconds * 1e3,
         launch.ours.seconds / launch.raw.seconds);
  if (launch.python.ok)
    printf("  %-8s %8.3f ms %11.2fx\n", "python", launch.python.seconds * 1e3,
           launch.python.seconds / launch.raw.seconds);

  // The drivers' own size with nothing captured, to tell the buffer from the program.
  Row idle = Measure("output", 0, 1);
  printf("\ncapture of the child's output (one pipe, stdout+stderr); peak = the driver's peak resident size,\n"
         "extra = peak minus the same driver capturing nothing (raw %.1f, ours %.1f, python %.1f MiB)\n",
         idle.raw.peakMiB, idle.ours.peakMiB, idle.python.peakMiB);
  printf("  %-6s %-7s %9s %10s %11s %9s %11s %10s\n", "size", "", "time", "MiB/s", "speed/raw", "peak MiB",
         "peak/output", "extra/out");
  std::vector<unsigned long long> sizes = {1ull << 20, 64ull << 20, 256ull << 20, 512ull << 20};
  if (quick) sizes = {1ull << 20, 16ull << 20, 64ull << 20};
  for (unsigned long long size : sizes) {
    Row row = Measure("output", size, size >= (256ull << 20) ? 2 : (quick ? 3 : 5));
    double mib = size / 1048576.0;
    const Sample *samples[3] = {&row.raw, &row.ours, &row.python};
    const char *names[3] = {"raw", "ours", "python"};
    const double idlePeak[3] = {idle.raw.peakMiB, idle.ours.peakMiB, idle.python.peakMiB};
    for (int k = 0; k < 3; k++) {
      const Sample &s = *samples[k];
      if (!s.ok) {
        printf("  %-6s %-7s failed\n", k == 0 ? (std::to_string((int)mib) + "MiB").c_str() : "", names[k]);
        continue;
      }
      printf("  %-6s %-7s %7.3f s %10.0f %10.2fx %9.1f %10.2fx %9.2fx%s\n",
             k == 0 ? (std::to_string((int)mib) + "MiB").c_str() : "", names[k], s.seconds, mib / s.seconds,
             row.raw.seconds / s.seconds, s.peakMiB, s.peakMiB / mib, (s.peakMiB - idlePeak[k]) / mib,
             s.length == size ? "" : "  (wrong length)");
    }
  }
  printf("\ngoals: speed/raw at least 0.90 and peak/output at most 1.50 at 256 MiB and above\n");
  return 0;
}
