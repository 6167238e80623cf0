// A minimal I/O registry: matching dictionaries, live service handles and the platform expert's
// UUID property, read from the DMI tables or the machine id.
#import "DBIOKitRegistry.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <string.h>
#include <unistd.h>

const mach_port_t kIOMasterPortDefault = MACH_PORT_NULL;

static NSString *const DBProviderClassKey = @"IOProviderClass";
static NSString *const DBPlatformExpertDeviceClass = @"IOPlatformExpertDevice";
static NSString *const DBPlatformUUIDKey = @"IOPlatformUUID";

static const char *const DBDMIProductUUIDPath = "/sys/class/dmi/id/product_uuid";
static const char *const DBMachineIdPath = "/etc/machine-id";

#pragma mark - CoreFoundation

void CFRelease(CFTypeRef object) {
  if (object != NULL) [(id)object release];
}

#pragma mark - UUID sources

// Reads at most size - 1 bytes of a small file into buffer, NUL-terminated; false when unreadable.
static bool readSmallFile(const char *path, char *buffer, size_t size) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  size_t length = 0;
  while (length + 1 < size) {
    ssize_t got = read(fd, buffer + length, size - 1 - length);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    length += (size_t)got;
  }
  close(fd);
  buffer[length] = 0;
  return length > 0;
}

// Takes the 32 hexadecimal digits of text, which must be exactly a UUID (8-4-4-4-12, dashes
// optional all together) with surrounding white space; false otherwise.
static bool uuidDigits(const char *text, char digits[33]) {
  while (isspace((unsigned char)*text)) text++;
  size_t end = strlen(text);
  while (end > 0 && isspace((unsigned char)text[end - 1])) end--;
  static const size_t dashPositions[] = {8, 13, 18, 23};
  bool dashed = end == 36;
  if (!dashed && end != 32) return false;
  size_t count = 0;
  for (size_t i = 0; i < end; i++) {
    unsigned char c = (unsigned char)text[i];
    bool dashHere = dashed && (i == dashPositions[0] || i == dashPositions[1] || i == dashPositions[2] ||
                               i == dashPositions[3]);
    if (dashHere) {
      if (c != '-') return false;
      continue;
    }
    if (!isxdigit(c)) return false;
    digits[count++] = (char)toupper(c);
  }
  digits[count] = 0;
  return count == 32;
}

// Firmware that has no UUID to give fills the field with all zeros or all ones.
static bool isPlaceholder(const char digits[33]) {
  return strspn(digits, "0") == 32 || strspn(digits, "F") == 32;
}

static NSString *formatUUID(const char digits[33]) {
  return [NSString stringWithFormat:@"%.8s-%.4s-%.4s-%.4s-%.12s", digits, digits + 8, digits + 12, digits + 16,
                                    digits + 20];
}

NSString *DBPlatformUUIDFromFiles(const char *dmiPath, const char *machineIdPath) {
  char text[128];
  char digits[33];
  if (dmiPath != NULL && readSmallFile(dmiPath, text, sizeof text) && uuidDigits(text, digits) &&
      !isPlaceholder(digits))
    return formatUUID(digits);
  if (machineIdPath != NULL && readSmallFile(machineIdPath, text, sizeof text) && uuidDigits(text, digits) &&
      !isPlaceholder(digits))
    return formatUUID(digits);
  return nil;
}

#pragma mark - Registry objects

// Live handles and the service class each one names. Handles count up from 1 and are never reused.
static pthread_mutex_t registryLock = PTHREAD_MUTEX_INITIALIZER;
static NSMutableDictionary *liveObjects = nil;
static io_object_t lastHandle = IO_OBJECT_NULL;

static io_object_t registerObject(NSString *serviceClass) {
  pthread_mutex_lock(&registryLock);
  if (liveObjects == nil) liveObjects = [[NSMutableDictionary alloc] init];
  io_object_t handle = ++lastHandle;
  [liveObjects setObject:serviceClass forKey:[NSNumber numberWithUnsignedInt:handle]];
  pthread_mutex_unlock(&registryLock);
  return handle;
}

// The service class of a live handle (autoreleased), or nil.
static NSString *serviceClassOf(io_object_t handle) {
  pthread_mutex_lock(&registryLock);
  NSString *serviceClass = [[[liveObjects objectForKey:[NSNumber numberWithUnsignedInt:handle]] retain] autorelease];
  pthread_mutex_unlock(&registryLock);
  return serviceClass;
}

CFMutableDictionaryRef IOServiceMatching(const char *name) {
  if (name == NULL) return NULL;
  NSString *serviceClass = [NSString stringWithUTF8String:name];
  if (serviceClass == nil) return NULL;
  NSMutableDictionary *matching = [[NSMutableDictionary alloc] init];
  [matching setObject:serviceClass forKey:DBProviderClassKey];
  return (CFMutableDictionaryRef)matching;
}

io_service_t IOServiceGetMatchingService(mach_port_t masterPort, CFDictionaryRef matching) {
  if (matching == NULL) return IO_OBJECT_NULL;
  id serviceClass = [(NSDictionary *)matching objectForKey:DBProviderClassKey];
  io_service_t service = IO_OBJECT_NULL;
  if ([serviceClass isEqual:DBPlatformExpertDeviceClass]) service = registerObject(DBPlatformExpertDeviceClass);
  CFRelease(matching);
  return service;
}

CFTypeRef IORegistryEntryCreateCFProperty(io_registry_entry_t entry, CFStringRef key, CFAllocatorRef allocator,
                                          IOOptionBits options) {
  if (key == NULL) return NULL;
  CFTypeRef property = NULL;
  @autoreleasepool {
    NSString *serviceClass = serviceClassOf(entry);
    if ([serviceClass isEqualToString:DBPlatformExpertDeviceClass] &&
        [(NSString *)key isEqualToString:DBPlatformUUIDKey]) {
      NSString *uuid = DBPlatformUUIDFromFiles(DBDMIProductUUIDPath, DBMachineIdPath);
      if (uuid != nil) property = (CFTypeRef)[uuid copy];
    }
  }
  return property;
}

kern_return_t IOObjectRelease(io_object_t object) {
  kern_return_t result = KERN_INVALID_ARGUMENT;
  pthread_mutex_lock(&registryLock);
  NSNumber *handle = [[NSNumber alloc] initWithUnsignedInt:object];
  if ([liveObjects objectForKey:handle] != nil) {
    [liveObjects removeObjectForKey:handle];
    result = KERN_SUCCESS;
  }
  [handle release];
  pthread_mutex_unlock(&registryLock);
  return result;
}
