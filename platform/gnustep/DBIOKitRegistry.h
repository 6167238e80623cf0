// The part of the I/O registry interface that the plug-in uses, answered from what Linux knows
// about the machine. One service class is known: "IOPlatformExpertDevice", whose property
// "IOPlatformUUID" is the machine's hardware UUID.
#ifndef DB_GS_IOKIT_REGISTRY_H
#define DB_GS_IOKIT_REGISTRY_H

#import <Foundation/Foundation.h>
#include <stdint.h>

#include "DBCoreFoundation.h"

typedef unsigned int mach_port_t;
typedef int kern_return_t;
typedef mach_port_t io_object_t;
typedef io_object_t io_service_t;
typedef io_object_t io_registry_entry_t;
typedef uint32_t IOOptionBits;

#define KERN_SUCCESS 0
#define KERN_INVALID_ARGUMENT 4
#define MACH_PORT_NULL ((mach_port_t)0)
#define IO_OBJECT_NULL ((io_object_t)0)

#ifdef __cplusplus
extern "C" {
#endif

extern const mach_port_t kIOMasterPortDefault;

// A matching dictionary for services of the class name (one reference, for the caller).
CFMutableDictionaryRef IOServiceMatching(const char *name);
// The first service that matches, or IO_OBJECT_NULL. Consumes one reference to matching.
// The caller releases the service with IOObjectRelease.
io_service_t IOServiceGetMatchingService(mach_port_t masterPort, CFDictionaryRef matching);
// A new reference to the entry's property, or NULL when the entry has no such property or its
// value cannot be read now. The caller releases it with CFRelease.
CFTypeRef IORegistryEntryCreateCFProperty(io_registry_entry_t entry, CFStringRef key, CFAllocatorRef allocator,
                                          IOOptionBits options);
// Ends the caller's use of a registry object: KERN_INVALID_ARGUMENT for an object that is not live.
kern_return_t IOObjectRelease(io_object_t object);

#ifdef __cplusplus
}
#endif

// The hardware UUID as 8-4-4-4-12 upper-case hexadecimal: from the DMI product UUID at dmiPath when
// it is readable and holds a real UUID, else from the machine id at machineIdPath (32 hexadecimal
// digits); nil when neither can be read.
NSString *DBPlatformUUIDFromFiles(const char *dmiPath, const char *machineIdPath);

#endif
