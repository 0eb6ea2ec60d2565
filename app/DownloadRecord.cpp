// The record is a few lines of "key=value" in ANSI. It is not read as an
// ini file: the profile rules would take the quotes off an ETag.
#include "app/DownloadRecord.h"

#include "platform/AtomicFile.h"
#include "platform/RegularFile.h"

#include <charconv>
#include <sstream>

std::string ChooseValidator(const std::string& etag, const std::string& lastModified) {
  if (!etag.empty() && etag.rfind("W/", 0) != 0) return etag;
  return lastModified;
}

std::string DownloadRecordFile(const std::string& localFile) {
  return localFile + ".resume";
}

std::optional<TDownloadRecord> ReadDownloadRecord(const std::string& localFile) {
  std::string text;
  if (platform::ReadRegularFile(DownloadRecordFile(localFile), text) != platform::TReadResult::Ok)
    return std::nullopt;
  TDownloadRecord record;
  bool hasUrl = false, hasLength = false;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "url") {
      record.url = value;
      hasUrl = true;
    } else if (key == "length") {
      const auto [end, ec] =
          std::from_chars(value.data(), value.data() + value.size(), record.length);
      hasLength = ec == std::errc() && end == value.data() + value.size();
    } else if (key == "validator") {
      record.validator = value;
    }
  }
  if (!hasUrl || !hasLength) return std::nullopt;
  return record;
}

bool WriteDownloadRecord(const std::string& localFile, const TDownloadRecord& record) {
  // A line break would let a value forge the next key.
  for (const std::string* value : {&record.url, &record.validator})
    if (value->find_first_of("\r\n") != std::string::npos) return false;
  return platform::WriteFileAtomically(DownloadRecordFile(localFile),
                                       "url=" + record.url +
                                           "\nlength=" + std::to_string(record.length) +
                                           "\nvalidator=" + record.validator + "\n");
}

const char* ResumeRefusal(const std::optional<TDownloadRecord>& record, const TDownloadRecord& now,
                          const std::string& sameResourceUrl) {
  if (!record) return "no-record";
  if (record->url != now.url && record->url != sameResourceUrl) return "other-url";
  if (now.length < 0 || record->length != now.length) return "other-length";
  if (now.validator.empty()) return "no-validator";
  if (record->validator != now.validator) return "other-validator";
  return nullptr;
}
