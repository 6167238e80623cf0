// The work of createProcess, in plain C++ (ProcessRunner.cpp); the export itself, with its
// Objective-C parts, is in ProcessRunner.mm.
#ifndef DB_PROCESS_RUNNER_H
#define DB_PROCESS_RUNNER_H

#include "ChildOutput.h"
#include "ProcessSpawn.h"

#include <vector>

// Joins the arguments in createProcess's argument string.
enum { DBProcessArgumentSeparator = 28 };

// Splits joined in place at every separator and nowhere else, appending the pieces to *pieces: ""
// is one empty piece, adjacent separators give an empty piece between them. Bytes are left as they
// are. May throw std::bad_alloc.
void DBSplitProcessArguments(char *joined, std::vector<char *> *pieces);

// Runs launchPath with the arguments (split at every separator and nowhere else: "" is one empty
// argument) as the host's bytes, in workingDirectory (null or "": the host's). Detached: true once
// the child has started (a background thread collects it when it exits), *result 0. Waiting: true
// once the child has exited, with its exit status (or the number of the signal that ended it) in
// *result and its output in `output`. False on failure, with a malloc'd description in *failure
// (null when there was no memory for one); *unexpected tells a failure that deserves a log line.
// No exception leaves it.
bool DBRunProcess(const char *launchPath, const char *arguments, const char *workingDirectory, bool waitForExit,
                  DBSpawnMethod method, DBChildOutput *output, int *result, char **failure, bool *unexpected);

#endif
