// Profile text comes from files beside the program and from archive comments
// downloaded from the server. Lookups and rewrites must stay inside the text,
// and a rewritten value must be found again.
#include "platform/FileMask.h"
#include "platform/ProfileText.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // The first two lines name the section and key, the rest is the text.
  const auto first = input.find('\n');
  if (first == std::string_view::npos) return 0;
  const auto second = input.find('\n', first + 1);
  if (second == std::string_view::npos) return 0;
  const std::string_view section = input.substr(0, first);
  const std::string_view key = input.substr(first + 1, second - first - 1);
  const std::string_view text = input.substr(second + 1);

  (void)platform::FindProfileValue(text, section, key);
  (void)platform::MatchesFileMask(std::string(section), std::string(key));

  const auto updated = platform::SetProfileValue(text, section, key, "v");
  if (updated) {
    const auto found = platform::FindProfileValue(*updated, section, key);
    if (!found || *found != "v") std::abort();
  }
  return 0;
}
