// The argument list of createProcess: one string holding the arguments joined by the list
// separator (0x1C).
#ifndef DB_PROCESS_ARGUMENTS_H
#define DB_PROCESS_ARGUMENTS_H

#import "DBPlatform.h"

// The arguments, split at every separator and nowhere else: "" is one empty argument, adjacent
// separators give an empty argument between them, and whatever follows a separator (a combining
// mark included) starts the next argument. nil for nil.
NSArray *DBSplitProcessArguments(NSString *joined);

#endif
