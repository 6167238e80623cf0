// Fuzzes the splitting of createProcess's argument string against a model: the arguments are the
// byte runs between the separators (0x1C), split at every separator and nowhere else, so there is
// one more argument than there are separators, none holds a separator, the bytes are unchanged, and
// joining them again gives the string back.
#include "ProcessRunner.h"

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

[[noreturn]] void Fail(const char *what) {
  fprintf(stderr, "process arguments: %s\n", what);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // The host's string ends at its first NUL.
  std::string joined((const char *)data, strnlen((const char *)data, size));
  std::vector<std::string> expected(1);
  for (char c : joined) {
    if (c == DBProcessArgumentSeparator)
      expected.emplace_back();
    else
      expected.back().push_back(c);
  }
  std::string buffer = joined;
  std::vector<char *> pieces;
  DBSplitProcessArguments(&buffer[0], &pieces);
  if (pieces.size() != expected.size()) Fail("wrong number of arguments");
  std::string rejoined;
  for (size_t i = 0; i < pieces.size(); i++) {
    if (expected[i] != pieces[i]) Fail("argument differs from the bytes between its separators");
    if (i > 0) rejoined.push_back(DBProcessArgumentSeparator);
    rejoined += pieces[i];
  }
  if (rejoined != joined) Fail("the arguments do not join back into the string");
  return 0;
}
