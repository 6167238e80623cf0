// Load-time cost of the grafts: starts a host that has the two classes the bundle grafts onto and
// one that has neither, alternately, and prints the time each spent in dlopen of the bundle
// (median and minimum over the runs) and the ratio of the two. Each run is a fresh process, since a
// bundle loads once per process. Usage: bench_load_time [runs] (default 15).
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <string>
#include <vector>

// What a host needs on the command line: GNUstep's X back end, no wait for a window manager.
#if defined(__APPLE__)
static const char kGuiArguments[] = "";
#else
static const char kGuiArguments[] = " -GSX11HandlesWindowDecorations NO";
#endif

static bool timeOneLoad(const std::string &host, double *microseconds) {
  std::string command = "'" + host + "'" + kGuiArguments + " 2>/dev/null";
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == NULL) return false;
  char line[256];
  bool found = false;
  while (fgets(line, sizeof line, pipe)) {
    if (sscanf(line, "dlopen_us %lf", microseconds) == 1) found = true;
  }
  int status = pclose(pipe);
  return found && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

static double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int main(int argc, char **argv) {
  int runs = argc > 1 ? atoi(argv[1]) : 15;
  if (runs < 1) runs = 1;
  const std::string withClasses = LOAD_TIME_HOSTS_DIR "/LoadTimeHostWithClasses";
  const std::string withoutClasses = LOAD_TIME_HOSTS_DIR "/LoadTimeHostWithoutClasses";
  std::vector<double> grafted, ungrafted;
  for (int i = 0; i < runs; i++) {
    double us = 0;
    if (!timeOneLoad(withClasses, &us)) {
      fprintf(stderr, "the host with classes failed (is there a display?)\n");
      return 1;
    }
    grafted.push_back(us);
    if (!timeOneLoad(withoutClasses, &us)) {
      fprintf(stderr, "the host without classes failed\n");
      return 1;
    }
    ungrafted.push_back(us);
  }
  double graftedMedian = median(grafted), ungraftedMedian = median(ungrafted);
  printf("dlopen of the bundle, %d runs each (microseconds)\n", runs);
  printf("  host with PlayerAppDelegate and PlayerWindowView (6 grafts): median %9.1f  min %9.1f\n",
         graftedMedian, *std::min_element(grafted.begin(), grafted.end()));
  printf("  host without them (6 failed grafts, 6 log lines):            median %9.1f  min %9.1f\n",
         ungraftedMedian, *std::min_element(ungrafted.begin(), ungrafted.end()));
  printf("  ratio with/without: %.3f; difference of medians: %+.1f us\n", graftedMedian / ungraftedMedian,
         graftedMedian - ungraftedMedian);
  return 0;
}
