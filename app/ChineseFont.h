#pragma once
// Finds a font that can draw the window's Chinese texts. The window toolkit
// draws each text with one font and does not fall back per character, so the
// window's fonts must be mapped to one that covers Chinese.
#include <string>

// The family that fontconfig picks for Simplified Chinese sans-serif text, or
// any installed family that covers Chinese when the best match does not;
// empty when no such font is installed.
std::string FindChineseFontFamily();
