// The freedesktop.org Trash: choosing the trash directory, reserving a unique name with an
// exclusively created .trashinfo, and the rename into files/.
#include "DBFreedesktopTrash.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

const char kInfoSuffix[] = ".trashinfo";
const int kMaxNameAttempts = 100000;

std::string parentOf(const std::string &path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string join(const std::string &directory, const std::string &name) {
  return directory == "/" ? "/" + name : directory + "/" + name;
}

// $XDG_DATA_HOME when it is absolute, else $HOME/.local/share (the password entry's home when
// HOME is unset).
std::string dataHome() {
  const char *xdg = getenv("XDG_DATA_HOME");
  if (xdg != NULL && xdg[0] == '/') return xdg;
  const char *home = getenv("HOME");
  std::string homeDirectory;
  if (home != NULL && home[0] == '/') {
    homeDirectory = home;
  } else {
    struct passwd *entry = getpwuid(getuid());
    if (entry == NULL || entry->pw_dir == NULL) return std::string();
    homeDirectory = entry->pw_dir;
  }
  return homeDirectory + "/.local/share";
}

// Device of path, or of its nearest existing ancestor when it does not exist yet.
bool deviceOfNearest(std::string path, dev_t *device) {
  struct stat info;
  for (;;) {
    if (stat(path.c_str(), &info) == 0) {
      *device = info.st_dev;
      return true;
    }
    if (path == "/") return false;
    path = parentOf(path);
  }
}

// mkdir -p, with mode 0700 for each directory it creates.
int makeDirectories(const std::string &path) {
  struct stat info;
  if (stat(path.c_str(), &info) == 0) return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
  if (path != "/") {
    int error = makeDirectories(parentOf(path));
    if (error != 0) return error;
  }
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  return 0;
}

// The mount point of the file system that holds directory (a canonical path).
std::string mountPointOf(const std::string &directory) {
  struct stat info;
  if (stat(directory.c_str(), &info) != 0) return directory;
  std::string top = directory;
  while (top != "/") {
    std::string up = parentOf(top);
    struct stat upInfo;
    if (stat(up.c_str(), &upInfo) != 0 || upInfo.st_dev != info.st_dev) break;
    top = up;
  }
  return top;
}

// A per-user trash directory on a volume: an existing one must be a real directory (not a link)
// owned by the user; a missing one is created with mode 0700.
int usableUserTrash(const std::string &path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) {
    if (errno != ENOENT) return errno;
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    if (lstat(path.c_str(), &info) != 0) return errno;
  }
  if (!S_ISDIR(info.st_mode) || info.st_uid != getuid()) return EPERM;
  return 0;
}

// The trash directory of the volume whose top directory is topdir.
int volumeTrash(const std::string &topdir, std::string *trash) {
  std::string uid = std::to_string((unsigned long)getuid());
  std::string shared = join(topdir, ".Trash");
  struct stat info;
  // An administrator's shared trash counts only as a real directory with the sticky bit.
  if (lstat(shared.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0) {
    std::string candidate = join(shared, uid);
    if (usableUserTrash(candidate) == 0) {
      *trash = candidate;
      return 0;
    }
  }
  std::string candidate = join(topdir, ".Trash-" + uid);
  int error = usableUserTrash(candidate);
  if (error == 0) *trash = candidate;
  return error;
}

// Chooses the trash directory for an item on device itemDevice in canonical directory parent,
// creating it with files/ and info/ as needed.
int trashDirectoryFor(dev_t itemDevice, const std::string &parent, std::string *trash) {
  std::string home = dataHome();
  dev_t homeDevice = 0;
  int error = 0;
  if (!home.empty() && deviceOfNearest(join(home, "Trash"), &homeDevice) && homeDevice == itemDevice) {
    *trash = join(home, "Trash");
    error = makeDirectories(*trash);
  } else {
    error = volumeTrash(mountPointOf(parent), trash);
  }
  if (error == 0) error = makeDirectories(join(*trash, "files"));
  if (error == 0) error = makeDirectories(join(*trash, "info"));
  if (error != 0) return error;
  // Never across devices: the rename must stay on the item's file system.
  struct stat info;
  if (stat(join(*trash, "files").c_str(), &info) != 0) return errno;
  return info.st_dev == itemDevice ? 0 : EXDEV;
}

// Cuts text to at most limit bytes without splitting a UTF-8 sequence.
std::string cutUTF8(const std::string &text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) end--;
  return text.substr(0, end);
}

