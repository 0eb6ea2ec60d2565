#pragma once
// The classes of the XML library: the reference-counted node tree, the parser
// entry points and the document. Clients use the interfaces of ZorvaXMLIntf.h;
// the non-virtual accessors below serve the library's own parser, writer and
// JSON code, which walk large trees and must not copy strings to do so.
//
// Where each part is implemented:
//   TXMLIntfObject, TXMLNode, TXMLNodeAttribute   XMLNodeModel.cpp
//   TXMLNodeList, TXMLNodeAttributes              XMLNodeCollections.cpp
//   XML text of nodes and documents               XMLNodeWriterOps.cpp over XMLWriter.cpp
//   JSON of nodes and documents                   XMLJsonOps.cpp over XMLJsonReader.cpp and
//                                                 XMLJsonWriter.cpp
//   ParseInto, ParseDocument                      XMLParser.cpp
//   TXMLDocument, DetectXMLEncoding               XMLDocument.cpp; loading in XMLDocumentLoad.cpp
//   code-page conversion of documents             XMLCodeConversion.cpp, XMLAnsiToUtf8.cpp
//   node memory                                   XMLBlockPool.cpp
//
// Ownership points downward only: a node owns its child list and attribute
// collection (both live inside the node object and share its count), the list
// owns the children, the collection owns the attributes. A parent link is a
// plain pointer. It is kept from dangling by two rules: a child list being
// destroyed clears the links of the children that name its owner, and a node
// being destroyed clears every other link that names it, those set with
// SetParentNode and those of nodes taken out of its list, which it keeps
// registered for that.
#include "common/XMLBlockPool.h"
#include "common/XMLCompactString.h"
#include "common/XMLPointerArray.h"
#include "common/XMLTextBuffer.h"
#include "common/ZorvaXMLIntf.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TStream;

struct TXMLDestroyQueue;

// The base of every reference-counted class of the library. The count starts
// at 0; the object destroys itself when a release brings it back to 0.
class TXMLIntfObject {
public:
  TXMLIntfObject(const TXMLIntfObject&) = delete;
  TXMLIntfObject& operator=(const TXMLIntfObject&) = delete;

  int32_t IntfAddRef() noexcept { return refCount_.fetch_add(1, std::memory_order_relaxed) + 1; }
  int32_t IntfRelease() noexcept;
  // Gives a new object, which no other code can reach yet, its first count
  // without an atomic operation; the caller owns that count. The parser
  // makes millions of objects, and a locked increment costs more than the
  // rest of making a small one.
  void TakeFirstRef() noexcept { refCount_.store(1, std::memory_order_relaxed); }

  // Drops one count; true when it was the last, and the caller must then
  // see to the object's destruction.
  bool DropRef() noexcept;

protected:
  TXMLIntfObject() noexcept = default;
  virtual ~TXMLIntfObject() = default;
  // Called once when the count has reached 0, before the object is
  // destroyed: takes out the counted references the object holds to other
  // objects of this kind, drops their counts, and appends those whose count
  // reached 0 to `dying`, which are destroyed before this object.
  virtual void ReleaseHeld(std::vector<TXMLIntfObject*>& dying) noexcept { (void)dying; }

private:
  static void Destroy(TXMLIntfObject* object) noexcept;
  // Destroys what waits in the queue, each after what it held.
  static void WorkOff(TXMLDestroyQueue& queue) noexcept;

  std::atomic<int32_t> refCount_{0};
};

// The name hash: per byte, fold A-Z to a-z, rotate the hash left by 2 bits and
// XOR the byte in.
uint32_t XMLNameHash(std::string_view name) noexcept;
// Equal length and equal bytes with ASCII letter case ignored.
bool XMLSameName(std::string_view a, std::string_view b) noexcept;
// The quote an attribute's raw value is written in: the double quote,
// unless the value holds one (it was single-quoted in the markup it came
// from) and no apostrophe.
char XMLAttributeQuote(std::string_view rawValue) noexcept;
// The name a node takes when its kind is set: "#element", "#text",
// "#cdata-section", "#comment".
const std::string& XMLNodeTypeName(TXMLNodeType type);

