// The edge of every export: no exception leaves the bundle into its C caller.
//
// An export runs its work through DBAtExportEdge. An Objective-C exception raised inside is caught
// by an Objective-C handler (ExportEdgeObjC.mm), which names it in one system-log line; any other
// exception (C++, for example from a host callback) is caught by a C++ handler in a C++ file
// (ExportEdge.cpp), which also writes one line. Either way DBAtExportEdge returns false and the
// export returns its documented failure value.
//
// The two handlers sit in files of their own on purpose: an Objective-C++ file built for
// GNUstep's runtime cannot hold a C++ catch (it terminates the process), and an Objective-C
// handler there lets a C++ exception pass on to the C++ handler, which catches both kinds on
// macOS, where the two are one mechanism. The work itself stays in the exports' own files.
#ifndef DB_EXPORT_EDGE_H
#define DB_EXPORT_EDGE_H

// Runs body(context) inside both handlers. True when body returned, false when an exception was
// caught and reported: "<exportName> stopped by ...; returning <failure>".
bool DBRunAtExportEdge(const char *exportName, const char *failure, void (*body)(void *), void *context);

// The Objective-C handler around body(context), called by DBRunAtExportEdge: false after an
// Objective-C exception, reported. Anything else passes through it.
bool DBRunCatchingObjectiveC(const char *exportName, const char *failure, void (*body)(void *), void *context);
// Writes the line for an exception that is not an Objective-C object.
void DBReportForeignExceptionAtEdge(const char *exportName, const char *failure);

// The same for any callable: DBAtExportEdge("getScaleFactor", "1.0", [&] { ... }).
template <typename Body> inline bool DBAtExportEdge(const char *exportName, const char *failure, Body body) {
  return DBRunAtExportEdge(exportName, failure, [](void *context) { (*static_cast<Body *>(context))(); }, &body);
}

#endif
