// System services: moving a file to the Trash, and the machine's hardware UUID.
#include "DesktopBridge.h"
#import "DBPlatform.h"
#include "ExportEdge.h"

bool trashFile(const char *path) {
  if (path == NULL) return false;
  BOOL moved = NO;
  DBAtExportEdge("trashFile", "false", [&] {
    @autoreleasepool {
      NSString *string = [NSString stringWithUTF8String:path];
      // An empty path would name the working directory: it names nothing to trash.
      if ([string length] > 0) {
        NSURL *url = [NSURL fileURLWithPath:string];
        NSURL *resultingURL = nil;
        NSError *error = nil;
        moved = [[NSFileManager defaultManager] trashItemAtURL:url resultingItemURL:&resultingURL error:&error];
      }
    }
  });
  return moved;
}

char *getUUID(void) {
  char *result = NULL;
  DBAtExportEdge("getUUID", "null", [&] {
    @autoreleasepool {
      NSString *uuid = nil;
      io_service_t service =
          IOServiceGetMatchingService(kIOMasterPortDefault, IOServiceMatching("IOPlatformExpertDevice"));
      if (service != IO_OBJECT_NULL) {
        CFTypeRef property =
            IORegistryEntryCreateCFProperty(service, CFSTR("IOPlatformUUID"), kCFAllocatorDefault, 0);
        if (property != NULL) {
          uuid = [[(NSString *)property copy] autorelease];
          CFRelease(property);
        }
        IOObjectRelease(service);
      }
      result = MakeCString(uuid);
    }
  });
  return result;
}
