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

#if defined(__SANITIZE_ADDRESS__)
#define ZORVA_XML_PLAIN_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZORVA_XML_PLAIN_HEAP 1
#endif
#endif

namespace xmlpool {

// `size` is rounded up to a multiple of 16; larger blocks than 512 bytes
// come from the general heap.
void* Allocate(std::size_t size);
void Free(void* block, std::size_t size) noexcept;

} // namespace xmlpool

// Class-specific allocation through the pool, for a class of the tree.
#define ZORVA_XML_POOLED                                                                           \
  static void* operator new(std::size_t size) {                                                    \
    return xmlpool::Allocate(size);                                                                \
  }                                                                                                \
  static void operator delete(void* block, std::size_t size) noexcept {                            \
    xmlpool::Free(block, size);                                                                    \
  }
