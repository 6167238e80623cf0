/* What the tests and their helper programs read about processes, from the system's process table:
 * /proc on Linux; on macOS the kernel's process list (sysctl KERN_PROC), dyld's record of the
 * executable and the descriptor file system /dev/fd. Header-only plain C, for the C helpers too. */
#ifndef DB_TEST_PROCESS_TABLE_H
#define DB_TEST_PROCESS_TABLE_H

#include <limits.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

#if defined(__APPLE__)
#include <mach-o/dyld.h>
#include <sys/sysctl.h>  /* struct kinfo_proc; with <sys/proc.h>, the SZOMB states */
#include <sys/proc.h>
#else
#include <dirent.h>
#endif

/* The directory that lists this process's open descriptors by number (the listing's own
 * descriptor included). */
static inline const char *DBOpenDescriptorsDirectory(void) {
#if defined(__APPLE__)
  return "/dev/fd";
#else
  return "/proc/self/fd";
#endif
}

/* The running program's absolute path with symbolic links resolved, in buffer (size bytes); false
 * when it cannot be had. */
static inline bool DBExecutablePath(char *buffer, size_t size) {
#if defined(__APPLE__)
  char given[4096];
  uint32_t length = sizeof given;
  char resolved[PATH_MAX];
  if (_NSGetExecutablePath(given, &length) != 0 || realpath(given, resolved) == NULL) return false;
  if (strlen(resolved) >= size) return false;
  strcpy(buffer, resolved);
  return true;
#else
  if (size < 2) return false;
  ssize_t length = readlink("/proc/self/exe", buffer, size - 1);
  if (length < 0 || (size_t)length == size - 1) return false;  /* the whole buffer: maybe cut short */
  buffer[length] = 0;
  return true;
#endif
}

#if defined(__APPLE__)
/* The kernel's record of one process; false when there is no process with that id. */
static inline bool DBKernelProcess(pid_t pid, struct kinfo_proc *info) {
  int name[4] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, pid};
  size_t size = sizeof *info;
  memset(info, 0, sizeof *info);
  return sysctl(name, 4, info, &size, NULL, 0) == 0 && size >= sizeof *info;
}
#else
/* The state letter and parent of a process from /proc/<pid>/stat; false when it is gone. */
static inline bool DBProcStat(const char *pid, char *state, int *parent) {
  char path[64], line[512];
  snprintf(path, sizeof path, "/proc/%s/stat", pid);
  FILE *stat = fopen(path, "r");
  if (stat == NULL) return false;
  char *got = fgets(line, sizeof line, stat);
  fclose(stat);
  /* "pid (name) state ppid ...": the name may hold blanks and parentheses. */
  char *close = got ? strrchr(line, ')') : NULL;
  return close != NULL && sscanf(close + 1, " %c %d", state, parent) == 2;
}
#endif

/* 'Z' while the process is a zombie, 0 once it is gone, another state letter while it lives. */
static inline char DBProcessState(pid_t pid) {
#if defined(__APPLE__)
  struct kinfo_proc info;
  if (!DBKernelProcess(pid, &info)) return 0;
  switch (info.kp_proc.p_stat) {
    case SZOMB: return 'Z';
    case SSTOP: return 'T';
    case SSLEEP: return 'S';
    case SIDL: return 'I';
    default: return 'R';
  }
#else
  char number[32], state = 0;
  int parent = 0;
  snprintf(number, sizeof number, "%d", (int)pid);
  return DBProcStat(number, &state, &parent) ? state : 0;
#endif
}

/* Children of this process that have exited and are not yet reaped; -1 when the process table
 * cannot be read. */
static inline int DBZombieChildren(void) {
  int zombies = 0;
#if defined(__APPLE__)
  int name[4] = {CTL_KERN, KERN_PROC, KERN_PROC_ALL, 0};
  struct kinfo_proc *all = NULL;
  size_t size = 0;
  for (int attempt = 0; attempt < 5; attempt++) {  /* the table may grow between the two calls */
    if (sysctl(name, 4, NULL, &size, NULL, 0) != 0) break;
    size += size / 4 + sizeof *all;
    all = (struct kinfo_proc *)malloc(size);
    if (all == NULL) return -1;
    if (sysctl(name, 4, all, &size, NULL, 0) == 0) break;
    free(all);
    all = NULL;
  }
  if (all == NULL) return -1;
  for (size_t i = 0; i < size / sizeof *all; i++) {
    if (all[i].kp_eproc.e_ppid == getpid() && all[i].kp_proc.p_stat == SZOMB) zombies++;
  }
  free(all);
#else
  DIR *proc = opendir("/proc");
  if (proc == NULL) return -1;
  struct dirent *entry;
  while ((entry = readdir(proc)) != NULL) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    char state = 0;
    int parent = 0;
    if (DBProcStat(entry->d_name, &state, &parent) && state == 'Z' && parent == (int)getpid()) zombies++;
  }
  closedir(proc);
#endif
  return zombies;
}

#endif
