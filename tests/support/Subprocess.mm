#include "Subprocess.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>

extern char **environ;

static double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A pipe whose ends the spawned program does not inherit (it gets them only as its 1 and 2).
static bool CloseOnExecPipe(int fds[2]) {
#if defined(__APPLE__)
  // No pipe2 here: the flag is set right after, before this function spawns anything.
  if (pipe(fds) != 0) return false;
  for (int i = 0; i < 2; i++) fcntl(fds[i], F_SETFD, FD_CLOEXEC);
  return true;
#else
  return pipe2(fds, O_CLOEXEC) == 0;
#endif
}

SubprocessResult RunSubprocess(const std::vector<std::string> &argv, double timeoutSeconds,
                               const std::vector<std::string> &extraEnvironment) {
  SubprocessResult result;
  int outPipe[2], errPipe[2];
  if (!CloseOnExecPipe(outPipe) || !CloseOnExecPipe(errPipe)) return result;

  std::vector<std::string> environment;
  for (char **e = environ; *e; e++) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const std::string &extra : extraEnvironment)
      if (extra.substr(0, extra.find('=')) == name) replaced = true;
    if (!replaced) environment.push_back(entry);
  }
  for (const std::string &extra : extraEnvironment) environment.push_back(extra);
  std::vector<char *> envp, args;
  for (std::string &entry : environment) envp.push_back(&entry[0]);
  envp.push_back(nullptr);
  std::vector<std::string> argvCopy = argv;
  for (std::string &arg : argvCopy) args.push_back(&arg[0]);
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  pid_t pid = -1;
  int spawnError = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  if (spawnError != 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    result.err = std::string("spawn failed: ") + strerror(spawnError);
    return result;
  }

  double deadline = now() + timeoutSeconds;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string *sinks[2] = {&result.out, &result.err};
  int open = 2;
  while (open > 0) {
    double left = deadline - now();
    if (left <= 0) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    int ready = poll(fds, 2, (int)(left * 1000) + 1);
    if (ready < 0 && errno == EINTR) continue;
    for (int i = 0; i < 2; i++) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[65536];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, (size_t)n);
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        open--;
      }
    }
  }
  for (pollfd &fd : fds)
    if (fd.fd >= 0) close(fd.fd);
  // The pipes may close before the program exits (or a grandchild may hold them): wait with the
  // same deadline.
  int status = 0;
  for (;;) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (now() > deadline) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    usleep(2000);
  }
  if (WIFEXITED(status) && !result.timedOut) result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

std::vector<std::string> GuiArguments() {
#if defined(GNUSTEP)
  return {"-GSX11HandlesWindowDecorations", "NO"};
#else
  return {};
#endif
}

std::vector<std::string> OpenAtLaunchArguments(const std::string &path) {
#if defined(GNUSTEP)
  return {"-GSFilePath", path};
#else
  return {"-NSOpen", path};
#endif
}

const char *PositionalArgumentIsNotOpened() {
#if defined(GNUSTEP)
  return nullptr;
#else
  return "macOS opens a file given at launch through -NSOpen or an open-documents event, not as a "
         "positional argument";
#endif
}

std::vector<std::string> SplitLines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}
