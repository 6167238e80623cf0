// The freedesktop.org Trash stand-in and the file manager's trash call built on it.
#import <Foundation/Foundation.h>
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_NEEDS_NO_DISPLAY();

#include "gnustep/DBFreedesktopTrash.h"
#import "gnustep/DBFileManagerTrash.h"

#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <linux/fs.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::string &path, const std::string &contents) {
  std::ofstream out(path, std::ios::binary);
  out << contents;
}

bool exists(const std::string &path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

bool isDirectory(const std::string &path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::vector<std::string> entries(const std::string &directory) {
  std::vector<std::string> names;
  NSArray *list = [[NSFileManager defaultManager]
      contentsOfDirectoryAtPath:[NSString stringWithUTF8String:directory.c_str()]
                          error:NULL];
  for (NSString *name in [list sortedArrayUsingSelector:@selector(compare:)]) names.push_back([name UTF8String]);
  return names;
}

int removeEntry(const char *path, const struct stat *, int, struct FTW *) { return remove(path); }

void removeTree(const std::string &path) { nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS); }

std::string localTimeNow() {
  time_t now = time(NULL);
  struct tm local;
  localtime_r(&now, &local);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

std::string realPath(const std::string &path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? resolved : path;
}

// Sets or clears the immutable attribute; false where the file system or privileges refuse it.
bool setImmutable(const std::string &path, bool on) {
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  close(fd);
  return ok;
}

// Each test gets a fresh data home (so a fresh home trash) and a work directory on the same device,
// and a local time zone away from UTC so that a deletion date in UTC would show.
class FreedesktopTrash : public ::testing::Test {
 protected:
  std::string root, dataHome, work, trash;
  std::string savedTZ;
  bool hadTZ = false;

  void SetUp() override {
    char pattern[] = "/tmp/db-trash-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = realPath(pattern);
    dataHome = root + "/data";
    work = root + "/work";
    trash = dataHome + "/Trash";
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    const char *tz = getenv("TZ");
    hadTZ = tz != NULL;
    if (hadTZ) savedTZ = tz;
    setenv("TZ", "DBT-05:30", 1);
    tzset();
  }

  void TearDown() override {
    if (hadTZ) setenv("TZ", savedTZ.c_str(), 1);
    else unsetenv("TZ");
    tzset();
    unsetenv("XDG_DATA_HOME");
    removeTree(root);
  }

  std::string info(const std::string &name) { return readFile(trash + "/info/" + name + ".trashinfo"); }

  std::string trashPath(const std::string &path) {
    std::string result;
    int error = DBTrashItem(path.c_str(), &result);
    EXPECT_EQ(error, 0) << path << ": " << strerror(error);
    return result;
  }
};

}  // namespace

TEST_F(FreedesktopTrash, FileMovesToTheHomeTrashWithItsInfo) {
  writeFile(work + "/report.txt", "contents");
  std::string before = localTimeNow();
  std::string trashed = trashPath(work + "/report.txt");
  std::string after = localTimeNow();

  EXPECT_EQ(trashed, trash + "/files/report.txt");
  EXPECT_FALSE(exists(work + "/report.txt"));
  EXPECT_EQ(readFile(trashed), "contents");

  std::string text = info("report.txt");
  std::string prefix = "[Trash Info]\nPath=" + DBTrashEncodePath(work + "/report.txt") + "\nDeletionDate=";
  ASSERT_EQ(text.compare(0, prefix.size(), prefix), 0) << text;
  std::string date = text.substr(prefix.size());
  ASSERT_EQ(date.size(), 20u) << text;  // YYYY-MM-DDThh:mm:ss and the line end
  EXPECT_EQ(date.back(), '\n');
  date.pop_back();
  EXPECT_GE(date, before);  // local time, not UTC: the time zone is 5:30 away from it
  EXPECT_LE(date, after);
  EXPECT_EQ(entries(trash + "/info"), std::vector<std::string>{"report.txt.trashinfo"});
}

TEST_F(FreedesktopTrash, DirectoryMovesWholeAndSymbolicLinksMoveAsLinks) {
  ASSERT_EQ(mkdir((work + "/album").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((work + "/album/disc 1").c_str(), 0755), 0);
  writeFile(work + "/album/disc 1/track.flac", "audio");
  std::string trashed = trashPath(work + "/album/");  // a trailing slash names the directory itself
  EXPECT_EQ(trashed, trash + "/files/album");
  EXPECT_EQ(readFile(trashed + "/disc 1/track.flac"), "audio");
  EXPECT_FALSE(exists(work + "/album"));

  writeFile(work + "/target.txt", "keep me");
  ASSERT_EQ(symlink((work + "/target.txt").c_str(), (work + "/link").c_str()), 0);
  ASSERT_EQ(symlink((work + "/nowhere").c_str(), (work + "/dangling").c_str()), 0);
  std::string link = trashPath(work + "/link");
  std::string dangling = trashPath(work + "/dangling");
  struct stat linkInfo;
  ASSERT_EQ(lstat(link.c_str(), &linkInfo), 0);
  EXPECT_TRUE(S_ISLNK(linkInfo.st_mode));
  char target[PATH_MAX] = {0};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), work + "/target.txt");
  EXPECT_EQ(readFile(work + "/target.txt"), "keep me");  // the target stays
  EXPECT_EQ(dangling, trash + "/files/dangling");
  EXPECT_NE(info("link").find("Path=" + DBTrashEncodePath(work + "/link") + "\n"), std::string::npos);
}