// An ordered array of counted references. Putting a reference in adds a
// count, taking it out releases one. Index errors raise EXMLException
// "访问索引越界".
template <class T> class TXMLList {
public:
  TXMLList() = default;
  TXMLList(const TXMLList&) = delete;
  TXMLList& operator=(const TXMLList&) = delete;
  ~TXMLList() { Clear(); }

  int32_t Add(T* item);
  // Appends an item whose count the caller holds (see TakeFirstRef) and hands
  // that count to the list; on failure the item is released.
  void AddOwned(T* item);
  void Clear() noexcept;
  // As Clear, calling `before(item)` for each item just before releasing it,
  // so that each item is visited once.
  template <class F> void ClearEach(F&& before) noexcept {
    TXMLPointerArray<T> items;
    items.swap(items_);
    for (size_t i = 0; i < items.size(); ++i) {
      // Children of a big tree lie far apart in memory.
      if (i + 2 < items.size()) __builtin_prefetch(items[i + 2], 1);
      before(items[i]);
      items[i]->Release();
    }
  }
  // An index outside 0..Count-1 does nothing.
  void Delete(int32_t index) noexcept;
  void Exchange(int32_t index1, int32_t index2);
  int32_t GetCount() const noexcept { return static_cast<int32_t>(items_.size()); }
  T* GetItem(int32_t index) const;
  // Position of that very object, -1 when absent.
  int32_t IndexOf(const T* item) const noexcept;
  void Insert(int32_t index, T* item);
  void Move(int32_t fromIndex, int32_t toIndex);

  // Takes the entry out without releasing it: the caller receives the count.
  T* Extract(int32_t index);
  // Exchanges the entries with `other` without counting: taking them out
  // hands their counts to the caller.
  void SwapItems(TXMLPointerArray<T>& other) noexcept { items_.swap(other); }
  // Room for `count` entries in all, when the caller knows how many come.
  void Reserve(size_t count) { items_.reserve(count); }
  const TXMLPointerArray<T>& Items() const noexcept { return items_; }

private:
  void CheckIndex(int32_t index, int32_t limit) const;
  TXMLPointerArray<T> items_;
};

class TXMLNode;

// An attribute counts its own references instead of deriving from
// TXMLIntfObject: with one table pointer less, and its hash computed when asked
// rather than stored, it takes 80 bytes instead of 96, and a document holds
// millions of them. Its destruction releases nothing, so it needs no share in
// the deferred destruction of nodes.
class TXMLNodeAttribute final : public IXMLNodeAttribute {
public:
  // The name is stored as given; the value starts empty.
  TXMLNodeAttribute(std::string_view name, TXMLOptions options) : options_(options), name_(name) {}
  TXMLNodeAttribute(const TXMLNodeAttribute&) = delete;
  TXMLNodeAttribute& operator=(const TXMLNodeAttribute&) = delete;
  ZORVA_XML_POOLED

  bool QueryInterface(const TGUID& iid, void** obj) noexcept override;
  int32_t AddRef() noexcept override {
    return refCount_.fetch_add(1, std::memory_order_relaxed) + 1;
  }
  int32_t Release() noexcept override;
  // As TXMLIntfObject::TakeFirstRef.
  void TakeFirstRef() noexcept { refCount_.store(1, std::memory_order_relaxed); }

