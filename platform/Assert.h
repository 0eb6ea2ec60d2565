#pragma once
// Precondition checks that stay on in release builds. A failure raises
// EAssertionFailed with the text "Assertion failure (<file>, line <n>)".
#include "Exception.h"

namespace platform {
[[noreturn]] void RaiseAssertionFailure(const char* file, int line);
}

#define ZORVA_ASSERT(condition)                                                \
  do {                                                                         \
    if (!(condition)) ::platform::RaiseAssertionFailure(__FILE__, __LINE__);   \
  } while (false)
