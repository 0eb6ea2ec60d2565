#include "common/XMLBlockPool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace {

struct Block {
  unsigned char* data;
  std::size_t size;
  unsigned char mark;
};

Block Take(std::size_t size, unsigned char mark) {
  auto* data = static_cast<unsigned char*>(xmlpool::Allocate(size));
  std::memset(data, mark, size);
  return {data, size, mark};
}

// Every live block still holds its own mark: no two of them overlap.
void ExpectIntact(const std::vector<Block>& blocks) {
  for (const Block& b : blocks)
    for (std::size_t i = 0; i < b.size; ++i)
      ASSERT_EQ(b.data[i], b.mark) << "block of " << b.size << " bytes was overwritten";
}

// Sizes across every class, the empty request and the heap fallback above it.
std::vector<std::size_t> Sizes() {
  std::vector<std::size_t> sizes{0, 1};
  for (std::size_t s = 8; s <= 520; s += 8)
    sizes.push_back(s);
  return sizes;
}

TEST(XmlBlockPool, LiveBlocksNeverShareMemoryAcrossFreeAndReuse) {
  std::vector<Block> blocks;
  const auto sizes = Sizes();
  for (int round = 0; round < 40; ++round)
    for (std::size_t s : sizes)
      blocks.push_back(Take(s, static_cast<unsigned char>(blocks.size() * 7 + 1)));
  ExpectIntact(blocks);
  // Free every other block, then take as many again: reused blocks must not
  // overlap the ones still live.
  std::vector<Block> kept;
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    if (i % 2)
      xmlpool::Free(blocks[i].data, blocks[i].size);
    else
      kept.push_back(blocks[i]);
  }
  for (int round = 0; round < 20; ++round)
    for (std::size_t s : sizes)
      kept.push_back(Take(s, static_cast<unsigned char>(kept.size() * 13 + 3)));
  ExpectIntact(kept);
  for (const Block& b : kept)
    xmlpool::Free(b.data, b.size);
}

#if !defined(ZORVA_XML_PLAIN_HEAP)
TEST(XmlBlockPool, AFreedBlockIsTheNextOneOfItsClass) {
  void* first = xmlpool::Allocate(40);
  xmlpool::Free(first, 40);
  void* again = xmlpool::Allocate(48); // the same class of 48 bytes
  EXPECT_EQ(again, first);
  xmlpool::Free(again, 48);
}
#endif

// Blocks taken on threads that end, some freed there and some handed to this
// thread, must neither be lost to corruption nor handed out twice.
TEST(XmlBlockPool, BlocksOfEndedThreadsAreReusedSafely) {
  std::vector<Block> live;
  for (int t = 0; t < 4; ++t) {
    std::vector<Block> handed;
    std::thread worker([&, t] {
      std::vector<Block> local;
      for (int i = 0; i < 3000; ++i)
        local.push_back(Take(16 + (i % 20) * 16, static_cast<unsigned char>(t * 31 + i)));
      for (std::size_t i = 0; i < local.size(); ++i) {
        if (i % 3 == 0)
          xmlpool::Free(local[i].data, local[i].size);
        else
          handed.push_back(local[i]);
      }
    });
    worker.join();
    ExpectIntact(handed);
    for (std::size_t i = 0; i < handed.size(); ++i) {
      if (i % 2)
        xmlpool::Free(handed[i].data, handed[i].size);
      else
        live.push_back(handed[i]);
    }
    for (int i = 0; i < 2000; ++i)
      live.push_back(Take(16 + (i % 20) * 16, static_cast<unsigned char>(i * 5 + t)));
    ExpectIntact(live);
  }
  for (const Block& b : live)
    xmlpool::Free(b.data, b.size);
}

} // namespace
