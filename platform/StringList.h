#pragma once
// An ordered list of ANSI strings that loads from and saves to text with CR LF
// line ends: batch files, file listings and archive comments.
#include <string>
#include <vector>

class TStream;

class TStringList {
public:
  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& operator[](int index) const;
  std::string& operator[](int index);
  int Add(const std::string& s);
  void Insert(int index, const std::string& s);
  void Delete(int index);
  void Clear() { items_.clear(); }
  // Position of the first string equal to `s` ignoring ASCII case, or -1.
  int IndexOf(const std::string& s) const;

  // Every string followed by CR LF.
  std::string GetText() const;
  // Splits at CR LF, LF or CR; a last line without a line end counts.
  void SetText(const std::string& text);

  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;
  // Raise EFOpenError when the file cannot be opened or created.
  void LoadFromFile(const std::string& ansiPath);
  void SaveToFile(const std::string& ansiPath) const;

  const std::vector<std::string>& Items() const { return items_; }

private:
  std::vector<std::string> items_;
};
