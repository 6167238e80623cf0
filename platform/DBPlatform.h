// The one header through which the plug-in's code reaches the platform. On macOS it is AppKit and
// the object runtime; on GNUstep it adds the stand-ins in platform/gnustep/ for the interfaces this
// platform lacks, so that the calling code reads the same on both.
#ifndef DB_PLATFORM_H
#define DB_PLATFORM_H

#import <AppKit/AppKit.h>
#include <objc/runtime.h>
#include <objc/message.h>

#ifdef GNUSTEP
#include <objc/objc-sync.h>
#include "gnustep/GSCompat.h"
#else
#include <IOKit/IOKitLib.h>
// The compiler records declared properties on macOS; the registry that GNUstep needs is not there.
#define DBDeclareProperty(cls, name, attributeString) ((void)(cls), (void)(name), (void)(attributeString), NO)
#endif

#include "DBPasteboardTypes.h"
#include "DBWindows.h"

#endif
