// The few CoreFoundation types and calls the plug-in uses, for a platform without CoreFoundation.
// Every CF object here is an Objective-C object (as with toll-free bridging on macOS): a CFStringRef
// is an NSString, a CFDictionaryRef an NSDictionary, and CFRelease releases the object.
#ifndef DB_GS_COREFOUNDATION_COMPAT_H
#define DB_GS_COREFOUNDATION_COMPAT_H

#import <Foundation/Foundation.h>

typedef const void *CFTypeRef;
typedef const struct __CFString *CFStringRef;
typedef const struct __CFDictionary *CFDictionaryRef;
typedef struct __CFDictionary *CFMutableDictionaryRef;
typedef const struct __CFAllocator *CFAllocatorRef;

#define kCFAllocatorDefault ((CFAllocatorRef)NULL)
#define CFSTR(text) ((CFStringRef)@text)

#ifdef __cplusplus
extern "C" {
#endif

// Releases one reference to a CF object. A null object is ignored.
void CFRelease(CFTypeRef object);

#ifdef __cplusplus
}
#endif

#endif