  bool GetAsBoolean() override;
  long double GetAsFloat() override;
  int32_t GetAsInteger() override;
  std::string GetAsString() override;
  bool GetAsBinary(TXMLBinary& value) override;
  uint32_t GetNameHash() override { return XMLNameHash(name_); }
  std::string GetName() override { return std::string(Name()); }
  std::string GetValue() override { return std::string(Value()); }
  std::string GetXML() override;
  void SetAsBoolean(bool value) override;
  void SetAsFloat(long double value) override;
  void SetAsInteger(int32_t value) override;
  void SetAsString(const std::string& value) override;
  void SetAsBinary(const TXMLBinary& value) override;
  void SetName(const std::string& name) override;
  void SetValue(const std::string& value) override { value_.assign(value); }
  void SetXML(const std::string& xml) override;
  int64_t GetAsInt64() override;
  void SetAsInt64(int64_t value) override;

  std::string_view Name() const noexcept { return name_; }
  std::string_view Value() const noexcept { return value_; }
  void AssignValue(std::string_view value) { value_.assign(value); }
  void AppendXML(std::string& out) const;

private:
  ~TXMLNodeAttribute() = default;

  std::atomic<int32_t> refCount_{0};
  TXMLOptions options_;
  TXMLString name_;
  TXMLString value_;
};

// The attribute collection of one node. It lives inside the node and shares
// the node's count: a reference to it keeps the node alive.
class TXMLNodeAttributes final : public IXMLNodeAttributes {
public:
  // New attributes take the owner's options.
  explicit TXMLNodeAttributes(TXMLNode& owner) : owner_(owner) {}

  bool QueryInterface(const TGUID& iid, void** obj) noexcept override;
  int32_t AddRef() noexcept override;
  int32_t Release() noexcept override;

  IXMLNodeAttributeRef Add(const std::string& name) override;
  int32_t IndexOf(const std::string& name) override { return Find(name); }
  void Clear() override { items_.Clear(); }
  void Delete(int32_t index) override { items_.Delete(index); }
  int32_t GetCount() override { return items_.GetCount(); }
  IXMLNodeAttributeRef GetItem(int32_t index) override;
  IXMLNodeAttributeRef GetAttribute(const std::string& name) override { return Add(name); }
  std::string GetXML() override;
  void SetXML(const std::string& xml) override { ParseAttributeText(xml); }

  int32_t Find(std::string_view name) const noexcept;
  TXMLNodeAttribute& FindOrAdd(std::string_view name);
  // A new attribute of that name with an empty value, appended without
  // looking for one of the same name.
  TXMLNodeAttribute& Append(std::string_view name);
  // An empty name is ignored; otherwise the attribute is found or created and
  // its raw value replaced.
  void SetAttributeValue(std::string_view name, std::string_view value);
  // Replaces all attributes by those of the text; on an error the attributes
  // read before it stay.
  void ParseAttributeText(std::string_view text);
  // Appends a copy of every attribute of `source` (names and raw values as
  // they are).
  void CopyFrom(const TXMLNodeAttributes& source);
  void AppendXML(std::string& out) const;
  const TXMLPointerArray<TXMLNodeAttribute>& Items() const noexcept { return items_.Items(); }

private:
  TXMLOptions Options() const noexcept;

  TXMLNode& owner_;
  TXMLList<TXMLNodeAttribute> items_;
};

// The child list of one node. It lives inside its owner and shares the
// owner's count.
class TXMLNodeList final : public IXMLNodeList {
public:
  explicit TXMLNodeList(TXMLNode& owner) : owner_(owner) {}
  ~TXMLNodeList();

  bool QueryInterface(const TGUID& iid, void** obj) noexcept override;
  int32_t AddRef() noexcept override;
  int32_t Release() noexcept override;

  int32_t Add(const IXMLNodeRef& node) override;
  int32_t DeleteByName(const std::string& name) override;
  void Delete(int32_t index) override;
  IXMLNodeRef FindNode(const std::string& name) override;
  int32_t IndexOf(const IXMLNodeRef& node) override;
  int32_t IndexOfName(const std::string& name) override;
  int32_t Remove(const IXMLNodeRef& node) override;
  void Clear() override;
  void Insert(int32_t index, const IXMLNodeRef& node) override;
  void Move(int32_t fromIndex, int32_t toIndex) override;
  void Exchange(int32_t index1, int32_t index2) override;
  int32_t GetCount() override { return items_.GetCount(); }
  IXMLNodeRef GetNode(int32_t index) override;
  IXMLNodeRef GetNodeByName(const std::string& name) override { return FindNode(name); }

