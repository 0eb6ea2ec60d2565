// The streaming Ed25519 check against libcrypto's one-shot verification:
// keys, messages and signatures made with libcrypto, then altered; the two
// must give the same verdict on every case. Where they part (keys whose
// encoding is not canonical), the check follows RFC 8032.
#include "platform/Crypto.h"

#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using platform::TEd25519PublicKey;
using platform::TEd25519Signature;
using TBytes32 = std::array<uint8_t, 32>;

template <size_t N> std::array<uint8_t, N> FromHex(const std::string& hex) {
  std::array<uint8_t, N> out{};
  for (size_t i = 0; i < N; ++i)
    out[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  return out;
}

// The eight points of small order: the identity, (0, -1), the two of order
// 4 and the four of order 8.
const std::vector<TBytes32> kSmallOrder = {
    FromHex<32>("0100000000000000000000000000000000000000000000000000000000000000"),
    FromHex<32>("ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"),
    FromHex<32>("0000000000000000000000000000000000000000000000000000000000000000"),
    FromHex<32>("0000000000000000000000000000000000000000000000000000000000000080"),
    FromHex<32>("26e8958fc2b227b045c3f489f2ef98f0d5dfac05d3c63339b13802886d53fc05"),
    FromHex<32>("26e8958fc2b227b045c3f489f2ef98f0d5dfac05d3c63339b13802886d53fc85"),
    FromHex<32>("c7176a703d4dd84fba3c0b760d10670f2a2053fa2c39ccc64ec7fd7792ac037a"),
    FromHex<32>("c7176a703d4dd84fba3c0b760d10670f2a2053fa2c39ccc64ec7fd7792ac03fa"),
};

// L = 2^252 + 27742317777372353535851937790883648493, little-endian.
const TBytes32 kOrder =
    FromHex<32>("edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010");

struct PKeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdContextFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using PKey = std::unique_ptr<EVP_PKEY, PKeyFree>;
using MdContext = std::unique_ptr<EVP_MD_CTX, MdContextFree>;

const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

// A key pair made by libcrypto from `seed`, and its signatures.
class Signer {
public:
  explicit Signer(const TBytes32& seed)
      : key_(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size())) {
    size_t size = publicKey_.size();
    if (!key_ || EVP_PKEY_get_raw_public_key(key_.get(), publicKey_.data(), &size) != 1)
      throw std::runtime_error("libcrypto cannot make an Ed25519 key");
  }
  const TEd25519PublicKey& PublicKey() const { return publicKey_; }
  TEd25519Signature Sign(const std::string& message) const {
    TEd25519Signature signature{};
    size_t size = signature.size();
    MdContext ctx(EVP_MD_CTX_new());
    if (EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key_.get()) != 1 ||
        EVP_DigestSign(ctx.get(), signature.data(), &size, Bytes(message), message.size()) != 1)
      throw std::runtime_error("libcrypto cannot sign");
    return signature;
  }

private:
  PKey key_;
  TEd25519PublicKey publicKey_{};
};

bool LibcryptoVerifies(const TEd25519PublicKey& key, const TEd25519Signature& signature,
                       const std::string& message) {
  PKey pkey(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()));
  MdContext ctx(EVP_MD_CTX_new());
  return pkey && EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) == 1 &&
         EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), Bytes(message),
                          message.size()) == 1;
}

// Our verdict, the message fed in pieces of random sizes.
bool StreamVerifies(const TEd25519PublicKey& key, const TEd25519Signature& signature,
                    const std::string& message, std::mt19937& random) {
  platform::TEd25519Verifier verifier(key, signature);
  for (size_t at = 0; at < message.size();) {
    const size_t size = std::min<size_t>(random() % 300, message.size() - at);
    verifier.Update(message.data() + at, size);
    at += size;
  }
  return verifier.Verify();
}

template <size_t N> std::array<uint8_t, N> RandomBytes(std::mt19937& random) {
  std::array<uint8_t, N> out{};
  for (uint8_t& b : out)
    b = static_cast<uint8_t>(random());
  return out;
}

std::string RandomMessage(std::mt19937& random, size_t maxSize) {
  std::string message(random() % (maxSize + 1), '\0');
  for (char& c : message)
    c = static_cast<char>(random());
  return message;
}

TEd25519Signature WithHalves(const TBytes32& r, const TBytes32& s) {
  TEd25519Signature signature{};
  std::copy(r.begin(), r.end(), signature.begin());
  std::copy(s.begin(), s.end(), signature.begin() + 32);
  return signature;
}

// S + L: the same point [S]B, so only the range check refuses it.
TEd25519Signature PlusOrder(TEd25519Signature signature) {
  unsigned carry = 0;
  for (size_t i = 0; i < 32; ++i) {
    carry += signature[32 + i] + kOrder[i];
    signature[32 + i] = static_cast<uint8_t>(carry);
    carry >>= 8;
  }
  return signature;
}

// Keys written other than canonically, each beside the canonical encoding
// of its point: y + p for each y below 19, with either sign, and the sign
// bit set on x = 0 (the identity and (0, -1)).
struct Encoding {
  TBytes32 noncanonical, canonical;
};

std::vector<Encoding> NonCanonicalKeys() {
  std::vector<Encoding> encodings;
  for (int y = 0; y < 19; ++y) {
    for (uint8_t sign : {0x00, 0x80}) {
      Encoding e{};
      e.noncanonical.fill(0xff);
      e.noncanonical[0] = static_cast<uint8_t>(0xed + y);
      e.noncanonical[31] = static_cast<uint8_t>(0x7f | sign);
      e.canonical[0] = static_cast<uint8_t>(y);
      e.canonical[31] = sign;
      encodings.push_back(e);
    }
  }
  for (size_t i : {0, 1}) {
    Encoding e{kSmallOrder[i], kSmallOrder[i]};
    e.noncanonical[31] |= 0x80;
    encodings.push_back(e);
  }
  return encodings;
}

