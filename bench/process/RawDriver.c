/* The baseline of the process benchmark: the least a program can do to run a child and collect
 * its combined output. One pipe for both streams, posix_spawn, a read loop to the end of the pipe
 * into a growing buffer, waitpid. A plain C program linked with nothing but the C library, so that
 * none of the costs of a larger process (its libraries, threads or signal handlers) count here.
 *
 *   bench_raw_driver launch COUNT        median seconds of COUNT runs of /bin/true, after one more
 *   bench_raw_driver output BYTES WRITER seconds to capture BYTES from WRITER BYTES
 *
 * Prints "seconds length" on standard output, as the benchmark's other drivers do. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

static double Now(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

static int CompareDoubles(const void *a, const void *b) {
  double x = *(const double *)a, y = *(const double *)b;
  return x < y ? -1 : x > y;
}

/* Runs argv with its standard output and error on one pipe; returns the captured bytes
 * (NUL-terminated, malloc'd) or NULL when the child could not be started. */
static char *Capture(char *const argv[], int *status, size_t *lengthOut) {
  int fds[2];
  if (pipe(fds) != 0) return NULL;
  /* This program starts no other thread, so nothing can fork between pipe and fcntl. */
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  pid_t pid;
  int failed = posix_spawn(&pid, argv[0], &actions, NULL, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (failed) {
    close(fds[0]);
    return NULL;
  }
  size_t capacity = 64 * 1024, length = 0;
  char *buffer = malloc(capacity);
  for (;;) {
    if (capacity - length < 64 * 1024) {
      char *larger = realloc(buffer, capacity *= 2);
      if (larger == NULL) break;
      buffer = larger;
    }
    ssize_t n = read(fds[0], buffer + length, capacity - length - 1);
    if (n <= 0) break;
    length += (size_t)n;
  }
  buffer[length] = 0;
  close(fds[0]);
  waitpid(pid, status, 0);
  *lengthOut = length;
  return buffer;
}

int main(int argc, char **argv) {
  if (argc >= 3 && strcmp(argv[1], "launch") == 0) {
    long count = atol(argv[2]);
    if (count < 1) return 2;
    char *child[] = {(char *)"/bin/true", (char *)"", NULL};
    double *times = malloc(sizeof(double) * (size_t)count);
    for (long i = -1; i < count; i++) { /* run -1 warms up the loader's lazy bindings */
      int status;
      size_t length;
      double start = Now();
      char *text = Capture(child, &status, &length);
      double seconds = Now() - start;
      if (text == NULL) return 1;
      free(text);
      if (i >= 0) times[i] = seconds;
    }
    qsort(times, (size_t)count, sizeof(double), CompareDoubles);
    printf("%.9f 0\n", times[count / 2]);
    return 0;
  }
  if (argc >= 4 && strcmp(argv[1], "output") == 0) {
    char *child[] = {argv[3], argv[2], NULL};
    int status;
    size_t length = 0;
    double start = Now();
    char *text = Capture(child, &status, &length);
    double seconds = Now() - start;
    if (text == NULL) return 1;
    free(text);
    printf("%.9f %zu\n", seconds, length);
    return 0;
  }
  fprintf(stderr, "usage: %s launch COUNT | output BYTES WRITER\n", argv[0]);
  return 2;
}
