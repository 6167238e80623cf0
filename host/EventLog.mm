#include "EventLog.h"
#include "DesktopBridge.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static EventLogObserver observer_;
static void *observerContext_;

void EventLogSetObserver(EventLogObserver observer, void *context) {
  observer_ = observer;
  observerContext_ = context;
}

void EventLog(const char *format, ...) {
  char stackLine[512];
  va_list args;
  va_start(args, format);
  int length = vsnprintf(stackLine, sizeof stackLine, format, args);
  va_end(args);
  char *line = stackLine;
  if (length >= (int)sizeof stackLine) {
    line = (char *)malloc((size_t)length + 1);
    if (line == NULL) return;
    va_start(args, format);
    vsnprintf(line, (size_t)length + 1, format, args);
    va_end(args);
  }
  if (length >= 0) {
    fprintf(stdout, "[player] %s\n", line);
    fflush(stdout);
    if (observer_) observer_(line, observerContext_);
  }
  if (line != stackLine) free(line);
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