struct Case {
  std::string what;
  TEd25519PublicKey key;
  TEd25519Signature signature;
  std::string message;
};

TEST(Ed25519Verifier, AgreesWithLibcryptoOnGenuineAndAlteredSignatures) {
  std::mt19937 random(25519);
  constexpr int kSigners = 100;
  int compared = 0, accepted = 0;
  std::optional<Signer> previous;
  const std::vector<Encoding> nonCanonical = NonCanonicalKeys();
  for (int n = 0; n < kSigners; ++n) {
    const Signer signer(RandomBytes<32>(random));
    const std::string message = RandomMessage(random, n % 10 == 0 ? 0 : 4000);
    const TEd25519Signature genuine = signer.Sign(message);
    const TEd25519PublicKey& key = signer.PublicKey();
    TBytes32 s{};
    std::copy(genuine.begin() + 32, genuine.end(), s.begin());

    std::vector<Case> cases = {
        {"genuine", key, genuine, message},
        {"S + L", key, PlusOrder(genuine), message},
        {"message one byte longer", key, genuine, message + '\0'},
        {"random key bytes", RandomBytes<32>(random), genuine, message},
        {"non-canonical key", nonCanonical[n % nonCanonical.size()].noncanonical, genuine, message},
    };
    if (!message.empty()) {
      std::string altered = message;
      altered[random() % altered.size()] ^= 0x40;
      cases.push_back({"message with a byte altered", key, genuine, altered});
    }
    if (previous)
      cases.push_back({"another signer's key", previous->PublicKey(), genuine, message});
    for (size_t i = 0; i < genuine.size(); ++i) {
      TEd25519Signature flipped = genuine;
      flipped[i] ^= static_cast<uint8_t>(1 << ((i + n) % 8));
      cases.push_back({"byte " + std::to_string(i) + " flipped", key, flipped, message});
    }
    for (size_t i = 0; i < kSmallOrder.size(); ++i) {
      cases.push_back(
          {"small-order R " + std::to_string(i), key, WithHalves(kSmallOrder[i], s), message});
      cases.push_back({"small-order A " + std::to_string(i), kSmallOrder[i], genuine, message});
    }

    for (const Case& c : cases) {
      const bool reference = LibcryptoVerifies(c.key, c.signature, c.message);
      EXPECT_EQ(StreamVerifies(c.key, c.signature, c.message, random), reference)
          << c.what << ", signer " << n << ", message of " << c.message.size() << " bytes";
      ++compared;
      accepted += reference ? 1 : 0;
    }
    EXPECT_TRUE(LibcryptoVerifies(key, genuine, message)) << n;
    previous.emplace(RandomBytes<32>(random));
  }
  // Only the genuine signatures verify.
  EXPECT_EQ(accepted, kSigners);
  RecordProperty("cases", compared);
}

// With S = 0 and a small-order A, [S]B - [k]A is one of the small-order
// points, chosen by k modulo the order of A; k comes from R, A and the
// message, so some pairs verify and others do not. Reducing k modulo L
// before the multiplication matters here and nowhere else. S = L gives the
// same point, and only its range check refuses it.
TEST(Ed25519Verifier, AgreesWithLibcryptoOnSmallOrderKeysAndNonces) {
  std::mt19937 random(8);
  int compared = 0, accepted = 0;
  for (int m = 0; m < 24; ++m) {
    const std::string message = RandomMessage(random, 100);
    for (const TBytes32& a : kSmallOrder) {
      for (const TBytes32& r : kSmallOrder) {
        for (const TBytes32& s : {TBytes32{}, kOrder}) {
          const TEd25519Signature signature = WithHalves(r, s);
          const bool reference = LibcryptoVerifies(a, signature, message);
          EXPECT_EQ(StreamVerifies(a, signature, message, random), reference)
              << "message " << m << ", A " << &a - kSmallOrder.data() << ", R "
              << &r - kSmallOrder.data() << ", S " << (s == kOrder ? "L" : "0");
          ++compared;
          accepted += reference ? 1 : 0;
        }
      }
    }
  }
  // Both verdicts occur, or the table proves little.
  EXPECT_GT(accepted, 0);
  EXPECT_LT(accepted, compared);
  RecordProperty("cases", compared);
}

// A key must be the canonical encoding of its point (RFC 8032, section
// 5.1.3): y below p, and no sign bit on x = 0. libcrypto 3.0 takes y modulo
// p and ignores that sign, so it accepts every message under the identity
// written as y = p + 1, for instance; the same signatures under the
// canonical encodings show that only the encoding is refused.
TEST(Ed25519Verifier, RefusesKeysWhoseEncodingIsNotCanonical) {
  const std::vector<Encoding> encodings = NonCanonicalKeys();
  std::mt19937 random(19);
  int canonicalAccepted = 0;
  for (const Encoding& e : encodings) {
    for (int m = 0; m < 8; ++m) {
      const std::string message = RandomMessage(random, 50);
      for (const TBytes32& r : kSmallOrder) {
        const TEd25519Signature signature = WithHalves(r, TBytes32{});
        EXPECT_FALSE(StreamVerifies(e.noncanonical, signature, message, random));
        canonicalAccepted += StreamVerifies(e.canonical, signature, message, random) ? 1 : 0;
      }
    }
  }
  EXPECT_GT(canonicalAccepted, 0);
}

} // namespace
