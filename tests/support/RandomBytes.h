#pragma once
// Reproducible bytes of every value for package bodies: the same seed gives
// the same bytes, so two sizes or two seeds make two different packages.
#include <cstddef>
#include <random>
#include <string>

namespace testsupport {

inline std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes)
    c = static_cast<char>(random());
  return bytes;
}

} // namespace testsupport
