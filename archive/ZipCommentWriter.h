#pragma once
// Replacing a zip archive's comment, as the publishing program writes a
// template's version into it.
#include <cstdint>
#include <string_view>

class TStream;

// The longest comment the directory reader still finds in an archive of any
// size (see ZipEndRecord.cpp).
constexpr int64_t kMaxFindableZipComment = 32745;

// Copies the archive `source` (of `size` bytes, read from its start) to
// `target` with `comment` as its comment: the bytes before the end record's
// comment-length field as they are, then the new length and the comment.
// Bytes after the old comment are dropped. Raises EStreamError when the
// source's end record is not found (no zip archive, as the reader sees it)
// or the comment is longer than kMaxFindableZipComment.
void CopyZipWithComment(TStream& source, int64_t size, std::string_view comment, TStream& target);
