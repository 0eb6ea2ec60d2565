// Ed25519 signing: the test vectors of RFC 8032, and libcrypto's signatures
// of random messages under random keys. Ed25519 signatures are
// deterministic, so ours must equal libcrypto's byte for byte, however the
// message is cut into pieces in the two passes.
#include "platform/Crypto.h"

#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

namespace {

using platform::TEd25519Seed;
using platform::TEd25519Signature;

std::string FromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

template <size_t N> std::array<uint8_t, N> ArrayFromHex(const std::string& hex) {
  const std::string bytes = FromHex(hex);
  std::array<uint8_t, N> out{};
  std::copy_n(bytes.begin(), N, out.begin());
  return out;
}

struct PKeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdContextFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

TEd25519Signature LibcryptoSign(const TEd25519Seed& seed, const std::string& message) {
  std::unique_ptr<EVP_PKEY, PKeyFree> key(
      EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size()));
  std::unique_ptr<EVP_MD_CTX, MdContextFree> ctx(EVP_MD_CTX_new());
  TEd25519Signature signature{};
  size_t size = signature.size();
  if (!key || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
      EVP_DigestSign(ctx.get(), signature.data(), &size,
                     reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1)
    throw std::runtime_error("libcrypto cannot sign");
  return signature;
}

TEST(Ed25519Sign, Rfc8032TestVectors) {
  struct Vector {
    const char *seed, *publicKey, *message, *signature;
  };
  const Vector vectors[] = {
      {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
       "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
       "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e06522490155"
       "5fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"},
      {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
       "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
       "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da"
       "085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
      {"c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
       "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
       "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac"
       "18ff9b538d16f290ae67f760984dc6594a7c15e9716ed28dc027beceea1ec40a"},
  };
  for (const Vector& v : vectors) {
    SCOPED_TRACE(v.seed);
    const auto seed = ArrayFromHex<32>(v.seed);
    EXPECT_EQ(platform::TEd25519Signer(seed).PublicKey(), ArrayFromHex<32>(v.publicKey));
    EXPECT_EQ(platform::SignEd25519(seed, FromHex(v.message)), ArrayFromHex<64>(v.signature));
  }
}

TEST(Ed25519Sign, EqualsLibcryptoForRandomKeysAndMessagesFedInPieces) {
  std::mt19937 random(2208);
  for (int round = 0; round < 200; ++round) {
    TEd25519Seed seed{};
    for (uint8_t& b : seed)
      b = static_cast<uint8_t>(random());
    std::string message(random() % (round < 100 ? 80 : 5000), '\0');
    for (char& c : message)
      c = static_cast<char>(random());

    platform::TEd25519Signer signer(seed);
    const auto feed = [&] {
      for (size_t at = 0; at < message.size();) {
        const size_t size = std::min<size_t>(random() % 700, message.size() - at);
        signer.Update(message.data() + at, size);
        at += size;
      }
    };
    feed();
    signer.StartSecondPass();
    feed();
    const TEd25519Signature signature = signer.Finish();
    ASSERT_EQ(signature, LibcryptoSign(seed, message)) << "round " << round;

    platform::TEd25519Verifier verifier(signer.PublicKey(), signature);
    verifier.Update(message.data(), message.size());
    EXPECT_TRUE(verifier.Verify());
  }
}

} // namespace
