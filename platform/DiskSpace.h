#pragma once
// The room left on a volume, so that a large copy is refused before it
// starts instead of failing half-way.
#include <cstdint>
#include <string>

namespace platform {

// The bytes that the current user may still write on the volume that holds
// the folder `path` (ANSI); -1 when the system does not tell (no such
// folder).
int64_t FreeDiskSpace(const std::string& path);

} // namespace platform
