#include "BridgeAPI.h"

#include <dlfcn.h>
#include <stdio.h>
#include <string>

void *BridgeSymbol(const BridgeAPI *api, const char *name) { return dlsym(api->handle, name); }

template <typename F> static bool bind(const BridgeAPI *api, const char *name, F *slot) {
  *slot = reinterpret_cast<F>(BridgeSymbol(api, name));
  if (*slot == nullptr) fprintf(stderr, "player: export %s missing from the bundle\n", name);
  return *slot != nullptr;
}

bool LoadBridge(const char *bundlePath, BridgeAPI *api) {
  std::string binary = std::string(bundlePath) + "/" DB_BUNDLE_BINARY_SUBPATH;
  api->handle = dlopen(binary.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (api->handle == nullptr) {
    fprintf(stderr, "player: cannot load %s: %s\n", binary.c_str(), dlerror());
    return false;
  }
  bool ok = true;
  ok &= bind(api, "setMenuCallback", &api->setMenuCallback);
  ok &= bind(api, "setDragDropCallback", &api->setDragDropCallback);
  ok &= bind(api, "setOpenFileCallback", &api->setOpenFileCallback);
  ok &= bind(api, "getOpenFilename", &api->getOpenFilename);
  ok &= bind(api, "notifyDragDrop", &api->notifyDragDrop);
  return ok;
}
