#include "archive/ZipDirReader.h"

#include "archive/ZipEndRecord.h"
#include "archive/ZipFileMask.h"
#include "archive/ZipRecords.h"
#include "platform/Assert.h"
#include "platform/FileSystem.h"
#include "platform/Stream.h"

#include <algorithm>
#include <vector>

using namespace ziprec;

namespace {

// A file this small cannot hold any archive the reader knows.
constexpr int64_t kMinArchiveSize = 20;
// How much of the file's start the classification looks at.
constexpr int64_t kHeadSize = 32767;
constexpr int64_t kHeadBlock = 512;
constexpr uint16_t kDataDescriptorFlag = 0x0008;

const std::string kBadFileHeader{"Bad file header"};
const std::string kFileNotFound{"File not found"};
const std::string kErrorOpeningFile{"Error opening file"};
const std::string kRequiredEventNotAssigned{"Required event not assigned"};
const std::string kUserCanceled{"User canceled"};
const std::string kNoText;

std::string LowerExtension(const std::string& path) {
  size_t dot = path.find_last_of('.');
  size_t folder = path.find_last_of("/\\");
  if (dot == std::string::npos || (folder != std::string::npos && dot < folder)) return {};
  std::string ext = path.substr(dot);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext;
}

} // namespace

bool IsZipFamily(TArcType type) {
  switch (type) {
  case atJar:
  case atJarExe:
  case atZip:
  case atZipExe:
  case atZipDS:
  case atZipMV:
    return true;
  case atNA:
  case atUnsupported:
  case atFileOpenErr:
  case atUnknown:
  case atAce:
  case atAceExe:
  case atArc:
  case atArcExe:
  case atArj:
  case atArjExe:
  case atBh:
  case atBhExe:
  case atCab:
  case atCabExe:
  case atGZip:
  case atHA:
  case atLha:
  case atLhaExe:
  case atLzh:
  case atLzhExe:
  case atMsGZ:
  case atPak:
  case atPakExe:
  case atRar:
  case atRarExe:
  case atTar:
  case atTarGZip:
  case atUUE:
  case atZoo:
    return false;
  }
  return false;
}

const std::string& ZipMessageText(int code) {
  switch (code) {
  case msgBadFileHeader:
    return kBadFileHeader;
  case msgFileNotFound:
    return kFileNotFound;
  case msgErrorOpeningFile:
    return kErrorOpeningFile;
  case msgRequiredEventNotAssigned:
    return kRequiredEventNotAssigned;
  case msgUserCanceled:
    return kUserCanceled;
  default:
    return kNoText;
  }
}

TZipDirReader::TZipDirReader() = default;
TZipDirReader::~TZipDirReader() = default;

bool TZipDirReader::EndRecordFound() const {
  return (zipFlags_ & zfEndRecord) != 0;
}

uint16_t TZipDirReader::CommentLength() const {
  return EndRecordFound() ? Le16(endRecord_.data() + 20) : 0;
}

TStream* TZipDirReader::ArchiveStream() const {
  return stream_.get();
}

void TZipDirReader::ResetClassification() {
  arcType_ = atNA;
  archiveSize_ = 0;
  endRecord_.fill(0);
  commentOffset_ = 0;
  directoryStart_ = -1;
  zipFlags_ = 0;
}

void TZipDirReader::SetArchiveFile(const std::string& path) {
  // The events may not swap the file under a running directory loop.
  ZORVA_ASSERT(!busy_);
  ResetClassification();
  if (!platform::FileExists(path)) {
    archiveFile_.clear();
    return;
  }
  // The path is kept as given: '/' is this platform's delimiter already, and
  // a '\' is an ordinary character of a file name here.
  archiveFile_ = path;
  try {
    TFileStream file(archiveFile_, fmOpenRead);
    Classify(file);
  } catch (const Exception&) {
    ResetClassification();
  }
}

