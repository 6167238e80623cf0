// Pasteboard types whose presence depends on the platform and the running system.
#ifndef DB_PASTEBOARD_TYPES_H
#define DB_PASTEBOARD_TYPES_H

#import <AppKit/AppKit.h>

// The file-URL pasteboard type where the running system has it (macOS 10.13 and later), else nil.
// Callers test for nil before using it, exactly where macOS code would make its availability test.
static inline NSString *DBFileURLPasteboardType(void) {
#if defined(__APPLE__)
  if (@available(macOS 10.13, *)) return NSPasteboardTypeFileURL;
  return nil;
#else
  return nil;  // this platform has no file-URL pasteboard type
#endif
}

#endif
