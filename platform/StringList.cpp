#include "StringList.h"

#include "Assert.h"
#include "Stream.h"

#include <strings.h>

const std::string& TStringList::operator[](int index) const {
  ZORVA_ASSERT(index >= 0 && index < Count());
  return items_[static_cast<size_t>(index)];
}

std::string& TStringList::operator[](int index) {
  ZORVA_ASSERT(index >= 0 && index < Count());
  return items_[static_cast<size_t>(index)];
}

int TStringList::Add(const std::string& s) {
  items_.push_back(s);
  return Count() - 1;
}

void TStringList::Insert(int index, const std::string& s) {
  ZORVA_ASSERT(index >= 0 && index <= Count());
  items_.insert(items_.begin() + index, s);
}

void TStringList::Delete(int index) {
  ZORVA_ASSERT(index >= 0 && index < Count());
  items_.erase(items_.begin() + index);
}

int TStringList::IndexOf(const std::string& s) const {
  for (int i = 0; i < Count(); ++i)
    if (items_[static_cast<size_t>(i)].size() == s.size() &&
        ::strncasecmp(items_[static_cast<size_t>(i)].data(), s.data(), s.size()) == 0)
      return i;
  return -1;
}

std::string TStringList::GetText() const {
  std::string text;
  for (const std::string& s : items_) {
    text += s;
    text += "\r\n";
  }
  return text;
}

void TStringList::SetText(const std::string& text) {
  items_.clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      items_.push_back(text.substr(start));
      break;
    }
    items_.push_back(text.substr(start, end - start));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
}

void TStringList::LoadFromStream(TStream& stream) {
  int64_t size = stream.GetSize() - stream.GetPosition();
  std::string text(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (!text.empty()) stream.ReadBuffer(text.data(), static_cast<int64_t>(text.size()));
  SetText(text);
}

void TStringList::SaveToStream(TStream& stream) const {
  std::string text = GetText();
  stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

void TStringList::LoadFromFile(const std::string& ansiPath) {
  TFileStream file(ansiPath, fmOpenRead);
  LoadFromStream(file);
}

void TStringList::SaveToFile(const std::string& ansiPath) const {
  TFileStream file(ansiPath, fmCreate);
  SaveToStream(file);
}
