// Launching and waiting for an NSTask's child process, as -[NSTask launch] and -[NSTask
// waitUntilExit] do on macOS.
//
// GNUstep's own NSTask waits by polling its run loop every 100 ms, and closes every descriptor up
// to the descriptor limit in the child one by one before it runs; a child whose task object has
// been released stays a zombie in a process whose run loop never runs. The functions below start
// the child with a vfork-style clone (the child closes the host's descriptors in one call), wait
// for it with a blocking waitpid, and record the outcome in the task's own fields, so that
// -isRunning, -processIdentifier, -terminationStatus and -terminationReason answer as usual.
//
// GNUstep's run loops collect any exited child with waitpid(-1) after a SIGCHLD and keep only the
// statuses of tasks they launched themselves. A child launched to be waited for is therefore
// started by a small waiter process that shares the host's memory, which such a loop cannot
// collect: the waiter collects the child and keeps its status for the wait. A child launched with
// DBTaskLaunch is the host's own: if a run loop on another thread collects it first, its status
// is lost, and the task then reports -1.
#ifndef DB_TASK_SPAWN_H
#define DB_TASK_SPAWN_H

#import <Foundation/Foundation.h>

// Launches a configured task: launch path, arguments, current directory, and standard output and
// error given as NSPipe or NSFileHandle objects (nil keeps the host's). The child gets the host's
// current environment, default signal dispositions, an empty signal mask, and no other descriptor
// of the host. Raises NSInvalidArgumentException when the launch path is missing or cannot be
// executed, or the current directory cannot be entered (nothing is left running then). The write
// end of a pipe given as standard output or error is closed in the host, as on macOS.
void DBTaskLaunch(NSTask *task);

// Blocks until the launched task's process has exited and records its status in the task.
void DBTaskWaitUntilExit(NSTask *task);

// Launches a configured task (standard output and error are not consulted) with both streams on
// one new pipe: child->output is its reading end, child->exited a process descriptor that turns
// readable once the child has exited (-1 on a kernel without them, or with no descriptor left).
// Raises as DBTaskLaunch does, leaving nothing open. The task must be waited for with
// DBTaskWaitForCapturedChild.
struct DBCapturedChild;
void DBTaskLaunchCapturingOutput(NSTask *task, DBCapturedChild *child);

// The reading end of the child's output pipe, handed to the caller, who closes it: the wait below
// then leaves it open.
int DBTaskDetachOutput(NSTask *task, DBCapturedChild *child);

// DBTaskWaitUntilExit, then closes both descriptors of the child.
void DBTaskWaitForCapturedChild(NSTask *task, DBCapturedChild *child);

// Hands a launched task's process to the background reaper, which collects it when it exits, so
// that no zombie is left behind whether or not any run loop runs. The task object may then be
// released; its status is not recorded.
void DBTaskReapWhenExited(NSTask *task);

// Collects the process pid when it exits, on a detached thread that takes none of the host's
// signals, so that it leaves no zombie; false when no thread could be started.
bool DBReapProcessOnThread(pid_t pid);

#endif
