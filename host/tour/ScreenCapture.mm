#include "ScreenCapture.h"

#include <errno.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
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
  // AppKit's screen origin is the lower-left corner, the capture tools' the upper-left one.
  int x = (int)NSMinX(frame), width = (int)NSWidth(frame), height = (int)NSHeight(frame);
  int y = (int)(NSHeight(screen) - NSMaxY(frame));
#if defined(GNUSTEP)
  NSString *crop = [NSString stringWithFormat:@"%dx%d+%d+%d", width, height, x, y];
  const char *tool = "import (ImageMagick)";
  const char *argv[] = {"import", "-silent", "-window", "root", "-crop", [crop UTF8String], "+repage",
                        [path fileSystemRepresentation], NULL};
#else
  NSString *rect = [NSString stringWithFormat:@"%d,%d,%d,%d", x, y, width, height];
  const char *tool = "screencapture";
  const char *argv[] = {"/usr/sbin/screencapture", "-x", "-t", "png", "-R", [rect UTF8String],
                        [path fileSystemRepresentation], NULL};
#endif
  pid_t child = 0;
  int error = posix_spawnp(&child, argv[0], NULL, NULL, (char *const *)argv, environ);
  if (error != 0) {
    fprintf(stderr, "player: cannot start %s: %s\n", tool, strerror(error));
    return false;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fprintf(stderr, "player: %s failed for %s\n", tool, [path fileSystemRepresentation]);
    return false;
  }
  return true;
}
