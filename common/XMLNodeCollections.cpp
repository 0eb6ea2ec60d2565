// The containers of the XML tree: the counted list both use, the attribute
// collection with the attribute-text reader, and the child list.
//
// NextSibling and PreviousSibling ask the parent's list for the node's index.
// A linear search there would make a walk over n siblings cost n squared, so
// each node keeps a hint of its index. Appending keeps the hints right; any
// other change marks the list unnumbered, and the next lookup that misses
// numbers all children again in one pass. The hint is always checked against
// the list before it is trusted, so a node that sits in two lists is still
// found, by a plain search.
#include "common/XMLMessages.h"
#include "common/ZorvaXMLDoc.h"
#include "platform/Assert.h"

#include <algorithm>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// --- The counted list -----------------------------------------------------------

template <class T> void TXMLList<T>::CheckIndex(int32_t index, int32_t limit) const {
  if (index < 0 || index > limit) throw EXMLException(xmltext::kIndexOutOfRange);
}

// Most nodes have a handful of children and attributes: room for four at the
// first insertion saves the reallocations of growing from one.
constexpr size_t kFirstCapacity = 4;

template <class T> int32_t TXMLList<T>::Add(T* item) {
  if (items_.capacity() == 0) items_.reserve(kFirstCapacity);
  items_.push_back(item);
  item->AddRef();
  return GetCount() - 1;
}

template <class T> void TXMLList<T>::AddOwned(T* item) {
  struct TGuard {
    T* item;
    ~TGuard() {
      if (item) item->Release();
    }
  } guard{item};
  if (items_.capacity() == 0) items_.reserve(kFirstCapacity);
  items_.push_back(item);
  guard.item = nullptr;
}

template <class T> void TXMLList<T>::Clear() noexcept {
  TXMLPointerArray<T> items;
  items.swap(items_);
  for (T* item : items)
    item->Release();
}

template <class T> void TXMLList<T>::Delete(int32_t index) noexcept {
  if (index < 0 || index >= GetCount()) return;
  T* item = items_[index];
  items_.erase(index);
  item->Release();
}

template <class T> void TXMLList<T>::Exchange(int32_t index1, int32_t index2) {
  CheckIndex(index1, GetCount() - 1);
  CheckIndex(index2, GetCount() - 1);
  std::swap(items_[index1], items_[index2]);
}

template <class T> T* TXMLList<T>::GetItem(int32_t index) const {
  CheckIndex(index, GetCount() - 1);
  return items_[index];
}

template <class T> int32_t TXMLList<T>::IndexOf(const T* item) const noexcept {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i] == item) return static_cast<int32_t>(i);
  return -1;
}

template <class T> void TXMLList<T>::Insert(int32_t index, T* item) {
  CheckIndex(index, GetCount());
  items_.insert(index, item);
  item->AddRef();
}

template <class T> void TXMLList<T>::Move(int32_t fromIndex, int32_t toIndex) {
  CheckIndex(fromIndex, GetCount() - 1);
  CheckIndex(toIndex, GetCount() - 1);
  if (fromIndex == toIndex) return;
  T* item = items_[fromIndex];
  items_.erase(fromIndex);
  items_.insert(toIndex, item);
}

template <class T> T* TXMLList<T>::Extract(int32_t index) {
  CheckIndex(index, GetCount() - 1);
  T* item = items_[index];
  items_.erase(index);
  return item;
}

template class TXMLList<TXMLNodeAttribute>;
template class TXMLList<TXMLNode>;

// --- Attributes -----------------------------------------------------------------

bool TXMLNodeAttributes::QueryInterface(const TGUID& iid, void** obj) noexcept {
  if (iid == IXMLNodeAttributes::IID || iid == IXMLInterface::IID) {
    *obj = static_cast<IXMLNodeAttributes*>(this);
    AddRef();
    return true;
  }
  *obj = nullptr;
  return false;
}

int32_t TXMLNodeAttributes::AddRef() noexcept {
  return owner_.IntfAddRef();
}
int32_t TXMLNodeAttributes::Release() noexcept {
  return owner_.IntfRelease();
}
TXMLOptions TXMLNodeAttributes::Options() const noexcept {
  return owner_.Options();
}

