// DesktopBridgeLoader.h as a host uses it: the built bundle fills every member with the export
// dlsym finds; a path that does not load and a library that is not the bundle fail with a line that
// says why, and leave no member set.
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_NEEDS_NO_DISPLAY();
#include "BundleLoader.h"
#include "DesktopBridgeLoader.h"

#include <stdlib.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

namespace {

// Every export member of the struct, as (name, value).
std::vector<std::pair<std::string, void *>> Members(const DBExports &exports) {
  std::vector<std::pair<std::string, void *>> members;
#define DB_COLLECT_MEMBER(type, member, symbol) \
  members.emplace_back(#member, reinterpret_cast<void *>(exports.member));
  DB_LOADER_EXPORTS(DB_COLLECT_MEMBER)
#undef DB_COLLECT_MEMBER
  return members;
}

// A library that loads everywhere and exports none of ours.
#if defined(__APPLE__)
const char *const kOtherLibrary = "/usr/lib/libSystem.B.dylib";
#else
const char *const kOtherLibrary = "libm.so.6";
#endif

}  // namespace

TEST(Loader, ResolvesEveryExportOfTheBuiltBundle) {
  DBExports bridge;
  char error[512] = "untouched";
  ASSERT_TRUE(DBLoadExports(BundleBinaryPath().c_str(), &bridge, error, sizeof error)) << error;
  EXPECT_STREQ(error, "");
  EXPECT_EQ(bridge.handle, BundleHandle());
  for (const auto &member : Members(bridge)) EXPECT_NE(member.second, nullptr) << member.first;
#define DB_SAME_AS_DLSYM(type, member, symbol) \
  EXPECT_EQ(reinterpret_cast<void *>(bridge.member), BundleSymbol(symbol)) << #member;
  DB_LOADER_EXPORTS(DB_SAME_AS_DLSYM)
#undef DB_SAME_AS_DLSYM
  // The members are callable as declared: one call that needs no application.
  char *output = nullptr;
  EXPECT_EQ(bridge.createProcess("/bin/sh", "-c\x1c" "printf loaded", nullptr, true, &output), 0);
  EXPECT_STREQ(output, "loaded");
  free(output);
}

TEST(Loader, FailuresNameThePathAndTheReason) {
  DBExports bridge;
  char error[512];
  const std::string missing = BundleDirectory() + "/../NoSuch.bundle/" DB_BUNDLE_BINARY_SUBPATH;
  EXPECT_FALSE(DBLoadExports(missing.c_str(), &bridge, error, sizeof error));
  EXPECT_NE(std::string(error).find("cannot load DesktopBridge from " + missing + ": "), std::string::npos) << error;
  EXPECT_GT(strlen(error), strlen("cannot load DesktopBridge from : ") + missing.size())
      << "no dlerror text: " << error;
  EXPECT_EQ(bridge.handle, nullptr);
  for (const auto &member : Members(bridge)) EXPECT_EQ(member.second, nullptr) << member.first;

  // Loads, but is not the bundle: the first export of the list is the one named.
  EXPECT_FALSE(DBLoadExports(kOtherLibrary, &bridge, error, sizeof error));
  EXPECT_NE(std::string(error).find(std::string(kOtherLibrary) + " is not the DesktopBridge this host needs: "
                                    "it lacks the export attachHostClasses ("),
            std::string::npos)
      << error;
  EXPECT_NE(bridge.handle, nullptr);
  for (const auto &member : Members(bridge)) EXPECT_EQ(member.second, nullptr) << member.first;

  // No path; a short buffer is cut, terminated; no buffer at all is allowed.
  EXPECT_FALSE(DBLoadExports("", &bridge, error, sizeof error));
  EXPECT_STREQ(error, "cannot load DesktopBridge: no path given");
  char shortError[8];
  EXPECT_FALSE(DBLoadExports(nullptr, &bridge, shortError, sizeof shortError));
  EXPECT_STREQ(shortError, "cannot ");
  EXPECT_FALSE(DBLoadExports(missing.c_str(), &bridge, nullptr, 0));
}
