// The machine identity on Linux: systemd's machine-id file.
#include "platform/MachineIdentity.h"

#include "platform/CodePage.h"
#include "platform/RegularFile.h"

#include <cstdlib>

namespace platform {

std::string MachineIdentity() {
  const char* configured = std::getenv("UPDATE_MACHINE_ID_FILE");
  // The environment holds UTF-8, as every Linux path; the file functions
  // take ANSI.
  const std::string file = configured && *configured ? Utf8ToAnsi(configured) : "/etc/machine-id";
  std::string text;
  if (ReadRegularFile(file, text) != TReadResult::Ok) return {};
  text = text.substr(0, text.find_first_of("\r\n"));
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace platform
