// A host application that embeds the Python interpreter and runs a test script on its main thread,
// as a host scripted in Python does. The script loads the bundle through the Python binding and
// plays the user through the host's controls (HostControls.h); its unittest result is the exit
// status. The script is MANAGED_HOST_SCRIPT, the bundle DB_BUNDLE_DIR (both from the environment).
#include <Python.h>

#import <AppKit/AppKit.h>

#include <stdio.h>
#include <stdlib.h>

#include "HostControls.h"

int main(int argc, char **argv) {
  const char *script = getenv("MANAGED_HOST_SCRIPT");
  if (script == NULL) {
    fprintf(stderr, "MANAGED_HOST_SCRIPT names no script\n");
    return 2;
  }
  int status = 1;
  @autoreleasepool {
    if (!StartManagedHost()) return 77;
    Py_InitializeEx(0);  // the host keeps its own signal handling
    FILE *file = fopen(script, "r");
    if (file == NULL) {
      fprintf(stderr, "cannot open %s\n", script);
      return 2;
    }
    // The script leaves its result in exit_code; an exception that ends it is printed here.
    if (PyRun_SimpleFileExFlags(file, script, 1, NULL) == 0) {
      PyObject *module = PyImport_AddModule("__main__");  // borrowed
      PyObject *code = module ? PyObject_GetAttrString(module, "exit_code") : NULL;
      if (code != NULL && PyLong_Check(code)) status = (int)PyLong_AsLong(code);
      else fprintf(stderr, "the script set no exit_code\n");
      Py_XDECREF(code);
      PyErr_Clear();
    }
  }
  // The bundle has no teardown and its callbacks may point into the interpreter: leave without
  // finalizing it.
  fflush(stdout);
  fflush(stderr);
  _exit(status);
}
