// Loads the built DesktopBridge bundle into the test process the way a host does, and resolves
// exports by name.
#ifndef DB_TEST_BUNDLE_LOADER_H
#define DB_TEST_BUNDLE_LOADER_H

#include <string>

// The bundle's binary, loaded once per process (dlopen); aborts the test program if it fails.
void *BundleHandle();
// dlsym of an export; null when missing.
void *BundleSymbol(const char *name);

template <typename F> F BundleFunction(const char *name) { return reinterpret_cast<F>(BundleSymbol(name)); }

std::string BundleDirectory();   // .../DesktopBridge.bundle
std::string BundleBinaryPath();  // .../DesktopBridge.bundle/DesktopBridge

#endif
