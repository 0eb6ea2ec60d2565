// Windows starts PE images; x64 ones only on a 64-bit system, which the
// installer itself finds out: either machine is a program here.
#include "platform/ProgramImage.h"

namespace platform {

bool IsNativeProgramFormat(TProgramFormat format) {
  switch (format) {
  case TProgramFormat::PeX86:
  case TProgramFormat::PeX64:
    return true;
  case TProgramFormat::Elf:
  case TProgramFormat::Script:
    return false;
  }
  return false;
}

} // namespace platform
