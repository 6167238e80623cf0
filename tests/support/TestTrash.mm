#include "TestTrash.h"

#include <stdlib.h>

TestTrash::TestTrash(const std::string &root) {
#if defined(GNUSTEP)
  dataHome_ = root + "/data";
  setenv("XDG_DATA_HOME", dataHome_.c_str(), 1);
#else
  (void)root;
#endif
}

TestTrash::~TestTrash() {
  if (!dataHome_.empty()) unsetenv("XDG_DATA_HOME");
}

std::vector<std::string> TestTrash::EntriesFor(const std::string &name) const {
  if (dataHome_.empty()) return {};
  return {dataHome_ + "/Trash/files/" + name, dataHome_ + "/Trash/info/" + name + ".trashinfo"};
}
