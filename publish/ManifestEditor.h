#pragma once
// A manifest as the publisher changes it: loaded with its comments, changed
// one entry at a time, and written back in its own encoding (UTF-8 with its
// byte-order mark if it had one, or the encoding its declaration names).
// Which entry a name selects, and what an entry says, follow the client's
// own rules (common/VersionManifest.h).
#include "common/ZorvaXMLIntf.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class TManifestEditor {
public:
  // `bytes` of an existing manifest, or nullopt to start a new one whose
  // document element is `rootName`. `displayName` names the file in
  // messages. Raises EPublishRefused when the client could not read the
  // manifest, or when it holds characters that GBK cannot (a rewrite would
  // lose them).
  TManifestEditor(const std::optional<std::string>& bytes, const std::string& displayName,
                  const std::string& rootName);

  // The entry whose Name is `key` (as the client matches it), or null when
  // there is none. Raises EPublishRefused when several entries have it: the
  // program and the template check would each take a different one.
  IXMLNodeRef FindEntry(const std::string& key) const;
  // A new entry at the end of the document element, named like the entries
  // already there, else `defaultName`.
  IXMLNodeRef AddEntry(const std::string& defaultName);

  // Sets the attribute to `value` (stored escaped); nullopt removes it. An
  // attribute that exists keeps its place and the spelling of its name.
  static void SetAttribute(const IXMLNodeRef& node, const std::string& name,
                           const std::optional<std::string>& value);
  // Replaces the entry's element children by one release-note line each,
  // named like the lines it had, else like the lines of other entries,
  // else Detail. Comments in the entry stay.
  void SetNotes(const IXMLNodeRef& entry, const std::vector<std::string>& notes) const;
  // Expires on the document element.
  void SetExpires(int64_t utcSeconds);

  // The manifest as it is to be written.
  std::string Bytes() const;

private:
  std::string NoteElementName(const IXMLNodeRef& entry) const;

  IXMLDocumentRef document_;
  std::string displayName_;
  bool byteOrderMark_ = false;
};
