#pragma once
// The staged rollout: a manifest entry with Rollout="P" offers its version
// only to the machines whose place is below P, P from 1 to 100.
#include <cstdint>
#include <string_view>

// The machine's place, 0 to 99, for one version of one product: the first
// eight bytes of SHA-256(identity, NUL, product kind, NUL, version in
// decimal) read big-endian, modulo 100. A machine keeps its place while the
// share grows, and every new version draws anew. Without an identity the
// place is 0: such a machine is offered every version.
int32_t RolloutBucket(std::string_view machineIdentity, std::string_view productKind,
                      int32_t version);
