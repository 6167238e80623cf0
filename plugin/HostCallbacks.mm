// Callback slots for host events, the notify functions that raise them, the remembered open-file
// path, and MakeCString, the one way a string object becomes a C string owned by the host.
#include "DesktopBridge.h"
#import "DBPlatform.h"
#include "ExportEdge.h"

#include <pthread.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

// Registration and delivery belong to the main thread (the header's rule). The slots are atomic all
// the same, so a host that registers on another thread while the main thread delivers an event
// makes that event reach either the earlier callback or the new one, never a torn pointer.
static std::atomic<DBMenuCallback> menuSelectedCallback(nullptr);
static std::atomic<DBOpenFileCallback> openFileCallback(nullptr);

// Every export runs at the export edge (ExportEdge.h): a callback of the host that raises is
// reported in one line, and the notification ends there.

// The three drag callbacks are one set, replaced as a whole under dragLock: a notify call reads its
// callback under the same lock, so it never sees a set that is half replaced. It calls it outside.
struct DragCallbacks {
  DBDragEnterCallback enter;
  DBDragExitCallback exit;
  DBDragDropCallback drop;
};
static pthread_mutex_t dragLock = PTHREAD_MUTEX_INITIALIZER;
static DragCallbacks dragCallbacks = {NULL, NULL, NULL};

static DragCallbacks CurrentDragCallbacks(void) {
  pthread_mutex_lock(&dragLock);
  DragCallbacks current = dragCallbacks;
  pthread_mutex_unlock(&dragLock);
  return current;
}

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
    DragCallbacks replacement = {enter, exit, drop};
    pthread_mutex_lock(&dragLock);
    dragCallbacks = replacement;
    pthread_mutex_unlock(&dragLock);
  });
}

void notifyDragEnter(void) {
  DBAtExportEdge("notifyDragEnter", "nothing", [&] {
    DBDragEnterCallback callback = CurrentDragCallbacks().enter;
    if (callback) callback();
  });
}

void notifyDragExit(void) {
  DBAtExportEdge("notifyDragExit", "nothing", [&] {
    DBDragExitCallback callback = CurrentDragCallbacks().exit;
    if (callback) callback();
  });
}

void notifyDragDrop(int x, int y, const char *paths) {
  DBAtExportEdge("notifyDragDrop", "nothing", [&] {
    DBDragDropCallback callback = CurrentDragCallbacks().drop;
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
