#include "app/Rollout.h"

#include "platform/Crypto.h"

#include <string>

int32_t RolloutBucket(std::string_view machineIdentity, std::string_view productKind,
                      int32_t version) {
  if (machineIdentity.empty()) return 0;
  const std::string versionText = std::to_string(version);
  platform::TSha256 hasher;
  hasher.Update(machineIdentity.data(), machineIdentity.size());
  hasher.Update("", 1);
  hasher.Update(productKind.data(), productKind.size());
  hasher.Update("", 1);
  hasher.Update(versionText.data(), versionText.size());
  const platform::TSha256Digest digest = hasher.Final();
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i)
    value = value << 8 | digest[i];
  return static_cast<int32_t>(value % 100);
}
