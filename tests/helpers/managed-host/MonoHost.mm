// A host application that embeds the Mono runtime and runs a test assembly's Main on its main
// thread, as a host scripted in C# does. The assembly loads the bundle through the C# binding and
// plays the user through the host's controls (HostControls.h, reached with DllImport "__Internal");
// Main's result is the exit status. The assembly is MANAGED_HOST_ASSEMBLY, the bundle DB_BUNDLE_DIR
// (both from the environment).
#include <mono/jit/jit.h>
#include <mono/metadata/assembly.h>
#include <mono/metadata/mono-config.h>

#import <AppKit/AppKit.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "HostControls.h"

int main(int argc, char **argv) {
  const char *path = getenv("MANAGED_HOST_ASSEMBLY");
  if (path == NULL) {
    fprintf(stderr, "MANAGED_HOST_ASSEMBLY names no assembly\n");
    return 2;
  }
  int status = 1;
  @autoreleasepool {
    if (!StartManagedHost()) return 77;
    mono_config_parse(NULL);
    MonoDomain *domain = mono_jit_init("MonoHost");
    MonoAssembly *assembly = domain ? mono_domain_assembly_open(domain, path) : NULL;
    if (assembly == NULL) {
      fprintf(stderr, "cannot load %s\n", path);
      return 2;
    }
    char *arguments[] = {(char *)path, NULL};
    status = mono_jit_exec(domain, assembly, 1, arguments);
  }
  // The bundle has no teardown and its callbacks may point into the runtime: leave without
  // shutting it down.
  fflush(stdout);
  fflush(stderr);
  _exit(status);
}
