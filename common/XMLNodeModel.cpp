// Nodes and attributes of the XML tree: reference counting, names and their
// hash, typed values, start-tag scanning, parent links, siblings and cloning.
#include "common/XMLMessages.h"
#include "common/ZorvaXMLDoc.h"
#include "platform/Assert.h"
#include "platform/Stream.h"

#include <algorithm>
#include <array>
#include <utility>

// --- Reference counting -------------------------------------------------------

namespace {

// Releasing a root releases its children, theirs, and so on. Done by
// recursion, a hostile document nested a million levels deep would overflow
// the stack; so an object whose count drops to 0 while another is being
// destroyed on the same thread waits in a queue that the outermost release
// works off.
//
// The queue destroys a tree in the reverse of document order: the children
// of a dying node, last first and each with its own subtree, go before the
// node itself. The block pool hands out freed blocks last in, first out, so
// the next document parsed gets its blocks back in document order, in the
// order of their addresses; in any other order a tree that replaced an
// earlier one lies scattered, and writing it out waits on memory at every
// node (2.4 times as long for the deep benchmark document).
struct TDying {
  TXMLIntfObject* object;
  bool released; // its own references already dropped
};

} // namespace

struct TXMLDestroyQueue {
  std::vector<TDying> pending;
  std::vector<TXMLIntfObject*> held;
};

namespace {

// The queue of the outermost release under way on this thread. It lives on
// that release's stack: a queue with a destructor in thread storage would be
// gone before the statics of the program that still release nodes.
thread_local constinit TXMLDestroyQueue* activeQueue = nullptr;

} // namespace

bool TXMLIntfObject::DropRef() noexcept {
  // A count of 1 is the caller's own: no other thread holds a reference that
  // could change it, so the last release needs no locked decrement. Most
  // objects of a tree die this way, held by their parent's list alone.
  if (refCount_.load(std::memory_order_acquire) == 1) {
    refCount_.store(0, std::memory_order_relaxed);
    return true;
  }
  return refCount_.fetch_sub(1, std::memory_order_acq_rel) == 1;
}

int32_t TXMLIntfObject::IntfRelease() noexcept {
  if (refCount_.load(std::memory_order_acquire) == 1) {
    refCount_.store(0, std::memory_order_relaxed);
  } else {
    const int32_t count = refCount_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (count != 0) return count;
  }
  Destroy(this);
  return 0;
}

void TXMLIntfObject::Destroy(TXMLIntfObject* object) noexcept {
  if (TXMLDestroyQueue* queue = activeQueue) {
    queue->pending.push_back({object, false});
    return;
  }
  TXMLDestroyQueue queue;
  activeQueue = &queue;
  // A node without children that die with it goes at once: no queue is
  // filled for it.
  object->ReleaseHeld(queue.held);
  if (queue.held.empty()) {
    delete object;
  } else {
    queue.pending.push_back({object, true});
    for (TXMLIntfObject* dying : queue.held)
      queue.pending.push_back({dying, false});
    queue.held.clear();
  }
  WorkOff(queue);
  activeQueue = nullptr;
}

void TXMLIntfObject::WorkOff(TXMLDestroyQueue& queue) noexcept {
  while (!queue.pending.empty()) {
    TDying& top = queue.pending.back();
    TXMLIntfObject* next = top.object;
    if (top.released) {
      queue.pending.pop_back();
      delete next;
      continue;
    }
    top.released = true;
    next->ReleaseHeld(queue.held);
    for (TXMLIntfObject* dying : queue.held)
      queue.pending.push_back({dying, false});
    queue.held.clear();
  }
}

// --- Names --------------------------------------------------------------------

uint32_t XMLNameHash(std::string_view name) noexcept {
  uint32_t hash = 0;
  for (char c : name) {
    auto b = static_cast<uint8_t>(c);
    if (b >= 'A' && b <= 'Z') b += 32;
    hash = ((hash << 2) | (hash >> 30)) ^ b;
  }
  return hash;
}

char XMLAttributeQuote(std::string_view rawValue) noexcept {
  if (rawValue.find('"') == std::string_view::npos) return '"';
  return rawValue.find('\'') == std::string_view::npos ? '\'' : '"';
}

bool XMLSameName(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto x = static_cast<uint8_t>(a[i]);
    auto y = static_cast<uint8_t>(b[i]);
    if (x == y) continue;
    if (x >= 'a' && x <= 'z') x -= 32;
    if (y >= 'a' && y <= 'z') y -= 32;
    if (x != y) return false;
  }
  return true;
}

const std::string& XMLNodeTypeName(TXMLNodeType type) {
  static const std::array<std::string, 4> names{"#element", "#text", "#cdata-section", "#comment"};
  return names[static_cast<size_t>(type) & 3];
}

// --- Attributes ---------------------------------------------------------------

