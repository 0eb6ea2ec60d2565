#include "archive/ZipCommentWriter.h"

#include "archive/ZipEndRecord.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/Stream.h"

#include <algorithm>
#include <vector>

namespace {

const platform::AnsiText kNotZip{"不是 zip 格式的文件，无法写入注释。"};
const platform::AnsiText kCommentTooLong{"注释过长，客户端将无法读到。"};

constexpr int64_t kCopyBlock = 1 << 20;

} // namespace

void CopyZipWithComment(TStream& source, int64_t size, std::string_view comment, TStream& target) {
  if (static_cast<int64_t>(comment.size()) > kMaxFindableZipComment)
    throw EStreamError(kCommentTooLong);
  const TZipEndSearch search = LocateZipEndRecord(source, size);
  if ((search.ZipFlags & zfEndRecord) == 0 || search.EndRecordOffset < 0)
    throw EStreamError(kNotZip);
  // The comment length is the record's last field.
  const int64_t lengthField = search.EndRecordOffset + 20;
  std::vector<char> buffer(static_cast<size_t>(std::min(kCopyBlock, lengthField) + 1));
  source.SetPosition(0);
  for (int64_t done = 0; done < lengthField;) {
    const int64_t block = std::min<int64_t>(kCopyBlock, lengthField - done);
    source.ReadBuffer(buffer.data(), block);
    target.WriteBuffer(buffer.data(), block);
    done += block;
  }
  const unsigned char length[2] = {static_cast<unsigned char>(comment.size() & 0xFF),
                                   static_cast<unsigned char>(comment.size() >> 8)};
  target.WriteBuffer(length, 2);
  target.WriteBuffer(comment.data(), static_cast<int64_t>(comment.size()));
}
