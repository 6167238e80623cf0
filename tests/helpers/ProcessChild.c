/* A child for process tests, one behaviour per mode (the first argument):
 *   streams            writes "out 1", "err 1", "out 2", "err 2" alternately to stdout and stderr
 *   bytes N            writes N bytes of numbered text lines to stdout, in large writes
 *   hex HEX [MICROS]   writes the bytes spelled in hex, one write per byte with a pause between
 *                      when MICROS is given
 *   exit N             exits with status N
 *   say TEXT N         writes TEXT and a newline to stdout, then exits with status N
 *   signal N           kills itself with signal N
 *   pwd                prints its current directory
 *   descriptors        prints the open descriptors above 2
 *   env NAME           prints the value of the environment variable NAME ("(unset)" without it)
 *   signals            prints the signals that are blocked or ignored, as "blocked N" and
 *                      "ignored N" words
 *   leftover GO REPORT prints "started" and exits, leaving a process that holds its output: once
 *                      the fifo GO has been opened and closed by someone else, that process writes
 *                      256 KiB to the output from a child of its own and writes how that child
 *                      ended ("exit N" or "signal N") to the fifo REPORT */
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ProcessTable.h"

static void writeAll(int fd, const char *bytes, size_t length) {
  while (length > 0) {
    ssize_t n = write(fd, bytes, length);
    if (n <= 0) exit(3);
    bytes += n;
    length -= (size_t)n;
  }
}

/* Line k of the "bytes" output: "%015zu\n" (16 bytes). */
static void writeBytes(size_t total) {
  static char block[(1 << 20) + 1];  /* + 1 for the NUL snprintf writes after the last line */
  const size_t blockSize = 1 << 20;
  size_t line = 0;
  while (total > 0) {
    for (size_t used = 0; used < blockSize; used += 16) snprintf(block + used, 17, "%015zu\n", line++);
    size_t n = total < blockSize ? total : blockSize;
    writeAll(1, block, n);
    total -= n;
  }
}

static int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int main(int argc, char **argv) {
  const char *mode = argc > 1 ? argv[1] : "";
  if (strcmp(mode, "streams") == 0) {
    writeAll(1, "out 1\n", 6);
    writeAll(2, "err 1\n", 6);
    writeAll(1, "out 2\n", 6);
    writeAll(2, "err 2\n", 6);
    return 0;
  }
  if (strcmp(mode, "bytes") == 0 && argc > 2) {
    writeBytes(strtoull(argv[2], NULL, 10));
    return 0;
  }
  if (strcmp(mode, "hex") == 0 && argc > 2) {
    const char *hex = argv[2];
    long pause = argc > 3 ? atol(argv[3]) : -1;
    unsigned char bytes[4096];
    size_t count = 0;
    for (size_t i = 0; hex[i] && hex[i + 1] && count < sizeof bytes; i += 2)
      bytes[count++] = (unsigned char)(hexValue(hex[i]) * 16 + hexValue(hex[i + 1]));
    if (pause < 0) {
      writeAll(1, (const char *)bytes, count);
    } else {
      for (size_t i = 0; i < count; i++) {
        writeAll(1, (const char *)bytes + i, 1);
        usleep((useconds_t)pause);
      }
    }
    return 0;
  }
  if (strcmp(mode, "exit") == 0 && argc > 2) return atoi(argv[2]);
  if (strcmp(mode, "say") == 0 && argc > 3) {
    writeAll(1, argv[2], strlen(argv[2]));
    writeAll(1, "\n", 1);
    return atoi(argv[3]);
  }
  if (strcmp(mode, "signal") == 0 && argc > 2) {
    signal(atoi(argv[2]), SIG_DFL);
    raise(atoi(argv[2]));
    return 99;
  }
  if (strcmp(mode, "pwd") == 0) {
    char path[4096];
    if (getcwd(path, sizeof path) == NULL) return 2;
    printf("%s", path);
    return 0;
  }
  if (strcmp(mode, "descriptors") == 0) {
    DIR *dir = opendir(DBOpenDescriptorsDirectory());
    if (dir == NULL) return 2;
    int self = dirfd(dir);
    struct dirent *entry;
    while ((entry = readdir(dir)) != NULL) {
      int fd = atoi(entry->d_name);
      if (entry->d_name[0] != '.' && fd > 2 && fd != self) printf("%d ", fd);
    }
    closedir(dir);
    return 0;
  }
  if (strcmp(mode, "env") == 0 && argc > 2) {
    const char *value = getenv(argv[2]);
    printf("%s", value != NULL ? value : "(unset)");
    return 0;
  }
  if (strcmp(mode, "signals") == 0) {
    sigset_t blocked;
    sigprocmask(SIG_BLOCK, NULL, &blocked);
    for (int number = 1; number < 32; number++) {
      struct sigaction action;
      if (sigismember(&blocked, number) == 1) printf("blocked %d ", number);
      if (sigaction(number, NULL, &action) == 0 && action.sa_handler == SIG_IGN) printf("ignored %d ", number);
    }
    return 0;
  }
  if (strcmp(mode, "leftover") == 0 && argc > 3) {
    pid_t keeper = fork();
    if (keeper < 0) return 2;
    if (keeper > 0) {
      writeAll(1, "started\n", 8);
      return 0;
    }
    char byte;
    int go = open(argv[2], O_RDONLY);
    if (go < 0) _exit(2);
    while (read(go, &byte, 1) > 0) {
    }
    close(go);
    pid_t writer = fork();
    if (writer == 0) {
      signal(SIGPIPE, SIG_DFL);
      writeBytes(256 * 1024);
      _exit(0);
    }
    int status = 0;
    while (writer > 0 && waitpid(writer, &status, 0) < 0) {
    }
    char report[32];
    int length = writer < 0            ? snprintf(report, sizeof report, "no writer")
                 : WIFSIGNALED(status) ? snprintf(report, sizeof report, "signal %d", WTERMSIG(status))
                                     : snprintf(report, sizeof report, "exit %d", WEXITSTATUS(status));
    int reportFd = open(argv[3], O_WRONLY);
    if (reportFd < 0) _exit(2);
    writeAll(reportFd, report, (size_t)length);
    _exit(0);
  }
  fprintf(stderr, "ProcessChild: unknown mode %s\n", mode);
  return 64;
}
