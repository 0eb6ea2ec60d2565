#pragma once
// Matching of archive entry names against the reader's FileSpec masks.
#include <string>

// True when `name` (an entry name as stored, with '/' or '\' between folders)
// matches `mask` by the rules of platform::MatchesFileMask ('*', '?', ASCII
// case ignored). A mask without a folder delimiter is matched
// against the part of the name after its last delimiter; a mask with one
// against the whole name, where '/' and '\' count as equal. "*.*" and "*"
// match every name. An empty mask matches nothing.
bool ZipMaskMatches(const std::string& name, const std::string& mask);
