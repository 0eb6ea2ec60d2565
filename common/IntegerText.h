#pragma once
// Integer texts of the configuration and the manifests, read as the runtime
// library's StrToInt reads them: leading blanks, an optional sign, then
// decimal digits, or hexadecimal digits after "$" or "0x"; nothing may
// follow, and the value must fit 32 bits.
#include <cstdint>
#include <optional>
#include <string_view>

std::optional<int32_t> TextToInt32(std::string_view text);

// The value, or `defaultValue` when the text is no integer.
int32_t StrToIntDef(std::string_view text, int32_t defaultValue);

// The value; raises EConvertError "'<text>' is not a valid integer value".
int32_t StrToInt(std::string_view text);
