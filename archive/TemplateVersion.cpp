#include "archive/TemplateVersion.h"

#include "archive/ZipControl.h"
#include "platform/Profile.h"

std::string ReadTemplateVersionText(const std::string& path) {
  const std::string comment = TZipInfo::ReadArchiveComment(path);
  const std::string value = platform::ReadProfileStringFromText(comment, "Region", "Version", "");
  const size_t begin = value.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  return value.substr(begin, value.find_last_not_of(" \t") - begin + 1);
}
