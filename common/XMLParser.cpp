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

#include <cstring>
#include <memory>

namespace {

class TXMLParser {
public:
  TXMLParser(std::string_view text, TXMLOptions options, TXMLNode* root)
      : root_(root), text_(text), options_(options) {}

  void SetStart(int32_t start) { start_ = start < 1 ? 1 : static_cast<size_t>(start); }
  void Parse();

  const IXMLNodeRef& Root() const { return root_; }
  const std::string& Encoding() const { return encoding_; }
  const std::string& Version() const { return version_; }

private:
  [[noreturn]] void RaiseParseError(const std::string& message) const {
    throw EXMLException(xmltext::WithPosition(message, static_cast<long long>(pos_ + 1)));
  }
  size_t Find(char ch, size_t from) const {
    const void* hit = std::memchr(text_.data() + from, ch, text_.size() - from);
    return hit ? static_cast<const char*>(hit) - text_.data() : std::string_view::npos;
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
  size_t pos_ = 0; // 0-based; messages report it 1-based
  size_t start_ = 1;
  std::string encoding_ = "utf-8";
  std::string version_ = "1.0";
  TXMLOptions options_;
};

void TXMLParser::Parse() {
  if (text_.empty()) return;
  pos_ = start_ - 1;
  while (pos_ < text_.size()) {
    if (text_[pos_] != '<') {
      size_t end = Find('<', pos_);
      if (end == std::string_view::npos) end = text_.size();
      if (current_) current_->AssignText(text_.substr(pos_, end - pos_));
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
  const std::string_view markup = text_.substr(pos_, length);
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
    if (text_[gt - 1] == twice && text_[gt - 2] == twice) return gt - 2;
    const size_t end = text_.find(closing, searchFrom);
    if (end == std::string_view::npos) RaiseParseError(xmltext::kMarkupUnmatched);
    return end;
  };
  if (length >= 7 && text_[p + 2] == '-' && text_[p + 3] == '-') {
    const size_t end = endOf("-->", '-', p + 4);
    if (!(options_ & xoSkipComments))
      AddContentNode(text_.substr(p + 4, end - (p + 4)), TXMLNodeType::ntComment);
    pos_ = end + 3;
  } else if (length >= 12 && text_.substr(p + 2, 7) == "[CDATA[") {
    const size_t end = endOf("]]>", ']', p + 9);
    if (!(options_ & xoSkipCDATA))
      AddContentNode(text_.substr(p + 9, end - (p + 9)), TXMLNodeType::ntCData);
    pos_ = end + 3;
  } else {
    pos_ = gt + 1;
  }
}

// Closing the element the parse started on ends the content that belongs to
// it: the parse never climbs above its root into a tree it was not given.
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

void ParseDocument(std::string_view text, TXMLDocument* document, int32_t start) {
  ZORVA_ASSERT(document != nullptr);
  TXMLParser parser(text, document->GetOptions(), nullptr);
  parser.SetStart(start);
  parser.Parse();
  document->SetRoot(parser.Root());
  document->SetVersion(parser.Version());
  document->SetEncoding(parser.Encoding());
}
