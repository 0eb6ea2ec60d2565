#pragma once
// JSON as another spelling of the XML node tree.
//
// An element is an object with one member named after the element, whose
// value is an array holding, in order: the element's stored text as a string
// (left out when empty or when it begins with CR), one object of the
// attributes as string members (written whenever the element has attributes
// or children), then one object per child element. Strings are the stored
// bytes between double quotes: nothing is escaped, so a string cannot hold a
// double quote. Text is ANSI; no conversion, no byte-order mark.
//
// The reader follows fixed scanning rules rather than a grammar: it reads
// what the writers produce, and reads anything else by those same rules.
#include "common/ZorvaXMLIntf.h"
#include "platform/Exception.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

class TStream;
class TXMLNode;

// Nested objects and arrays deeper than this are a format error, so that
// hostile text cannot exhaust the stack.
inline constexpr int kMaxJsonDepth = 500;

// Checks one plain value as it stands in the text (trimmed) and returns what
// is stored for it: a string without its quotes, anything else as written.
// Raises Exception "错误的JSON格式" for an empty value or a string without its
// closing quote, EConvertError "'<value>' is not a valid boolean value" for
// a value that is no string, number or boolean.
std::string CheckJsonValue(std::string_view value);

// Reads JSON text into nodes below one node. One parser serves one reading.
class TJSONParser {
public:
  // `root` is the node the reading starts on; it must be given.
  TJSONParser(const std::string& text, const IXMLNodeRef& root);

  // Reads the object whose "{" is at the current position: object and array
  // members become child elements, plain members attributes (stored escaped).
  // Returns at once when there is no "{" there.
  void ReadObject();
  // Reads the array that begins just after the current position's "[":
  // objects are read into the current node, a plain item becomes its stored
  // text (not escaped; a later item replaces an earlier one).
  void ReadArray();

  // The current position, 1-based.
  size_t Position() const { return pos_; }

private:
  // The positions of one node's attributes by a hash of the name with ASCII
  // letter case folded, made once the node has many: an open-addressing
  // table whose slots hold the hash (high half) and the position plus one
  // (low half); 0 is an empty slot. The node is the one the reading stands
  // on at that depth; the reader is the only one changing its attributes
  // while it reads, and it only appends.
  struct TAttributeIndex {
    TXMLNode* node = nullptr;
    std::vector<uint64_t> slots;
    size_t used = 0;

    void Insert(uint32_t hash, size_t position);
  };

  char At(size_t p) const { return p >= 1 && p <= text_.size() ? text_[p - 1] : '\0'; }
  size_t Find(char c, size_t from) const;
  // As Find, but only before the position `limit`.
  size_t FindBefore(char c, size_t from, size_t limit) const;
  void SkipBlanks(size_t& p) const;
  void SkipBlanksAndComma();
  std::string Slice(size_t from, size_t end) const;
  void EnterChild(const std::string& name);
  void LeaveChild();
  // The attribute `name` of the current node, found or appended as
  // GetAttribute does, set with SetAsString.
  void SetMember(const std::string& name, const std::string& value);
  IXMLNodeAttribute* FindOrAppend(TXMLNode& node, const std::string& name);

  const std::string& text_;
  size_t pos_ = 1;
  IXMLNodeRef root_;
  IXMLNodeRef current_;
  int depth_ = 0;
  std::vector<TAttributeIndex> indexes_; // by depth
};

// Reads `text` into `node` from position 1: a text that does not begin with
// "{" reads nothing. Raises as CheckJsonValue does, and Exception
// "错误的JSON格式" for a name or value without its closing quote, a member value
// followed by neither "," nor "}", an array item followed by neither "," nor
// "]", or nesting deeper than kMaxJsonDepth. Nodes made before an error stay.
void LoadJsonIntoNode(const IXMLNodeRef& node, const std::string& text);

// Appends the compact JSON of `node` and its subtree to `text`, followed by
// "," when the node has a next sibling. A null node appends nothing; a node
// that is not one of this library's raises the assertion failure. Attribute
// values and texts are written as stored.
void NodeToJsonText(IXMLNode* node, std::string& text);

// Writes documents as JSON lines into a stream, one line at a time.
class TJSONBuilder {
public:
  // A null stream raises the assertion failure. The stream is not owned.
  explicit TJSONBuilder(TStream* stream);

  // Writes the document element and its subtree: with `formatted`, four
  // blanks per level and CR LF after every line; without, neither. Attribute
  // values are written decoded. A document without element writes nothing.
  // Raises EStreamError when the stream does not take a whole line.
  void Build(IXMLDocument* document, bool formatted);

private:
  // The element's lines that come before its children.
  void WriteHead(const TXMLNode& node, int32_t level);
  void Line(int32_t level, std::initializer_list<std::string_view> parts);

  TStream* stream_;
  bool formatted_ = true;
  std::string lineBreak_ = "\r\n";
  std::string line_;
};

// TJSONBuilder(stream).Build(document, true).
void WriteJsonDocument(IXMLDocument* document, TStream* stream);
