#pragma once
// The XML writer: a node tree as XML text, line by line, into a stream.
//
// The writer escapes nothing. Texts and attribute values go out as they are
// stored, which is their escaped form when they were set with SetAsString or
// read by the parser; with raw text off, leaf texts go out decoded instead
// (the display form, which need not be well-formed).
#include "common/XMLTextBuffer.h"
#include "common/ZorvaXMLIntf.h"

#include <cstddef>
#include <cstdint>
#include <string>

class TStream;
class TXMLNode;

// One writer serves one write. The switches are public: the save routines
// below set them before they run a step.
class TXMLBuilder {
public:
  // A null stream raises the assertion failure. The stream is not owned.
  explicit TXMLBuilder(TStream* stream);

  // Each line preceded by four blanks per level.
  bool Indent = false;
  // Each line converted from ANSI to UTF-8 before it is written.
  bool Utf8Output = true;
  // Written after every line; may be empty.
  std::string LineBreak = "\r\n";
  // Leaf text written as stored (GetText) instead of decoded (GetAsString).
  bool RawText = false;

  // Takes indentation, line breaks and UTF-8 output from the document (UTF-8
  // only when its encoding is "utf-8" in any letter case and forceAnsi is
  // off), writes the declaration when the document asks for one, then the
  // root. An empty document writes at most the declaration. The document
  // must be one of this library's (assertion failure otherwise).
  void WriteDocument(IXMLDocument* document, bool rawText, bool forceAnsi);
  // Writes the node and its subtree; a null node writes nothing. An element
  // with children gets a start-tag line, its children and an end-tag line;
  // its own text is not written. The node must be one of this library's
  // (assertion failure otherwise).
  void WriteNode(IXMLNode* node);
  // "<name attrs>" or "<name>"; with selfClosing "/" goes before the '>'.
  // A null node raises the assertion failure.
  std::string BuildOpenTag(IXMLNode* node, bool selfClosing);
  // "</name>". A null node raises the assertion failure.
  std::string BuildCloseTag(IXMLNode* node);
  // Four blanks per level when Indent is on and level > 0.
  void WriteIndent(int32_t level);
  // The text (converted when Utf8Output is on), then the line break. Raises
  // EStreamError when the stream does not take every byte.
  void WriteLine(const std::string& text);

  // Lines for a stream are collected up to this many bytes and then written
  // in one piece: a write per line (a system call each for a file) cost
  // more than making the line. Every public operation hands what it made to
  // the stream before it returns, and a stream that fails keeps the bytes
  // it took, the lines before the failing one whole.
  static constexpr size_t kStreamPiece = 64 * 1024;

private:
  void WriteTree(TXMLNode& root, int32_t level);
  void WriteLeaf(TXMLNode& node, int32_t level);
  void AppendOpenTag(const TXMLNode& node, bool selfClosing);
  void AppendCloseTag(const TXMLNode& node);
  // Converts the line that begins at `lineStart` in pending_ when UTF-8
  // output is on and adds the line break; sends the lines collected once
  // they fill a piece.
  void EndLine(size_t lineStart);
  // Writes the lines collected so far. They are dropped also when the write
  // fails, so that a later write does not repeat them.
  void Flush();

  TStream* stream_;
  // The lines collected for the stream, with the indentation of the next.
  std::string pending_;
  // The UTF-8 form of a line, reused from line to line.
  TXMLTextBuffer converted_;
};

// `document` as a file: raw text, UTF-8 when its encoding says so.
void SaveDocumentToStream(IXMLDocument* document, TStream* stream);
// `document` as ANSI text (never UTF-8), raw or decoded leaf text.
std::string DocumentToString(IXMLDocument* document, bool rawText);
// `node` and its subtree compactly: no declaration, indentation, line breaks
// or conversion; raw text.
void SaveNodeToStream(IXMLNode* node, TStream* stream);
