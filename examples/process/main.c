/* The process runner from a plain-C host: a run that waits and captures the child's output, a
 * detached run, and a launch that fails. createProcess may be called from any thread. */
#include <stdio.h>
#include <stdlib.h>
#include "DesktopBridgeLoader.h"

#ifndef DESKTOPBRIDGE_BINARY /* the build names the installed bundle's binary */
#define DESKTOPBRIDGE_BINARY "DesktopBridge.bundle/" DB_BUNDLE_BINARY_SUBPATH
#endif

int main(int argc, char **argv) {
  const char *binary = argc > 1 ? argv[1] : DESKTOPBRIDGE_BINARY;
  DBExports bridge;
  char error[512];
  if (!DBLoadExports(binary, &bridge, error, sizeof error)) {
    fprintf(stderr, "%s\n", error);
    return 1;
  }
  DBFn_createProcess createProcess = bridge.createProcess;
  int failures = 0;

  /* Waiting: the exit status, and stdout and stderr interleaved in one owned string. Arguments are
   * joined by DB_LIST_SEPARATOR and reach the child exactly, never through a shell. */
  char *output = NULL;
  int status = createProcess("/bin/sh", "-c\x1c" "echo to stdout; echo to stderr >&2; exit 3", NULL, true, &output);
  printf("waited: status %d, output:\n%s", status, output != NULL ? output : "(not UTF-8)\n");
  free(output);
  failures += status != 3;

  /* Detached: 0 once launched; output stays as it was. The bundle collects the child when it ends. */
  output = NULL;
  status = createProcess("/bin/sleep", "0", "/", false, &output);
  printf("detached: status %d, output %s\n", status, output == NULL ? "untouched" : output);
  free(output);
  failures += status != 0;

  /* A launch that fails gives -1 and a description, owned, also for a detached run. */
  output = NULL;
  status = createProcess("/no/such/program", "", NULL, false, &output);
  printf("failed: status %d, %s\n", status, output != NULL ? "with a description" : "without a description");
  if (output != NULL) fprintf(stderr, "the description: %s\n", output);
  free(output);
  failures += status != -1;

  return failures == 0 ? 0 : 1;
}
