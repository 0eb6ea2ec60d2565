#pragma once
// Stream helpers of the shared libraries.
#include "platform/Stream.h"

#include <cstdint>
#include <memory>
#include <vector>

// An in-memory stream that keeps its bytes in fixed-size blocks, so that
// growing it never moves what was already written. See ZorvaStreamUtils.cpp
// for the block-count rule and the position rules.
class TBlockMemoryStream : public TStream {
public:
  // blockSize below 8 raises the unit's assertion failure (EAssertionFailed).
  explicit TBlockMemoryStream(int32_t blockSize);
  TBlockMemoryStream(const TBlockMemoryStream&) = delete;
  TBlockMemoryStream& operator=(const TBlockMemoryStream&) = delete;
  ~TBlockMemoryStream() override = default;

  // Returns 0 at a negative position, for a negative count and at or past the end.
  int32_t Read(void* buffer, int32_t count) override;
  // Returns 0 and changes nothing at a negative position, for a negative count
  // and when the write would end beyond the 32-bit range.
  int32_t Write(const void* buffer, int32_t count) override;
  // Origins 0, 1, 2 as in TStream; another origin changes nothing. The new
  // position is not clamped to 0..size. A position beyond the 32-bit range
  // raises EStreamError.
  int32_t Seek(int32_t offset, int origin) override;
  // A negative size raises EStreamError. A position beyond the new size moves
  // to the new end.
  void SetSize(int32_t newSize) override;

  int32_t BlockSize() const { return blockSize_; }
  int32_t BlockCount() const { return static_cast<int32_t>(blocks_.size()); }

private:
  void SetPositionFields(int32_t position);
  void Resize(int32_t newSize);
  // Walks `count` bytes from the current block and offset, handing each piece
  // that lies in one block to `copy(blockBytes, done, length)`.
  template <typename Copy> void ForEachBlockPiece(int32_t count, Copy copy);

  std::vector<std::unique_ptr<char[]>> blocks_;
  int32_t size_ = 0;
  int32_t position_ = 0;
  int32_t blockSize_;
  int32_t currentBlock_ = 0;
  int32_t blockOffset_ = 0;
};
