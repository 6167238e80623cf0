// The one header through which the plug-in's code reaches the platform. On macOS it is AppKit and
// the object runtime; on GNUstep it adds the stand-ins in platform/gnustep/ for the interfaces this
// platform lacks, so that the calling code reads the same on both.
#ifndef DB_PLATFORM_H
#define DB_PLATFORM_H

#import <AppKit/AppKit.h>
#include <objc/runtime.h>
#include <objc/message.h>
// objc_sync_enter/objc_sync_exit: both runtimes declare them only here.
#include <objc/objc-sync.h>

#ifdef GNUSTEP
#include "gnustep/GSCompat.h"
#else
#include <IOKit/IOKitLib.h>
#endif

#include "DBPasteboardTypes.h"
#include "DBPropertyDeclaration.h"
#include "DBStringSplitting.h"
#include "DBWindows.h"

#endif
