#include "Assert.h"

#include <cstring>

namespace platform {

void RaiseAssertionFailure(const char* file, int line) {
  // Name the unit by its file name only: build folders differ between machines.
  const char* slash = std::strrchr(file, '/');
  const char* name = slash ? slash + 1 : file;
  throw EAssertionFailed("Assertion failure (" + std::string(name) + ", line " +
                         std::to_string(line) + ")");
}

} // namespace platform
