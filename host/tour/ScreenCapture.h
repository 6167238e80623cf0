// Screenshots of what the display shows: taken with ImageMagick's import from the X server (GNUstep),
// with the system's screencapture tool on macOS.
#ifndef PLAYER_SCREEN_CAPTURE_H
#define PLAYER_SCREEN_CAPTURE_H

#import <AppKit/AppKit.h>

// Draws and flushes the application's visible windows, then saves the part of the screen that
// holds them (with a margin) as a PNG at path. False, with the reason on standard error, when the
// capture failed.
bool CaptureApplicationWindows(NSString *path);

#endif