TEST_F(FreedesktopTrash, CollisionsGetUniqueNamesAndNeverReplaceAnything) {
  for (int i = 1; i <= 3; i++) {
    writeFile(work + "/clip.mp4", "take " + std::to_string(i));
    trashPath(work + "/clip.mp4");
  }
  EXPECT_EQ(entries(trash + "/files"), (std::vector<std::string>{"clip 2.mp4", "clip 3.mp4", "clip.mp4"}));
  EXPECT_EQ(readFile(trash + "/files/clip.mp4"), "take 1");
  EXPECT_EQ(readFile(trash + "/files/clip 3.mp4"), "take 3");
  for (const char *name : {"clip.mp4", "clip 2.mp4", "clip 3.mp4"})
    EXPECT_NE(info(name).find("Path=" + DBTrashEncodePath(work + "/clip.mp4") + "\n"), std::string::npos) << name;

  // Another program's .trashinfo without its file, and a file without its .trashinfo: both names
  // are taken, neither entry is touched.
  writeFile(trash + "/info/notes.txt.trashinfo", "[Trash Info]\nPath=/elsewhere/notes.txt\n");
  writeFile(trash + "/files/notes 2.txt", "orphan");
  writeFile(work + "/notes.txt", "mine");
  EXPECT_EQ(trashPath(work + "/notes.txt"), trash + "/files/notes 3.txt");
  EXPECT_EQ(info("notes.txt"), "[Trash Info]\nPath=/elsewhere/notes.txt\n");
  EXPECT_EQ(readFile(trash + "/files/notes 2.txt"), "orphan");
  EXPECT_FALSE(exists(trash + "/info/notes 2.txt.trashinfo"));

  // Directories and dot files are numbered at the end of their name.
  ASSERT_EQ(mkdir((work + "/v1.0").c_str(), 0755), 0);
  trashPath(work + "/v1.0");
  ASSERT_EQ(mkdir((work + "/v1.0").c_str(), 0755), 0);
  EXPECT_EQ(trashPath(work + "/v1.0"), trash + "/files/v1.0 2");
  writeFile(work + "/.profile", "a");
  trashPath(work + "/.profile");
  writeFile(work + "/.profile", "b");
  EXPECT_EQ(trashPath(work + "/.profile"), trash + "/files/.profile 2");
}

TEST_F(FreedesktopTrash, PathIsAbsoluteCanonicalAndPercentEncoded) {
  EXPECT_EQ(DBTrashEncodePath("/a b/100%/#x?/caf\xc3\xa9.txt"), "/a%20b/100%25/%23x%3F/caf%C3%A9.txt");
  EXPECT_EQ(DBTrashEncodePath("/Az09/._~-"), "/Az09/._~-");

  ASSERT_EQ(mkdir((work + "/sub dir").c_str(), 0755), 0);
  writeFile(work + "/sub dir/caf\xc3\xa9 #1.txt", "x");
  ASSERT_EQ(chdir(work.c_str()), 0);
  std::string trashed = trashPath("sub dir/../sub dir/caf\xc3\xa9 #1.txt");  // relative, with ".."
  EXPECT_EQ(trashed, trash + "/files/caf\xc3\xa9 #1.txt");
  EXPECT_NE(info("caf\xc3\xa9 #1.txt").find("\nPath=" + DBTrashEncodePath(work) + "/sub%20dir/caf%C3%A9%20%231.txt\n"),
            std::string::npos)
      << info("caf\xc3\xa9 #1.txt");
  ASSERT_EQ(chdir("/"), 0);
}

