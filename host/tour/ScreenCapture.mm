#include "ScreenCapture.h"

#include <spawn.h>
#include <stdio.h>
#include <sys/wait.h>

extern char **environ;

// The windows a person sees: visible, on screen, not the application icon.
static bool isShownWindow(NSWindow *window) {
  if (![window isVisible]) return false;
  NSString *className = NSStringFromClass([window class]);
  return [className rangeOfString:@"Icon"].location == NSNotFound;
}

static NSRect shownWindowsFrame(void) {
  NSRect frame = NSZeroRect;
  for (NSWindow *window in [NSApp windows]) {
    if (!isShownWindow(window)) continue;
    [window display];
    [window flushWindow];
    frame = NSIsEmptyRect(frame) ? [window frame] : NSUnionRect(frame, [window frame]);
  }
  return frame;
}

bool CaptureApplicationWindows(NSString *path) {
  NSRect screen = [[NSScreen mainScreen] frame];
  NSRect frame = NSIntersectionRect(NSInsetRect(shownWindowsFrame(), -12, -12), screen);
  if (NSIsEmptyRect(frame)) frame = screen;
  // AppKit's screen origin is the lower-left corner, X's the upper-left one.
  int x = (int)NSMinX(frame), width = (int)NSWidth(frame), height = (int)NSHeight(frame);
  int y = (int)(NSHeight(screen) - NSMaxY(frame));
  NSString *crop = [NSString stringWithFormat:@"%dx%d+%d+%d", width, height, x, y];
  const char *argv[] = {"import", "-silent", "-window", "root", "-crop", [crop UTF8String], "+repage",
                        [path fileSystemRepresentation], NULL};
  pid_t child = 0;
  int error = posix_spawnp(&child, "import", NULL, NULL, (char *const *)argv, environ);
  if (error != 0) {
    fprintf(stderr, "player: cannot start import (ImageMagick): %s\n", strerror(error));
    return false;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fprintf(stderr, "player: import failed for %s\n", [path fileSystemRepresentation]);
    return false;
  }
  return true;
}
