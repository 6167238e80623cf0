// The sample host binds to DesktopBridge as any host would: dlopen of the bundle's binary, then
// dlsym of each export by name into this table.
#ifndef PLAYER_BRIDGE_API_H
#define PLAYER_BRIDGE_API_H

#include "DesktopBridge.h"

struct BridgeAPI {
  void *handle;
  decltype(&setMenuCallback) setMenuCallback;
  decltype(&setDragDropCallback) setDragDropCallback;
  decltype(&setOpenFileCallback) setOpenFileCallback;
  decltype(&getOpenFilename) getOpenFilename;
  decltype(&notifyDragDrop) notifyDragDrop;
};

// Loads the bundle at bundlePath (the DesktopBridge.bundle directory) and resolves the exports.
// Returns false and prints why on failure.
bool LoadBridge(const char *bundlePath, BridgeAPI *api);

// Resolves one export by symbol name; null when the bundle lacks it.
void *BridgeSymbol(const BridgeAPI *api, const char *name);

// The same, typed: BridgeFunction<decltype(&DialogOpenFilePanel)>(api, "DialogOpenFilePanel").
template <typename F> F BridgeFunction(const BridgeAPI *api, const char *name) {
  return reinterpret_cast<F>(BridgeSymbol(api, name));
}

#endif
