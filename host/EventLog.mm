#include "EventLog.h"
#include "DesktopBridge.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

void EventLog(const char *format, ...) {
  va_list args;
  va_start(args, format);
  fputs("[player] ", stdout);
  vfprintf(stdout, format, args);
  fputc('\n', stdout);
  fflush(stdout);
  va_end(args);
}

void EventLogPaths(const char *label, const char *paths) {
  if (paths == NULL) {
    EventLog("%s (null)", label);
    return;
  }
  const char *start = paths;
  for (;;) {
    const char *end = strchr(start, DB_LIST_SEPARATOR);
    size_t length = end ? (size_t)(end - start) : strlen(start);
    EventLog("%s %.*s", label, (int)length, start);
    if (!end) break;
    start = end + 1;
  }
}