int32_t TXMLNodeAttribute::Release() noexcept {
  // The same shortcut as TXMLIntfObject::IntfRelease.
  if (refCount_.load(std::memory_order_acquire) == 1) {
    delete this;
    return 0;
  }
  const int32_t count = refCount_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (count == 0) delete this;
  return count;
}

bool TXMLNodeAttribute::QueryInterface(const TGUID& iid, void** obj) noexcept {
  if (iid == IXMLNodeAttribute::IID || iid == IXMLInterface::IID) {
    *obj = static_cast<IXMLNodeAttribute*>(this);
    AddRef();
    return true;
  }
  *obj = nullptr;
  return false;
}

bool TXMLNodeAttribute::GetAsBoolean() {
  return XmlTextToBool(value_);
}
long double TXMLNodeAttribute::GetAsFloat() {
  return XmlTextToFloat(value_);
}
int32_t TXMLNodeAttribute::GetAsInteger() {
  return static_cast<int32_t>(GetAsInt64());
}
int64_t TXMLNodeAttribute::GetAsInt64() {
  return XmlTextToInt64(value_);
}
std::string TXMLNodeAttribute::GetAsString() {
  return UnescapeXmlText(value_, (options_ & xoDecodeLineBreaks) != 0);
}
bool TXMLNodeAttribute::GetAsBinary(TXMLBinary& value) {
  return Base64TextToBytes(value_, value);
}

std::string TXMLNodeAttribute::GetXML() {
  std::string out;
  AppendXML(out);
  return out;
}

void TXMLNodeAttribute::AppendXML(std::string& out) const {
  out.reserve(out.size() + name_.size() + value_.size() + 3);
  const char quote = XMLAttributeQuote(value_);
  out += name_;
  out += '=';
  out += quote;
  out += value_;
  out += quote;
}

void TXMLNodeAttribute::SetAsBoolean(bool value) {
  value_ = BoolToXmlText(value);
}
void TXMLNodeAttribute::SetAsFloat(long double value) {
  value_ = FloatToXmlText(value);
}
void TXMLNodeAttribute::SetAsInteger(int32_t value) {
  value_ = Int64ToXmlText(value);
}
void TXMLNodeAttribute::SetAsInt64(int64_t value) {
  value_ = Int64ToXmlText(value);
}
void TXMLNodeAttribute::SetAsString(const std::string& value) {
  value_ = EscapeXmlText(value, (options_ & xoEncodeLineBreaks) != 0);
}
void TXMLNodeAttribute::SetAsBinary(const TXMLBinary& value) {
  std::string text;
  BytesToBase64Text(value, text);
  value_.assign(text);
}

namespace {

bool IsBlankOrControl(char c) {
  return static_cast<uint8_t>(c) <= 0x20;
}

} // namespace

void TXMLNodeAttribute::SetName(const std::string& name) {
  std::string_view v = name;
  while (!v.empty() && IsBlankOrControl(v.front()))
    v.remove_prefix(1);
  while (!v.empty() && IsBlankOrControl(v.back()))
    v.remove_suffix(1);
  name_.assign(v);
}

void TXMLNodeAttribute::SetXML(const std::string& xml) {
  std::string_view text = xml;
  // The first '=' outside quotes ends the name, which is kept as it stands.
  size_t equals = std::string_view::npos;
  size_t doubleQuotes = 0, singleQuotes = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"')
      ++doubleQuotes;
    else if (c == '\'')
      ++singleQuotes;
    else if (c == '=' && doubleQuotes % 2 == 0 && singleQuotes % 2 == 0) {
      equals = i;
      break;
    }
  }
  if (equals == std::string_view::npos) {
    name_.assign(text);
    value_.clear();
  } else {
    name_.assign(text.substr(0, equals));
    // Blanks and one double quote come off each end of the value; single
    // quotes stay.
    std::string_view value = text.substr(equals + 1);
    while (!value.empty() && IsBlankOrControl(value.front()))
      value.remove_prefix(1);
    if (!value.empty() && value.front() == '"') value.remove_prefix(1);
    while (!value.empty() && IsBlankOrControl(value.back()))
      value.remove_suffix(1);
    if (!value.empty() && value.back() == '"') value.remove_suffix(1);
    value_.assign(value);
  }
}

// --- Nodes --------------------------------------------------------------------

TXMLNode::TXMLNode(TXMLNodeType type, TXMLOptions options)
    : parent_(nullptr), type_(type), options_(options), attributes_(*this), children_(*this) {}

TXMLNode::~TXMLNode() {
  UnlinkParent();
  if (outsideLinks_) {
    for (TXMLNode* node : *outsideLinks_) {
      node->parent_ = nullptr;
      node->outsideIndex_ = -1;
    }
    delete outsideLinks_;
  }
  // The child list clears its children's links to this node as it goes.
}

