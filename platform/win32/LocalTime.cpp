#include "platform/LocalTime.h"

#include <windows.h>

#include <cstdio>

namespace platform {

std::string LocalTimeStamp() {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", local.wYear, local.wMonth,
                local.wDay, local.wHour, local.wMinute, local.wSecond, local.wMilliseconds);
  return text;
}

} // namespace platform
