#pragma once
// The version manifest, Version.xml, read by the rules the updater applies,
// so that whoever else reads a manifest (the publishing program, its
// checker) sees exactly what a client sees.
//
// The document element may have any name; each of its element children is
// one entry (other children, comments or CDATA sections, are none), keyed by
// its Name; each element child of an entry is one line of release notes, in
// its attribute 明细. Element names and text are never read. Attribute names
// match ignoring ASCII letter case; a missing attribute reads as empty text.
// Reading never adds anything to the tree, so a document read here can be
// written back unchanged.
#include "common/ZorvaXMLIntf.h"
#include "platform/CodePage.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The attribute of the release-note lines, 明细.
extern const platform::AnsiText kReleaseNoteAttribute;

struct TManifestEntry {
  std::string name;
  // Version and MustUpdate as integers; text that is none reads as 0.
  int32_t version = 0;
  std::string versionPath;
  int32_t mustUpdate = 0;
  // SHA256 and Signature; nullopt when the entry has no such attribute.
  std::optional<std::string> sha256;
  std::optional<std::string> signature;
  // Rollout, the share of machines offered the version, 1 to 100; a missing
  // or invalid value means all of them.
  int32_t rollout = 100;
  std::vector<std::string> notes;
};

// The decoded value of the node's attribute `name`; nullopt when it has none.
std::optional<std::string> FindAttribute(const IXMLNodeRef& node, std::string_view name);

// The entry elements of the document, in document order; none for an empty
// document.
std::vector<IXMLNodeRef> ManifestEntryNodes(const IXMLDocumentRef& document);
TManifestEntry ReadManifestEntry(const IXMLNodeRef& entry);
// All entries of the document, in document order.
std::vector<TManifestEntry> ReadManifestEntries(const IXMLDocumentRef& document);

// Whether an entry's Name is the key asked for: equal but for the case of
// ASCII letters (a region, a template name).
bool ManifestNameMatches(std::string_view entryName, std::string_view key);

// The manifest held in `bytes`, loaded as the updater loads its copy of it:
// encoding by the declaration, comments dropped. Raises EXMLException when it
// is not well-formed.
IXMLDocumentRef LoadManifestBytes(std::string_view bytes);
