#pragma once
// The string that nodes and attributes keep their names, texts and values in:
// 16 bytes instead of the 32 of a std::string. A document holds millions of
// them, and most are short: up to 15 bytes are kept inside the object; a
// longer text lives in a block of the pool sized to it. No terminating NUL is
// kept; the text is read as a std::string_view.
//
// Layout: bytes 0..14 hold a short text and byte 15 its length (0..15); a
// long text has its block's address in bytes 0..7, its length in bytes 8..11
// and the mark kLong in byte 15.
#include "common/XMLBlockPool.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>

class TXMLString {
public:
  TXMLString() noexcept = default;
  explicit TXMLString(std::string_view text) { assign(text); }
  TXMLString(const TXMLString& other) : TXMLString(other.view()) {}
  TXMLString& operator=(const TXMLString& other) {
    if (this != &other) assign(other.view());
    return *this;
  }
  TXMLString& operator=(std::string_view text) {
    assign(text);
    return *this;
  }
  ~TXMLString() { FreeBlock(); }

  // `text` may lie inside this string's own bytes.
  void assign(std::string_view text) {
    const size_t n = text.size();
    if (n <= kShortMax) {
      char* block = IsLong() ? Block() : nullptr;
      const size_t had = IsLong() ? LongSize() : 0;
      CopyShort(text.data(), n);
      bytes_[kTag] = static_cast<char>(n);
      if (block) xmlpool::Free(block, Capacity(had));
      return;
    }
    if (n > std::numeric_limits<uint32_t>::max()) throw std::bad_alloc();
    if (IsLong() && SameBlockSize(LongSize(), n)) {
      std::memmove(Block(), text.data(), n);
      SetLongSize(n);
      return;
    }
    auto* block = static_cast<char*>(xmlpool::Allocate(Capacity(n)));
    std::memcpy(block, text.data(), n);
    FreeBlock();
    std::memcpy(bytes_, &block, sizeof block);
    SetLongSize(n);
    bytes_[kTag] = kLong;
  }
  void clear() noexcept {
    FreeBlock();
    bytes_[kTag] = 0;
  }

  size_t size() const noexcept {
    return IsLong() ? LongSize() : static_cast<uint8_t>(bytes_[kTag]);
  }
  bool empty() const noexcept { return size() == 0; }
  const char* data() const noexcept { return IsLong() ? Block() : bytes_; }
  std::string_view view() const noexcept { return {data(), size()}; }
  operator std::string_view() const noexcept { return view(); }

private:
  static constexpr size_t kTag = 15;
  static constexpr size_t kShortMax = 15;
  static constexpr char kLong = static_cast<char>(0xFF);

  // A block holds its text's length rounded up to 16 bytes, the pool's
  // granule; a text keeps its block while its new length rounds the same.
  static size_t Capacity(size_t n) noexcept { return (n + 15) & ~size_t{15}; }
  static bool SameBlockSize(size_t a, size_t b) noexcept { return Capacity(a) == Capacity(b); }

  // Copies n <= 15 bytes in place with two loads and two stores (the
  // stretches overlap) instead of a call: names and short values are most
  // of what a parse stores. Everything is read before anything is written,
  // so `from` may lie in bytes_ itself.
  void CopyShort(const char* from, size_t n) noexcept {
    if (n >= 8) {
      uint64_t head, tail;
      std::memcpy(&head, from, 8);
      std::memcpy(&tail, from + n - 8, 8);
      std::memcpy(bytes_, &head, 8);
      std::memcpy(bytes_ + n - 8, &tail, 8);
    } else if (n >= 4) {
      uint32_t head, tail;
      std::memcpy(&head, from, 4);
      std::memcpy(&tail, from + n - 4, 4);
      std::memcpy(bytes_, &head, 4);
      std::memcpy(bytes_ + n - 4, &tail, 4);
    } else if (n > 0) {
      const char first = from[0], middle = from[n / 2], last = from[n - 1];
      bytes_[0] = first;
      bytes_[n / 2] = middle;
      bytes_[n - 1] = last;
    }
  }

  bool IsLong() const noexcept { return bytes_[kTag] == kLong; }
  char* Block() const noexcept {
    char* block;
    std::memcpy(&block, bytes_, sizeof block);
    return block;
  }
  size_t LongSize() const noexcept {
    uint32_t n;
    std::memcpy(&n, bytes_ + 8, sizeof n);
    return n;
  }
  void SetLongSize(size_t n) noexcept {
    const auto n32 = static_cast<uint32_t>(n);
    std::memcpy(bytes_ + 8, &n32, sizeof n32);
  }
  void FreeBlock() noexcept {
    if (IsLong()) xmlpool::Free(Block(), Capacity(LongSize()));
  }

  alignas(8) char bytes_[16] = {};
};
