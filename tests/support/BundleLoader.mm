#include "BundleLoader.h"
#include "DesktopBridge.h"

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

std::string BundleDirectory() {
  const char *env = getenv("DESKTOPBRIDGE_BUNDLE");
  return env && *env ? env : DB_BUNDLE_PATH;
}

std::string BundleBinaryPath() { return BundleDirectory() + "/" DB_BUNDLE_BINARY_SUBPATH; }

void *BundleHandle() {
  static void *handle = nullptr;
  if (handle == nullptr) {
    handle = dlopen(BundleBinaryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      fprintf(stderr, "cannot load %s: %s\n", BundleBinaryPath().c_str(), dlerror());
      abort();
    }
  }
  return handle;
}

void *BundleSymbol(const char *name) { return dlsym(BundleHandle(), name); }
