// The JSON reader. Positions are 1-based as in the scanning rules it follows;
// At() gives '\0' outside the text, so a rule that looks one byte past the
// end sees a byte that matches nothing instead of reading out of bounds.
#include "common/XMLJson.h"

#include "common/ZorvaXMLDoc.h"
#include "common/ZorvaXMLUtils.h"
#include "platform/Assert.h"
#include "platform/CodePage.h"

#include <algorithm>
#include <cstring>

namespace {

const platform::AnsiText kBadJson{"错误的JSON格式"};

bool IsBlank(char c) {
  return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool EqualsIgnoringCase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != lower[i]) return false;
  }
  return true;
}

// A number as the boolean conversion accepts it: optional sign, digits with
// an optional fraction (at least one digit in all), optional exponent with
// its own optional sign and at least one digit.
bool IsFloatText(std::string_view s) {
  const char separator = GetXmlDecimalSeparator();
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = 0;
  while (i < s.size() && IsDigit(s[i]))
    ++i, ++digits;
  if (i < s.size() && (s[i] == '.' || s[i] == separator)) {
    ++i;
    while (i < s.size() && IsDigit(s[i]))
      ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t expDigits = 0;
    while (i < s.size() && IsDigit(s[i]))
      ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  return i == s.size();
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20)
    s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20)
    s.remove_suffix(1);
  return s;
}

[[noreturn]] void FormatError() {
  throw Exception(kBadJson);
}

} // namespace

std::string CheckJsonValue(std::string_view value) {
  if (value.empty()) FormatError();
  if (value.front() == '"') {
    if (value.size() < 2 || value.back() != '"') FormatError();
    return std::string(value.substr(1, value.size() - 2));
  }
  bool digitsAndDots = true;
  for (char c : value)
    if (!IsDigit(c) && c != '.') digitsAndDots = false;
  if (digitsAndDots) return std::string(value);
  if (EqualsIgnoringCase(value, "true") || EqualsIgnoringCase(value, "false") || IsFloatText(value))
    return std::string(value);
  throw EConvertError("'" + std::string(value) + "' is not a valid boolean value");
}

TJSONParser::TJSONParser(const std::string& text, const IXMLNodeRef& root)
    : text_(text), root_(root), current_(root) {
  ZORVA_ASSERT(root);
}

size_t TJSONParser::Find(char c, size_t from) const {
  if (from < 1) from = 1;
  if (from > text_.size()) return 0;
  const size_t at = text_.find(c, from - 1);
  return at == std::string::npos ? 0 : at + 1;
}

size_t TJSONParser::FindBefore(char c, size_t from, size_t limit) const {
  if (from < 1) from = 1;
  if (limit > text_.size() + 1) limit = text_.size() + 1;
  if (from >= limit) return 0;
  const void* at = std::memchr(text_.data() + from - 1, c, limit - from);
  return at ? static_cast<size_t>(static_cast<const char*>(at) - text_.data()) + 1 : 0;
}

// The last byte of the text is never skipped.
void TJSONParser::SkipBlanks(size_t& p) const {
  while (p < text_.size() && IsBlank(At(p)))
    ++p;
}

void TJSONParser::SkipBlanksAndComma() {
  SkipBlanks(pos_);
  if (At(pos_) == ',') {
    ++pos_;
    SkipBlanks(pos_);
  }
}

// Bytes from..end-1, trimmed.
std::string TJSONParser::Slice(size_t from, size_t end) const {
  if (from < 1 || end <= from) return {};
  const size_t last = std::min(end - 1, text_.size());
  if (from > last) return {};
  return std::string(Trim(std::string_view(text_).substr(from - 1, last - from + 1)));
}

void TJSONParser::EnterChild(const std::string& name) {
  if (depth_ >= kMaxJsonDepth) FormatError();
  current_ = current_->AddChild(name);
  ++depth_;
}

void TJSONParser::LeaveChild() {
  current_ = current_->GetParentNode();
  --depth_;
}

namespace {

// Up to this many attributes a node's own scan finds a name; beyond it the
// reader keeps an index, or an object of n members would cost n squared.
constexpr int32_t kLinearLookupLimit = 32;

// FNV-1a over the name with A-Z folded to a-z, for the index. The name hash
// of the node model keeps only the last sixteen bytes of a name and lets
// digits collide (member12 and member21 share one), which an index of
// numbered members would pay for at every lookup.
uint32_t FoldedHash(std::string_view name) {
  uint64_t hash = 0xCBF29CE484222325ULL;
  for (char c : name) {
    auto b = static_cast<uint8_t>(c);
    if (b >= 'A' && b <= 'Z') b += 32;
    hash = (hash ^ b) * 0x100000001B3ULL;
  }
  return static_cast<uint32_t>(hash ^ (hash >> 32));
}

} // namespace

