#pragma once
// The local wall-clock time as the run log writes it.
#include <string>

namespace platform {

// "YYYY-MM-DD hh:mm:ss.mmm" in the local time zone.
std::string LocalTimeStamp();

} // namespace platform
