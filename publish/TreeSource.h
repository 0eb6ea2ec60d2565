#pragma once
// Where the checker reads an update server's tree: the folder itself, or
// the server over HTTP, as a client reaches it. Paths are relative to the
// tree's root, ANSI names joined by '/'.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class TStream;

class TTreeSource {
public:
  virtual ~TTreeSource() = default;
  // The file's path or URL, for messages.
  virtual std::string Describe(const std::string& relative) const = 0;
  // The whole file; nullopt when the tree has none. Raises when it cannot be
  // read for another reason, or is larger than `maxSize`.
  virtual std::optional<std::string> ReadSmall(const std::string& relative, int64_t maxSize) = 0;
  // The file's size (HTTP: HEAD's Content-Length); nullopt with the reason
  // in `reason` when it cannot be had.
  virtual std::optional<int64_t> Size(const std::string& relative, std::string& reason) = 0;
  // Writes the whole file into `target`. Raises when it cannot be read.
  virtual void Read(const std::string& relative, TStream& target) = 0;
};

// The tree in the folder `rootAnsi`.
std::unique_ptr<TTreeSource> LocalTreeSource(const std::string& rootAnsi);
// The tree behind the base URL `baseUrl` (with or without a final '/').
std::unique_ptr<TTreeSource> HttpTreeSource(const std::string& baseUrl);