  // Takes every child out, clearing the links that name the owner, and
  // drops one count of each; appends those whose count reached 0 to `dying`.
  void ReleaseAll(std::vector<TXMLIntfObject*>& dying) noexcept;
  // Appends a node of this library and makes the owner its parent.
  void Append(TXMLNode* node);
  // The same for a node whose count the caller holds and hands over.
  void AppendOwned(TXMLNode* node);
  // Index of that very node, -1 when absent. Constant time while the list is
  // unchanged since it last numbered its children.
  int32_t IndexOfNode(const TXMLNode* node) const;
  int32_t Count() const noexcept { return items_.GetCount(); }
  TXMLNode* At(int32_t index) const noexcept { return items_.Items()[index]; }
  const TXMLPointerArray<TXMLNode>& Items() const noexcept { return items_.Items(); }

private:
  void Renumber() const;
  // Clears the parent link of a node when it names the owner; for the list's
  // own destruction.
  void Detached(TXMLNode* node) noexcept;

  // True while every child's index hint matches its place in this list;
  // kept in the owner, where it fills a gap.
  bool Numbered() const noexcept;
  void SetNumbered(bool value) const noexcept;

  TXMLNode& owner_;
  TXMLList<TXMLNode> items_;
};

class TXMLNode final : public TXMLIntfObject, public IXMLNode, public IXMLJSONText {
public:
  // A node without parent, name or text.
  TXMLNode(TXMLNodeType type, TXMLOptions options);
  ~TXMLNode() override;
  ZORVA_XML_POOLED

  bool QueryInterface(const TGUID& iid, void** obj) noexcept override;
  int32_t AddRef() noexcept override { return IntfAddRef(); }
  int32_t Release() noexcept override { return IntfRelease(); }

  IXMLNodeRef AddChild(const std::string& name) override;
  IXMLNodeRef CloneNode(bool deep) override;
  bool HasAttribute(const std::string& name) override { return attributes_.Find(name) != -1; }
  IXMLNodeRef NextSibling() override;
  IXMLNodeRef PreviousSibling() override;
  bool GetAsBoolean() override;
  long double GetAsFloat() override;
  int32_t GetAsInteger() override;
  std::string GetAsString() override;
  bool GetAsBinary(TXMLBinary& value) override;
  IXMLNodeAttributesRef GetAttributes() override { return &attributes_; }
  IXMLNodeListRef GetChildNodes() override { return &children_; }
  bool HasChildNodes() override { return children_.Count() != 0; }
  int32_t GetLevel() override;
  std::string GetNodeName() override { return std::string(Name()); }
  TXMLNodeType GetNodeType() override { return type_; }
  IXMLNodeRef GetParentNode() override { return parent_; }
  std::string GetText() override { return std::string(Text()); }
  std::string GetXML() override;
  void SetAsBoolean(bool value) override;
  void SetAsFloat(long double value) override;
  void SetAsInteger(int32_t value) override;
  void SetAsString(const std::string& value) override;
  void SetAsBinary(const TXMLBinary& value) override;
  void SetNodeName(const std::string& name) override { name_.assign(name); }
  void SetNodeType(TXMLNodeType type) override;
  void SetParentNode(const IXMLNodeRef& parent) override;
  void SetText(const std::string& text) override { text_.assign(text); }
  void SetXML(const std::string& xml) override { SetStartTag(xml); }
  void LoadFromStream(TStream* stream) override;
  void SaveToStream(TStream* stream) override;
  int64_t GetAsInt64() override;
  void SetAsInt64(int64_t value) override;