TEST_F(FreedesktopTrash, LongNamesAreShortenedToLeaveRoomForTheInfoFile) {
  std::string name = std::string(240, 'n') + ".mkv";
  writeFile(work + "/" + name, "x");
  std::string trashed = trashPath(work + "/" + name);
  std::string trashedName = trashed.substr(trashed.rfind('/') + 1);
  EXPECT_LE(trashedName.size() + strlen(".trashinfo"), (size_t)NAME_MAX);
  EXPECT_EQ(trashedName.substr(trashedName.size() - 4), ".mkv");
  EXPECT_TRUE(exists(trash + "/info/" + trashedName + ".trashinfo"));
  EXPECT_NE(info(trashedName).find("Path=" + DBTrashEncodePath(work + "/" + name) + "\n"), std::string::npos);
}

TEST_F(FreedesktopTrash, FailuresChangeNothingAndLeaveNoInfo) {
  // A missing item: not even the trash directory is made.
  std::string unused;
  EXPECT_EQ(DBTrashItem((work + "/missing.txt").c_str(), &unused), ENOENT);
  EXPECT_EQ(DBTrashItem((work + "/no/such/dir/file").c_str(), &unused), ENOENT);
  EXPECT_FALSE(exists(trash));
  EXPECT_EQ(DBTrashItem("", &unused), EINVAL);
  EXPECT_EQ(DBTrashItem(NULL, &unused), EINVAL);
  EXPECT_EQ(DBTrashItem("/", &unused), EINVAL);
  EXPECT_EQ(DBTrashItem((work + "/.").c_str(), &unused), EINVAL);
  EXPECT_TRUE(exists(work));

  // A move that cannot happen after the info was written: a directory that holds the trash itself.
  std::string nested = work + "/holder";
  ASSERT_EQ(mkdir(nested.c_str(), 0755), 0);
  setenv("XDG_DATA_HOME", (nested + "/data").c_str(), 1);
  EXPECT_NE(DBTrashItem(nested.c_str(), &unused), 0);
  EXPECT_TRUE(isDirectory(nested));
  EXPECT_EQ(entries(nested + "/data/Trash/info"), std::vector<std::string>{});
  setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
}

TEST_F(FreedesktopTrash, UnwritableLocationsReturnAnErrorAndKeepTheItem) {
  // A directory whose entries cannot be removed.
  std::string locked = work + "/locked";
  ASSERT_EQ(mkdir(locked.c_str(), 0755), 0);
  writeFile(locked + "/file.txt", "stays");
  writeFile(work + "/warm-up.txt", "x");
  trashPath(work + "/warm-up.txt");  // the trash exists beforehand
  bool lockedDown = false;
  if (geteuid() != 0) {
    lockedDown = chmod(locked.c_str(), 0555) == 0;
  } else {
    lockedDown = setImmutable(locked, true);
  }
  if (lockedDown) {
    std::string unused;
    int error = DBTrashItem((locked + "/file.txt").c_str(), &unused);
    if (geteuid() != 0) chmod(locked.c_str(), 0755);
    else setImmutable(locked, false);
    EXPECT_TRUE(error == EACCES || error == EPERM) << strerror(error);
    EXPECT_EQ(readFile(locked + "/file.txt"), "stays");
    EXPECT_EQ(entries(trash + "/info"), std::vector<std::string>{"warm-up.txt.trashinfo"});
  } else {
    ADD_FAILURE() << "could not make a directory unwritable (neither permissions nor the immutable attribute)";
  }

  // A file system where no trash directory can be made.
  std::string unused;
  EXPECT_NE(DBTrashItem("/proc/self/status", &unused), 0);
  EXPECT_TRUE(exists("/proc/self/status"));
}