int32_t TXMLNodeAttributes::Find(std::string_view name) const noexcept {
  const auto& items = items_.Items();
  for (size_t i = 0; i < items.size(); ++i)
    if (XMLSameName(items[i]->Name(), name)) return static_cast<int32_t>(i);
  return -1;
}

TXMLNodeAttribute& TXMLNodeAttributes::FindOrAdd(std::string_view name) {
  const int32_t index = Find(name);
  if (index != -1) return *items_.Items()[index];
  auto* attribute = new TXMLNodeAttribute(name, Options());
  attribute->TakeFirstRef();
  items_.AddOwned(attribute);
  return *attribute;
}

IXMLNodeAttributeRef TXMLNodeAttributes::Add(const std::string& name) {
  return &FindOrAdd(name);
}

IXMLNodeAttributeRef TXMLNodeAttributes::GetItem(int32_t index) {
  return items_.GetItem(index);
}

std::string TXMLNodeAttributes::GetXML() {
  std::string out;
  AppendXML(out);
  return out;
}

void TXMLNodeAttributes::AppendXML(std::string& out) const {
  bool first = true;
  for (const TXMLNodeAttribute* attribute : items_.Items()) {
    if (!first) out += ' ';
    first = false;
    attribute->AppendXML(out);
  }
}

void TXMLNodeAttributes::SetAttributeValue(std::string_view name, std::string_view value) {
  if (name.empty()) return;
  FindOrAdd(name).AssignValue(value);
}

void TXMLNodeAttributes::CopyFrom(const TXMLNodeAttributes& source) {
  for (const TXMLNodeAttribute* attribute : source.items_.Items()) {
    auto* copy = new TXMLNodeAttribute(attribute->Name(), Options());
    copy->AssignValue(attribute->Value());
    items_.Add(copy);
  }
}

namespace {

// 0-based position of the first `ch` at or after `from` while the counts of
// double and of single quotes seen since `from` are both even; npos if none.
size_t FindOutsideQuotes(char ch, std::string_view text, size_t from) {
  bool insideDouble = false, insideSingle = false;
  for (size_t i = from; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"')
      insideDouble = !insideDouble;
    else if (c == '\'')
      insideSingle = !insideSingle;
    else if (c == ch && !insideDouble && !insideSingle)
      return i;
  }
  return std::string_view::npos;
}

// The bytes from..to (0-based, inclusive) without bytes below 0x21 at
// either end.
std::string_view TrimmedCopy(std::string_view text, size_t from, size_t to) {
  size_t end = to + 1;
  while (from < end && static_cast<uint8_t>(text[from]) < 0x21)
    ++from;
  while (end > from && static_cast<uint8_t>(text[end - 1]) < 0x21)
    --end;
  return text.substr(from, end - from);
}

[[noreturn]] void RaiseQuotesError() {
  throw EXMLException(xmltext::kAttributeQuotes);
}

// Above this many attributes in one text, names are looked up by hash in a
// map instead of by a scan, so that a hostile tag with a hundred thousand
// attributes does not take quadratic time.
constexpr size_t kLinearLookupLimit = 32;

} // namespace

