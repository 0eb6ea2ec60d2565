// The digests and the streaming Ed25519 check against the published test
// vectors (FIPS 180-2 examples, RFC 8032 section 7.1).
#include "platform/Crypto.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

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

std::string BytesFromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// Feeds `message` to `sink` in pieces of the given sizes, over and over,
// then the rest; a size of 0 feeds an empty piece.
template <class Sink>
void Feed(Sink& sink, const std::string& message, const std::vector<size_t>& pieces) {
  size_t at = 0;
  for (size_t i = 0; at < message.size(); ++i) {
    const size_t size = std::min(pieces[i % pieces.size()], message.size() - at);
    sink.Update(message.data() + at, size);
    at += size;
  }
}

const std::vector<std::vector<size_t>> kPieces = {{1000000}, {1}, {0, 63, 1, 4097}, {5, 0, 2, 31}};

template <class Hasher> void ExpectDigests(const char* const (&digests)[3]) {
  const std::string messages[] = {"", "abc", std::string(1000000, 'a')};
  Hasher hasher; // one hasher for all: Final starts it again
  for (size_t m = 0; m < 3; ++m) {
    for (const auto& pieces : kPieces) {
      Feed(hasher, messages[m], pieces);
      const auto digest = hasher.Final();
      EXPECT_EQ(Hex(digest.data(), digest.size()), digests[m])
          << messages[m].size() << "/" << pieces.size();
    }
  }
}

TEST(Digests, KnownDigestsWhateverThePiecesFed) {
  ExpectDigests<platform::TSha256>(
      {"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"});
  ExpectDigests<platform::TSha512>(
      {"cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
       "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e",
       "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
       "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f",
       "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973eb"
       "de0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b"});
}

TEST(Ed25519Verifier, Rfc8032VectorsFedInUnevenPiecesAndTheirAlterations) {
  struct Vector {
    const char* message; // hexadecimal
    const char* key;
    const char* signature;
  } vectors[] = {
      {"", "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a",
       "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701c"
       "f9b46bd25bf5f0595bbe24655141438e7a100b"},
      {"72", "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c",
       "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0"
       "f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
      {"af82", "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025",
       "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f76098"
       "4dc6594a7c15e9716ed28dc027beceea1ec40a"},
      // TEST SHA(abc): the message is the SHA-512 of "abc".
      {"ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3"
       "feebbd454d4423643ce80e2a9ac94fa54ca49f",
       "ec172b93ad5e563bf4932c70e1245034c35467ef2efd4d64ebf819683467e2bf",
       "dc2a4459e7369633a52b1bf277839a00201009a3efbf3ecb69bea2186c26b58909351fc9ac90b3ecfdfbc7c664"
       "31e0303dca179c138ac17ad9bef1177331a704"},
  };
  auto verifies = [](const platform::TEd25519PublicKey& key,
                     const platform::TEd25519Signature& signature, const std::string& message,
                     const std::vector<size_t>& pieces) {
    platform::TEd25519Verifier verifier(key, signature);
    Feed(verifier, message, pieces);
    return verifier.Verify();
  };
  for (const Vector& v : vectors) {
    const std::string message = BytesFromHex(v.message);
    SCOPED_TRACE(message.size());
    const auto key = FromHex<32>(v.key);
    const auto signature = FromHex<64>(v.signature);
    for (const auto& pieces : kPieces)
      EXPECT_TRUE(verifies(key, signature, message, pieces)) << pieces.size();

    auto badSignature = signature;
    badSignature[40] ^= 0x01;
    EXPECT_FALSE(verifies(key, badSignature, message, kPieces[2]));
    auto otherKey = key;
    otherKey[3] ^= 0x80;
    EXPECT_FALSE(verifies(otherKey, signature, message, kPieces[2]));
    EXPECT_FALSE(verifies(key, signature, message + "x", kPieces[2]));
    if (!message.empty()) {
      EXPECT_FALSE(verifies(key, signature, message.substr(1), kPieces[2]));
    }
  }
}

} // namespace
