// SHA-256 and the Ed25519 file check against the published test vectors
// (FIPS 180-2 examples, RFC 8032 section 7.1).
#include "platform/Crypto.h"
#include "platform/Exception.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <array>
#include <string>

namespace {

std::string Hex(const uint8_t* data, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < size; ++i)
    out += {digits[data[i] >> 4], digits[data[i] & 15]};
  return out;
}

template <size_t N> std::array<uint8_t, N> FromHex(const std::string& hex) {
  std::array<uint8_t, N> out{};
  for (size_t i = 0; i < N; ++i)
    out[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  return out;
}

TEST(Sha256, KnownDigestsWhateverThePiecesFed) {
  struct Case {
    std::string message;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  platform::TSha256 hasher; // one hasher for all: Final starts it again
  for (const Case& c : cases) {
    for (size_t piece : {size_t{1000000}, size_t{1}, size_t{63}, size_t{4097}}) {
      for (size_t at = 0; at < c.message.size(); at += piece)
        hasher.Update(c.message.data() + at, std::min(piece, c.message.size() - at));
      const platform::TSha256Digest digest = hasher.Final();
      EXPECT_EQ(Hex(digest.data(), digest.size()), c.digest) << c.message.size() << "/" << piece;
    }
  }
}

TEST(Ed25519File, Rfc8032VectorsAndEveryAlteration) {
  testsupport::TempFolder dir;
  struct Vector {
    std::string message;
    const char* key;
    const char* signature;
  } vectors[] = {
      {"", "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a",
       "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701c"
       "f9b46bd25bf5f0595bbe24655141438e7a100b"},
      {"\x72", "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c",
       "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0"
       "f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
      {"\xaf\x82", "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025",
       "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f76098"
       "4dc6594a7c15e9716ed28dc027beceea1ec40a"},
  };
  for (const Vector& v : vectors) {
    SCOPED_TRACE(v.message.size());
    dir.Write("message", v.message);
    const std::string path = dir.Ansi("message");
    const auto key = FromHex<32>(v.key);
    const auto signature = FromHex<64>(v.signature);
#ifdef _WIN32
    // No Ed25519 on Windows: a good signature is refused as well.
    EXPECT_FALSE(platform::VerifyEd25519File(path, key, signature));
#else
    EXPECT_TRUE(platform::VerifyEd25519File(path, key, signature));
#endif

    auto badSignature = signature;
    badSignature[40] ^= 0x01;
    EXPECT_FALSE(platform::VerifyEd25519File(path, key, badSignature));
    auto otherKey = key;
    otherKey[3] ^= 0x80;
    EXPECT_FALSE(platform::VerifyEd25519File(path, otherKey, signature));
    dir.Write("message", v.message + "x");
    EXPECT_FALSE(platform::VerifyEd25519File(path, key, signature));
  }
}

TEST(Ed25519File, AnythingButARegularFileRaises) {
  testsupport::TempFolder dir;
  dir.MakeFolder("folder");
#ifdef _WIN32
  // "NUL" names the null device in every folder.
  for (const char* name : {"missing", "folder", "NUL"})
#else
  ASSERT_EQ(::mkfifo(dir.Utf8("fifo").c_str(), 0600), 0); // no writer: never to be waited for
  for (const char* name : {"missing", "folder", "fifo"})
#endif
    EXPECT_THROW(platform::VerifyEd25519File(dir.Ansi(name), {}, {}), EFOpenError) << name;
}

} // namespace
