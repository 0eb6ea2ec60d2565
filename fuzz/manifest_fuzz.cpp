// Reads arbitrary bytes as the downloaded Version.xml, in both readings of
// the manifest: the program entries with their release notes, and the
// template entries. Errors are expected; crashes and hangs are not.
#include "app/UpdateForm.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// A private temporary folder for the working folder, and a form whose
// configuration folder holds nothing.
TUpdateForm& Form() {
  static TUpdateForm* form = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "manifest-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    ::setenv("TMPDIR", pattern.c_str(), 1);
    return new TUpdateForm({"-ZB", "T"}, pattern + "/");
  }();
  return *form;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TUpdateForm& form = Form();
  const std::string manifest = form.GetWorkingFolder() + "Version.xml";
  std::ofstream(manifest, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  form.regionName = "T";
  try {
    form.ReadProductManifest();
  } catch (const std::exception&) {
  }
  try {
    form.ReadTemplateManifest();
  } catch (const std::exception&) {
  }
  return 0;
}
