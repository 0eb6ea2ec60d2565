#include "common/XMLBlockPool.h"

#include <new>

#if defined(ZORVA_XML_PLAIN_HEAP)

namespace xmlpool {

void* Allocate(std::size_t size) {
  return ::operator new(size);
}
void Free(void* block, std::size_t) noexcept {
  ::operator delete(block);
}

} // namespace xmlpool

#else

#include <array>
#include <mutex>
#include <vector>

namespace xmlpool::detail {

// The thread's free lists are plain data, usable until the thread is gone
// (objects freed during static destruction still land here); the flusher
// below hands them to the shared orphans when the thread ends.
thread_local constinit TFreeBlock* heads[kClasses]{};

namespace {

constexpr std::size_t kSlabBytes = 64 * 1024;

// The free lists of threads that have ended, whole (one entry per list),
// and every slab (kept reachable, and never freed: blocks may be in use
// anywhere).
struct TShared {
  std::mutex lock;
  std::array<std::vector<TFreeBlock*>, kClasses> orphans;
  std::vector<void*> slabs;
};

TShared& Shared() {
  static TShared* shared = new TShared;
  return *shared;
}

// The untouched rest of the newest slab of each class. Blocks are cut from it
// as they are needed rather than threaded into a free list up front: that
// would write to the whole slab once more, long before its blocks are used.
struct TFresh {
  char* next = nullptr;
  char* end = nullptr;
};
thread_local constinit std::array<TFresh, kClasses> fresh{};

std::size_t BlockSizeOf(std::size_t c) {
  return (c + 1) * kGranule;
}

struct TFlusher {
  ~TFlusher() {
    TShared& shared = Shared();
    std::lock_guard<std::mutex> guard(shared.lock);
    for (std::size_t c = 0; c < kClasses; ++c) {
      // The uncut rest of the slab joins the free list, so it is not lost.
      const std::size_t blockSize = BlockSizeOf(c);
      for (char* p = fresh[c].next; p && p + blockSize <= fresh[c].end; p += blockSize) {
        auto* block = reinterpret_cast<TFreeBlock*>(p);
        block->next = heads[c];
        heads[c] = block;
      }
      fresh[c] = TFresh{};
      if (heads[c]) shared.orphans[c].push_back(heads[c]);
      heads[c] = nullptr;
    }
  }
  void Touch() {}
};
thread_local TFlusher flusher;

} // namespace

// One of the free list of an ended thread (then taken over whole), else a
// block cut from the newest slab, else from a new one.
void* AllocateSlow(std::size_t c) {
  flusher.Touch();
  const std::size_t blockSize = BlockSizeOf(c);
  TFresh& rest = fresh[c];
  if (rest.next && rest.next + blockSize <= rest.end) {
    void* block = rest.next;
    rest.next += blockSize;
    return block;
  }
  TShared& shared = Shared();
  std::lock_guard<std::mutex> guard(shared.lock);
  if (!shared.orphans[c].empty()) {
    TFreeBlock* block = shared.orphans[c].back();
    shared.orphans[c].pop_back();
    heads[c] = block->next;
    return block;
  }
  auto* slab = static_cast<char*>(::operator new(kSlabBytes));
  shared.slabs.push_back(slab);
  rest.next = slab + blockSize;
  rest.end = slab + kSlabBytes / blockSize * blockSize;
  return slab;
}

} // namespace xmlpool::detail

#endif