  void GetJSON(std::string& text) override;
  void SetJSON(const std::string& text) override;

  // The node behind an interface of this library; null for any other object.
  static TXMLNode* FromIntf(IXMLNode* node) noexcept;

  std::string_view Name() const noexcept { return name_; }
  std::string_view Text() const noexcept { return text_; }
  TXMLNodeType Type() const noexcept { return type_; }
  TXMLOptions Options() const noexcept { return options_; }
  TXMLNode* Parent() const noexcept { return parent_; }
  TXMLNodeList& Children() noexcept { return children_; }
  const TXMLNodeList& Children() const noexcept { return children_; }
  TXMLNodeAttributes& Attributes() noexcept { return attributes_; }
  const TXMLNodeAttributes& Attributes() const noexcept { return attributes_; }
  void AssignName(std::string_view name) { name_.assign(name); }
  void AssignText(std::string_view text) { text_.assign(text); }
  // Name and attributes from a start tag; see the node model source.
  void SetStartTag(std::string_view tag);
  // Sets the parent link; null clears it.
  void LinkParent(TXMLNode* parent);
  // True when `node` is this node or one of its ancestors.
  bool IsSelfOrAncestor(const TXMLNode* node) const noexcept;
  // The node's own markup appended to `out`.
  void AppendXML(std::string& out) const;

protected:
  void ReleaseHeld(std::vector<TXMLIntfObject*>& dying) noexcept override {
    children_.ReleaseAll(dying);
  }

private:
  friend class TXMLNodeList;
  void UnlinkParent() noexcept;
  // Registers the parent link in the parent's `outsideLinks_` unless it is
  // there already: the parent's list no longer backs it.
  void KeepLinkOutsideList();
  // The link of a node that its new parent's list holds: no registration
  // and, for the parser's sake, no walk up the ancestors.
  void AttachTo(TXMLNode* parent) noexcept {
    UnlinkParent();
    parent_ = parent;
  }

  TXMLNode* parent_;
  TXMLNodeType type_;
  TXMLOptions options_;
  // A parent link that is not backed by the parent's list (set directly with
  // SetParentNode) is registered in the parent's `outsideLinks_`, at this
  // index, so that the parent can clear it when it is destroyed; -1 otherwise.
  int32_t outsideIndex_ = -1;
  // Where this node stood in its parent's list when the list last numbered
  // its children; only a hint, always checked before use.
  mutable int32_t indexHint_ = -1;
  // The child list's own flag (see TXMLNodeList).
  mutable bool childrenNumbered_ = true;
  TXMLNodeAttributes attributes_;
  TXMLNodeList children_;
  TXMLString name_;
  TXMLString text_;
  std::vector<TXMLNode*>* outsideLinks_ = nullptr;
};

class TXMLDocument;

// All bytes from the stream's position to its end.
std::string ReadStreamRest(TStream& stream);

// Parses `text` into `node` with `options`: the first start tag gives the
// node its name and attributes, the content goes below it. Nodes built before
// an error stay. Parse errors raise EXMLException with the byte position.
void ParseInto(std::string_view text, TXMLNode& node, TXMLOptions options);
// Parses a whole document from the 1-based position `start` and, on success,
// gives the document its root, version and encoding from the text. A null
// document raises the assertion failure.
void ParseDocument(std::string_view text, TXMLDocument* document, int32_t start);

// A text handed to the parser piece by piece, so that a document converted
// while it is read never exists as a whole.
class TXMLTextFeed {
public:
  virtual ~TXMLTextFeed() = default;
  // Appends the next piece to `text`; false when the text has ended.
  virtual bool Next(TXMLTextBuffer& text) = 0;
};

// As ParseDocument of the whole text that `feed` gives. Positions in error
// messages count from the start of that whole text.
void ParseDocument(TXMLTextFeed& feed, TXMLDocument* document, int32_t start);

