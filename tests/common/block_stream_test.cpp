#include "common/ZorvaStreamUtils.h"

#include "platform/Exception.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

std::string Pattern(int32_t n) {
  std::string s(static_cast<size_t>(n), '\0');
  for (int32_t i = 0; i < n; ++i)
    s[static_cast<size_t>(i)] = static_cast<char>('A' + (i * 7) % 53);
  return s;
}

// Writes `data` in pieces of `chunk` bytes from the current position.
void WriteInChunks(TBlockMemoryStream& s, const std::string& data, int32_t chunk) {
  for (size_t at = 0; at < data.size(); at += static_cast<size_t>(chunk)) {
    const int32_t n = static_cast<int32_t>(std::min(data.size() - at, static_cast<size_t>(chunk)));
    ASSERT_EQ(n, s.Write(data.data() + at, n));
  }
}

std::string ReadInChunks(TBlockMemoryStream& s, int32_t chunk) {
  std::string out;
  std::vector<char> buf(static_cast<size_t>(chunk));
  for (;;) {
    const int32_t n = s.Read(buf.data(), chunk);
    if (n == 0) break;
    out.append(buf.data(), static_cast<size_t>(n));
  }
  return out;
}

std::string ReadAll(TBlockMemoryStream& s) {
  s.Seek(0, 0);
  return ReadInChunks(s, 1 << 16);
}

TEST(BlockMemoryStream, BlockSizeBelowEightIsAnAssertionFailure) {
  try {
    TBlockMemoryStream s(7);
    FAIL() << "no assertion";
  } catch (const EAssertionFailed& e) {
    EXPECT_NE(std::string(e.what()).find("Assertion failure (ZorvaStreamUtils.cpp, line"),
              std::string::npos)
        << e.what();
  }
  TBlockMemoryStream s(8);
  EXPECT_EQ(0, s.BlockCount());
  EXPECT_EQ(0, s.GetSize());
  EXPECT_EQ(0, s.GetPosition());
}

TEST(BlockMemoryStream, TwentyBytesInBlocksOfEightSpanThreeBlocks) {
  TBlockMemoryStream s(8);
  const std::string data = Pattern(20);
  EXPECT_EQ(20, s.Write(data.data(), 20));
  EXPECT_EQ(20, s.GetSize());
  EXPECT_EQ(20, s.GetPosition());
  EXPECT_EQ(3, s.BlockCount());
  EXPECT_EQ(0, s.Seek(0, 0));
  char buf[32] = {};
  EXPECT_EQ(20, s.Read(buf, 32));
  EXPECT_EQ(data, std::string(buf, 20));
  EXPECT_EQ(0, s.Read(buf, 1)) << "read at the end";
}

// Sizes just under, at and over one and two blocks, written and read in
// pieces that start and end on and off the block borders.
TEST(BlockMemoryStream, RoundTripSweepAroundBlockBorders) {
  for (int32_t bs : {8, 13, 4096}) {
    for (int32_t n : {bs - 1, bs, bs + 1, 2 * bs - 1, 2 * bs, 2 * bs + 1, 5 * bs + 3}) {
      const std::string data = Pattern(n);
      for (int32_t chunk : {1, 3, bs - 1, bs, bs + 1, n}) {
        SCOPED_TRACE("block " + std::to_string(bs) + " size " + std::to_string(n) + " chunk " +
                     std::to_string(chunk));
        TBlockMemoryStream s(bs);
        WriteInChunks(s, data, chunk);
        EXPECT_EQ(n, s.GetSize());
        EXPECT_GE(s.BlockCount(), (n + bs - 1) / bs);
        EXPECT_LE(s.BlockCount(), n / bs + 1);
        s.Seek(0, 0);
        EXPECT_EQ(data, ReadInChunks(s, chunk));
        // Reading from every offset around the first border.
        for (int32_t from : {bs - 2, bs - 1, bs}) {
          if (from >= n) continue;
          EXPECT_EQ(from, s.Seek(from, 0));
          EXPECT_EQ(data.substr(static_cast<size_t>(from)), ReadInChunks(s, chunk));
        }
      }
      TBlockMemoryStream one(bs);
      one.Write(data.data(), n);
      EXPECT_EQ(n / bs + 1, one.BlockCount()) << "single write of " << n;
    }
  }
}

