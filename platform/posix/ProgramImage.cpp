// Linux starts ELF images and scripts that name their interpreter.
#include "platform/ProgramImage.h"

namespace platform {

bool IsNativeProgramFormat(TProgramFormat format) {
  switch (format) {
  case TProgramFormat::Elf:
  case TProgramFormat::Script:
    return true;
  case TProgramFormat::PeX86:
  case TProgramFormat::PeX64:
    return false;
  }
  return false;
}

} // namespace platform
