#pragma once
// Fixed-size blocks for the objects of the XML tree. A 50 MB document holds
// millions of nodes and attributes; taken one by one from the general heap,
// allocating them and, worse, freeing them (the heap merges free chunks)
// costs more than parsing the text. Blocks come from 64 KiB slabs and go back
// to a free list of the thread that frees them; slabs are kept for the next
// document and never returned.
//
// Under AddressSanitizer the pool steps aside and every object is a plain
// heap allocation, so that a use after free or a leak is still reported.
#include <cstddef>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define ZORVA_XML_PLAIN_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZORVA_XML_PLAIN_HEAP 1
#endif
#endif

// xmlpool::Allocate(size) and xmlpool::Free(block, size): `size` is rounded
// up to a multiple of 16; larger blocks than 512 bytes come from the general
// heap. Free takes the size the block was allocated with.
#if defined(ZORVA_XML_PLAIN_HEAP)

namespace xmlpool {
void* Allocate(std::size_t size);
void Free(void* block, std::size_t size) noexcept;
} // namespace xmlpool

#else

// The common cases, taking a block from the thread's free list and giving
// one back, are inline: the parser takes several blocks for every element,
// and a call costs about as much as the work.
namespace xmlpool::detail {

inline constexpr std::size_t kGranule = 16;
inline constexpr std::size_t kMaxSize = 512;
inline constexpr std::size_t kClasses = kMaxSize / kGranule;

struct TFreeBlock {
  TFreeBlock* next;
};

// The free lists of this thread, one per class of block size.
extern thread_local constinit TFreeBlock* heads[kClasses];

// Size 0 shares the class of the smallest blocks.
inline std::size_t ClassOf(std::size_t size) {
  return size == 0 ? 0 : (size - 1) / kGranule;
}

// A block of class `c` when its free list is empty.
void* AllocateSlow(std::size_t c);

} // namespace xmlpool::detail

namespace xmlpool {

inline void* Allocate(std::size_t size) {
  using namespace detail;
  if (size > kMaxSize) return ::operator new(size);
  const std::size_t c = ClassOf(size);
  TFreeBlock* block = heads[c];
  if (!block) return AllocateSlow(c);
  heads[c] = block->next;
  // Freed blocks lie scattered: fetch the next one while this one is used.
  if (block->next) __builtin_prefetch(block->next, 1);
  return block;
}

inline void Free(void* pointer, std::size_t size) noexcept {
  using namespace detail;
  if (!pointer) return;
  if (size > kMaxSize) {
    ::operator delete(pointer);
    return;
  }
  auto* block = static_cast<TFreeBlock*>(pointer);
  const std::size_t c = ClassOf(size);
  block->next = heads[c];
  heads[c] = block;
}

} // namespace xmlpool

#endif

// Class-specific allocation through the pool, for a class of the tree.
#define ZORVA_XML_POOLED                                                                           \
  static void* operator new(std::size_t size) {                                                    \
    return xmlpool::Allocate(size);                                                                \
  }                                                                                                \
  static void operator delete(void* block, std::size_t size) noexcept {                            \
    xmlpool::Free(block, size);                                                                    \
  }
