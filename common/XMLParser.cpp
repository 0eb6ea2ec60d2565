// The XML parser: one forward pass that builds the tree while it scans.
//
// It is forgiving by design. Markup is recognised by the byte after '<';
// element text and attribute values are stored exactly as they stand (entity
// references are decoded only when a value is read as a string); end-tag names
// are not compared; text outside elements is dropped; unclosed elements at the
// end are kept. An element's character content is its own text, and a later
// run replaces an earlier one, so an element with children keeps only the run
// after its last child.
//
// The scan works on views into the text: a start tag is read in place, and a
// value is copied once, into the node or attribute that keeps it.
#include "common/XMLMessages.h"
#include "common/ZorvaXMLDoc.h"
#include "platform/Assert.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

class TXMLParser {
public:
  // Parses `text`, all of it at hand.
  TXMLParser(std::string_view text, TXMLOptions options, TXMLNode* root)
      : root_(root), text_(text), options_(options) {}
  // Parses the text that `feed` hands over piece by piece.
  TXMLParser(TXMLTextFeed& feed, TXMLOptions options, TXMLNode* root)
      : root_(root), feed_(&feed), options_(options) {}

  void SetStart(int32_t start) { start_ = start < 1 ? 1 : static_cast<size_t>(start); }
  // Comments outside the document element are collected instead of being
  // attached (xoDocumentComments of a document).
  void KeepOuterComments() { keepOuter_ = true; }
  std::vector<std::string>& CommentsBefore() { return before_; }
  std::vector<std::string>& CommentsAfter() { return after_; }
  void Parse();

  const IXMLNodeRef& Root() const { return root_; }
  const std::string& Encoding() const { return encoding_; }
  const std::string& Version() const { return version_; }

private:
  // Positions count from the start of the whole text. The bytes at hand are
  // those from base_ to End(); with a feed, text before the markup or run
  // being read (pos_) may already be gone.
  size_t End() const { return base_ + text_.size(); }
  char At(size_t p) const { return text_[p - base_]; }
  std::string_view View(size_t from, size_t to) const {
    return text_.substr(from - base_, to - from);
  }
  // Takes the next piece of a fed text; false at its end.
  bool More();
  // The first `ch` at or after `from`; npos when the text has none.
  size_t Find(char ch, size_t from);
  // The first occurrence of `pattern` at or after `from`; npos when none.
  size_t Find(std::string_view pattern, size_t from);

  [[noreturn]] void RaiseParseError(const std::string& message) const {
    throw EXMLException(xmltext::WithPosition(message, static_cast<long long>(pos_ + 1)));
  }
  void ParseMarkup();
  void ParseBang(size_t gt);
  void CloseElement();
  void OpenElement(std::string_view tag);
  void AddContentNode(std::string_view content, TXMLNodeType type);
  // A new node, counted once by the reference returned.
  TIntfRef<TXMLNode> NewNode(TXMLNodeType type) const;
  void Attach(TIntfRef<TXMLNode>&& node);
  void ProcessDeclaration(std::string_view markup);

  IXMLNodeRef root_;
  // The element content goes to. It always lies in the tree under root_,
  // which keeps it alive.
  TXMLNode* current_ = nullptr;
  std::string_view text_;
  size_t base_ = 0;
  TXMLTextFeed* feed_ = nullptr;
  TXMLTextBuffer window_; // what text_ shows of a fed text
  size_t pos_ = 0;        // 0-based; messages report it 1-based
  size_t start_ = 1;
  std::string encoding_ = "utf-8";
  std::string version_ = "1.0";
  TXMLOptions options_;
  bool keepOuter_ = false;
  std::vector<std::string> before_;
  std::vector<std::string> after_;
};

// The bytes before pos_ are dropped once they are half of what is held, so
// that a long markup or run read in small pieces is not moved again for
// every piece.
bool TXMLParser::More() {
  if (!feed_) return false;
  const size_t done = pos_ < End() ? pos_ - base_ : text_.size();
  if (done > 0 && done >= window_.size() / 2) {
    window_.EraseFront(done);
    base_ += done;
  }
  const size_t had = window_.size();
  while (window_.size() == had)
    if (!feed_->Next(window_)) break;
  text_ = window_.view();
  return window_.size() != had;
}

size_t TXMLParser::Find(char ch, size_t from) {
  for (;;) {
    if (from < End()) {
      const size_t at = from - base_;
      const void* hit = std::memchr(text_.data() + at, ch, text_.size() - at);
      if (hit) return base_ + static_cast<size_t>(static_cast<const char*>(hit) - text_.data());
      from = End();
    }
    if (!More()) return std::string_view::npos;
  }
}

size_t TXMLParser::Find(std::string_view pattern, size_t from) {
  for (;;) {
    if (from < End()) {
      const size_t at = text_.find(pattern, from - base_);
      if (at != std::string_view::npos) return base_ + at;
      // A match may begin in the last bytes and end in the next piece.
      from = std::max(from, End() - std::min(End(), pattern.size() - 1));
    }
    if (!More()) return std::string_view::npos;
  }
}

void TXMLParser::Parse() {
  pos_ = start_ - 1;
  for (;;) {
    if (pos_ >= End()) {
      if (!More()) return;
      continue;
    }
    if (At(pos_) != '<') {
      size_t end = Find('<', pos_);
      if (end == std::string_view::npos) end = End();
      if (current_) current_->AssignText(View(pos_, end));
      pos_ = end;
      continue;
    }
    ParseMarkup();
  }
}

