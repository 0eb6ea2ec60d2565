#pragma once
// Line breaking for dialog texts. The window toolkit wraps only at blanks, and
// a Chinese sentence has none, so dialogs break their texts themselves.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Breaks the UTF-8 `text` into lines that `width` measures as no wider than
// `maxWidth`. Lines end at the text's own line ends (CR LF, LF or CR), after
// blanks, and between Chinese characters; closing punctuation never starts a
// line and opening punctuation never ends one. A word wider than a line is
// cut between characters. Blanks at the end of a line are dropped. An empty
// text gives one empty line.
std::vector<std::string> WrapText(std::string_view text, double maxWidth,
                                  const std::function<double(std::string_view)>& width);

} // namespace platform
