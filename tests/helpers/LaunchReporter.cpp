// A child for the launch tests: writes what it was started with to the file named by
// LAUNCH_REPORT (arguments, working directory, session, standard streams, other open descriptors,
// LAUNCH_EXTRA from the environment), then exits.
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

int main(int argc, char **argv) {
  const char *report = getenv("LAUNCH_REPORT");
  if (report == NULL) return 2;
  std::string text;
  text += "argc=" + std::to_string(argc) + "\n";
  for (int i = 1; i < argc; i++) text += "arg=" + std::string(argv[i]) + "\n";
  char cwd[4096];
  text += "cwd=" + std::string(getcwd(cwd, sizeof cwd) ? cwd : "?") + "\n";
  text += "sessionLeader=" + std::to_string(getsid(0) == getpid()) + "\n";
  for (int fd = 0; fd <= 2; fd++) {
    char link[64], target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t length = readlink(link, target, sizeof target - 1);
    target[length < 0 ? 0 : length] = 0;
    text += "fd" + std::to_string(fd) + "=" + target + "\n";
  }
  std::string others;
  if (DIR *fds = opendir("/proc/self/fd")) {
    int listing = dirfd(fds);
    while (struct dirent *entry = readdir(fds)) {
      if (entry->d_name[0] == '.') continue;
      int fd = atoi(entry->d_name);
      if (fd > 2 && fd != listing) others += " " + std::to_string(fd);
    }
    closedir(fds);
  }
  text += "otherFds=" + others + "\n";
  const char *extra = getenv("LAUNCH_EXTRA");
  text += "extra=" + std::string(extra ? extra : "(unset)") + "\n";

  std::string temporary = std::string(report) + ".part";
  FILE *out = fopen(temporary.c_str(), "w");
  if (out == NULL) return 3;
  fwrite(text.data(), 1, text.size(), out);
  fclose(out);
  return rename(temporary.c_str(), report) == 0 ? 0 : 4;
}
