#include "publish/FileDigest.h"

#include "platform/Exception.h"
#include "platform/TextFormat.h"
#include "publish/PublishTexts.h"

#include <vector>

namespace {
constexpr int32_t kBlock = 1 << 20;
}

int64_t ReadThrough(TStream& stream, const std::function<void(const char*, size_t)>& consume) {
  std::vector<char> buffer(kBlock);
  int64_t total = 0;
  for (;;) {
    const int32_t got = stream.Read(buffer.data(), kBlock);
    if (got <= 0) return total;
    consume(buffer.data(), static_cast<size_t>(got));
    total += got;
  }
}

TFileDigest DigestFile(const std::function<std::unique_ptr<TStream>()>& open,
                       const std::optional<platform::TEd25519Seed>& seed, const std::string& name) {
  TFileDigest digest;
  platform::TSha256 sha256;
  std::unique_ptr<platform::TEd25519Signer> signer;
  if (seed) signer = std::make_unique<platform::TEd25519Signer>(*seed);
  {
    std::unique_ptr<TStream> first = open();
    digest.size = ReadThrough(*first, [&](const char* data, size_t size) {
      sha256.Update(data, size);
      if (signer) signer->Update(data, size);
    });
  }
  digest.sha256 = sha256.Final();
  if (!signer) return digest;
  signer->StartSecondPass();
  std::unique_ptr<TStream> second = open();
  platform::TSha256 again;
  const int64_t size = ReadThrough(*second, [&](const char* data, size_t size) {
    again.Update(data, size);
    signer->Update(data, size);
  });
  // The signature is of what both passes read alike, or of nothing.
  if (size != digest.size || again.Final() != digest.sha256)
    throw EStreamError(platform::FormatText(publishtexts::kSourceChanged, name));
  digest.signature = signer->Finish();
  return digest;
}