void TZipDirReader::Classify(TStream& file) {
  archiveSize_ = file.GetSize();
  if (archiveSize_ < kMinArchiveSize) return;

  // Only the first bytes decide; more of the head is read only while it
  // holds leading NULs.
  std::vector<uint8_t> head;
  int64_t headLimit = std::min(archiveSize_, kHeadSize);
  auto loadHead = [&](int64_t needed) {
    const int64_t have = static_cast<int64_t>(head.size());
    needed = std::min(needed, headLimit);
    if (have >= needed) return;
    const int64_t want = std::max(needed, std::min(headLimit, have + kHeadBlock)) - have;
    head.resize(static_cast<size_t>(have + want));
    const int64_t got = ReadAt(file, archiveSize_, have, head.data() + have, want);
    head.resize(static_cast<size_t>(have + got));
    if (got < want) headLimit = have + got;
  };
  auto headByte = [&](int64_t index) { return head[static_cast<size_t>(index)]; };

  auto searchEnd = [&] {
    TZipEndSearch found = LocateZipEndRecord(file, archiveSize_);
    directoryStart_ = found.DirectoryStart;
    zipFlags_ = found.ZipFlags;
    commentOffset_ = found.CommentOffset;
    endRecord_ = found.EndRecord;
  };

  TArcType type = atUnknown;
  loadHead(2);
  if (head.size() >= 2 && head[0] == 'M' && head[1] == 'Z') {
    searchEnd();
    if (directoryStart_ > 0) type = atZipExe;
  } else {
    int64_t at = 0;
    for (;; ++at) {
      loadHead(at + 1);
      if (at >= static_cast<int64_t>(head.size()) || headByte(at) != 0) break;
    }
    loadHead(at + 4);
    bool matched = false;
    // The engine's own variants "PL", "PM" and "PN" lead a zip archive as
    // "PK" does; the two bytes after them decide alike.
    if (at + 4 <= static_cast<int64_t>(head.size()) && headByte(at) == 'P' &&
        headByte(at + 1) >= 'K' && headByte(at + 1) <= 'N') {
      const uint8_t* sig = &head[static_cast<size_t>(at)];
      const auto kindIs = [sig](const uint8_t(&kind)[2]) {
        return sig[2] == kind[0] && sig[3] == kind[1];
      };
      const bool spanned = kindIs(kCentral) || kindIs(kSpanMarker);
      const bool typeless = (sig[2] == 'G' && sig[3] == '4') || (sig[2] == 'C' && sig[3] == 'I');
      if (spanned) {
        // Without removable-disk probing a spanned archive reads as a
        // multi-volume one.
        type = atZipMV;
        searchEnd();
        if (zipFlags_ == 0) zipFlags_ = zfLocalHeader;
        if (!(zipFlags_ & zfCentralDir) && directoryStart_ <= 0) directoryStart_ = at;
        matched = true;
      } else if (!typeless) {
        type = atZip;
        searchEnd();
        if (!(zipFlags_ & zfLocalHeader) && directoryStart_ <= 0) {
          directoryStart_ = at;
          zipFlags_ |= zfLocalHeader;
        }
        matched = true;
      }
    }
    if (!matched) {
      searchEnd();
      if (directoryStart_ > 0) type = Le16(endRecord_.data() + 4) != 0 ? atZipMV : atZip;
    }
  }
  if (type == atZip && LowerExtension(archiveFile_) == ".jar") type = atJar;
  arcType_ = type;
}

void TZipDirReader::SetCancel(bool cancel) {
  cancel_ = cancel;
  if (cancel) ReportError(archiveFile_, msgUserCanceled);
}

void TZipDirReader::ReportError(const std::string& fileName, int code, const std::string& text1,
                                const std::string& text2) {
  if (OnError) OnError(*this, fileName, code, text1, text2);
}

