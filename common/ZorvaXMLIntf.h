#pragma once
// The interfaces of the XML library. Clients reach documents, nodes, child
// lists and attributes only through these abstract classes; every object is
// reference-counted and frees itself when its last reference goes.
//
// The order of the operations in each interface is fixed: objects and clients
// built separately agree on it, so new operations go at the end only.
// Strings are ANSI (GBK) bytes; positions in strings are 1-based.
#include "common/XMLException.h"
#include "common/ZorvaXMLUtils.h"

#include <cstdint>
#include <string>
#include <utility>

class TStream;

// A 128-bit interface identifier.
struct TGUID {
  uint32_t D1;
  uint16_t D2;
  uint16_t D3;
  uint8_t D4[8];

  friend constexpr bool operator==(const TGUID& a, const TGUID& b) {
    if (a.D1 != b.D1 || a.D2 != b.D2 || a.D3 != b.D3) return false;
    for (int i = 0; i < 8; ++i)
      if (a.D4[i] != b.D4[i]) return false;
    return true;
  }
};

// The basic reference-counting interface every interface derives from.
class IXMLInterface {
public:
  static constexpr TGUID IID{
      0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

  // When the object implements the interface `iid`, stores a counted
  // reference to it in *obj and returns true; otherwise stores nullptr and
  // returns false.
  virtual bool QueryInterface(const TGUID& iid, void** obj) noexcept = 0;
  // Both return the new count (for diagnostics only).
  virtual int32_t AddRef() noexcept = 0;
  virtual int32_t Release() noexcept = 0;

protected:
  ~IXMLInterface() = default;
};

// An owning reference to an interface: holds one count while it points at an
// object. Constructing from a raw pointer adds a count (the object may be new,
// with count 0); Adopt takes over a count the caller already holds.
template <class T> class TIntfRef {
public:
  TIntfRef() noexcept = default;
  TIntfRef(std::nullptr_t) noexcept {}
  TIntfRef(T* p) noexcept : p_(p) {
    if (p_) p_->AddRef();
  }
  TIntfRef(const TIntfRef& other) noexcept : TIntfRef(other.p_) {}
  TIntfRef(TIntfRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  template <class U>
  TIntfRef(const TIntfRef<U>& other) noexcept : TIntfRef(static_cast<T*>(other.get())) {}
  template <class U> TIntfRef(TIntfRef<U>&& other) noexcept : p_(other.Detach()) {}
  ~TIntfRef() {
    if (p_) p_->Release();
  }

  TIntfRef& operator=(TIntfRef other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }

  static TIntfRef Adopt(T* p) noexcept {
    TIntfRef r;
    r.p_ = p;
    return r;
  }
  // Gives up the reference without releasing it.
  T* Detach() noexcept { return std::exchange(p_, nullptr); }
  void Reset() noexcept { TIntfRef().Swap(*this); }
  void Swap(TIntfRef& other) noexcept { std::swap(p_, other.p_); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  // Asks the object for another of its interfaces; empty when it has none.
  template <class U> TIntfRef<U> Query() const noexcept {
    void* obj = nullptr;
    if (p_ && p_->QueryInterface(U::IID, &obj)) return TIntfRef<U>::Adopt(static_cast<U*>(obj));
    return {};
  }

  friend bool operator==(const TIntfRef& a, const TIntfRef& b) noexcept { return a.p_ == b.p_; }
  friend bool operator==(const TIntfRef& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }

private:
  T* p_ = nullptr;
};

// The kind of a node: one byte, values 0 to 3 only.
enum class TXMLNodeType : uint8_t { ntElement = 0, ntText = 1, ntCData = 2, ntComment = 3 };

// The option set of documents, nodes and attributes. Bits not named here are
// carried along and ignored.
using TXMLOptions = uint16_t;
inline constexpr TXMLOptions xoDecodeLineBreaks = 0x0002; // GetAsString decodes &#xA; &#xD;
inline constexpr TXMLOptions xoEncodeLineBreaks = 0x0004; // SetAsString writes &#xA; &#xD;
inline constexpr TXMLOptions xoSkipCDATA = 0x0010;        // the parser drops CDATA sections
inline constexpr TXMLOptions xoSkipComments = 0x0100;     // the parser drops comments
// A document keeps the comments before and after its document element and
// writes them back around it. Without it, a comment before the element
// becomes the root and one after it is an error.
inline constexpr TXMLOptions xoDocumentComments = 0x0200;

class IXMLNode;
class IXMLNodeList;
class IXMLNodeAttributes;
class IXMLNodeAttribute;
class IXMLDocument;
using IXMLNodeRef = TIntfRef<IXMLNode>;
using IXMLNodeListRef = TIntfRef<IXMLNodeList>;
using IXMLNodeAttributesRef = TIntfRef<IXMLNodeAttributes>;
using IXMLNodeAttributeRef = TIntfRef<IXMLNodeAttribute>;
using IXMLDocumentRef = TIntfRef<IXMLDocument>;

// One attribute: a name and its raw value as it stands between the quotes in
// markup (entity references not decoded).
class IXMLNodeAttribute : public IXMLInterface {
public:
  static constexpr TGUID IID{
      0xFAE28ACE, 0x04F6, 0x4395, {0x8F, 0x76, 0x6E, 0xEF, 0xE4, 0x95, 0xBD, 0xB1}};

  // True when the value is "True" in any letter case.
  virtual bool GetAsBoolean() = 0;
  virtual long double GetAsFloat() = 0;
  // The low 32 bits of GetAsInt64.
  virtual int32_t GetAsInteger() = 0;
  // The value with its entity references decoded.
  virtual std::string GetAsString() = 0;
  // Decodes the Base64 value; false when it is malformed (value then empty).
  virtual bool GetAsBinary(TXMLBinary& value) = 0;
  virtual uint32_t GetNameHash() = 0;
  virtual std::string GetName() = 0;
  virtual std::string GetValue() = 0;
  // name="value" with the raw value; nothing is escaped.
  virtual std::string GetXML() = 0;
  virtual void SetAsBoolean(bool value) = 0;
  virtual void SetAsFloat(long double value) = 0;
  virtual void SetAsInteger(int32_t value) = 0;
  // Stores the text escaped.
  virtual void SetAsString(const std::string& value) = 0;
  virtual void SetAsBinary(const TXMLBinary& value) = 0;
  // Trims bytes <= 0x20 from both ends.
  virtual void SetName(const std::string& name) = 0;
  virtual void SetValue(const std::string& value) = 0;
  // Reads one name=value text; without '=' the whole text is the name.
  virtual void SetXML(const std::string& xml) = 0;
  virtual int64_t GetAsInt64() = 0;
  virtual void SetAsInt64(int64_t value) = 0;

protected:
  ~IXMLNodeAttribute() = default;
};

// The attributes of one node, in insertion order. Names are compared ignoring
// ASCII letter case.
class IXMLNodeAttributes : public IXMLInterface {
public:
  static constexpr TGUID IID{
      0xF5755073, 0xFC55, 0x4077, {0x97, 0x29, 0xD4, 0xFA, 0x83, 0x3B, 0xDB, 0x15}};

  // The attribute of that name; a missing one is created with an empty value
  // and appended.
  virtual IXMLNodeAttributeRef Add(const std::string& name) = 0;
  // -1 when there is none; never creates anything.
  virtual int32_t IndexOf(const std::string& name) = 0;
  virtual void Clear() = 0;
  // An index outside 0..Count-1 does nothing.
  virtual void Delete(int32_t index) = 0;
  virtual int32_t GetCount() = 0;
  // Raises EXMLException "访问索引越界" for an index outside 0..Count-1.
  virtual IXMLNodeAttributeRef GetItem(int32_t index) = 0;
  // Exactly as Add: a missing attribute is created.
  virtual IXMLNodeAttributeRef GetAttribute(const std::string& name) = 0;
  // The attributes' name="value" texts joined by one blank.
  virtual std::string GetXML() = 0;
  // Replaces all attributes by those of the attribute text of a start tag;
  // raises EXMLException "XML 属性标识符号不匹配" for a value without quotes.
  virtual void SetXML(const std::string& xml) = 0;

protected:
  ~IXMLNodeAttributes() = default;
};

// One node of the tree. An element keeps its character content as its own
// raw text, not in child text nodes.
class IXMLNode : public IXMLInterface {
public:
  static constexpr TGUID IID{
      0x4C7DD0DC, 0x7E8D, 0x4479, {0x9B, 0x8D, 0x63, 0x7D, 0x09, 0x7C, 0xE2, 0x06}};

  // A new element child, appended.
  virtual IXMLNodeRef AddChild(const std::string& name) = 0;
  // A copy without parent; deep copies the children too.
  virtual IXMLNodeRef CloneNode(bool deep) = 0;
  virtual bool HasAttribute(const std::string& name) = 0;
  // Empty for the last child and for a node without parent.
  virtual IXMLNodeRef NextSibling() = 0;
  // Empty for the first child and for a node without parent.
  virtual IXMLNodeRef PreviousSibling() = 0;
  virtual bool GetAsBoolean() = 0;
  virtual long double GetAsFloat() = 0;
  virtual int32_t GetAsInteger() = 0;
  // The raw text with its entity references decoded.
  virtual std::string GetAsString() = 0;
  virtual bool GetAsBinary(TXMLBinary& value) = 0;
  // The node's own collection, not a copy.
  virtual IXMLNodeAttributesRef GetAttributes() = 0;
  // The node's own child list.
  virtual IXMLNodeListRef GetChildNodes() = 0;
  virtual bool HasChildNodes() = 0;
  // Parent links up to a node without parent; 0 for a root.
  virtual int32_t GetLevel() = 0;
  virtual std::string GetNodeName() = 0;
  virtual TXMLNodeType GetNodeType() = 0;
  // The parent, or empty. A node taken out of its parent's list keeps it as
  // long as that parent lives; once the parent is destroyed it has none.
  virtual IXMLNodeRef GetParentNode() = 0;
  // The raw text.
  virtual std::string GetText() = 0;
  // The node's own markup (an element's start tag), not its subtree.
  virtual std::string GetXML() = 0;
  virtual void SetAsBoolean(bool value) = 0;
  virtual void SetAsFloat(long double value) = 0;
  virtual void SetAsInteger(int32_t value) = 0;
  // Stores the text escaped.
  virtual void SetAsString(const std::string& value) = 0;
  virtual void SetAsBinary(const TXMLBinary& value) = 0;
  virtual void SetNodeName(const std::string& name) = 0;
  // A kind other than ntElement also renames the node ("#text", ...).
  virtual void SetNodeType(TXMLNodeType type) = 0;
  // Sets the non-owning parent link only; no list changes. Raises the
  // assertion failure when the link would make the node its own ancestor.
  virtual void SetParentNode(const IXMLNodeRef& parent) = 0;
  virtual void SetText(const std::string& text) = 0;
  // Sets name and attributes from a start tag such as <Item Name="a"/>.
  virtual void SetXML(const std::string& xml) = 0;
  // Replaces children and attributes by the markup read from the stream's
  // position to its end (no encoding conversion). A null stream raises the
  // assertion failure.
  virtual void LoadFromStream(TStream* stream) = 0;
  // Writes the subtree compactly: no declaration, indentation or line breaks.
  virtual void SaveToStream(TStream* stream) = 0;
  virtual int64_t GetAsInt64() = 0;
  virtual void SetAsInt64(int64_t value) = 0;

protected:
  ~IXMLNode() = default;
};

// The children of one node, in document order.
class IXMLNodeList : public IXMLInterface {
public:
  static constexpr TGUID IID{
      0xA97C487B, 0xF099, 0x4798, {0xA6, 0x2B, 0xD2, 0xC5, 0xBF, 0x74, 0x27, 0x11}};

  // Appends the node and makes the list's owner its parent; -1 for an empty
  // reference. Raises the assertion failure for a node that is the owner or
  // one of its ancestors, or that holds the owner anywhere below it.
  virtual int32_t Add(const IXMLNodeRef& node) = 0;
  virtual int32_t DeleteByName(const std::string& name) = 0;
  // An index outside 0..Count-1 does nothing. The node taken out keeps its
  // parent link (so do those of Remove, DeleteByName and Clear); the link is
  // cleared when that parent is destroyed.
  virtual void Delete(int32_t index) = 0;
  // The first child of that name (ASCII case ignored), or empty.
  virtual IXMLNodeRef FindNode(const std::string& name) = 0;
  virtual int32_t IndexOf(const IXMLNodeRef& node) = 0;
  virtual int32_t IndexOfName(const std::string& name) = 0;
  virtual int32_t Remove(const IXMLNodeRef& node) = 0;
  virtual void Clear() = 0;
  virtual void Insert(int32_t index, const IXMLNodeRef& node) = 0;
  virtual void Move(int32_t fromIndex, int32_t toIndex) = 0;
  virtual void Exchange(int32_t index1, int32_t index2) = 0;
  virtual int32_t GetCount() = 0;
  // Raises EXMLException "访问索引越界" for an index outside 0..Count-1.
  virtual IXMLNodeRef GetNode(int32_t index) = 0;
  virtual IXMLNodeRef GetNodeByName(const std::string& name) = 0;

protected:
  ~IXMLNodeList() = default;
};

// A node or a document as JSON text.
class IXMLJSONText : public IXMLInterface {
public:
  static constexpr TGUID IID{
      0x55F64FD4, 0x46AA, 0x458C, {0xBE, 0x28, 0x97, 0x87, 0xE4, 0x8F, 0x35, 0x2F}};

  virtual void GetJSON(std::string& text) = 0;
  virtual void SetJSON(const std::string& text) = 0;

protected:
  ~IXMLJSONText() = default;
};

// The entry object of the library: the root node, the declaration properties,
// the output switches and the options; loads and saves XML text.
class IXMLDocument : public IXMLInterface {
public:
  static constexpr TGUID IID{
      0x10774EA2, 0x0132, 0x4D59, {0xA7, 0x99, 0x9D, 0x4C, 0xA4, 0xA6, 0x96, 0x26}};

  // Raises EXMLException "XML 文档只能有一个顶层节点" when a root exists.
  virtual IXMLNodeRef AddRootNode(const std::string& name) = 0;
  // A new node with the document's options, attached nowhere.
  virtual IXMLNodeRef CreateNode(const std::string& name, TXMLNodeType type) = 0;
  virtual bool GetFormatted() = 0;
  // As GetXML, with the text of leaf nodes decoded.
  virtual std::string GetDisplayXML() = 0;
  virtual IXMLNodeRef GetDocumentElement() = 0;
  virtual std::string GetEncoding() = 0;
  virtual std::string GetFileName() = 0;
  virtual bool GetIncludeDeclaration() = 0;
  virtual TXMLOptions GetOptions() = 0;
  virtual std::string GetVersion() = 0;
  // The whole document as ANSI text, whatever the encoding property says.
  virtual std::string GetXML() = 0;
  virtual bool IsEmpty() = 0;
  // File errors propagate (the file name then stays as it was).
  virtual void LoadFromFile(const std::string& fileName) = 0;
  // Reads from the stream's position to its end; UTF-8 is converted to ANSI
  // when the declaration or the encoding property says utf-8. A null stream
  // raises the assertion failure.
  virtual void LoadFromStream(TStream* stream) = 0;
  virtual void SaveToFile(const std::string& fileName) = 0;
  virtual void SaveToStream(TStream* stream) = 0;
  virtual void SetFormatted(bool value) = 0;
  virtual void SetEncoding(const std::string& value) = 0;
  virtual void SetFileName(const std::string& value) = 0;
  virtual void SetIncludeDeclaration(bool value) = 0;
  // Used for nodes created and texts parsed afterwards.
  virtual void SetOptions(TXMLOptions value) = 0;
  virtual void SetVersion(const std::string& value) = 0;
  // Parses the text as it is: no encoding detection or conversion.
  virtual void SetXML(const std::string& xml) = 0;

protected:
  ~IXMLDocument() = default;
};

// A document loaded from and saved to JSON files and streams.
class IXMLJSONFile : public IXMLInterface {
public:
  static constexpr TGUID IID{
      0xD90716FB, 0x506C, 0x4624, {0x90, 0x73, 0xDB, 0x60, 0x70, 0x2A, 0x25, 0xE2}};

  virtual void LoadJSONFromFile(const std::string& fileName) = 0;
  virtual void LoadJSONFromStream(TStream* stream) = 0;
  virtual void SaveJSONToFile(const std::string& fileName) = 0;
  virtual void SaveJSONToStream(TStream* stream) = 0;

protected:
  ~IXMLJSONFile() = default;
};
