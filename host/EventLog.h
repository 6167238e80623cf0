// The sample host's event log: one readable line per event or result on standard output.
#ifndef PLAYER_EVENT_LOG_H
#define PLAYER_EVENT_LOG_H

// Prints one line, prefixed with "[player] ".
void EventLog(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Prints each path of a separator-joined list on its own line after label; "(null)" for null.
void EventLogPaths(const char *label, const char *paths);

// Receives every line as printed, without the prefix (the tour files lines under its steps).
// One observer at a time; null removes it.
typedef void (*EventLogObserver)(const char *line, void *context);
void EventLogSetObserver(EventLogObserver observer, void *context);

#endif
