#pragma once
// The archive comment of a zip archive, read through the directory reader.
#include "archive/ZipDirReader.h"
#include "platform/StringList.h"

#include <cstdint>
#include <string>

class TZipInfo {
public:
  TZipInfo();
  TZipInfo(const TZipInfo&) = delete;
  TZipInfo& operator=(const TZipInfo&) = delete;

  // The comment of the zip archive at `path` as lines, each followed by
  // CR LF: ANSI bytes as stored, ending at the first NUL byte. Empty text for
  // a missing or unreadable file, a file of another kind and an archive
  // without a comment. Never raises.
  static std::string ReadArchiveComment(const std::string& path);

  // Classifies the archive at ArchivePath and activates the reader, which
  // loads the comment into Lines.
  void LoadComment();
  // OnActivate handler: copies the comment out of the reader's open file.
  void DoActivate(TZipDirReader& sender);
  // OnRead handler; the reader will not activate without one.
  void DoRead(TZipDirReader& sender, int64_t offset, int32_t number);

  std::string ArchivePath;
  const TStringList& Lines() const { return lines_; }

private:
  TZipDirReader engine_;
  TStringList lines_;
};