// Reads Name="abc" Version='12' ... . A value may be quoted either way, the
// other quote being an ordinary character inside it; bytes between '=' and the
// opening quote are skipped. A name met again keeps its place and spelling and
// takes the later value. The loop runs while the position is below the last
// byte, so one stray byte after the last value is ignored while two are read as
// the start of another attribute and rejected.
void TXMLNodeAttributes::ParseAttributeText(std::string_view text) {
  Clear();
  // Each attribute has its '=': room for that many, up to a bound, spares
  // most tags both a second allocation and unused room.
  const auto equalSigns = static_cast<size_t>(std::count(text.begin(), text.end(), '='));
  items_.Reserve(std::min(equalSigns, kLinearLookupLimit));
  // Made only for a tag with many attributes: even an empty map costs
  // something to make and destroy, and most tags have a handful.
  std::unique_ptr<std::unordered_multimap<uint32_t, TXMLNodeAttribute*>> byHash;
  size_t from = 0;
  while (from + 1 < text.size()) {
    const size_t equals = FindOutsideQuotes('=', text, from);
    if (equals == std::string_view::npos) RaiseQuotesError();
    const std::string_view name = equals > from ? TrimmedCopy(text, from, equals - 1) : "";
    // The gap before the opening quote is a byte or two: a plain loop beats
    // the library's search for one of two bytes.
    size_t open = equals + 1;
    while (open < text.size() && text[open] != '"' && text[open] != '\'')
      ++open;
    if (open == text.size()) RaiseQuotesError();
    const size_t close = text.find(text[open], open + 1);
    if (close == std::string_view::npos) RaiseQuotesError();
    const std::string_view value = text.substr(open + 1, close - open - 1);
    from = close + 1;
    if (name.empty()) continue;

    if (items_.GetCount() < static_cast<int32_t>(kLinearLookupLimit)) {
      SetAttributeValue(name, value);
      continue;
    }
    if (!byHash) {
      byHash = std::make_unique<std::unordered_multimap<uint32_t, TXMLNodeAttribute*>>();
      for (TXMLNodeAttribute* attribute : items_.Items())
        byHash->emplace(XMLNameHash(attribute->Name()), attribute);
    }
    const uint32_t hash = XMLNameHash(name);
    TXMLNodeAttribute* found = nullptr;
    for (auto [it, end] = byHash->equal_range(hash); it != end && !found; ++it)
      if (XMLSameName(it->second->Name(), name)) found = it->second;
    if (!found) {
      found = new TXMLNodeAttribute(name, Options());
      items_.Add(found);
      byHash->emplace(hash, found);
    }
    found->AssignValue(value);
  }
}

// --- Child lists ----------------------------------------------------------------

TXMLNodeList::~TXMLNodeList() {
  items_.ClearEach([this](TXMLNode* node) { Detached(node); });
}

bool TXMLNodeList::QueryInterface(const TGUID& iid, void** obj) noexcept {
  if (iid == IXMLNodeList::IID || iid == IXMLInterface::IID) {
    *obj = static_cast<IXMLNodeList*>(this);
    AddRef();
    return true;
  }
  *obj = nullptr;
  return false;
}

int32_t TXMLNodeList::AddRef() noexcept {
  return owner_.IntfAddRef();
}
int32_t TXMLNodeList::Release() noexcept {
  return owner_.IntfRelease();
}

bool TXMLNodeList::Numbered() const noexcept {
  return owner_.childrenNumbered_;
}
void TXMLNodeList::SetNumbered(bool value) const noexcept {
  owner_.childrenNumbered_ = value;
}

void TXMLNodeList::Detached(TXMLNode* node) noexcept {
  if (node->parent_ == &owner_) node->UnlinkParent();
}

namespace {

// The node of this library behind `node`; raises the assertion failure for
// any other implementation of the interface.
TXMLNode* OwnNode(const IXMLNodeRef& node) {
  TXMLNode* result = TXMLNode::FromIntf(node.get());
  ZORVA_ASSERT(result != nullptr);
  return result;
}

} // namespace

void TXMLNodeList::Append(TXMLNode* node) {
  items_.Add(node);
  node->indexHint_ = items_.GetCount() - 1;
  node->AttachTo(&owner_);
}

void TXMLNodeList::AppendOwned(TXMLNode* node) {
  items_.AddOwned(node);
  node->indexHint_ = items_.GetCount() - 1;
  node->AttachTo(&owner_);
}