TEST_F(FreedesktopTrash, ItemsOnOtherDevicesGoToTheirVolumeTrash) {
  struct stat shm, tmp;
  if (stat("/dev/shm", &shm) != 0 || stat(root.c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev ||
      access("/dev/shm", W_OK) != 0)
    GTEST_SKIP() << "no writable file system on another device than /tmp (/dev/shm)";
  char pattern[] = "/dev/shm/db-trash-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string volumeWork = pattern;
  std::string uid = std::to_string(getuid());
  std::string volumeTrash = "/dev/shm/.Trash-" + uid;
  bool trashExisted = exists(volumeTrash);
  std::string name = volumeWork.substr(volumeWork.rfind('/') + 1) + ".txt";
  writeFile(volumeWork + "/" + name, "on tmpfs");

  std::string trashed = trashPath(volumeWork + "/" + name);
  EXPECT_EQ(trashed, volumeTrash + "/files/" + name);
  EXPECT_EQ(readFile(trashed), "on tmpfs");
  EXPECT_NE(readFile(volumeTrash + "/info/" + name + ".trashinfo").find("Path=" + DBTrashEncodePath(volumeWork + "/" + name) + "\n"),
            std::string::npos);
  struct stat trashInfo;
  ASSERT_EQ(lstat(volumeTrash.c_str(), &trashInfo), 0);
  EXPECT_EQ(trashInfo.st_mode & 0777, 0700u);
  EXPECT_FALSE(exists(trash + "/files/" + name));  // never copied into the home trash

  // A symbolic link in place of the per-user trash directory is refused, not followed.
  unlink(trashed.c_str());
  unlink((volumeTrash + "/info/" + name + ".trashinfo").c_str());
  if (!trashExisted) {
    removeTree(volumeTrash);
    std::string decoy = volumeWork + "/decoy";
    ASSERT_EQ(mkdir(decoy.c_str(), 0700), 0);
    ASSERT_EQ(symlink(decoy.c_str(), volumeTrash.c_str()), 0);
    writeFile(volumeWork + "/" + name, "again");
    std::string unused;
    EXPECT_EQ(DBTrashItem((volumeWork + "/" + name).c_str(), &unused), EPERM);
    EXPECT_EQ(readFile(volumeWork + "/" + name), "again");
    EXPECT_EQ(entries(decoy), std::vector<std::string>{});
    unlink(volumeTrash.c_str());
  }
  removeTree(volumeWork);
}

TEST_F(FreedesktopTrash, FileManagerReportsTheResultingURLAndErrors) {
  NSFileManager *fileManager = [NSFileManager defaultManager];
  ASSERT_EQ(mkdir((work + "/folder").c_str(), 0755), 0);
  writeFile(work + "/song.ogg", "x");

  NSURL *resulting = nil;
  NSError *error = nil;
  NSURL *fileURL = [NSURL fileURLWithPath:[NSString stringWithUTF8String:(work + "/song.ogg").c_str()]];
  EXPECT_TRUE([fileManager trashItemAtURL:fileURL resultingItemURL:&resulting error:&error]);
  EXPECT_TRUE([resulting isFileURL]);
  EXPECT_EQ(std::string([[resulting path] UTF8String]), trash + "/files/song.ogg");

  NSURL *folderURL = [NSURL fileURLWithPath:[NSString stringWithUTF8String:(work + "/folder").c_str()]];
  EXPECT_TRUE([fileManager trashItemAtURL:folderURL resultingItemURL:&resulting error:NULL]);
  EXPECT_TRUE([[resulting absoluteString] hasSuffix:@"/Trash/files/folder/"]) << [[resulting absoluteString] UTF8String];

  resulting = fileURL;
  EXPECT_FALSE([fileManager trashItemAtURL:fileURL resultingItemURL:&resulting error:&error]);
  EXPECT_EQ(resulting, nil);
  EXPECT_TRUE([[error domain] isEqualToString:NSCocoaErrorDomain]);
  EXPECT_EQ([error code], NSFileNoSuchFileError);
  NSError *underlying = [[error userInfo] objectForKey:NSUnderlyingErrorKey];
  EXPECT_TRUE([[underlying domain] isEqualToString:NSPOSIXErrorDomain]);
  EXPECT_EQ([underlying code], ENOENT);

  EXPECT_FALSE([fileManager trashItemAtURL:[NSURL URLWithString:@"http://example.org/x"] resultingItemURL:NULL error:&error]);
  EXPECT_EQ([error code], NSFileWriteUnsupportedSchemeError);
  EXPECT_FALSE([fileManager trashItemAtURL:nil resultingItemURL:NULL error:NULL]);
}
