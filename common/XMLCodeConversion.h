#pragma once
// UTF-8 to ANSI (GBK) for whole document texts, and ANSI to UTF-8 for the
// lines the writer saves. The result is exactly that of
// platform::Utf8ToAnsi: characters without a GBK form become '?', and text
// that is not valid UTF-8 gives empty text. The platform conversion runs
// through iconv at about 100 MB/s, slower than parsing; this one reads the GBK
// form of each character from a table that the platform conversion fills
// once, and copies ASCII runs eight bytes at a time.
#include <string>
#include <string_view>

std::string XMLUtf8ToAnsi(std::string_view utf8);

// Converts the bytes of `text` from `from` on in place: the GBK form of a
// character is never longer than its UTF-8 form, so the result overwrites its
// source and no second buffer of the document's size is needed. Invalid UTF-8
// cuts the text back to `from`.
void XMLUtf8ToAnsiInPlace(std::string& text, size_t from);

// Appends the UTF-8 form of the ANSI text `ansi` to `out`: exactly what
// platform::AnsiToUtf8 gives (a byte that does not begin a GBK character
// becomes '?'), read from a table that the platform conversion fills once
// instead of a conversion opened for every line.
void XMLAnsiToUtf8Append(std::string_view ansi, std::string& out);
