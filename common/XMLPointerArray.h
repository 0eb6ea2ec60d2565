#pragma once
// The array behind the child and attribute lists of a node: pointers in a
// block of the pool, with 32-bit size and capacity. Every node holds two of
// them, so they are 16 bytes rather than the 24 of a std::vector; only what
// the lists need is offered.
#include "common/XMLBlockPool.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

template <class T> class TXMLPointerArray {
public:
  TXMLPointerArray() noexcept = default;
  TXMLPointerArray(const TXMLPointerArray&) = delete;
  TXMLPointerArray& operator=(const TXMLPointerArray&) = delete;
  ~TXMLPointerArray() { Free(); }

  size_t size() const noexcept { return size_; }
  size_t capacity() const noexcept { return capacity_; }
  bool empty() const noexcept { return size_ == 0; }
  T* operator[](size_t i) const noexcept { return data_[i]; }
  T*& operator[](size_t i) noexcept { return data_[i]; }
  T* const* begin() const noexcept { return data_; }
  T* const* end() const noexcept { return data_ + size_; }
  T* back() const noexcept { return data_[size_ - 1]; }

  void swap(TXMLPointerArray& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
  }

  // Room for at least `count` entries in all.
  void reserve(size_t count) {
    if (count <= capacity_) return;
    if (count > std::numeric_limits<uint32_t>::max()) throw std::bad_alloc();
    auto* data = static_cast<T**>(xmlpool::Allocate(count * sizeof(T*)));
    if (size_ != 0) std::memcpy(data, data_, size_ * sizeof(T*));
    Free();
    data_ = data;
    capacity_ = static_cast<uint32_t>(count);
  }

  void push_back(T* item) {
    if (size_ == capacity_) Grow();
    data_[size_++] = item;
  }

  void insert(size_t index, T* item) {
    if (size_ == capacity_) Grow();
    std::memmove(data_ + index + 1, data_ + index, (size_ - index) * sizeof(T*));
    data_[index] = item;
    ++size_;
  }

  // Forgets the entries and keeps the block.
  void clear() noexcept { size_ = 0; }

  void erase(size_t index) noexcept {
    std::memmove(data_ + index, data_ + index + 1, (size_ - index - 1) * sizeof(T*));
    --size_;
  }

private:
  void Grow() { reserve(capacity_ < 4 ? 4 : static_cast<size_t>(capacity_) * 2); }
  void Free() noexcept {
    if (data_) xmlpool::Free(data_, capacity_ * sizeof(T*));
  }

  T** data_ = nullptr;
  uint32_t size_ = 0;
  uint32_t capacity_ = 0;
};
