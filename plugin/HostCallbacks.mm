// Callback slots for host events, the notify functions that raise them, the remembered open-file
// path, and MakeCString, the one way a string object becomes a C string owned by the host.
#include "DesktopBridge.h"
#import "DBPlatform.h"

#include <stdlib.h>
#include <string.h>

static DBMenuCallback menuSelectedCallback = NULL;
static DBDragEnterCallback dragEnterCallback = NULL;
static DBDragExitCallback dragExitCallback = NULL;
static DBDragDropCallback dragDropCallback = NULL;
static DBOpenFileCallback openFileCallback = NULL;

// Copy made for the most recent open-file request. Earlier copies are never freed: the host may
// still hold them.
char *savedFilename = NULL;

#pragma mark - Menu

void setMenuCallback(DBMenuCallback callback) { menuSelectedCallback = callback; }

void notifyMenuSelected(const char *tag, const char *title) {
  DBMenuCallback callback = menuSelectedCallback;
  if (callback) callback(tag, title);
}

#pragma mark - Drag and drop

void setDragDropCallback(DBDragEnterCallback enter, DBDragExitCallback exit, DBDragDropCallback drop) {
  dragEnterCallback = enter;
  dragExitCallback = exit;
  dragDropCallback = drop;
}

void notifyDragEnter(void) {
  DBDragEnterCallback callback = dragEnterCallback;
  if (callback) callback();
}

void notifyDragExit(void) {
  DBDragExitCallback callback = dragExitCallback;
  if (callback) callback();
}

void notifyDragDrop(int x, int y, const char *paths) {
  DBDragDropCallback callback = dragDropCallback;
  if (callback) callback(x, y, paths);
}

#pragma mark - Open-file requests

void setOpenFileCallback(DBOpenFileCallback callback) { openFileCallback = callback; }

void setOpenFilename(NSString *path) {
  savedFilename = MakeCString(path);
  DBOpenFileCallback callback = openFileCallback;
  if (callback) callback(savedFilename);
}

const char *getOpenFilename(void) { return savedFilename; }

#pragma mark - String marshalling

char *MakeCString(NSString *string) {
  char *copy = NULL;
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
  return copy;
}
