#pragma once
// The SHA-256 of a file and, with the publisher's key, its Ed25519
// signature: what a manifest entry says of its package.
#include "platform/Crypto.h"
#include "platform/Stream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

struct TFileDigest {
  int64_t size = 0;
  platform::TSha256Digest sha256{};
  std::optional<platform::TEd25519Signature> signature;
};

// Reads the stream that `open` gives from its start to its end, once, and
// once more with a seed (a signature takes two passes). Raises what the
// stream raises, and EStreamError naming the file `name` when the two passes
// read different bytes.
TFileDigest DigestFile(const std::function<std::unique_ptr<TStream>()>& open,
                       const std::optional<platform::TEd25519Seed>& seed, const std::string& name);

// Feeds `stream` from its position to its end to `consume` in large blocks;
// returns the bytes fed.
int64_t ReadThrough(TStream& stream, const std::function<void(const char*, size_t)>& consume);
