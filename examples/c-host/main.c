/* A plain-C host of DesktopBridge: loads the bundle, binds every export by name with the loader
 * (DesktopBridgeLoader.h: dlopen and dlsym) and calls two that need no window: a child process
 * with its output captured, and the file the system asked the host to open (none here). A GUI
 * host calls the dialogs, menus and window services the same way, on its main thread, once its
 * application has finished launching (examples/c-gui-host). */
#include <stdio.h>
#include <stdlib.h>
#include "DesktopBridgeLoader.h"

#ifndef DESKTOPBRIDGE_BINARY /* the build names the installed bundle's binary */
#define DESKTOPBRIDGE_BINARY "DesktopBridge.bundle/" DB_BUNDLE_BINARY_SUBPATH
#endif

int main(int argc, char **argv) {
  const char *binary = argc > 1 ? argv[1] : DESKTOPBRIDGE_BINARY;
  printf("DesktopBridge %s\n", DB_VERSION_STRING);

  /* One member per export; on failure a line that names the path, or the first missing export. */
  DBExports bridge;
  char error[512];
  if (!DBLoadExports(binary, &bridge, error, sizeof error)) {
    fprintf(stderr, "%s\n", error);
    return 1;
  }

  /* Arguments travel joined by DB_LIST_SEPARATOR; the output is owned: free it. */
  char *output = NULL;
  int status = bridge.createProcess("/bin/echo", "hello\x1c" "from a child", NULL, true, &output);
  printf("createProcess: status %d, output: %s", status, output != NULL ? output : "(none)\n");
  free(output);

  /* Borrowed, kept by the bundle for the life of the process; null until a request came. */
  const char *opened = bridge.getOpenFilename();
  printf("getOpenFilename: %s\n", opened != NULL ? opened : "(no request yet)");
  return status == 0 ? 0 : 1;
}
