// Application services: a second instance of the running application, and its build version.
#include "DesktopBridge.h"
#import "DBPlatform.h"
#include "ExportEdge.h"

void launchApp(void) {
  DBAtExportEdge("launchApp", "nothing", [&] {
    @autoreleasepool {
      NSMutableDictionary *configuration = [NSMutableDictionary dictionary];
      [[NSWorkspace sharedWorkspace] launchApplicationAtURL:[[NSBundle mainBundle] bundleURL]
                                                    options:NSWorkspaceLaunchAsync | NSWorkspaceLaunchNewInstance
                                              configuration:configuration
                                                      error:NULL];
    }
  });
}

char *getAppVersion(void) {
  char *version = NULL;
  DBAtExportEdge("getAppVersion", "null", [&] {
    @autoreleasepool {
      id value = [[[NSBundle mainBundle] infoDictionary] objectForKey:@"CFBundleVersion"];
      // A version that is not a string (a malformed Info dictionary) cannot be given as text.
      if ([value isKindOfClass:[NSString class]]) version = MakeCString(value);
    }
  });
  return version;
}
