// Declarations that Apple's SDK has and this GNUstep lacks. Each stand-in keeps the name and shape
// of the Apple interface; its implementation lives beside this header.
#ifndef DB_GS_COMPAT_H
#define DB_GS_COMPAT_H

#import <AppKit/AppKit.h>

#include "DBFilePanels.h"
#include "DBMenuCompat.h"
#include "DBCoreFoundation.h"
#include "DBIOKitRegistry.h"
#include "DBFileManagerTrash.h"
#include "DBWorkspaceLaunch.h"
#include "DBRuntimeCompat.h"
#include "DBPasteboardCompat.h"

#endif
