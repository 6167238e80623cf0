// How long a dialog takes to parse its filter specification and to prepare its panel (pop-up
// accessory included), for filter strings of growing length. Prints figures and ratios against
// the smallest case of the same run; asserts nothing.
#import "Dovrane.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <vector>

static void RedirectLogToNull(void) {  // every Dovrane logs "init"
  FILE *null = fopen("/dev/null", "w");
  if (null) dup2(fileno(null), 2);
}

static NSString *FilterString(int entries) {
  NSMutableString *filters = [NSMutableString string];
  for (int i = 0; i < entries; i++)
    [filters appendFormat:@"%@Type %d;ext%d,alt%d,x%d", i ? @"|" : @"", i, i, i, i];
  return filters;
}

// Best of `rounds` timings of `body`, in microseconds.
template <typename F> static double BestMicroseconds(int rounds, F body) {
  double best = 1e18;
  for (int r = 0; r < rounds; r++) {
    @autoreleasepool {
      auto start = std::chrono::steady_clock::now();
      body();
      auto end = std::chrono::steady_clock::now();
      best = std::min(best, std::chrono::duration<double, std::micro>(end - start).count());
    }
  }
  return best;
}

int main(int argc, char **argv) {
  @autoreleasepool {
#if !defined(__APPLE__)
    // An X display; macOS programs always have the window server.
    if (getenv("DISPLAY") == NULL || *getenv("DISPLAY") == 0) {
      printf("no display (DISPLAY is not set): panels cannot be made, benchmark skipped\n");
      return 0;
    }
#endif
    [NSApplication sharedApplication];
    int savedErr = dup(2);
    RedirectLogToNull();

    printf("Filter parsing (best of 15), per filter string length:\n");
    const int parseSizes[] = {10, 100, 1000, 10000, 100000};
    std::vector<double> parsePerEntry;
    for (int entries : parseSizes) {
      NSString *filters = [FilterString(entries) retain];
      Dovrane *dialog = [[Dovrane alloc] init];
      double us = BestMicroseconds(15, [&] {
        NSMutableArray *titles = [NSMutableArray array], *lists = [NSMutableArray array];
        [dialog parseFilter:filters filters:titles extensions:lists];
      });
      parsePerEntry.push_back(us / entries);
      printf("  %6d entries (%7lu chars): %10.1f us  %6.3f us/entry  per-entry ratio to 10 entries: %.2f\n", entries,
             (unsigned long)[filters length], us, us / entries, (us / entries) / parsePerEntry[0]);
      [dialog release];
      [filters release];
    }

    printf("Panel preparation (open and save, parsing included; best of 7):\n");
    const int panelSizes[] = {1, 10, 1000};
    double openBase = 0, saveBase = 0;
    for (int entries : panelSizes) {
      NSString *filters = [FilterString(entries) retain];
      double openUs = BestMicroseconds(7, [&] {
        Dovrane *dialog = [[Dovrane alloc] init];
        [dialog createOpenPanel:@"Title" directory:@"/tmp" filters:filters multiselect:NO canChooseFiles:YES
               canChooseFolders:NO];
        [dialog release];
      });
      double saveUs = BestMicroseconds(7, [&] {
        Dovrane *dialog = [[Dovrane alloc] init];
        [dialog createSavePanel:@"Title" directory:@"/tmp" defaultName:@"name" filters:filters];
        [dialog release];
      });
      Dovrane *parser = [[Dovrane alloc] init];
      double parseUs = BestMicroseconds(7, [&] {
        NSMutableArray *titles = [NSMutableArray array], *lists = [NSMutableArray array];
        [parser parseFilter:filters filters:titles extensions:lists];
      });
      [parser release];
      if (entries == 1) {
        openBase = openUs;
        saveBase = saveUs;
      }
      printf("  %5d entries: open %9.1f us (x%.2f of 1 entry)   save %9.1f us (x%.2f of 1 entry)   parsing %.1f us\n",
             entries, openUs, openUs / openBase, saveUs, saveUs / saveBase, parseUs);
      [filters release];
    }
    dup2(savedErr, 2);
  }
  return 0;
}
