/*
 * DesktopBridgeLoader.h: loads DesktopBridge's binary and binds every export by name, for hosts
 * written in C, C++ or Objective-C. Header only; link with the system's dl library (-ldl where it
 * is separate, as on older glibc).
 *
 *   DBExports bridge;
 *   char error[512];
 *   if (!DBLoadExports("<dir>/DesktopBridge.bundle/" DB_BUNDLE_BINARY_SUBPATH, &bridge, error, sizeof error)) {
 *     fprintf(stderr, "%s\n", error);
 *     return 1;
 *   }
 *   bridge.setMenuCallback(onMenu);
 *
 * The struct has one member per export, named as the export (the C++ exports by their unmangled
 * names, MakeCString and setAutoRestore), of the DBFn_ type DesktopBridge.h gives it; savedFilename
 * holds the variable's address. DB_LOADER_EXPORTS lists them: (type, member, symbol) each.
 */
#ifndef DESKTOPBRIDGE_LOADER_H
#define DESKTOPBRIDGE_LOADER_H

#include <dlfcn.h>
#include <stdbool.h>
#include <stdio.h>
#include <string.h>

#include "DesktopBridge.h"

#define DB_LOADER_EXPORTS(X)                                                          \
  X(DBFn_attachHostClasses, attachHostClasses, "attachHostClasses")                   \
  X(DBFn_setMenuCallback, setMenuCallback, "setMenuCallback")                         \
  X(DBFn_notifyMenuSelected, notifyMenuSelected, "notifyMenuSelected")                \
  X(DBFn_setDragDropCallback, setDragDropCallback, "setDragDropCallback")             \
  X(DBFn_notifyDragEnter, notifyDragEnter, "notifyDragEnter")                         \
  X(DBFn_notifyDragExit, notifyDragExit, "notifyDragExit")                            \
  X(DBFn_notifyDragDrop, notifyDragDrop, "notifyDragDrop")                            \
  X(DBFn_setOpenFileCallback, setOpenFileCallback, "setOpenFileCallback")             \
  X(DBFn_setOpenFilename, setOpenFilename, "setOpenFilename")                         \
  X(DBFn_getOpenFilename, getOpenFilename, "getOpenFilename")                         \
  X(DBVar_savedFilename, savedFilename, "savedFilename")                              \
  X(DBFn_MakeCString, MakeCString, DB_MAKE_C_STRING_SYMBOL)                           \
  X(DBFn_setWindowTitle, setWindowTitle, "setWindowTitle")                            \
  X(DBFn_getScaleFactor, getScaleFactor, "getScaleFactor")                            \
  X(DBFn_bringToFront, bringToFront, "bringToFront")                                  \
  X(DBFn_launchApp, launchApp, "launchApp")                                           \
  X(DBFn_trashFile, trashFile, "trashFile")                                           \
  X(DBFn_getUUID, getUUID, "getUUID")                                                 \
  X(DBFn_getAppVersion, getAppVersion, "getAppVersion")                               \
  X(DBFn_setAutoRestore, setAutoRestore, DB_SET_AUTO_RESTORE_SYMBOL)                  \
  X(DBFn_createProcess, createProcess, "createProcess")                               \
  X(DBFn_DialogOpenFilePanel, DialogOpenFilePanel, "DialogOpenFilePanel")             \
  X(DBFn_DialogOpenFilePanelAsync, DialogOpenFilePanelAsync, "DialogOpenFilePanelAsync") \
  X(DBFn_DialogOpenFolderPanel, DialogOpenFolderPanel, "DialogOpenFolderPanel")       \
  X(DBFn_DialogOpenFolderPanelAsync, DialogOpenFolderPanelAsync, "DialogOpenFolderPanelAsync") \
  X(DBFn_DialogSaveFilePanel, DialogSaveFilePanel, "DialogSaveFilePanel")             \
  X(DBFn_DialogSaveFilePanelAsync, DialogSaveFilePanelAsync, "DialogSaveFilePanelAsync") \
  X(DBFn_addMenuItem, addMenuItem, "addMenuItem")                                     \
  X(DBFn_removeMenuItem, removeMenuItem, "removeMenuItem")                            \
  X(DBFn_removeAllMenuItems, removeAllMenuItems, "removeAllMenuItems")                \
  X(DBFn_setMenuItemEnabled, setMenuItemEnabled, "setMenuItemEnabled")                \
  X(DBFn_setMenuItemChecked, setMenuItemChecked, "setMenuItemChecked")                \
  X(DBFn_isMenuItemChecked, isMenuItemChecked, "isMenuItemChecked")                   \
  X(DBFn_setMenuItemText, setMenuItemText, "setMenuItemText")                         \
  X(DBFn__notifyMenuSelected, _notifyMenuSelected, "_notifyMenuSelected")

