// The I/O registry stand-in: where the hardware UUID comes from, its form, and the handle rules of
// the registry calls.
#import <Foundation/Foundation.h>
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_NEEDS_NO_DISPLAY();

#include "gnustep/DBIOKitRegistry.h"

#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace {

class PlatformUUID : public ::testing::Test {
 protected:
  std::string directory;
  void SetUp() override {
    char pattern[] = "/tmp/db-uuid-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory = pattern;
  }
  void TearDown() override {
    unlink(path("dmi").c_str());
    unlink(path("machine-id").c_str());
    rmdir(directory.c_str());
  }
  std::string path(const char *name) { return directory + "/" + name; }
  void write(const char *name, const std::string &text) { std::ofstream(path(name)) << text; }
  std::string uuid() {
    NSString *value = DBPlatformUUIDFromFiles(path("dmi").c_str(), path("machine-id").c_str());
    return value ? [value UTF8String] : "(nil)";
  }
};

}  // namespace

TEST_F(PlatformUUID, DMIProductUUIDComesFirstInUpperCase) {
  write("dmi", "4c4c4544-0042-3510-8054-b4c04f565a31\n");
  write("machine-id", "3d1219c7c4c5404aaa1f6d2a48adfda4\n");
  EXPECT_EQ(uuid(), "4C4C4544-0042-3510-8054-B4C04F565A31");
}

TEST_F(PlatformUUID, MachineIdWhenTheDMIUUIDIsMissingUnusableOrAPlaceholder) {
  write("machine-id", "3d1219c7c4c5404aaa1f6d2a48adfda4\n");
  EXPECT_EQ(uuid(), "3D1219C7-C4C5-404A-AA1F-6D2A48ADFDA4");  // no DMI file
  for (const char *dmi : {"00000000-0000-0000-0000-000000000000\n", "FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF",
                          "Not Settable\n", "4c4c4544-0042-3510-8054-b4c04f565a3\n", "4c4c4544-0042-3510-8054_b4c04f565a31",
                          ""}) {
    write("dmi", dmi);
    EXPECT_EQ(uuid(), "3D1219C7-C4C5-404A-AA1F-6D2A48ADFDA4") << dmi;
  }
  if (geteuid() != 0) {  // an unreadable DMI file (as for users other than root)
    write("dmi", "4c4c4544-0042-3510-8054-b4c04f565a31\n");
    chmod(path("dmi").c_str(), 0);
    EXPECT_EQ(uuid(), "3D1219C7-C4C5-404A-AA1F-6D2A48ADFDA4");
  }
}

TEST_F(PlatformUUID, NilWhenNeitherSourceHoldsAnId) {
  EXPECT_EQ(uuid(), "(nil)");
  for (const char *id : {"", "\n", "3d1219c7c4c5404aaa1f6d2a48adfda", "3d1219c7c4c5404aaa1f6d2a48adfdaz",
                         "3d1219c7c4c5404aaa1f6d2a48adfda44", "00000000000000000000000000000000"}) {
    write("machine-id", id);
    EXPECT_EQ(uuid(), "(nil)") << id;
  }
  EXPECT_EQ(DBPlatformUUIDFromFiles(NULL, NULL), nil);
}

TEST(IOKitRegistry, PlatformExpertAnswersTheUUIDPropertyOnly) {
  CFMutableDictionaryRef matching = IOServiceMatching("IOPlatformExpertDevice");
  ASSERT_NE(matching, nullptr);
  [(id)matching retain];  // to see the call consume exactly one reference
  io_service_t service = IOServiceGetMatchingService(kIOMasterPortDefault, matching);
  EXPECT_EQ([(id)matching retainCount], 1u);
  CFRelease(matching);
  ASSERT_NE(service, IO_OBJECT_NULL);

  CFTypeRef property = IORegistryEntryCreateCFProperty(service, CFSTR("IOPlatformUUID"), kCFAllocatorDefault, 0);
  NSString *expected = DBPlatformUUIDFromFiles("/sys/class/dmi/id/product_uuid", "/etc/machine-id");
  if (expected == nil) {
    EXPECT_EQ(property, nullptr);
  } else {
    ASSERT_NE(property, nullptr);
    EXPECT_TRUE([(id)property isEqual:expected]);
    CFRelease(property);
  }
  EXPECT_EQ(IORegistryEntryCreateCFProperty(service, CFSTR("IOPlatformSerialNumber"), kCFAllocatorDefault, 0), nullptr);

  // Every lookup is a handle of its own; a released handle is dead.
  io_service_t another = IOServiceGetMatchingService(kIOMasterPortDefault, IOServiceMatching("IOPlatformExpertDevice"));
  EXPECT_NE(another, service);
  EXPECT_EQ(IOObjectRelease(service), KERN_SUCCESS);
  EXPECT_EQ(IOObjectRelease(service), KERN_INVALID_ARGUMENT);
  EXPECT_EQ(IORegistryEntryCreateCFProperty(service, CFSTR("IOPlatformUUID"), kCFAllocatorDefault, 0), nullptr);
  EXPECT_EQ(IOObjectRelease(another), KERN_SUCCESS);
}

TEST(IOKitRegistry, UnknownClassesAndNullArgumentsMatchNothing) {
  EXPECT_EQ(IOServiceGetMatchingService(kIOMasterPortDefault, IOServiceMatching("IOUSBDevice")), IO_OBJECT_NULL);
  EXPECT_EQ(IOServiceGetMatchingService(kIOMasterPortDefault, NULL), IO_OBJECT_NULL);
  EXPECT_EQ(IOServiceMatching(NULL), nullptr);
  EXPECT_EQ(IORegistryEntryCreateCFProperty(IO_OBJECT_NULL, CFSTR("IOPlatformUUID"), kCFAllocatorDefault, 0), nullptr);
  EXPECT_EQ(IOObjectRelease(IO_OBJECT_NULL), KERN_INVALID_ARGUMENT);
}
