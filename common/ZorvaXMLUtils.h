#pragma once
// Text helpers of the XML library: escaping of markup characters, substring
// search, and the text forms of typed values (boolean, 64-bit integer,
// extended float, binary data as Base64) that nodes and attributes store.
//
// All strings are ANSI (GBK) bytes. Every byte these functions look at is
// below 0x80, so the trail byte of a GBK character is never taken for markup.
// Positions are 1-based. The text forms do not depend on the user's locale:
// a float is always stored with "." whatever the locale's separator is.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TStream;

// A binary value: no data (std::nullopt) or an array of bytes. Its text form
// is one line of Base64.
using TXMLBinary = std::optional<std::vector<uint8_t>>;

// --- Escaping ---------------------------------------------------------------

// Replaces < > & ' " by &lt; &gt; &amp; &apos; &quot;, and, when
// `escapeLineBreaks` is set, LF and CR by &#xA; and &#xD;. Every other byte
// (tab included) is copied as it is. A text needing no change comes back equal.
std::string EscapeXmlText(std::string_view text, bool escapeLineBreaks);

// Decodes each of the five entities above (and &#xA; &#xD; when
// `unescapeLineBreaks` is set) once, left to right, matching exactly as
// written (case included), and drops every NUL byte of the text. Any other
// '&' sequence stays as it is: "&amp;lt;" gives "&lt;", never "<".
std::string UnescapeXmlText(std::string_view text, bool unescapeLineBreaks);

// 1-based position of the first occurrence of `pattern` in `text` at or after
// `start` (which must be at least 1, else EAssertionFailed); 0 when there is
// none, when the pattern is empty or when it cannot fit after `start`.
int FindTextFrom(std::string_view pattern, std::string_view text, int start);

// --- Booleans ---------------------------------------------------------------

// "True" or "False".
std::string BoolToXmlText(bool value);
// True exactly when the whole text is "true" in any letter case; every other
// text (blanks around it, digits, empty) is false.
bool XmlTextToBool(std::string_view text);

// --- Floats -----------------------------------------------------------------

// The general form with 15 significant digits: no trailing zeros, no
// separator for whole numbers, fixed notation while the integer part fits in
// 15 digits and the magnitude is at least 0.00001, else scientific ("1.5E20",
// "2E-7"). The separator is always ".". Not-a-number and the infinities are
// written "NAN", "INF" and "-INF".
std::string FloatToXmlText(long double value);

// Reads the form above: optional blanks, sign, digits with an optional
// fraction, optional exponent, optional blanks; the whole text must be used.
// "." is the separator; a text using the captured locale separator instead is
// read too. Empty text and any text that is not a number give 0. A magnitude
// beyond the range of long double gives an infinity of its sign, one below it
// gives 0. "NAN", "INF" and "-INF" (any case) read back as written.
long double XmlTextToFloat(std::string_view text);

// The decimal separator of the user's locale, captured once: on first use,
// or by CaptureXmlDecimalSeparator at start-up. A locale whose separator is
// not a single byte counts as ".".
char GetXmlDecimalSeparator();
// Captures the separator of the user's locale (the environment's settings,
// not the program's C locale) and returns it.
char CaptureXmlDecimalSeparator();
// Sets the separator explicitly (start-up of programs that know better, and
// tests that play a foreign locale).
void SetXmlDecimalSeparator(char separator);

// --- Integers ---------------------------------------------------------------

// Plain decimal digits, with a leading "-" for negative values.
std::string Int64ToXmlText(int64_t value);

// Never fails. Skips leading blanks, takes an optional sign, then reads
// hexadecimal digits after "$", "x", "X", "0x" or "0X", decimal digits
// otherwise, up to the first byte that is not a digit of that base: "12ab"
// gives 12, "abc" and "" give 0. A decimal value beyond the 64-bit range
// saturates at INT64_MAX / INT64_MIN. Hexadecimal digits give the 64-bit
// pattern ("$FFFFFFFFFFFFFFFF" is -1); more than 64 bits give all ones.
int64_t XmlTextToInt64(std::string_view text);

// --- Base64 -----------------------------------------------------------------

// Encodes `source` from its position to its end and writes the text at the
// position of `target`: one line, "=" padding, no line breaks.
void Base64EncodeStream(TStream& source, TStream& target);

// Decodes `source` from its position into `target`. Bytes outside the
// alphabet (line breaks, blanks) are skipped. A final group without its "="
// padding decodes as if it were padded; an "=" where no group is open is
// ignored. Returns false when the data characters leave one over after the
// last group of four (nothing can be made of one character); the bytes
// decoded before it are already written.
bool Base64DecodeStream(TStream& source, TStream& target);

// Base64DecodeStream over the bytes of `text`.
bool Base64TextToStream(std::string_view text, TStream& target);
// Base64EncodeStream of `source` (from its position) into a text.
std::string StreamToBase64Text(TStream& source);

// Sets `value` to no data, then decodes `text` into it. An empty text, or one
// that decodes to no bytes, gives true with no data; malformed input gives
// false with no data.
bool Base64TextToBytes(std::string_view text, TXMLBinary& value);
// Sets `text` to the Base64 form of `value`, empty when there is no data.
void BytesToBase64Text(const TXMLBinary& value, std::string& text);

// --- Document factories ---------------------------------------------------
// Both are defined with the document (ZorvaXMLDoc); include
// common/ZorvaXMLIntf.h to use their result.

template <class T> class TIntfRef;
class IXMLDocument;

// A new, empty document with the given include-declaration and formatted
// switches.
TIntfRef<IXMLDocument> NewXmlDocument(bool includeDeclaration, bool formatted);
// A new document as NewXmlDocument makes it, with comments dropped, loaded
// from the file named by the ANSI path `fileName`. Errors of opening and
// parsing the file pass to the caller as exceptions.
TIntfRef<IXMLDocument> OpenXmlDocumentFile(const std::string& fileName, bool includeDeclaration,
                                           bool formatted);
