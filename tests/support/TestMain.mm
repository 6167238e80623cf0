// Test main for every test program: the shared application exists before any test, so panels,
// menus and windows work; an uncaught exception ends the program instead of opening a modal panel.
// A program that needs no display says so (TestProgram.h) and runs without the application.
#import <AppKit/AppKit.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "TestApplication.h"
#include "TestProgram.h"

static void onUncaughtException(NSException *exception) {
  fprintf(stderr, "uncaught exception %s: %s\n", [[exception name] UTF8String], [[exception reason] UTF8String]);
  fflush(stderr);
  _exit(70);
}

// Set before main by programs that need no display (TestProgram.h). Zero-initialized, so it is
// false before any static initializer runs.
static bool programNeedsNoDisplay;

void DBMarkTestProgramNeedsNoDisplay(void) { programNeedsNoDisplay = true; }

static bool NeedsDisplay() { return !programNeedsNoDisplay; }

int main(int argc, char **argv) {
  setvbuf(stdout, NULL, _IOLBF, 0);
  bool needsDisplay = NeedsDisplay();
#if !defined(__APPLE__)
  // An X display; macOS programs always have the window server.
  if (needsDisplay && (getenv("DISPLAY") == NULL || *getenv("DISPLAY") == 0)) {
    printf("no display (DISPLAY is not set): skipping this GUI test program\n");
    return 77;
  }
#endif
  int result = 1;
  @autoreleasepool {
    if (needsDisplay) SharedOrdinaryApplication();
    NSSetUncaughtExceptionHandler(onUncaughtException);
    testing::InitGoogleTest(&argc, argv);
    result = RUN_ALL_TESTS();
  }
  return result;
}
