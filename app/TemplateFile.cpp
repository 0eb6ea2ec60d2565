#include "app/TemplateFile.h"

#include "app/ExitStatus.h"
#include "app/UpdateFormTexts.h"
#include "archive/TemplateVersion.h"
#include "common/IntegerText.h"
#include "platform/GbkText.h"
#include "platform/TextFormat.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

bool IsTrailByte(unsigned char c) {
  return c >= 0x40 && c <= 0xFE && c != 0x7F;
}

// Windows opens the device whatever extension follows its name, and
// ignores blanks before the extension.
bool IsDeviceName(std::string_view name) {
  std::string_view base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ')
    base.remove_suffix(1);
  static constexpr std::array<std::string_view, 7> kDevices{"CON",    "PRN",     "AUX",   "NUL",
                                                            "CONIN$", "CONOUT$", "CLOCK$"};
  for (std::string_view device : kDevices)
    if (platform::SameTextIgnoringAsciiCase(base, device)) return true;
  return base.size() == 4 &&
         (platform::SameTextIgnoringAsciiCase(base.substr(0, 3), "COM") ||
          platform::SameTextIgnoringAsciiCase(base.substr(0, 3), "LPT")) &&
         base[3] >= '0' && base[3] <= '9';
}

bool IsPlainFileName(const std::string& name) {
  if (platform::TrimBlanksAndControls(name).empty() || name == "." || name == ".." ||
      IsDeviceName(name))
    return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (platform::IsGbkLeadByte(c)) {
      if (i + 1 >= name.size() || !IsTrailByte(static_cast<unsigned char>(name[i + 1])))
        return false;
      ++i;
      continue;
    }
    // 0x80 is the euro sign of code page 936; 0xFF is no character.
    if (c < 0x20 || c == 0x7F || c == 0xFF) return false;
    if (std::string_view("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos)
      return false;
  }
  return true;
}

} // namespace

void CheckTemplateName(const std::string& name) {
  if (!IsPlainFileName(name))
    throw EInvalidArgument(platform::FormatText(updatetexts::kBadTemplateName, name));
}

std::optional<int32_t> ReadTemplateVersion(const std::string& path) {
  const std::string value = ReadTemplateVersionText(path);
  if (value.empty()) return std::nullopt;
  return TextToInt32(value);
}
