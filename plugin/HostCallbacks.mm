// Callback slots for host events, the notify functions that raise them, the remembered open-file
// path, and MakeCString, the one way a string object becomes a C string owned by the host.
#include "DesktopBridge.h"
#import "DBPlatform.h"
#include "ExportEdge.h"

#include <stdlib.h>
#include <string.h>

#include <atomic>

// The slots are read and written atomically: a host may register a callback on one thread while
// an event is delivered on the main thread. A notify call that overlaps a registration calls
// either the earlier callback or the new one.
static std::atomic<DBMenuCallback> menuSelectedCallback(nullptr);
static std::atomic<DBDragEnterCallback> dragEnterCallback(nullptr);
static std::atomic<DBDragExitCallback> dragExitCallback(nullptr);
static std::atomic<DBDragDropCallback> dragDropCallback(nullptr);
static std::atomic<DBOpenFileCallback> openFileCallback(nullptr);

// Every export runs at the export edge (ExportEdge.h): a callback of the host that raises is
// reported in one line, and the notification ends there.

// Copy made for the most recent open-file request. Earlier copies are never freed: the host may
// still hold them. It is an exported plain variable; inside the plug-in it is stored with release
// and read with acquire ordering, so getOpenFilename on any thread sees either null or a copy
// whose bytes are complete.
char *savedFilename = NULL;

#pragma mark - Menu

void setMenuCallback(DBMenuCallback callback) {
  DBAtExportEdge("setMenuCallback", "nothing", [&] { menuSelectedCallback.store(callback, std::memory_order_release); });
}

void notifyMenuSelected(const char *tag, const char *title) {
  DBAtExportEdge("notifyMenuSelected", "nothing", [&] {
    DBMenuCallback callback = menuSelectedCallback.load(std::memory_order_acquire);
    if (callback) callback(tag, title);
  });
}

#pragma mark - Drag and drop

void setDragDropCallback(DBDragEnterCallback enter, DBDragExitCallback exit, DBDragDropCallback drop) {
  DBAtExportEdge("setDragDropCallback", "nothing", [&] {
    dragEnterCallback.store(enter, std::memory_order_release);
    dragExitCallback.store(exit, std::memory_order_release);
    dragDropCallback.store(drop, std::memory_order_release);
  });
}

void notifyDragEnter(void) {
  DBAtExportEdge("notifyDragEnter", "nothing", [&] {
    DBDragEnterCallback callback = dragEnterCallback.load(std::memory_order_acquire);
    if (callback) callback();
  });
}

void notifyDragExit(void) {
  DBAtExportEdge("notifyDragExit", "nothing", [&] {
    DBDragExitCallback callback = dragExitCallback.load(std::memory_order_acquire);
    if (callback) callback();
  });
}

void notifyDragDrop(int x, int y, const char *paths) {
  DBAtExportEdge("notifyDragDrop", "nothing", [&] {
    DBDragDropCallback callback = dragDropCallback.load(std::memory_order_acquire);
    if (callback) callback(x, y, paths);
  });
}

#pragma mark - Open-file requests

void setOpenFileCallback(DBOpenFileCallback callback) {
  DBAtExportEdge("setOpenFileCallback", "nothing", [&] { openFileCallback.store(callback, std::memory_order_release); });
}

void setOpenFilename(NSString *path) {
  DBAtExportEdge("setOpenFilename", "nothing", [&] {
    char *copy = MakeCString(path);
    __atomic_store_n(&savedFilename, copy, __ATOMIC_RELEASE);
    DBOpenFileCallback callback = openFileCallback.load(std::memory_order_acquire);
    if (callback) callback(copy);
  });
}

const char *getOpenFilename(void) {
  const char *path = NULL;
  DBAtExportEdge("getOpenFilename", "null", [&] { path = __atomic_load_n(&savedFilename, __ATOMIC_ACQUIRE); });
  return path;
}

#pragma mark - String marshalling

char *MakeCString(NSString *string) {
  char *copy = NULL;
  DBAtExportEdge("MakeCString", "null", [&] {
    @autoreleasepool {
      // The UTF-8 view is autoreleased: copy it before this pool drains. A string with no UTF-8 form
      // (an unpaired surrogate) gives NULL on macOS and raises on some platforms: both mean null.
      const char *utf8 = NULL;
      @try {
        utf8 = [string UTF8String];
      } @catch (NSException *exception) {
        utf8 = NULL;
      }
      if (utf8 != NULL) {
        size_t length = strlen(utf8);
        copy = (char *)malloc(length + 1);
        if (copy != NULL) memcpy(copy, utf8, length + 1);
      }
    }
  });
  return copy;
}
