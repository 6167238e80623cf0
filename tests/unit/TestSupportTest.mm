// The test support's readings of the platform, which the other tests trust: the process table
// (zombie children, process states, the executable's path, the open descriptors) and the per-class
// object counts.
#import <Foundation/Foundation.h>
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_NEEDS_NO_DISPLAY();
#include "ObjectCounts.h"
#include "ProcessTable.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>

@interface CountedThing : NSObject
@end
@implementation CountedThing
@end

namespace {

std::set<int> OpenDescriptors() {
  std::set<int> found;
  DIR *dir = opendir(DBOpenDescriptorsDirectory());
  if (dir == nullptr) return found;
  while (dirent *entry = readdir(dir))
    if (entry->d_name[0] != '.' && atoi(entry->d_name) != dirfd(dir)) found.insert(atoi(entry->d_name));
  closedir(dir);
  return found;
}

TEST(ProcessTable, AnExitedChildIsAZombieOfThisProcessUntilReapedAndThenGone) {
  int before = DBZombieChildren();
  ASSERT_GE(before, 0);
  pid_t child = fork();
  if (child == 0) _exit(3);
  ASSERT_GT(child, 0);
  siginfo_t info;
  ASSERT_EQ(waitid(P_PID, (id_t)child, &info, WEXITED | WNOWAIT), 0);  // exited, left unreaped
  EXPECT_EQ(DBProcessState(child), 'Z');
  EXPECT_EQ(DBZombieChildren(), before + 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(DBProcessState(child), 0);
  EXPECT_EQ(DBZombieChildren(), before);
}

TEST(ProcessTable, ARunningProcessHasALiveState) {
  char state = DBProcessState(getpid());
  EXPECT_NE(state, 0);
  EXPECT_NE(state, 'Z');
}

TEST(ProcessTable, TheExecutablePathIsThisProgramResolved) {
  char path[PATH_MAX];
  ASSERT_TRUE(DBExecutablePath(path, sizeof path));
  char resolved[PATH_MAX];
  ASSERT_NE(realpath(path, resolved), nullptr);
  EXPECT_STREQ(path, resolved);
  EXPECT_STREQ(strrchr(path, '/'), "/unit_TestSupportTest");
  EXPECT_FALSE(DBExecutablePath(path, 4));  // too small for it
}

TEST(ProcessTable, TheDescriptorListingFollowsOpenAndClose) {
  int fd = open("/dev/null", O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(OpenDescriptors().count(fd), 1u);
  close(fd);
  EXPECT_EQ(OpenDescriptors().count(fd), 0u);
}

TEST(ObjectCounts, LiveInstancesFollowAllocationAndDeallocation) {
  if (!ObjectCountingAvailable()) GTEST_SKIP() << kNoObjectCounts;
  StartCountingObjects();
  int before = LiveInstances([CountedThing class]);
  CountedThing *first = [CountedThing new];
  CountedThing *second = [CountedThing new];
  EXPECT_EQ(LiveInstances([CountedThing class]), before + 2);
  [first release];
  EXPECT_EQ(LiveInstances([CountedThing class]), before + 1);
  [second release];
  EXPECT_EQ(LiveInstances([CountedThing class]), before);
}

}  // namespace

// A test program is a plain executable; open and save panels need the bundle identifier that its
// embedded Info.plist gives it on macOS (GNUstep's panels need none, and it embeds none there).
#if defined(__APPLE__)
TEST(TestProgram, HasABundleIdentifierOfItsOwn) {
  NSString *identifier = [[NSBundle mainBundle] bundleIdentifier];
  ASSERT_NE(identifier, nil);
  EXPECT_TRUE([identifier isEqualToString:@"org.desktopbridge.program.unit-TestSupportTest"]) << [identifier UTF8String];
}
#endif
