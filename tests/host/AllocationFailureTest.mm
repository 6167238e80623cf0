// The exports that allocate what they return, with the C allocator failing for the bundle's own
// calls: each gives its documented failure (null, or the status with no text) and nothing
// partial, and works again once the allocator does.
//
// The allocator is replaced by defining malloc, calloc and realloc in this program (exported: the
// program is linked with -rdynamic), which the dynamic linker then binds for the loaded bundle too: this works for ELF programs built without
// a sanitizer's own allocator. Elsewhere (a macOS bundle binds its allocator through two-level
// names; sanitizer builds) the program only says why it skips.
#import <Foundation/Foundation.h>
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_NEEDS_NO_DISPLAY();
#include "BundleLoader.h"
#include "DesktopBridge.h"
#include "ProcessTable.h"

#include <stdlib.h>
#include <string.h>

#include <optional>
#include <string>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define DB_SANITIZED_ALLOCATOR 1
#endif
#endif

#if !defined(__APPLE__) && !defined(DB_SANITIZED_ALLOCATOR)
#define DB_INTERPOSED_ALLOCATOR 1
#include <dlfcn.h>
#include <errno.h>
#include <link.h>

#include <atomic>

extern "C" void *__libc_malloc(size_t size);
extern "C" void *__libc_calloc(size_t count, size_t size);
extern "C" void *__libc_realloc(void *pointer, size_t size);

namespace {

// The bundle's mapped address range; calls returning into it are the bundle's own.
uintptr_t bundleStart, bundleEnd;
__thread bool failingHere;  // fail the bundle's allocations on this thread
std::atomic<long> bundleCalls(0), failedCalls(0);

bool FailThisCall(void *caller) {
  uintptr_t address = (uintptr_t)caller;
  if (address < bundleStart || address >= bundleEnd) return false;
  bundleCalls++;
  if (!failingHere) return false;
  failedCalls++;
  errno = ENOMEM;
  return true;
}

int FindBundleRange(struct dl_phdr_info *info, size_t, void *name) {
  if (info->dlpi_name == nullptr || strcmp(info->dlpi_name, (const char *)name) != 0) return 0;
  for (int i = 0; i < info->dlpi_phnum; i++) {
    if (info->dlpi_phdr[i].p_type != PT_LOAD) continue;
    uintptr_t start = info->dlpi_addr + info->dlpi_phdr[i].p_vaddr;
    uintptr_t end = start + info->dlpi_phdr[i].p_memsz;
    if (bundleStart == 0 || start < bundleStart) bundleStart = start;
    if (end > bundleEnd) bundleEnd = end;
  }
  return 1;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void *malloc(size_t size) {
  return FailThisCall(__builtin_return_address(0)) ? nullptr : __libc_malloc(size);
}
extern "C" __attribute__((visibility("default"))) void *calloc(size_t count, size_t size) {
  return FailThisCall(__builtin_return_address(0)) ? nullptr : __libc_calloc(count, size);
}
extern "C" __attribute__((visibility("default"))) void *realloc(void *pointer, size_t size) {
  return FailThisCall(__builtin_return_address(0)) ? nullptr : __libc_realloc(pointer, size);
}

namespace {

using Text = std::optional<std::string>;

// An owned copy of an export's result, which is freed.
Text Take(char *text) {
  Text copy;
  if (text != nullptr) copy = std::string(text);
  free(text);
  return copy;
}

struct Results {
  Text cString, uuid, version, output, failureText;
  int status = -2, failedStatus = -2;
};

Results CallEverything() {
  Results results;
  results.cString = Take(BundleFunction<char *(*)(NSString *)>(DB_MAKE_C_STRING_SYMBOL)(@"caf\u00e9 text"));
  results.uuid = Take(BundleFunction<char *(*)(void)>("getUUID")());
  results.version = Take(BundleFunction<char *(*)(void)>("getAppVersion")());
  auto create = BundleFunction<decltype(&createProcess)>("createProcess");
  char *text = nullptr;
  results.status = create(DB_TEST_HELPERS_DIR "/ProcessChild", "bytes\x1c" "200000", nullptr, true, &text);
  results.output = Take(text);
  text = nullptr;
  results.failedStatus = create("/nonexistent/program", "", nullptr, true, &text);
  results.failureText = Take(text);
  return results;
}

}  // namespace
#endif

TEST(AllocationFailure, ExportsGiveTheirFailureValueAndWorkAgainAfterwards) {
#if !defined(DB_INTERPOSED_ALLOCATOR)
  GTEST_SKIP() << "the C allocator cannot be replaced for the bundle here (macOS two-level binding, or a "
                  "sanitizer's allocator)";
#else
  ASSERT_NE(BundleHandle(), nullptr);
  Dl_info info;
  ASSERT_NE(dladdr(BundleSymbol("createProcess"), &info), 0);
  dl_iterate_phdr(FindBundleRange, (void *)info.dli_fname);
  ASSERT_LT(bundleStart, bundleEnd);

  Results normal = CallEverything();
  ASSERT_GT(bundleCalls.load(), 0) << "the bundle's allocations do not reach this program's allocator";
  EXPECT_EQ(normal.cString, Text("caf\xC3\xA9 text"));
  EXPECT_EQ(normal.status, 0);
  ASSERT_TRUE(normal.output.has_value());
  EXPECT_EQ(normal.output->size(), 200000u);
  EXPECT_EQ(normal.failedStatus, -1);
  EXPECT_TRUE(normal.failureText.has_value());
  if (!normal.uuid) printf("getUUID gives null here even with memory: its failure is not distinguished\n");
  if (!normal.version) printf("getAppVersion gives null here even with memory: its failure is not distinguished\n");

  int zombiesBefore = DBZombieChildren();
  failingHere = true;
  Results starved = CallEverything();
  failingHere = false;
  EXPECT_GT(failedCalls.load(), 0);
  EXPECT_EQ(starved.cString, Text());
  EXPECT_EQ(starved.uuid, Text());
  EXPECT_EQ(starved.version, Text());
  // The child still runs to its end and gives its status; its text is not given in part.
  EXPECT_EQ(starved.status, 0);
  EXPECT_FALSE(starved.output.has_value()) << starved.output->size() << " bytes";
  EXPECT_EQ(starved.failedStatus, -1);
  EXPECT_EQ(starved.failureText, Text());
  EXPECT_EQ(DBZombieChildren(), zombiesBefore);

  Results again = CallEverything();
  EXPECT_EQ(again.cString, normal.cString);
  EXPECT_EQ(again.uuid, normal.uuid);
  EXPECT_EQ(again.version, normal.version);
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.output, normal.output);
  EXPECT_TRUE(again.failureText.has_value());
#endif
}
