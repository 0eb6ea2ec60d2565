#pragma once
// A growable run of bytes whose new room is not cleared before it is
// written: the window of converted text that the parser reads from a fed
// document. A std::string would fill each piece's room with zeros first,
// which costs as much as a tenth of converting it.
#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

class TXMLTextBuffer {
public:
  const char* data() const noexcept { return data_.get(); }
  size_t size() const noexcept { return size_; }
  std::string_view view() const noexcept { return {data_.get(), size_}; }

  // Room for `count` more bytes after the text, to be written and then
  // added with Grow; valid until the next change of the buffer.
  char* Room(size_t count) {
    if (count > capacity_ - size_) {
      const size_t capacity = std::max(size_ + count, capacity_ * 2);
      auto data = std::make_unique_for_overwrite<char[]>(capacity);
      if (size_ != 0) std::memcpy(data.get(), data_.get(), size_);
      data_ = std::move(data);
      capacity_ = capacity;
    }
    return data_.get() + size_;
  }
  // Adds `count` bytes written into the room to the text.
  void Grow(size_t count) noexcept { size_ += count; }
  void Append(std::string_view bytes) {
    if (bytes.empty()) return;
    std::memcpy(Room(bytes.size()), bytes.data(), bytes.size());
    Grow(bytes.size());
  }
  // Drops the first `count` bytes.
  void EraseFront(size_t count) noexcept {
    if (count == 0) return;
    std::memmove(data_.get(), data_.get() + count, size_ - count);
    size_ -= count;
  }
  void Clear() noexcept { size_ = 0; }

private:
  std::unique_ptr<char[]> data_;
  size_t size_ = 0;
  size_t capacity_ = 0;
};
