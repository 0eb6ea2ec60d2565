#pragma once
// The archive directory reader: classifies an archive file and reads its
// directory, reporting each entry through events. Only the zip family is read;
// a file of any other family is atUnknown (atNA when it is missing, cannot be
// opened or is 19 bytes or less). No member data is ever read.
#include "platform/Exception.h"
#include "platform/StringList.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TStream;
class TFileStream;

enum TArcType : uint8_t {
  atNA,
  atUnsupported,
  atFileOpenErr,
  atUnknown,
  atAce,
  atAceExe,
  atArc,
  atArcExe,
  atArj,
  atArjExe,
  atBh,
  atBhExe,
  atCab,
  atCabExe,
  atGZip,
  atHA,
  atJar,
  atJarExe,
  atLha,
  atLhaExe,
  atLzh,
  atLzhExe,
  atMsGZ,
  atPak,
  atPakExe,
  atRar,
  atRarExe,
  atTar,
  atTarGZip,
  atUUE,
  atZip,
  atZipExe,
  atZipDS,
  atZipMV,
  atZoo,
};

// True for atJar, atJarExe, atZip, atZipExe, atZipDS and atZipMV.
bool IsZipFamily(TArcType type);

// Message codes of the reader's error reports.
enum : int {
  msgBadFileHeader = 25114,
  msgFileNotFound = 25192,
  msgErrorOpeningFile = 25235,
  msgRequiredEventNotAssigned = 25270,
  msgUserCanceled = 25443,
};

// The text of a message code; empty text for a code the reader does not know.
const std::string& ZipMessageText(int code);

// Raised by the reader's raising error report; caught by the activation.
class EZipDirError : public Exception {
public:
  EZipDirError(int code, const std::string& message) : Exception(message), code_(code) {}
  int Code() const { return code_; }

private:
  int code_;
};

class TZipDirReader;

using TZipNotifyEvent = std::function<void(TZipDirReader& sender)>;
// The entry's record offset in the file and its running number (0 for the
// first record of the directory, counting entries that are not reported too).
using TZipReadEvent = std::function<void(TZipDirReader& sender, int64_t offset, int32_t number)>;
// Asked when the archive has no usable directory; `goOn` starts true, and a
// true answer skips all entries.
using TZipCorruptHeaderEvent =
    std::function<void(TZipDirReader& sender, uint8_t zipFlags, bool& goOn)>;
using TZipErrorEvent =
    std::function<void(TZipDirReader& sender, const std::string& fileName, int code,
                       const std::string& text1, const std::string& text2)>;

// The entry that OnRead (and OnReadBegin / OnReadEnd) is raised for.
struct TZipEntryInfo {
  std::string FileName; // as stored, ANSI bytes
  int64_t HeaderOffset = 0;
  uint64_t CompressedSize = 0;
  uint64_t UncompressedSize = 0;
  bool Central = false; // read from the central directory, not a local header
};

class TZipDirReader {
public:
  TZipDirReader();
  ~TZipDirReader();
  TZipDirReader(const TZipDirReader&) = delete;
  TZipDirReader& operator=(const TZipDirReader&) = delete;

  // Classifies the file at `path` (see ArcType). A missing file gives atNA and
  // an empty ArchiveFile; a file that cannot be opened or read gives atNA.
  // Never raises, except EAssertionFailed while an activation runs.
  void SetArchiveFile(const std::string& path);
  const std::string& ArchiveFile() const { return archiveFile_; }
  TArcType ArcType() const { return arcType_; }

  // Masks of entry names to report and not to report. '*' and '?' match
  // ignoring ASCII case; a mask without a folder delimiter is matched against
  // the name after the last '/' or '\', one with a delimiter against the
  // whole stored name; "*.*" matches every name, with or without a dot. An
  // empty FileSpec reports every entry.
  TStringList FileSpec;
  TStringList ExcludeSpec;

  TZipNotifyEvent OnActivate;
  TZipReadEvent OnRead;
  TZipNotifyEvent OnReadBegin;
  TZipNotifyEvent OnReadEnd;
  TZipCorruptHeaderEvent OnCorruptZipHeader;
  TZipErrorEvent OnError;
  TZipNotifyEvent OnTotals;
  TZipNotifyEvent OnDeactivate;
  TZipNotifyEvent OnElapsedTime;

  // Reads the directory of ArchiveFile, raising the events. False when an
  // error ended it (also when an activation is already running); errors,
  // including those raised by event handlers, never leave it.
  bool Activate();

  // Setting the flag reports msgUserCanceled and stops the directory loop.
  void SetCancel(bool cancel);
  bool Cancel() const { return cancel_; }
  bool Busy() const { return busy_; }

  // Passes the report to OnError when assigned.
  void ReportError(const std::string& fileName, int code, const std::string& text1 = {},
                   const std::string& text2 = {});
  // Reports as ReportError does and raises EZipDirError with the code's text;
  // while the cancel flag is set the code becomes msgUserCanceled and nothing
  // is raised.
  void RaiseError(const std::string& fileName, int code, const std::string& text1 = {},
                  const std::string& text2 = {});

  // State of the last classification; the archive size is taken again when
  // an activation opens the file.
  int64_t ArchiveSize() const { return archiveSize_; }
  uint8_t ZipFlags() const { return zipFlags_; }
  bool EndRecordFound() const;
  const std::array<uint8_t, 22>& EndRecord() const { return endRecord_; }
  // Comment length from the end record; 0 without one.
  uint16_t CommentLength() const;
  int64_t CommentOffset() const { return commentOffset_; }
  // -1 before a classification.
  int64_t DirectoryStart() const { return directoryStart_; }

  // The open archive during an activation (valid only inside its events),
  // nullptr otherwise. Readers may move its position freely.
  TStream* ArchiveStream() const;
  // The entry being reported, valid only inside OnReadBegin, OnRead and
  // OnReadEnd.
  const TZipEntryInfo& CurrentEntry() const { return entry_; }

private:
  void ResetClassification();
  void Classify(TStream& file);
  bool RunActivation();
  void ReadDirectory(TStream& file);
  void ReadCentralEntries(TStream& file);
  void ReadLocalEntries(TStream& file);
  void ReportEntry(int32_t number);
  bool Wanted(const std::string& name) const;

  std::string archiveFile_;
  TArcType arcType_ = atNA;
  int64_t archiveSize_ = 0;
  std::array<uint8_t, 22> endRecord_{};
  int64_t commentOffset_ = 0;
  int64_t directoryStart_ = -1;
  uint8_t zipFlags_ = 0;
  bool cancel_ = false;
  bool busy_ = false;
  std::unique_ptr<TFileStream> stream_;
  TZipEntryInfo entry_;
};
