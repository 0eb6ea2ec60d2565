#pragma once
// The record kept beside a partial download: which resource its bytes are
// part of. A later run continues the file only when the server still
// describes that resource (the same URL, length and validator); anything
// else starts the file from its first byte, so that bytes of two versions
// are never joined into one file.
#include <cstdint>
#include <optional>
#include <string>

struct TDownloadRecord {
  // The URL the bytes came from.
  std::string url;
  // The resource's length, as the server announced it; negative: unknown.
  int64_t length = -1;
  // The resource's validator (see ChooseValidator); empty when the server
  // gave none.
  std::string validator;
};

// The validator to keep and to send as If-Range: the ETag when it is a
// strong one, else the Last-Modified date, else empty. A weak ETag ("W/...")
// does not promise the same bytes, so it cannot vouch for a range.
std::string ChooseValidator(const std::string& etag, const std::string& lastModified);

// The record's file: the local file's name with ".resume" added, which no
// search for the local file's own name (an installer, say) finds.
std::string DownloadRecordFile(const std::string& localFile);

// The record beside `localFile`; nullopt when there is none or it cannot be
// read or understood.
std::optional<TDownloadRecord> ReadDownloadRecord(const std::string& localFile);

// Replaces the record beside `localFile` atomically; false when it cannot be
// written.
bool WriteDownloadRecord(const std::string& localFile, const TDownloadRecord& record);

// Why bytes described by `record` may not be continued from the resource
// that the server now describes as `now`: "no-record", "other-url",
// "other-length", "no-validator" or "other-validator"; nullptr when they may.
// `sameResourceUrl` is the URL of the same path on the other server (the
// origin of a CDN, say), whose bytes count as the same resource when length
// and validator agree.
const char* ResumeRefusal(const std::optional<TDownloadRecord>& record, const TDownloadRecord& now,
                          const std::string& sameResourceUrl);