void TXMLParser::ParseMarkup() {
  const size_t gt = Find('>', pos_ + 1);
  if (gt == std::string_view::npos) RaiseParseError(xmltext::kMarkupUnmatched);
  const size_t length = gt - pos_ + 1;
  if (length <= 2) RaiseParseError(xmltext::kEmptyMarkup);
  const std::string_view markup = View(pos_, gt + 1);
  switch (markup[1]) {
  case '/':
    CloseElement();
    break;
  case '?':
    ProcessDeclaration(markup);
    break;
  case '!':
    ParseBang(gt);
    return;
  default:
    OpenElement(markup);
    if (markup[length - 2] == '/') CloseElement();
    break;
  }
  pos_ = gt + 1;
}

// Comments and CDATA sections may hold '>', so their ends are searched for
// separately. Shorter or other "<!" markup (a document type) is skipped up to
// its first '>'.
void TXMLParser::ParseBang(size_t gt) {
  const size_t p = pos_;
  const size_t length = gt - p + 1;
  const auto endOf = [&](std::string_view closing, char twice, size_t searchFrom) {
    if (At(gt - 1) == twice && At(gt - 2) == twice) return gt - 2;
    const size_t end = Find(closing, searchFrom);
    if (end == std::string_view::npos) RaiseParseError(xmltext::kMarkupUnmatched);
    return end;
  };
  if (length >= 7 && At(p + 2) == '-' && At(p + 3) == '-') {
    const size_t end = endOf("-->", '-', p + 4);
    if (!(options_ & xoSkipComments)) AddContentNode(View(p + 4, end), TXMLNodeType::ntComment);
    pos_ = end + 3;
  } else if (length >= 12 && View(p + 2, p + 9) == "[CDATA[") {
    const size_t end = endOf("]]>", ']', p + 9);
    if (!(options_ & xoSkipCDATA)) AddContentNode(View(p + 9, end), TXMLNodeType::ntCData);
    pos_ = end + 3;
  } else {
    pos_ = gt + 1;
  }
}

void TXMLParser::CloseElement() {
  if (!current_) RaiseParseError(xmltext::kMarkupUnmatched);
  current_ = current_ == root_.get() ? nullptr : current_->Parent();
}

// A start tag with no element open reuses an existing root: that is how a
// parse into a given node fills that node, and why a second top-level element
// of a document merges into the first.
void TXMLParser::OpenElement(std::string_view tag) {
  if (!current_ && root_) {
    auto* root = static_cast<TXMLNode*>(root_.get());
    root->SetStartTag(tag);
    current_ = root;
    return;
  }
  TIntfRef<TXMLNode> ref = NewNode(TXMLNodeType::ntElement);
  TXMLNode* node = ref.get();
  node->SetStartTag(tag);
  Attach(std::move(ref));
  current_ = node;
}

void TXMLParser::AddContentNode(std::string_view content, TXMLNodeType type) {
  if (!current_ && keepOuter_ && type == TXMLNodeType::ntComment) {
    (root_ ? after_ : before_).emplace_back(content);
    return;
  }
  if (!current_ && root_) RaiseParseError(xmltext::kIllegalContent);
  TIntfRef<TXMLNode> ref = NewNode(type);
  ref->AssignName(XMLNodeTypeName(type));
  ref->AssignText(content);
  Attach(std::move(ref));
}

TIntfRef<TXMLNode> TXMLParser::NewNode(TXMLNodeType type) const {
  auto* node = new TXMLNode(type, options_);
  node->TakeFirstRef();
  return TIntfRef<TXMLNode>::Adopt(node);
}

// The node goes below the current element, or becomes the root.
void TXMLParser::Attach(TIntfRef<TXMLNode>&& node) {
  if (current_)
    current_->Children().AppendOwned(node.Detach());
  else
    root_ = std::move(node);
}

// <?xml version="1.0" encoding="utf-8"?> is read as the start tag
// <xml version="1.0" encoding="utf-8"> for its encoding and version.
void TXMLParser::ProcessDeclaration(std::string_view markup) {
  std::string tag(markup);
  tag.erase(1, 1);
  tag.erase(tag.size() - 2, 1);
  IXMLNodeRef ref(new TXMLNode(TXMLNodeType::ntElement, options_));
  auto* node = static_cast<TXMLNode*>(ref.get());
  node->SetStartTag(tag);
  auto& attributes = node->Attributes();
  if (const int32_t i = attributes.Find("encoding"); i != -1)
    encoding_ = attributes.Items()[i]->GetAsString();
  if (const int32_t i = attributes.Find("version"); i != -1)
    version_ = attributes.Items()[i]->GetAsString();
}

} // namespace

void ParseInto(std::string_view text, TXMLNode& node, TXMLOptions options) {
  TXMLParser parser(text, options, &node);
  parser.Parse();
}

namespace {

void ParseDocument(TXMLParser& parser, TXMLDocument* document, int32_t start) {
  parser.SetStart(start);
  if (document->GetOptions() & xoDocumentComments) parser.KeepOuterComments();
  parser.Parse();
  document->SetRoot(parser.Root());
  document->SetOuterComments(std::move(parser.CommentsBefore()), std::move(parser.CommentsAfter()));
  document->SetVersion(parser.Version());
  document->SetEncoding(parser.Encoding());
}

} // namespace

void ParseDocument(std::string_view text, TXMLDocument* document, int32_t start) {
  ZORVA_ASSERT(document != nullptr);
  TXMLParser parser(text, document->GetOptions(), nullptr);
  ParseDocument(parser, document, start);
}

void ParseDocument(TXMLTextFeed& feed, TXMLDocument* document, int32_t start) {
  ZORVA_ASSERT(document != nullptr);
  TXMLParser parser(feed, document->GetOptions(), nullptr);
  ParseDocument(parser, document, start);
}
