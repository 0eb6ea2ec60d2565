#include "archive/ZipControl.h"

#include "platform/Stream.h"

#include <algorithm>

namespace {
constexpr int64_t kCopyBlock = 131072;
}

TZipInfo::TZipInfo() = default;

std::string TZipInfo::ReadArchiveComment(const std::string& path) {
  TZipInfo info;
  info.ArchivePath = path;
  info.LoadComment();
  return info.lines_.GetText();
}

void TZipInfo::LoadComment() {
  engine_.SetArchiveFile(ArchivePath);
  engine_.FileSpec.Clear();
  engine_.FileSpec.Add("*.*");
  engine_.OnRead = [this](TZipDirReader& sender, int64_t offset, int32_t number) {
    DoRead(sender, offset, number);
  };
  engine_.OnActivate = [this](TZipDirReader& sender) { DoActivate(sender); };
  engine_.Activate();
}

void TZipInfo::DoActivate(TZipDirReader& sender) {
  TStream* file = sender.ArchiveStream();
  const int64_t size = sender.ArchiveSize();
  const int64_t offset = sender.CommentOffset();
  if (!file || !IsZipFamily(sender.ArcType()) || !sender.EndRecordFound() ||
      sender.CommentLength() == 0 || offset <= 0 || offset >= size)
    return;
  // The comment is exactly as long as its record says (cut short by the end
  // of the file): bytes appended after it are no part of it.
  const int64_t count = std::min<int64_t>(sender.CommentLength(), size - offset);
  std::string text(static_cast<size_t>(count), '\0');
  file->SetPosition(offset);
  for (int64_t done = 0; done < count;) {
    const int64_t block = std::min(count - done, kCopyBlock);
    file->ReadBuffer(text.data() + done, block);
    done += block;
  }
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  lines_.SetText(text);
}

void TZipInfo::DoRead(TZipDirReader&, int64_t, int32_t) {}