// Kept at most three quarters full; doubled when it would be fuller.
void TJSONParser::TAttributeIndex::Insert(uint32_t hash, size_t position) {
  if ((used + 1) * 4 > slots.size() * 3) {
    std::vector<uint64_t> old(std::max<size_t>(64, slots.size() * 2), 0);
    old.swap(slots);
    used = 0;
    for (uint64_t slot : old)
      if (slot != 0) Insert(static_cast<uint32_t>(slot >> 32), (slot & 0xFFFFFFFFu) - 1);
  }
  const size_t mask = slots.size() - 1;
  size_t i = hash & mask;
  while (slots[i] != 0)
    i = (i + 1) & mask;
  slots[i] = static_cast<uint64_t>(hash) << 32 | (position + 1);
  ++used;
}

void TJSONParser::SetMember(const std::string& name, const std::string& value) {
  TXMLNode* node = TXMLNode::FromIntf(current_.get());
  if (!node) {
    current_->GetAttributes()->GetAttribute(name)->SetAsString(value);
    return;
  }
  FindOrAppend(*node, name)->SetAsString(value);
}

IXMLNodeAttribute* TJSONParser::FindOrAppend(TXMLNode& node, const std::string& name) {
  TXMLNodeAttributes& attributes = node.Attributes();
  const auto& items = attributes.Items();
  if (items.size() < static_cast<size_t>(kLinearLookupLimit)) return &attributes.FindOrAdd(name);
  if (indexes_.size() <= static_cast<size_t>(depth_)) indexes_.resize(depth_ + 1);
  TAttributeIndex& index = indexes_[depth_];
  if (index.node != &node || index.slots.empty()) {
    index = TAttributeIndex();
    index.node = &node;
    for (size_t i = 0; i < items.size(); ++i)
      index.Insert(FoldedHash(items[i]->Name()), i);
  }
  const uint32_t hash = FoldedHash(name);
  // The first attribute of that name, as a scan would find it.
  size_t first = items.size();
  const size_t mask = index.slots.size() - 1;
  for (size_t i = hash & mask; index.slots[i] != 0; i = (i + 1) & mask) {
    const uint64_t slot = index.slots[i];
    const size_t position = (slot & 0xFFFFFFFFu) - 1;
    if (slot >> 32 == hash && position < first && XMLSameName(items[position]->Name(), name))
      first = position;
  }
  if (first < items.size()) return items[first];
  TXMLNodeAttribute& added = attributes.Append(name);
  index.Insert(hash, items.size() - 1);
  return &added;
}

void TJSONParser::ReadObject() {
  const size_t length = text_.size();
  if (length == 0 || At(pos_) != '{') return;
  if (At(pos_ + 1) == '}') {
    ++pos_;
    return;
  }
  while (pos_ < length) {
    if (At(pos_) == '}') return;
    ++pos_;
    SkipBlanks(pos_);
    size_t nameEnd = pos_;
    if (At(pos_) == '"') {
      nameEnd = Find('"', pos_ + 1);
      if (nameEnd == 0) FormatError();
    }
    const size_t colon = Find(':', nameEnd + 1);
    if (colon == 0 || colon >= length || At(pos_) == '}') {
      ++pos_;
      return;
    }
    std::string name = Slice(pos_, colon);
    name = name.size() >= 2 ? name.substr(1, name.size() - 2) : std::string();

    size_t i = colon + 1;
    SkipBlanks(i);
    if (At(i) == '{') {
      pos_ = i;
      EnterChild(name);
      ReadObject();
      LeaveChild();
      continue;
    }
    if (At(i) == '[') {
      pos_ = i + 1;
      EnterChild(name);
      ReadArray();
      LeaveChild();
      continue;
    }

    const size_t start = i;
    size_t e = start;
    if (At(start) == '"') {
      e = Find('"', start + 1);
      if (e == 0) FormatError();
    }
    // Only a "}" before the "," matters: searching on past it would scan the
    // rest of the object once per member.
    const size_t comma = Find(',', e + 1);
    const size_t brace = comma != 0 ? FindBefore('}', e + 1, comma) : Find('}', e + 1);
    if (brace == 0 && comma == 0) FormatError();
    const bool last = brace != 0;
    const size_t end = last ? brace : comma;

    SetMember(name, CheckJsonValue(Slice(start, end)));

    pos_ = end;
    if (last) {
      if (pos_ < length) {
        ++pos_;
        SkipBlanks(pos_);
      }
      return;
    }
  }
}

void TJSONParser::ReadArray() {
  const size_t length = text_.size();
  while (pos_ < length) {
    SkipBlanksAndComma();
    const char c = At(pos_);
    if (c == '}') {
      ++pos_;
      continue;
    }
    if (c == ']') return;
    if (c == '{') {
      ReadObject();
      continue;
    }

    size_t e = pos_;
    if (c == '"') {
      e = Find('"', pos_ + 1);
      if (e == 0) FormatError();
    }
    const size_t comma = Find(',', e);
    const size_t bracket = comma != 0 ? FindBefore(']', e, comma) : Find(']', e);
    if (comma == 0 && bracket == 0) FormatError();
    const bool last = comma == 0 || bracket != 0;
    const size_t end = last ? bracket : comma;

    current_->SetText(CheckJsonValue(Slice(pos_, end)));

    pos_ = end + 1;
    SkipBlanks(pos_);
    if (last) return;
  }
}

void LoadJsonIntoNode(const IXMLNodeRef& node, const std::string& text) {
  TJSONParser parser(text, node);
  parser.ReadObject();
}