TEST(BlockMemoryStream, SetSizeKeepsExactBlockCountAndPullsThePositionIn) {
  for (int32_t n : {0, 7, 8, 9, 15, 16, 17, 100}) {
    TBlockMemoryStream s(8);
    s.SetSize(n);
    EXPECT_EQ(n / 8 + 1, s.BlockCount()) << n;
    EXPECT_EQ(std::string(static_cast<size_t>(n), '\0'), ReadAll(s)) << "new blocks are zero";
  }
  TBlockMemoryStream s(8);
  s.Write(Pattern(20).data(), 20);
  s.Seek(12, 0);
  s.SetSize(5);
  EXPECT_EQ(1, s.BlockCount());
  EXPECT_EQ(5, s.GetPosition());
  char c;
  EXPECT_EQ(0, s.Read(&c, 1));
  s.Seek(3, 0);
  s.SetSize(4);
  EXPECT_EQ(3, s.GetPosition()) << "a position inside the new size stays";
  EXPECT_EQ(Pattern(4), ReadAll(s));
  EXPECT_THROW(s.SetSize(-1), EStreamError);
  EXPECT_EQ(4, s.GetSize());
}

TEST(BlockMemoryStream, SeekOriginsAndNoClamping) {
  TBlockMemoryStream s(8);
  s.Write(Pattern(20).data(), 20);
  EXPECT_EQ(16, s.Seek(-4, 2));
  char buf[10];
  EXPECT_EQ(4, s.Read(buf, 10));
  EXPECT_EQ(Pattern(20).substr(16), std::string(buf, 4));

  EXPECT_EQ(7, s.Seek(7, 0));
  EXPECT_EQ(10, s.Seek(3, 1));
  EXPECT_EQ(10, s.Seek(99, 3)) << "unknown origin changes nothing";
  EXPECT_EQ(10, s.GetPosition());

  EXPECT_EQ(0, s.Read(buf, 0));
  EXPECT_EQ(10, s.GetPosition()) << "empty read keeps the position";

  EXPECT_EQ(-3, s.Seek(-13, 1)) << "no clamping below 0";
  EXPECT_EQ(0, s.Read(buf, 5));
  EXPECT_EQ(0, s.Write("abc", 3));
  EXPECT_EQ(-3, s.GetPosition());
  EXPECT_EQ(20, s.GetSize());
  EXPECT_EQ(Pattern(20), ReadAll(s)) << "a negative position changes nothing";

  EXPECT_EQ(25, s.Seek(5, 2)) << "no clamping past the end";
  EXPECT_EQ(0, s.Read(buf, 5));
  EXPECT_EQ(25, s.GetPosition());

  s.Seek(0, 0);
  EXPECT_EQ(0, s.Read(buf, -1));
  EXPECT_EQ(0, s.Write("abc", -1));
  EXPECT_EQ(0, s.GetPosition());
}

// A gap left by a write past the end reads as zeros, also where a shrink cut
// bytes off: they must not come back into view.
TEST(BlockMemoryStream, WritePastTheEndLeavesAZeroGap) {
  TBlockMemoryStream s(8);
  s.Write("ABCDEFGHIJKL", 12);
  s.SetSize(2);
  s.Seek(6, 0);
  EXPECT_EQ(1, s.Write("x", 1));
  s.Seek(19, 0);
  EXPECT_EQ(2, s.Write("yz", 2));
  EXPECT_EQ(21, s.GetSize());
  EXPECT_EQ(std::string("AB") + std::string(4, '\0') + "x" + std::string(12, '\0') + "yz",
            ReadAll(s));
}

TEST(BlockMemoryStream, PositionsBeyondThe32BitRangeAreRefused) {
  TBlockMemoryStream s(8);
  s.Seek(INT32_MAX - 1, 0);
  EXPECT_THROW(s.Seek(5, 1), EStreamError);
  EXPECT_EQ(INT32_MAX - 1, s.GetPosition());
  // The end would overflow: nothing is written and nothing allocated.
  EXPECT_EQ(0, s.Write("abcd", 4));
  EXPECT_EQ(0, s.BlockCount());
  EXPECT_EQ(0, s.GetSize());
}

TEST(BlockMemoryStream, WorksThroughTheGenericStreamOperations) {
  TBlockMemoryStream s(8);
  const std::string data = Pattern(100);
  s.WriteBuffer(data.data(), 100);
  EXPECT_EQ(100, s.GetSize());
  EXPECT_EQ(100, s.GetPosition()) << "GetSize restores the position";
  s.SetSize64(30);
  TMemoryStream copy;
  EXPECT_EQ(30, copy.CopyFrom(s, 0));
  EXPECT_EQ(data.substr(0, 30), std::string(copy.Memory(), 30));
}

} // namespace