typedef struct DBExports {
  void *handle; /* what dlopen gave; null when the binary did not load */
#define DB_LOADER_MEMBER(type, member, symbol) type member;
  DB_LOADER_EXPORTS(DB_LOADER_MEMBER)
#undef DB_LOADER_MEMBER
} DBExports;

/* Loads the binary at binaryPath (dlopen, RTLD_NOW | RTLD_LOCAL; a binary already loaded is
 * reached again) and fills every member of *exports. Call it on the main thread, before anything
 * else of the bundle: loading adds the bundle's handlers to the host's classes.
 * Returns true when every export was found. Failure: false, every export member null, and, when
 * error is not null, one line in error (cut to errorSize bytes, NUL-terminated) that names the
 * path and dlerror's text, and for a binary that loaded but lacks an export, that export's
 * name (the first one missing, in the order above). A binary that loaded stays loaded (a bundle
 * with Objective-C classes cannot be unloaded): handle is set then. */
static inline bool DBLoadExports(const char *binaryPath, DBExports *exports, char *error, size_t errorSize) {
  memset(exports, 0, sizeof *exports);
  if (error != NULL && errorSize > 0) error[0] = '\0';
  if (binaryPath == NULL || binaryPath[0] == '\0') {
    if (error != NULL && errorSize > 0) snprintf(error, errorSize, "cannot load DesktopBridge: no path given");
    return false;
  }
  void *handle = dlopen(binaryPath, RTLD_NOW | RTLD_LOCAL);
  if (handle == NULL) {
    const char *reason = dlerror();
    if (error != NULL && errorSize > 0)
      snprintf(error, errorSize, "cannot load DesktopBridge from %s: %s", binaryPath,
               reason ? reason : "(no reason given)");
    return false;
  }
  DBExports found;
  memset(&found, 0, sizeof found);
  found.handle = handle;
  const char *missing = NULL;
  const char *reason = NULL;
  /* A data pointer copied into a function pointer's bytes, as POSIX guarantees dlsym's result may. */
#define DB_LOADER_RESOLVE(type, member, symbol)                     \
  if (missing == NULL) {                                            \
    dlerror();                                                      \
    void *address = dlsym(handle, symbol);                          \
    if (address == NULL) {                                          \
      missing = symbol;                                             \
      reason = dlerror();                                           \
    } else {                                                        \
      memcpy(&found.member, &address, sizeof found.member);         \
    }                                                               \
  }
  DB_LOADER_EXPORTS(DB_LOADER_RESOLVE)
#undef DB_LOADER_RESOLVE
  if (missing != NULL) {
    exports->handle = handle;
    if (error != NULL && errorSize > 0)
      snprintf(error, errorSize, "%s is not the DesktopBridge this host needs: it lacks the export %s (%s)", binaryPath,
               missing, reason ? reason : "symbol not found");
    return false;
  }
  *exports = found;
  return true;
}

#endif /* DESKTOPBRIDGE_LOADER_H */
