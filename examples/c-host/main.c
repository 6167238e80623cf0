/* A plain-C host of DesktopBridge: loads the bundle, binds exports by name with dlsym and calls
 * those that need no window: a child process with its output captured, and the file the system
 * asked the host to open (none here). A GUI host calls the dialogs, menus and window services the
 * same way, on its main thread, once its application has finished launching. */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include "DesktopBridge.h"

#ifndef DESKTOPBRIDGE_BINARY /* the build names the installed bundle's binary */
#define DESKTOPBRIDGE_BINARY "DesktopBridge.bundle/" DB_BUNDLE_BINARY_SUBPATH
#endif

typedef int (*CreateProcessFunction)(const char *, const char *, const char *, bool, char **);
typedef const char *(*GetOpenFilenameFunction)(void);

int main(int argc, char **argv) {
  const char *binary = argc > 1 ? argv[1] : DESKTOPBRIDGE_BINARY;
  printf("DesktopBridge %s\n", DB_VERSION_STRING);

  void *bridge = dlopen(binary, RTLD_NOW | RTLD_LOCAL);
  if (bridge == NULL) {
    fprintf(stderr, "cannot load %s: %s\n", binary, dlerror());
    return 1;
  }
  CreateProcessFunction createProcess = (CreateProcessFunction)dlsym(bridge, "createProcess");
  GetOpenFilenameFunction getOpenFilename = (GetOpenFilenameFunction)dlsym(bridge, "getOpenFilename");
  if (createProcess == NULL || getOpenFilename == NULL) {
    fprintf(stderr, "%s lacks an export: %s\n", binary, dlerror());
    return 1;
  }

  /* Arguments travel joined by DB_LIST_SEPARATOR; the output is owned: free it. */
  char *output = NULL;
  int status = createProcess("/bin/echo", "hello\x1c" "from a child", NULL, true, &output);
  printf("createProcess: status %d, output: %s", status, output != NULL ? output : "(none)\n");
  free(output);

  /* Borrowed, kept by the bundle for the life of the process; null until a request came. */
  const char *opened = getOpenFilename();
  printf("getOpenFilename: %s\n", opened != NULL ? opened : "(no request yet)");
  return status == 0 ? 0 : 1;
}
