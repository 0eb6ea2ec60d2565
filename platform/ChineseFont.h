#pragma once
// Finds a font that can draw Chinese texts. The window toolkit draws each text
// with one font and does not fall back per character, so every window and
// dialog that shows Chinese must map its fonts to one that covers it.
#include <string>

namespace platform {

// The family that fontconfig picks for Simplified Chinese sans-serif text, or
// any installed family that covers Chinese when the best match does not;
// empty when no such font is installed.
std::string FindChineseFontFamily();

} // namespace platform