bool TXMLNode::QueryInterface(const TGUID& iid, void** obj) noexcept {
  if (iid == IXMLNode::IID || iid == IXMLInterface::IID) {
    *obj = static_cast<IXMLNode*>(this);
  } else if (iid == IXMLJSONText::IID) {
    *obj = static_cast<IXMLJSONText*>(this);
  } else {
    *obj = nullptr;
    return false;
  }
  AddRef();
  return true;
}

TXMLNode* TXMLNode::FromIntf(IXMLNode* node) noexcept {
  return dynamic_cast<TXMLNode*>(node);
}

IXMLNodeRef TXMLNode::AddChild(const std::string& name) {
  IXMLNodeRef ref(new TXMLNode(TXMLNodeType::ntElement, options_));
  auto* child = static_cast<TXMLNode*>(ref.get());
  child->name_ = name;
  children_.Append(child);
  return ref;
}

IXMLNodeRef TXMLNode::CloneNode(bool deep) {
  auto copyOf = [](const TXMLNode& source) {
    auto* copy = new TXMLNode(source.type_, source.options_);
    copy->name_ = source.name_;
    copy->text_ = source.text_;
    copy->attributes_.CopyFrom(source.attributes_);
    return copy;
  };
  IXMLNodeRef result(copyOf(*this));
  if (!deep) return result;
  // Depth-first with an explicit stack: documents may nest deeper than the
  // call stack allows.
  std::vector<std::pair<const TXMLNode*, TXMLNode*>> work{
      {this, static_cast<TXMLNode*>(result.get())}};
  while (!work.empty()) {
    auto [source, target] = work.back();
    work.pop_back();
    for (const TXMLNode* child : source->children_.Items()) {
      TXMLNode* copy = copyOf(*child);
      target->children_.Append(copy);
      if (child->children_.Count() != 0) work.emplace_back(child, copy);
    }
  }
  return result;
}

IXMLNodeRef TXMLNode::NextSibling() {
  if (!parent_) return {};
  const TXMLNodeList& list = parent_->children_;
  const int32_t k = list.IndexOfNode(this);
  if (k < 0 || k >= list.Count() - 1) return {};
  return list.At(k + 1);
}

IXMLNodeRef TXMLNode::PreviousSibling() {
  if (!parent_) return {};
  const TXMLNodeList& list = parent_->children_;
  const int32_t k = list.IndexOfNode(this);
  if (k <= 0) return {};
  return list.At(k - 1);
}

bool TXMLNode::GetAsBoolean() {
  return XmlTextToBool(text_);
}
long double TXMLNode::GetAsFloat() {
  return XmlTextToFloat(text_);
}
int32_t TXMLNode::GetAsInteger() {
  return static_cast<int32_t>(GetAsInt64());
}
int64_t TXMLNode::GetAsInt64() {
  return XmlTextToInt64(text_);
}
std::string TXMLNode::GetAsString() {
  return UnescapeXmlText(text_, (options_ & xoDecodeLineBreaks) != 0);
}
bool TXMLNode::GetAsBinary(TXMLBinary& value) {
  return Base64TextToBytes(text_, value);
}
void TXMLNode::SetAsBoolean(bool value) {
  text_ = BoolToXmlText(value);
}
void TXMLNode::SetAsFloat(long double value) {
  text_ = FloatToXmlText(value);
}
void TXMLNode::SetAsInteger(int32_t value) {
  text_ = Int64ToXmlText(value);
}
void TXMLNode::SetAsInt64(int64_t value) {
  text_ = Int64ToXmlText(value);
}
void TXMLNode::SetAsString(const std::string& value) {
  text_ = EscapeXmlText(value, (options_ & xoEncodeLineBreaks) != 0);
}
void TXMLNode::SetAsBinary(const TXMLBinary& value) {
  std::string text;
  BytesToBase64Text(value, text);
  text_.assign(text);
}

int32_t TXMLNode::GetLevel() {
  int32_t level = 0;
  for (const TXMLNode* node = parent_; node; node = node->parent_)
    ++level;
  return level;
}

std::string TXMLNode::GetXML() {
  std::string out;
  AppendXML(out);
  return out;
}

void TXMLNode::AppendXML(std::string& out) const {
  switch (type_) {
  case TXMLNodeType::ntText:
    out += text_;
    return;
  case TXMLNodeType::ntCData:
    out += "<![CDATA[";
    out += text_;
    out += "]]>";
    return;
  case TXMLNodeType::ntComment:
    out += "<!--";
    out += text_;
    out += "-->";
    return;
  case TXMLNodeType::ntElement:
    break;
  }
  out += '<';
  out += name_;
  if (!attributes_.Items().empty()) {
    out += ' ';
    attributes_.AppendXML(out);
  }
  out += '>';
}