namespace {

// True when `node` may go into the list of `owner`. It may not when the owner
// is the node or one of its ancestors (the parent links would run in a
// circle), nor when the node's lists hold the owner anywhere below it: the
// two would hold each other and never be freed. The parent links alone do not
// show the second case, since a node may sit in two lists; so the subtree is
// walked, but only for a node with children, never for the parser's fresh
// nodes.
bool MayHold(const TXMLNode& owner, const TXMLNode* node) {
  if (owner.IsSelfOrAncestor(node)) return false;
  if (node->Children().Count() == 0) return true;
  // A node in two lists is reached twice: each subtree is walked once.
  std::unordered_set<const TXMLNode*> seen{node};
  std::vector<const TXMLNode*> pending{node};
  while (!pending.empty()) {
    const TXMLNode* next = pending.back();
    pending.pop_back();
    for (const TXMLNode* child : next->Children().Items()) {
      if (child == &owner) return false;
      if (child->Children().Count() != 0 && seen.insert(child).second) pending.push_back(child);
    }
  }
  return true;
}

} // namespace

int32_t TXMLNodeList::Add(const IXMLNodeRef& node) {
  if (!node) return -1;
  TXMLNode* own = OwnNode(node);
  ZORVA_ASSERT(MayHold(owner_, own));
  Append(own);
  return items_.GetCount() - 1;
}

void TXMLNodeList::Insert(int32_t index, const IXMLNodeRef& node) {
  if (!node) return;
  TXMLNode* own = OwnNode(node);
  ZORVA_ASSERT(MayHold(owner_, own));
  items_.Insert(index, own);
  SetNumbered(false);
  own->AttachTo(&owner_);
}

void TXMLNodeList::Renumber() const {
  const auto& items = items_.Items();
  for (size_t i = 0; i < items.size(); ++i)
    items[i]->indexHint_ = static_cast<int32_t>(i);
  SetNumbered(true);
}

int32_t TXMLNodeList::IndexOfNode(const TXMLNode* node) const {
  const auto& items = items_.Items();
  const auto fits = [&] {
    const int32_t hint = node->indexHint_;
    return hint >= 0 && hint < static_cast<int32_t>(items.size()) && items[hint] == node;
  };
  if (fits()) return node->indexHint_;
  if (!Numbered()) {
    Renumber();
    if (fits()) return node->indexHint_;
  }
  return items_.IndexOf(node);
}

int32_t TXMLNodeList::IndexOf(const IXMLNodeRef& node) {
  const TXMLNode* own = TXMLNode::FromIntf(node.get());
  return own ? IndexOfNode(own) : -1;
}

void TXMLNodeList::Delete(int32_t index) {
  if (index < 0 || index >= items_.GetCount()) return;
  TXMLNode* node = items_.Items()[index];
  // The node keeps its link to the owner, which from now on clears it as it
  // clears a link set with SetParentNode. Registered first: that is the step
  // that may fail.
  if (node->parent_ == &owner_) node->KeepLinkOutsideList();
  items_.Extract(index);
  SetNumbered(false);
  node->Release();
}

int32_t TXMLNodeList::IndexOfName(const std::string& name) {
  const auto& items = items_.Items();
  for (size_t i = 0; i < items.size(); ++i)
    if (XMLSameName(items[i]->Name(), name)) return static_cast<int32_t>(i);
  return -1;
}

IXMLNodeRef TXMLNodeList::FindNode(const std::string& name) {
  const int32_t index = IndexOfName(name);
  if (index == -1) return {};
  return items_.Items()[index];
}

int32_t TXMLNodeList::DeleteByName(const std::string& name) {
  const int32_t index = IndexOfName(name);
  if (index != -1) Delete(index);
  return index;
}

int32_t TXMLNodeList::Remove(const IXMLNodeRef& node) {
  const int32_t index = IndexOf(node);
  if (index != -1) Delete(index);
  return index;
}

void TXMLNodeList::Clear() {
  for (int32_t i = items_.GetCount() - 1; i >= 0; --i)
    Delete(i);
  SetNumbered(true);
}

void TXMLNodeList::Move(int32_t fromIndex, int32_t toIndex) {
  items_.Move(fromIndex, toIndex);
  SetNumbered(false);
}

void TXMLNodeList::Exchange(int32_t index1, int32_t index2) {
  items_.Exchange(index1, index2);
  SetNumbered(false);
}

IXMLNodeRef TXMLNodeList::GetNode(int32_t index) {
  return items_.GetItem(index);
}
