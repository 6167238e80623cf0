// The Objective-C handler of the export edge and the lines it writes (see ExportEdge.h).
#include "ExportEdge.h"

#import "DBPlatform.h"

#include <stdio.h>

// The line for a caught exception object. Writing it must not raise in turn: a description that
// raises leaves a plainer line on standard error.
static void ReportObjectAtEdge(const char *exportName, const char *failure, id exception) {
  @try {
    @autoreleasepool {  // the calling thread may have no pool of its own
      if ([exception isKindOfClass:[NSException class]]) {
        NSLog(@"%s stopped by %@: %@; returning %s", exportName, [exception name], [exception reason], failure);
      } else {
        NSLog(@"%s stopped by an exception object of class %@: %@; returning %s", exportName,
              NSStringFromClass([exception class]), exception, failure);
      }
    }
  } @catch (id nested) {
    fprintf(stderr, "%s stopped by an exception that could not be described; returning %s\n", exportName, failure);
  }
}

bool DBRunCatchingObjectiveC(const char *exportName, const char *failure, void (*body)(void *), void *context) {
  @try {
    body(context);
    return true;
  } @catch (id exception) {
    ReportObjectAtEdge(exportName, failure, exception);
    return false;
  }
}

void DBReportForeignExceptionAtEdge(const char *exportName, const char *failure) {
  @try {
    @autoreleasepool {
      NSLog(@"%s stopped by an exception that is not an Objective-C object (a C++ exception); returning %s", exportName,
            failure);
    }
  } @catch (id nested) {
    fprintf(stderr, "%s stopped by a C++ exception; returning %s\n", exportName, failure);
  }
}