void TZipDirReader::RaiseError(const std::string& fileName, int code, const std::string& text1,
                               const std::string& text2) {
  if (cancel_) {
    ReportError(fileName, msgUserCanceled, text1, text2);
    return;
  }
  ReportError(fileName, code, text1, text2);
  throw EZipDirError(code, ZipMessageText(code));
}

bool TZipDirReader::Activate() {
  if (busy_) return false;
  busy_ = true;
  cancel_ = false;
  bool ok = false;
  try {
    ok = RunActivation();
  } catch (...) {
    // Whatever went wrong, including inside an event handler, ends only
    // this activation.
    ok = false;
  }
  stream_.reset();
  busy_ = false;
  return ok;
}

bool TZipDirReader::RunActivation() {
  if (!platform::FileExists(archiveFile_)) {
    RaiseError(archiveFile_, msgFileNotFound);
    return false;
  }
  if (!OnRead) {
    RaiseError(archiveFile_, msgRequiredEventNotAssigned, "OnRead");
    return false;
  }
  // The spanned-archive probe for a zip without a directory start would go
  // here; without removable-disk probing it never changes the type.
  try {
    stream_ = std::make_unique<TFileStream>(archiveFile_, fmOpenRead);
    archiveSize_ = stream_->GetSize();
  } catch (const Exception&) {
    stream_.reset();
    ReportError(archiveFile_, msgErrorOpeningFile);
    return false;
  }
  if (OnActivate) OnActivate(*this);
  ReadDirectory(*stream_);
  stream_.reset();
  if (OnTotals) OnTotals(*this);
  if (OnDeactivate) OnDeactivate(*this);
  if (OnElapsedTime) OnElapsedTime(*this);
  return true;
}

void TZipDirReader::ReadDirectory(TStream& file) {
  if (!IsZipFamily(arcType_) || cancel_) return;
  if ((zipFlags_ & zfCentralDir) && (zipFlags_ & zfEndRecord)) {
    ReadCentralEntries(file);
    return;
  }
  if (OnCorruptZipHeader) {
    bool goOn = true;
    OnCorruptZipHeader(*this, zipFlags_, goOn);
    if (goOn) return;
  } else {
    ReportError(archiveFile_, msgRequiredEventNotAssigned, "OnCorruptZipHeader");
  }
  ReadLocalEntries(file);
}

bool TZipDirReader::Wanted(const std::string& name) const {
  bool wanted = FileSpec.Count() == 0;
  for (const std::string& mask : FileSpec.Items())
    if (ZipMaskMatches(name, mask)) wanted = true;
  if (!wanted) return false;
  for (const std::string& mask : ExcludeSpec.Items())
    if (ZipMaskMatches(name, mask)) return false;
  return true;
}

void TZipDirReader::ReportEntry(int32_t number) {
  if (!Wanted(entry_.FileName)) return;
  if (OnReadBegin) OnReadBegin(*this);
  if (OnRead) OnRead(*this, entry_.HeaderOffset, number);
  if (OnReadEnd) OnReadEnd(*this);
}

