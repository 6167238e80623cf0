// Bytes of heap and live objects held per request, for each kind of request: dialogs prepared,
// dialogs run and cancelled, menu items added and removed, processes run with output. Two figures
// per kind: the growth over the first requests after a warm-up (GNUstep's caches still filling)
// and over the requests after them (what each request keeps). The baseline is the same measurement
// over requests that only make and drop a string; the platform's own panels, set up as the
// requests set theirs up but without the plug-in, show what GNUstep itself keeps of every panel.
// Needs a display.
#include "../tests/support/FootprintRequests.h"

#include <stdio.h>
#include <time.h>

using namespace footprint;

static void SwallowLogLine(NSString *message) {}

static double Now() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

static void Report(const char *name, const std::function<void(int)> &request, int first, int last) {
  double start = Now();
  Series series = MeasureSeries(request, first, last);
  double seconds = Now() - start;
  printf("%-36s %9.1f %9.1f bytes/request  %7.3f objects/request  %6.2f ms/request\n", name,
         double(series.first.heapBytes - series.warm.heapBytes) / first, series.HeapPerRequest(),
         series.ObjectsPerRequest(), seconds * 1000 / (last + 20));
  fflush(stdout);
}

int main(int argc, char **argv) {
  @autoreleasepool {
    [NSApplication sharedApplication];
    StartCountingObjects();
    _NSLog_printf_handler = SwallowLogLine;
    [NSApp setMainMenu:[[[NSMenu alloc] initWithTitle:@"Host"] autorelease]];
    setMenuCallback(OnMenu);
    InstallCanceller();

    printf("held per request (heap: %s); first: requests 1-N after a warm-up, then: the requests after them\n",
#if defined(DB_FOOTPRINT_ASAN)
           "sanitizer allocator"
#else
           "mallinfo2 uordblks"
#endif
    );
    printf("%-36s %9s %9s\n", "", "first", "then");
    Report("baseline (string made, dropped)", [](int i) {
      @autoreleasepool {
        [NSString stringWithFormat:@"request %d", i];
      }
    }, 1000, 3000);
    Report("dialog prepared", PrepareDialog, 1000, 3000);
    Report("platform panel prepared, no plug-in", PreparePlatformPanel, 1000, 3000);
    Report("dialog run and cancelled", CancelDialog, 200, 1000);
    Report("platform panel run, no plug-in", RunPlatformPanel, 200, 1000);
    Report("menu items added, removed", AddAndRemoveMenuItems, 1000, 3000);
    Report("process run with output", RunProcessWithOutput, 1000, 3000);
    setMenuCallback(NULL);
  }
  return 0;
}
