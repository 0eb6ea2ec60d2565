#pragma once
// What the tests of update-publish share: a server tree in a scratch folder,
// the program run as a publisher runs it, a publisher's key made by openssl,
// and the tree read back as a client reads it.
#include "common/IntegrityText.h"
#include "common/ManifestSignature.h"
#include "common/VersionManifest.h"
#include "platform/CodePage.h"
#include "platform/Crypto.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace publishtest {

using platform::Utf8ToAnsi;

// The GBK bytes of a name, as the tree holds it below its root.
inline std::string Gbk(const std::string& utf8) {
  return Utf8ToAnsi(utf8);
}

struct TRun {
  int status = -1;
  std::string output; // standard output and error, UTF-8
};

// Runs update-publish with `args` (UTF-8, as a shell hands them over).
inline TRun Publish(const testsupport::TempFolder& dir, std::vector<std::string> args) {
  args.insert(args.begin(), UPDATER_PUBLISH_PROGRAM);
  testsupport::ChildProcess program(args, {}, dir.Utf8("publish.out"));
  TRun run;
  run.status = program.WaitFor(std::chrono::seconds(120)).value_or(-1);
  run.output = dir.Read("publish.out");
  return run;
}

// Every file below `utf8Root` with its bytes, by its path below the root
// (the bytes of the names as they are on disk).
inline std::map<std::string, std::string> Snapshot(const std::string& utf8Root) {
  std::map<std::string, std::string> files;
  if (!std::filesystem::exists(utf8Root)) return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(utf8Root)) {
    const std::string name = entry.path().string().substr(utf8Root.size());
    if (entry.is_directory()) {
      files[name + "/"] = "";
      continue;
    }
    files[name] = testsupport::ReadFile(entry.path().string());
  }
  return files;
}

// The names of the files that differ between two snapshots, or that only
// one has: short enough to print when a test fails.
inline std::vector<std::string> Differences(const std::map<std::string, std::string>& a,
                                            const std::map<std::string, std::string>& b) {
  std::vector<std::string> names;
  for (const auto& [name, bytes] : a)
    if (!b.count(name) || b.at(name) != bytes) names.push_back(name);
  for (const auto& [name, bytes] : b)
    if (!a.count(name)) names.push_back(name);
  return names;
}

// A publisher's key pair made by openssl: the PEM private key, and the
// public key as VersionCfg.ini holds it.
struct TPublisherKey {
  std::string pem;       // path, UTF-8
  std::string publicKey; // Base64
};

inline void RunOpenssl(const testsupport::TempFolder& dir, std::vector<std::string> args) {
  args.insert(args.begin(), "/usr/bin/openssl");
  testsupport::ChildProcess openssl(args, {}, dir.Utf8("openssl.out"));
  ASSERT_EQ(openssl.WaitFor(std::chrono::seconds(30)), 0) << dir.Read("openssl.out");
}

inline TPublisherKey MakeKey(const testsupport::TempFolder& dir, const std::string& name) {
  TPublisherKey key;
  key.pem = dir.Utf8(name + ".pem");
  RunOpenssl(dir, {"genpkey", "-algorithm", "ed25519", "-out", key.pem});
  RunOpenssl(
      dir, {"pkey", "-in", key.pem, "-pubout", "-outform", "DER", "-out", dir.Utf8(name + ".der")});
  const std::string der = dir.Read(name + ".der");
  key.publicKey = Base64Text(reinterpret_cast<const uint8_t*>(der.data()) + der.size() - 32, 32);
  return key;
}

inline std::string Sha256Hex(const std::string& bytes) {
  platform::TSha256 hasher;
  hasher.Update(bytes.data(), bytes.size());
  return Sha256Text(hasher.Final());
}

// The entry a client takes for `key` in the manifest `bytes`: the last
// matching one, as the program check does.
inline std::optional<TManifestEntry> ClientEntry(const std::string& bytes, const std::string& key) {
  std::optional<TManifestEntry> found;
  for (const TManifestEntry& entry : ReadManifestEntries(LoadManifestBytes(bytes)))
    if (ManifestNameMatches(entry.name, key)) found = entry;
  return found;
}

} // namespace publishtest
