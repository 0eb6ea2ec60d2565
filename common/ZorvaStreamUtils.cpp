// TBlockMemoryStream: a memory stream made of fixed-size blocks.
//
// The idea: a contiguous buffer that doubles must copy everything written so
// far each time it grows; a list of equal blocks only appends new ones. The
// XML writer collects a whole document in one of these and copies it out once.
//
// Block count. Every resize to n bytes leaves exactly n / blockSize + 1 blocks,
// one more than the data needs when n is a multiple of the block size, and an
// empty stream gets its first block on its first resize. A write that stays
// inside the blocks already there does not resize, so between resizes the
// count may be exactly what the data needs, and the "current block" after a
// write that fills the last block is one past the array. Code therefore only
// dereferences a block when it still has bytes to copy.
//
// Position. Seeking never clamps: the position may be negative or beyond the
// end. currentBlock_ and blockOffset_ are position / blockSize and
// position % blockSize (both truncate towards zero, so they are meaningless
// for a negative position, which read and write refuse before using them).
//
// Bytes beyond the size. A write past the end leaves a gap that readers see.
// New blocks are zero-filled, and shrinking clears the tail of the last kept
// block, so the gap always reads as zeros and never as bytes that were cut off
// earlier.
//
// Arithmetic. Positions and sizes are 32-bit as in the 32-bit stream
// interface; sums are formed in 64 bits and checked, never left to overflow.
#include "common/ZorvaStreamUtils.h"

#include "platform/Assert.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"

#include <algorithm>
#include <cstring>

namespace {
const platform::AnsiText kSeekOutOfRange{"流的定位超出范围"};
const platform::AnsiText kNegativeSize{"流的大小不能为负"};
} // namespace

TBlockMemoryStream::TBlockMemoryStream(int32_t blockSize) : blockSize_(blockSize) {
  ZORVA_ASSERT(blockSize >= 8);
}

void TBlockMemoryStream::SetPositionFields(int32_t position) {
  position_ = position;
  blockOffset_ = position % blockSize_;
  currentBlock_ = position / blockSize_;
}

void TBlockMemoryStream::Resize(int32_t newSize) {
  const size_t newCount = static_cast<size_t>(newSize / blockSize_) + 1;
  const size_t oldCount = blocks_.size();
  blocks_.resize(newCount);
  for (size_t i = oldCount; i < newCount; ++i) {
    blocks_[i] = std::make_unique<char[]>(static_cast<size_t>(blockSize_)); // zero-filled
  }
}

int32_t TBlockMemoryStream::Seek(int32_t offset, int origin) {
  int64_t target = 0;
  switch (origin) {
  case 0:
    target = offset;
    break;
  case 1:
    target = static_cast<int64_t>(position_) + offset;
    break;
  case 2:
    target = static_cast<int64_t>(size_) + offset;
    break;
  default:
    return position_;
  }
  if (target < INT32_MIN || target > INT32_MAX) throw EStreamError(kSeekOutOfRange);
  SetPositionFields(static_cast<int32_t>(target));
  return position_;
}

void TBlockMemoryStream::SetSize(int32_t newSize) {
  if (newSize < 0) throw EStreamError(kNegativeSize);
  const int32_t oldPosition = position_;
  const int32_t oldSize = size_;
  Resize(newSize);
  if (newSize < oldSize) {
    // Clear what was cut off in the last kept block, so that a later write
    // past the end does not bring those bytes back into view.
    const int32_t tail = newSize % blockSize_;
    std::memset(blocks_.back().get() + tail, 0, static_cast<size_t>(blockSize_ - tail));
  }
  size_ = newSize;
  if (newSize < oldPosition) Seek(0, 2);
}

template <typename Copy> void TBlockMemoryStream::ForEachBlockPiece(int32_t count, Copy copy) {
  int32_t done = 0;
  while (done < count) {
    const int32_t length = std::min(count - done, blockSize_ - blockOffset_);
    copy(blocks_[static_cast<size_t>(currentBlock_)].get() + blockOffset_, done, length);
    done += length;
    if (blockOffset_ + length == blockSize_) {
      ++currentBlock_;
      blockOffset_ = 0;
    } else {
      blockOffset_ += length;
    }
  }
}

int32_t TBlockMemoryStream::Read(void* buffer, int32_t count) {
  if (position_ < 0 || count < 0) return 0;
  const int32_t available = size_ - position_;
  if (available <= 0) return 0;
  const int32_t n = std::min(count, available);
  char* out = static_cast<char*>(buffer);
  ForEachBlockPiece(n, [out](char* block, int32_t done, int32_t length) {
    std::memcpy(out + done, block, static_cast<size_t>(length));
  });
  position_ += n;
  return n;
}

int32_t TBlockMemoryStream::Write(const void* buffer, int32_t count) {
  if (position_ < 0 || count < 0) return 0;
  const int64_t end = static_cast<int64_t>(position_) + count;
  if (end <= 0 || end > INT32_MAX) return 0;
  if (end > size_) {
    if (static_cast<int64_t>(blockSize_) * BlockCount() < end) Resize(static_cast<int32_t>(end));
    size_ = static_cast<int32_t>(end);
  }
  const char* in = static_cast<const char*>(buffer);
  ForEachBlockPiece(count, [in](char* block, int32_t done, int32_t length) {
    std::memcpy(block, in + done, static_cast<size_t>(length));
  });
  position_ = static_cast<int32_t>(end);
  return count;
}
