#pragma once
// UTF-8 to ANSI (GBK) for document texts, whole or in pieces, and ANSI to
// UTF-8 for the lines the writer saves. The result is exactly that of
// platform::Utf8ToAnsi: characters without a GBK form become '?', and text
// that is not valid UTF-8 gives empty text. The platform conversion runs
// through iconv at about 100 MB/s, slower than parsing; this one reads the GBK
// form of each character from a table that the platform conversion fills
// once, copies ASCII runs a word at a time and takes two Chinese characters
// from one load.
#include <string>
#include <string_view>

std::string XMLUtf8ToAnsi(std::string_view utf8);

// Converts the bytes of `text` from `from` on in place: the GBK form of a
// character is never longer than its UTF-8 form, so the result overwrites its
// source and no second buffer of the document's size is needed. Invalid UTF-8
// cuts the text back to `from`.
void XMLUtf8ToAnsiInPlace(std::string& text, size_t from);

// True when the table of GBK forms is complete, which the converter below
// needs; otherwise only whole texts convert, through the platform.
bool XMLUtf8ConversionIsFast();

class TXMLTextBuffer;

// UTF-8 text that arrives in pieces, converted piece by piece with the
// result XMLUtf8ToAnsi gives for the whole: a character split between two
// pieces is completed by the second.
class TXMLUtf8Converter {
public:
  // Appends the GBK form of `piece` to `out`. False, from then on, once the
  // text so far is not valid UTF-8; what was appended is then of no use.
  // Needs XMLUtf8ConversionIsFast().
  bool Convert(std::string_view piece, std::string& out);
  bool Convert(std::string_view piece, TXMLTextBuffer& out);
  // True when the text ended with a whole character (and was valid).
  bool Finish() const { return valid_ && pendingLength_ == 0; }

private:
  // Writes the GBK form of `piece` at `out`, which has room for the piece
  // and five bytes more, and returns its length; npos when not UTF-8.
  size_t ConvertInto(std::string_view piece, char* out);

  char pending_[4] = {};
  size_t pendingLength_ = 0;
  bool valid_ = true;
};

// Appends the UTF-8 form of the ANSI text `ansi` to `out`: exactly what
// platform::AnsiToUtf8 gives (a byte that does not begin a GBK character
// becomes '?'), read from a table that the platform conversion fills once
// instead of a conversion opened for every line.
void XMLAnsiToUtf8Append(std::string_view ansi, std::string& out);
// The same written at `out`, which has room for XMLAnsiToUtf8Room bytes;
// returns the length of the UTF-8 text.
size_t XMLAnsiToUtf8Into(std::string_view ansi, char* out);
// No byte gives more than three bytes of UTF-8, and the conversion may write
// one byte past its result.
inline size_t XMLAnsiToUtf8Room(size_t ansiLength) {
  return ansiLength * 3 + 1;
}
