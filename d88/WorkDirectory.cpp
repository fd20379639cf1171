#include "d88/WorkDirectory.h"

#include <cerrno>

#if defined(_WIN32)
#include <direct.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace cli {

bool EnterDirectory(const char* path) {
#if defined(_WIN32)
  if (_mkdir(path) != 0 && errno != EEXIST) return false;
  return _chdir(path) == 0;
#else
  if (mkdir(path, 0777) != 0 && errno != EEXIST) return false;
  return chdir(path) == 0;
#endif
}

}  // namespace cli