void TXMLNode::SetNodeType(TXMLNodeType type) {
  if (type == type_) return;
  type_ = type;
  if (type != TXMLNodeType::ntElement) name_ = XMLNodeTypeName(type);
}

void TXMLNode::SetParentNode(const IXMLNodeRef& parent) {
  TXMLNode* node = nullptr;
  if (parent) {
    node = FromIntf(parent.get());
    ZORVA_ASSERT(node != nullptr);
  }
  LinkParent(node);
}

bool TXMLNode::IsSelfOrAncestor(const TXMLNode* node) const noexcept {
  for (const TXMLNode* n = this; n; n = n->parent_)
    if (n == node) return true;
  return false;
}

void TXMLNode::UnlinkParent() noexcept {
  if (outsideIndex_ >= 0) {
    // Swap with the last entry: constant time however many nodes link here.
    auto& links = *parent_->outsideLinks_;
    TXMLNode* last = links.back();
    links[outsideIndex_] = last;
    last->outsideIndex_ = outsideIndex_;
    links.pop_back();
    outsideIndex_ = -1;
  }
  parent_ = nullptr;
}

void TXMLNode::LinkParent(TXMLNode* parent) {
  if (parent == parent_) return;
  // A parent chain through this node itself would make GetLevel loop forever.
  if (parent) ZORVA_ASSERT(!parent->IsSelfOrAncestor(this));
  if (parent && parent->children_.IndexOfNode(this) == -1) {
    if (!parent->outsideLinks_) parent->outsideLinks_ = new std::vector<TXMLNode*>;
    parent->outsideLinks_->push_back(this);
    UnlinkParent();
    outsideIndex_ = static_cast<int32_t>(parent->outsideLinks_->size() - 1);
  } else {
    UnlinkParent();
  }
  parent_ = parent;
}

void TXMLNode::KeepLinkOutsideList() {
  if (!parent_ || outsideIndex_ >= 0) return;
  if (!parent_->outsideLinks_) parent_->outsideLinks_ = new std::vector<TXMLNode*>;
  parent_->outsideLinks_->push_back(this);
  outsideIndex_ = static_cast<int32_t>(parent_->outsideLinks_->size() - 1);
}

// --- Start tags ---------------------------------------------------------------

namespace {

// First 1-based position from `start` (forward or backward) whose byte is not
// `ch`; `start` itself when there is none. Both scans are inline: the parser
// reads every start tag with them, and their first byte nearly always ends
// the scan.
[[gnu::always_inline]] inline size_t SkipChar(std::string_view text, char ch, size_t start,
                                              bool backward) {
  ZORVA_ASSERT(start >= 1);
  ZORVA_ASSERT(start <= text.size());
  if (backward) {
    for (size_t i = start; i >= 1; --i)
      if (text[i - 1] != ch) return i;
  } else {
    for (size_t i = start; i <= text.size(); ++i)
      if (text[i - 1] != ch) return i;
  }
  return start;
}

// First 1-based position from `start` forward whose byte is `ch`; `start`
// itself when there is none.
[[gnu::always_inline]] inline size_t FindChar(std::string_view text, char ch, size_t start) {
  ZORVA_ASSERT(start >= 1);
  ZORVA_ASSERT(start <= text.size());
  // A name is a few bytes: a plain loop beats a library search.
  for (size_t i = start; i <= text.size(); ++i)
    if (text[i - 1] == ch) return i;
  return start;
}

} // namespace

// Reads <Item Name="a">, <Item/>, or Item Name="a". Only the blank separates
// the name from the attributes; the angle brackets are optional.
void TXMLNode::SetStartTag(std::string_view tag) {
  const auto at = [&](size_t pos) { return tag[pos - 1]; };
  const size_t i = SkipChar(tag, ' ', 1, false);
  size_t j = SkipChar(tag, ' ', tag.size(), true);
  if (at(j) == '>') --j;
  const size_t from = SkipChar(tag, ' ', at(i) == '<' ? i + 1 : i, false);
  // j is 0 when the tag is only '>': then no name is left.
  ZORVA_ASSERT(j >= 1);
  const size_t last = SkipChar(tag, ' ', at(j) == '/' ? j - 1 : j, true);
  const size_t blank = FindChar(tag, ' ', from);
  if (from < blank && blank < last) {
    name_.assign(tag.substr(from - 1, blank - from));
    attributes_.ParseAttributeText(tag.substr(blank, last - blank));
  } else {
    name_.assign(last >= from ? tag.substr(from - 1, last - from + 1) : std::string_view());
    attributes_.Clear();
  }
}

void TXMLNode::LoadFromStream(TStream* stream) {
  ZORVA_ASSERT(stream != nullptr);
  children_.Clear();
  attributes_.Clear();
  ParseInto(ReadStreamRest(*stream), *this, options_);
}
