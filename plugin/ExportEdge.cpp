// The C++ handler of the export edge (see ExportEdge.h). It lives in a C++ file: an Objective-C++
// file built for GNUstep's runtime cannot catch a C++ exception.
#include "ExportEdge.h"

bool DBRunAtExportEdge(const char *exportName, const char *failure, void (*body)(void *), void *context) {
  try {
    return DBRunCatchingObjectiveC(exportName, failure, body, context);
  } catch (...) {
    DBReportForeignExceptionAtEdge(exportName, failure);
    return false;
  }
}
