// The bundle loads as a bundle of the platform through NSBundle, as well as by dlopen of its binary.
#import <Foundation/Foundation.h>
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_NEEDS_NO_DISPLAY();
#include "BundleLoader.h"
#include "DesktopBridge.h"

#include <dlfcn.h>

TEST(BundleLoading, LoadsThroughNSBundleAndExposesItsExports) {
  NSString *path = [NSString stringWithUTF8String:BundleDirectory().c_str()];
  NSBundle *bundle = [NSBundle bundleWithPath:path];
  ASSERT_NE(bundle, nil);
  EXPECT_TRUE([[bundle executablePath] hasSuffix:@"DesktopBridge.bundle/" DB_BUNDLE_BINARY_SUBPATH]);
  EXPECT_TRUE([[bundle objectForInfoDictionaryKey:@"CFBundleIdentifier"] isEqual:@"org.desktopbridge.DesktopBridge"]);
  ASSERT_TRUE([bundle load]);
  EXPECT_TRUE([bundle isLoaded]);
  // The loaded image is the same one a dlopen of the binary reaches.
  void *handle = dlopen(BundleBinaryPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(handle, nullptr);
  EXPECT_NE(dlsym(handle, "setMenuCallback"), nullptr);
  EXPECT_NE(NSClassFromString(@"NSObject"), nil);
}