// Central directory headers one after the other, until a record that ends
// the directory. Sizes come from the file and are checked against its size.
void TZipDirReader::ReadCentralEntries(TStream& file) {
  const int64_t size = archiveSize_;
  int64_t pos = directoryStart_;
  int32_t number = 0;
  while (!cancel_) {
    uint8_t h[kCentralHeaderSize];
    int64_t got = ReadAt(file, size, pos, h, kCentralHeaderSize);
    if (got < 4) return;
    if (!IsSignature(h, kCentral)) {
      if (IsSignature(h, kEnd) || IsSignature(h, kZip64End) || IsSignature(h, kDigitalSignature))
        return;
      RaiseError(archiveFile_, msgBadFileHeader);
      return;
    }
    const uint16_t nameLength = Le16(h + 28);
    const uint16_t extraLength = Le16(h + 30);
    const uint16_t commentLength = Le16(h + 32);
    const int64_t next = pos + kCentralHeaderSize + nameLength + extraLength + commentLength;
    if (got < kCentralHeaderSize || next > size) {
      RaiseError(archiveFile_, msgBadFileHeader);
      return;
    }
    std::vector<uint8_t> variable(static_cast<size_t>(nameLength) + extraLength);
    ReadExact(file, size, pos + kCentralHeaderSize, variable.data(),
              static_cast<int64_t>(variable.size()));
    entry_ = TZipEntryInfo{};
    entry_.FileName.assign(variable.begin(), variable.begin() + nameLength);
    entry_.HeaderOffset = pos;
    entry_.Central = true;
    const bool saturated[3] = {Le32(h + 24) == 0xFFFFFFFFu, Le32(h + 20) == 0xFFFFFFFFu,
                               Le32(h + 42) == 0xFFFFFFFFu};
    entry_.UncompressedSize = Le32(h + 24);
    entry_.CompressedSize = Le32(h + 20);
    Zip64ExtraValue(variable.data() + nameLength, extraLength, saturated, 0,
                    entry_.UncompressedSize);
    Zip64ExtraValue(variable.data() + nameLength, extraLength, saturated, 1, entry_.CompressedSize);
    ReportEntry(number++);
    pos = next;
  }
}

// Local headers one after the other, stepping over each member's data. A
// member whose size is only written after its data cannot be stepped over;
// the walk ends there, as it does at anything that is not a local header.
void TZipDirReader::ReadLocalEntries(TStream& file) {
  const int64_t size = archiveSize_;
  int64_t pos = std::max<int64_t>(directoryStart_, 0);
  uint8_t marker[4];
  if (ReadExact(file, size, pos, marker, 4) && IsSignature(marker, kSpanMarker)) pos += 4;
  int32_t number = 0;
  while (!cancel_) {
    uint8_t h[kLocalHeaderSize];
    if (!ReadExact(file, size, pos, h, kLocalHeaderSize) || !IsSignature(h, kLocal)) return;
    const uint16_t flags = Le16(h + 6);
    const uint16_t nameLength = Le16(h + 26);
    const uint16_t extraLength = Le16(h + 28);
    const int64_t dataStart = pos + kLocalHeaderSize + nameLength + extraLength;
    if (dataStart > size) {
      RaiseError(archiveFile_, msgBadFileHeader);
      return;
    }
    std::vector<uint8_t> variable(static_cast<size_t>(nameLength) + extraLength);
    ReadExact(file, size, pos + kLocalHeaderSize, variable.data(),
              static_cast<int64_t>(variable.size()));
    entry_ = TZipEntryInfo{};
    entry_.FileName.assign(variable.begin(), variable.begin() + nameLength);
    entry_.HeaderOffset = pos;
    const bool saturated[3] = {Le32(h + 22) == 0xFFFFFFFFu, Le32(h + 18) == 0xFFFFFFFFu, false};
    entry_.UncompressedSize = Le32(h + 22);
    entry_.CompressedSize = Le32(h + 18);
    const bool zip64 = saturated[0] || saturated[1];
    Zip64ExtraValue(variable.data() + nameLength, extraLength, saturated, 0,
                    entry_.UncompressedSize);
    Zip64ExtraValue(variable.data() + nameLength, extraLength, saturated, 1, entry_.CompressedSize);
    ReportEntry(number++);

    if ((flags & kDataDescriptorFlag) && entry_.CompressedSize == 0) return;
    if (entry_.CompressedSize > static_cast<uint64_t>(size - dataStart)) return;
    pos = dataStart + static_cast<int64_t>(entry_.CompressedSize);
    if (flags & kDataDescriptorFlag) {
      if (ReadExact(file, size, pos, marker, 4) && IsSignature(marker, kSpanMarker)) pos += 4;
      pos += zip64 ? 20 : 12;
    }
  }
}
