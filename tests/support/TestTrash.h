// Where a test finds what trashFile moved. GNUstep keeps the freedesktop Trash under
// $XDG_DATA_HOME/Trash, so a test points XDG_DATA_HOME at a folder of its own and finds the file and
// its record there. macOS moves the file into the user's own Trash, which tests do not read: there a
// moved file is only seen to be gone from where it was.
#ifndef DB_TEST_TEST_TRASH_H
#define DB_TEST_TEST_TRASH_H

#include <string>
#include <vector>

class TestTrash {
 public:
  // GNUstep: the Trash of this process is root/data/Trash until the object goes.
  explicit TestTrash(const std::string &root);
  ~TestTrash();
  TestTrash(const TestTrash &) = delete;
  TestTrash &operator=(const TestTrash &) = delete;

  // The paths that hold what trashing a file called name left in this Trash; none where the
  // platform's Trash is the user's.
  std::vector<std::string> EntriesFor(const std::string &name) const;

 private:
  std::string dataHome_;
};

#endif