// Where the encoding detection of a document text ended.
struct TXMLEncodingInfo {
  bool found = false;
  bool byteOrderMark = false;
  std::string encoding;
};
TXMLEncodingInfo DetectXMLEncoding(std::string_view bytes);
// The same for the first bytes of a text whose rest has not been read yet:
// empty when more bytes could change the result. With `complete` (the
// bytes are the whole text) the result is that of DetectXMLEncoding.
std::optional<TXMLEncodingInfo> DetectXMLEncodingPrefix(std::string_view bytes, bool complete);

class TXMLDocument final : public TXMLIntfObject,
                           public IXMLDocument,
                           public IXMLJSONText,
                           public IXMLJSONFile {
public:
  TXMLDocument() = default;

  bool QueryInterface(const TGUID& iid, void** obj) noexcept override;
  int32_t AddRef() noexcept override { return IntfAddRef(); }
  int32_t Release() noexcept override { return IntfRelease(); }

  IXMLNodeRef AddRootNode(const std::string& name) override;
  IXMLNodeRef CreateNode(const std::string& name, TXMLNodeType type) override;
  bool GetFormatted() override { return formatted_; }
  std::string GetDisplayXML() override;
  IXMLNodeRef GetDocumentElement() override { return root_; }
  std::string GetEncoding() override { return encoding_; }
  std::string GetFileName() override { return fileName_; }
  bool GetIncludeDeclaration() override { return includeDeclaration_; }
  TXMLOptions GetOptions() override { return options_; }
  std::string GetVersion() override { return version_; }
  std::string GetXML() override;
  bool IsEmpty() override { return !root_; }
  void LoadFromFile(const std::string& fileName) override;
  void LoadFromStream(TStream* stream) override;
  void SaveToFile(const std::string& fileName) override;
  void SaveToStream(TStream* stream) override;
  void SetFormatted(bool value) override { formatted_ = value; }
  void SetEncoding(const std::string& value) override { encoding_ = value; }
  void SetFileName(const std::string& value) override { fileName_ = value; }
  void SetIncludeDeclaration(bool value) override { includeDeclaration_ = value; }
  void SetOptions(TXMLOptions value) override { options_ = value; }
  void SetVersion(const std::string& value) override { version_ = value; }
  void SetXML(const std::string& xml) override { ParseText(xml, 1); }

  void GetJSON(std::string& text) override;
  void SetJSON(const std::string& text) override;

  void LoadJSONFromFile(const std::string& fileName) override;
  void LoadJSONFromStream(TStream* stream) override;
  void SaveJSONToFile(const std::string& fileName) override;
  void SaveJSONToStream(TStream* stream) override;

  // Replaces the tree by the parse of `text` from the 1-based position
  // `start`; version and encoding come from its declaration.
  void ParseText(std::string_view text, int32_t start);
  // <?xml version="1.0" encoding="utf-8"?> from the version and encoding.
  std::string BuildDeclaration() const;

  TXMLNode* Root() const noexcept {
    return root_.get() ? TXMLNode::FromIntf(root_.get()) : nullptr;
  }
  void SetRoot(IXMLNodeRef root) noexcept { root_ = std::move(root); }

  // The comments before and after the document element, raw, as parsed
  // with xoDocumentComments; the writer puts them back around it.
  const std::vector<std::string>& CommentsBefore() const noexcept { return before_; }
  const std::vector<std::string>& CommentsAfter() const noexcept { return after_; }
  void SetOuterComments(std::vector<std::string> before, std::vector<std::string> after) noexcept {
    before_ = std::move(before);
    after_ = std::move(after);
  }

private:
  IXMLNodeRef root_;
  std::vector<std::string> before_;
  std::vector<std::string> after_;
  bool formatted_ = true;
  bool includeDeclaration_ = true;
  std::string encoding_ = "utf-8";
  std::string fileName_;
  std::string version_ = "1.0";
  TXMLOptions options_ = 0;
};