// Candidate name number n (1, 2, ...) for base: "name.ext", then "name 2.ext", "name 3.ext"; a
// directory's name is numbered at its end. Long names are shortened so that NAME.trashinfo still
// fits in a file name.
std::string candidateName(const std::string &base, bool isDirectory, int n) {
  size_t dot = isDirectory ? std::string::npos : base.rfind('.');
  if (dot == 0) dot = std::string::npos;  // ".profile" has no extension
  std::string stem = dot == std::string::npos ? base : base.substr(0, dot);
  std::string extension = dot == std::string::npos ? std::string() : base.substr(dot);
  std::string number = n == 1 ? std::string() : " " + std::to_string(n);
  const size_t limit = NAME_MAX - (sizeof kInfoSuffix - 1);
  if (extension.size() > limit / 2) {
    stem = base;
    extension.clear();
  }
  size_t room = limit - extension.size() - number.size();
  return cutUTF8(stem, room) + number + extension;
}

std::string deletionDate() {
  time_t now = time(NULL);
  struct tm local;
  char text[32];
  if (localtime_r(&now, &local) == NULL || strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local) == 0)
    return "1970-01-01T00:00:00";
  return text;
}

int writeAll(int fd, const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += (size_t)wrote;
  }
  return 0;
}

// Renames without replacing anything already at to.
int renameNoReplace(const std::string &from, const std::string &to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // File systems without RENAME_NOREPLACE: test, then rename (EINVAL stays EINVAL for a
  // directory moved into itself).
  struct stat info;
  if (lstat(to.c_str(), &info) == 0) return EEXIST;
  return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

std::string DBTrashEncodePath(const std::string &path) {
  static const char hex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(path.size());
  for (unsigned char c : path) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' ||
                 c == '.' || c == '_' || c == '~' || c == '-';
    if (plain) {
      encoded.push_back((char)c);
    } else {
      encoded.push_back('%');
      encoded.push_back(hex[c >> 4]);
      encoded.push_back(hex[c & 15]);
    }
  }
  return encoded;
}

int DBTrashItem(const char *path, std::string *trashedPath) {
  if (path == NULL || path[0] == 0) return EINVAL;

  // The item's absolute path: a canonical parent directory and the final name as given, so that a
  // symbolic link is the item itself.
  std::string absolute = path;
  if (absolute[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == NULL) return errno;
    absolute = join(cwd, absolute);
  }
  while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
  std::string base = absolute.substr(absolute.rfind('/') + 1);
  if (base.empty() || base == "." || base == "..") return EINVAL;
  char resolved[PATH_MAX];
  if (realpath(parentOf(absolute).c_str(), resolved) == NULL) return errno;
  std::string parent = resolved;
  std::string item = join(parent, base);

  struct stat itemInfo;
  if (lstat(item.c_str(), &itemInfo) != 0) return errno;

  std::string trash;
  int error = trashDirectoryFor(itemInfo.st_dev, parent, &trash);
  if (error != 0) return error;
  std::string filesDirectory = join(trash, "files");
  std::string infoDirectory = join(trash, "info");

  std::string contents = "[Trash Info]\nPath=" + DBTrashEncodePath(item) + "\nDeletionDate=" + deletionDate() + "\n";
  bool isDirectory = S_ISDIR(itemInfo.st_mode);
  for (int n = 1; n <= kMaxNameAttempts; n++) {
    std::string name = candidateName(base, isDirectory, n);
    std::string infoPath = join(infoDirectory, name + kInfoSuffix);
    std::string target = join(filesDirectory, name);

    // The .trashinfo reserves the name: created exclusively, it never replaces another one.
    int fd = open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return errno;
    }
    struct stat existing;
    if (lstat(target.c_str(), &existing) == 0) {  // an entry of files/ without its .trashinfo
      close(fd);
      unlink(infoPath.c_str());
      continue;
    }
    error = writeAll(fd, contents);
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0) error = renameNoReplace(item, target);
    if (error == 0) {
      *trashedPath = target;
      return 0;
    }
    unlink(infoPath.c_str());
    if (error != EEXIST) return error;  // someone took the name meanwhile: try the next one
  }
  return EEXIST;
}
