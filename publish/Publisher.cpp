#include "publish/Publisher.h"

#include "archive/TemplateVersion.h"
#include "archive/ZipCommentWriter.h"
#include "archive/ZipControl.h"
#include "archive/ZipEndRecord.h"
#include "common/IntegerText.h"
#include "common/IntegrityText.h"
#include "common/ManifestSignature.h"
#include "common/VersionManifest.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/ProfileText.h"
#include "platform/ServerTree.h"
#include "platform/Stream.h"
#include "platform/TextFormat.h"
#include "publish/Console.h"
#include "publish/FileDigest.h"
#include "publish/ManifestEditor.h"
#include "publish/PublishErrors.h"
#include "publish/PublishTexts.h"
#include "publish/PublisherKey.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace tx = publishtexts;

// A package must be smaller than 2 GiB: the client counts in 32 bits.
constexpr int64_t kPackageLimit = int64_t{1} << 31;
constexpr int64_t kMaxManifestSize = 16 * 1024 * 1024;
constexpr int64_t kMaxSignatureFileSize = 64 * 1024;

std::string Label(const std::string& name) {
  return name.empty() ? tx::kEmptyName.str() : name;
}

// A server folder's manifest and signature file as they are.
struct TManifestFiles {
  std::string manifestRel;
  std::string signatureRel;
  std::optional<std::string> manifest;
  std::optional<std::string> signatureFile;
};

TManifestFiles ReadManifestFiles(const platform::TServerTree& tree, const std::string& kind) {
  TManifestFiles files;
  files.manifestRel = kind + "/Version.xml";
  files.signatureRel = files.manifestRel + ".sig";
  files.manifest = tree.ReadSmallFile(files.manifestRel, kMaxManifestSize);
  files.signatureFile = tree.ReadSmallFile(files.signatureRel, kMaxSignatureFileSize);
  return files;
}

std::optional<platform::TEd25519Seed> ReadKey(const TPublishOptions& options) {
  if (options.keyFile.empty()) return std::nullopt;
  return ReadPrivateKeyFile(options.keyFile);
}

platform::TServerTree OpenTree(const TPublishOptions& options) {
  platform::TServerTree tree(options.server);
  if (!tree.RootExists())
    throw EPublishRefused(platform::FormatText(tx::kServerMissing, options.server));
  return tree;
}

void RefuseUnsignedRewrite(const platform::TServerTree& tree, const TManifestFiles& files,
                           const std::optional<platform::TEd25519Seed>& seed) {
  if (files.signatureFile && !seed)
    throw EPublishRefused(
        platform::FormatText(tx::kSignedTreeNeedsKey, tree.DisplayPath(files.manifestRel)));
}

// The release notes: a line each, blank lines skipped. A UTF-8 file (with
// or without its byte-order mark) is converted; any other is taken as GBK.
std::vector<std::string> ReadNotes(const std::string& path) {
  std::vector<std::string> notes;
  if (path.empty()) return notes;
  TMemoryStream file;
  file.LoadFromFile(path);
  std::string text(file.Memory(), static_cast<size_t>(file.GetSize()));
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  const bool utf8 = text.empty() || !platform::Utf8ToAnsi(text).empty();
  size_t from = 0;
  for (int number = 1; from < text.size(); ++number) {
    size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(from, end - from);
    from = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.pop_back();
    if (line.empty()) continue;
    if (utf8) {
      const std::optional<std::string> ansi = platform::Utf8ToAnsiExact(line);
      if (!ansi) throw EPublishRefused(platform::FormatText(tx::kNotesNotGbk, path, number));
      line = *ansi;
    }
    notes.push_back(line);
  }
  return notes;
}

// A file in the temporary folder, removed when it goes.
class TTempFile {
public:
  TTempFile() = default;
  ~TTempFile() {
    if (!path_.empty()) platform::DeleteFile(path_);
  }
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;
  const std::string& Make(const std::string& suffix) {
    path_ = platform::TempPath() + "update-publish-" +
            std::to_string(platform::CurrentProcessId()) + suffix;
    return path_;
  }

private:
  std::string path_;
};

// The template to publish: the file itself when its comment holds the
// version, else (with --set-version) a copy with the version written in.
std::string TemplateSource(const TPublishOptions& options, TTempFile& copy) {
  const std::string path = options.file;
  {
    TFileStream file(path, fmOpenRead);
    if ((LocateZipEndRecord(file, file.GetSize()).ZipFlags & zfEndRecord) == 0)
      throw EPublishRefused(platform::FormatText(tx::kNotTemplate, path));
  }
  const std::string wanted = std::to_string(options.version);
  const auto refuseComment = [&](const std::string& file) {
    const std::string found = ReadTemplateVersionText(file);
    if (TextToInt32(found) != options.version)
      throw EPublishRefused(
          platform::FormatText(tx::kCommentVersion, path, found, options.version));
  };
  if (!options.setVersion) {
    refuseComment(path);
    return path;
  }
  const std::optional<std::string> comment =
      platform::SetProfileValue(TZipInfo::ReadArchiveComment(path), "Region", "Version", wanted);
  if (!comment) throw EPublishRefused(platform::FormatText(tx::kNotTemplate, path));
  const std::string& target = copy.Make(".sfwb");
  {
    TFileStream source(path, fmOpenRead);
    TFileStream out(target, fmCreate);
    try {
      CopyZipWithComment(source, source.GetSize(), *comment, out);
    } catch (const EStreamError& e) {
      throw EPublishRefused(e.what());
    }
  }
  // The copy is read back as the client will read it.
  refuseComment(target);
  return target;
}

void ReplaceFile(const platform::TServerTree& tree, const std::string& relative,
                 const std::string& bytes) {
  std::unique_ptr<platform::TServerTreeFile> file = tree.NewFile(relative);
  file->Stream().WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  file->Commit(true);
}

// The package into its new place, checked against the digest taken before
// anything was written: what is published is what was hashed and signed.
void PlacePackage(const platform::TServerTree& tree, const std::string& relative,
                  const std::string& source, const TFileDigest& digest, const std::string& name) {
  tree.ForceFolders(relative.substr(0, relative.rfind('/')));
  std::unique_ptr<platform::TServerTreeFile> file = tree.NewFile(relative);
  TFileStream in(source, fmOpenRead);
  platform::TSha256 sha256;
  const int64_t size = ReadThrough(in, [&](const char* data, size_t count) {
    sha256.Update(data, count);
    file->Stream().WriteBuffer(data, static_cast<int64_t>(count));
  });
  if (size != digest.size || sha256.Final() != digest.sha256)
    throw EStreamError(platform::FormatText(tx::kSourceChanged, name));
  if (!file->Commit(false))
    throw EPublishRefused(platform::FormatText(tx::kPathTaken, tree.DisplayPath(relative)));
}

// The signature file, then the manifest. The signature file keeps the old
// manifest's signature as its second line, so that a client that fetched
// the old manifest just before the new one is in place still finds its own.
void WriteManifest(const platform::TServerTree& tree, const TManifestFiles& files,
                   const std::string& bytes, const std::optional<platform::TEd25519Seed>& seed) {
  tree.ForceFolders(files.manifestRel.substr(0, files.manifestRel.rfind('/')));
  if (seed) {
    const platform::TEd25519PublicKey publicKey = platform::TEd25519Signer(*seed).PublicKey();
    std::string text = Base64Text(platform::SignEd25519(*seed, bytes)) + "\n";
    if (files.manifest && files.signatureFile)
      for (const std::string& line : SignatureLines(*files.signatureFile))
        if (ManifestSignatureMatches(*files.manifest, publicKey, line)) {
          text += line + "\n";
          break;
        }
    ReplaceFile(tree, files.signatureRel, text);
  }
  ReplaceFile(tree, files.manifestRel, bytes);
}

// The rewritten manifest read back as a client reads it must say what was
// set; anything else would publish a surprise.
void CheckRewrite(const std::string& bytes, const std::string& key, const TManifestEntry& wanted) {
  int matches = 0;
  bool same = false;
  for (const TManifestEntry& entry : ReadManifestEntries(LoadManifestBytes(bytes))) {
    if (!ManifestNameMatches(entry.name, key)) continue;
    ++matches;
    same = entry.version == wanted.version && entry.versionPath == wanted.versionPath &&
           entry.sha256 == wanted.sha256 && entry.signature == wanted.signature &&
           entry.mustUpdate == wanted.mustUpdate && entry.rollout == wanted.rollout &&
           entry.notes == wanted.notes;
  }
  if (matches != 1 || !same) throw Exception(tx::kRewriteLost);
}

} // namespace

int RunPublish(const TPublishOptions& options) {
  const bool isTemplate = options.command == TPublishCommand::Template;
  const platform::TServerTree tree = OpenTree(options);
  if (!platform::FileExists(options.file))
    throw EPublishRefused(platform::FormatText(tx::kSourceMissing, options.file));
  TTempFile copy;
  const std::string source = isTemplate ? TemplateSource(options, copy) : options.file;
  const int64_t size = platform::FileSize(source);
  if (size >= kPackageLimit)
    throw EPublishRefused(
        platform::FormatText(tx::kPackageTooLarge, options.file, static_cast<long long>(size)));
  const std::optional<platform::TEd25519Seed> seed = ReadKey(options);
  const std::vector<std::string> notes = ReadNotes(options.notesFile);

  const TManifestFiles files = ReadManifestFiles(tree, options.kind);
  RefuseUnsignedRewrite(tree, files, seed);
  TManifestEditor editor(files.manifest, tree.DisplayPath(files.manifestRel),
                         isTemplate ? "Templates" : "Versions");
  const std::string key = isTemplate ? options.name : options.region;
  IXMLNodeRef entry = editor.FindEntry(key);
  if (entry) {
    const int32_t current = ReadManifestEntry(entry).version;
    if (options.version <= current)
      throw EPublishRefused(
          platform::FormatText(tx::kVersionNotAbove, options.version, Label(key), current));
  }

  // A published file never changes: the same bytes may be named again (a
  // second region, a publish run again after a crash), other bytes not.
  const std::string fileRel = options.kind + "/" + options.path + "/" +
                              (isTemplate ? options.name + ".sfwb" : options.kind + ".exe");
  const TFileDigest digest = DigestFile(
      [&] { return std::make_unique<TFileStream>(source, fmOpenRead); }, seed, options.file);
  const bool existed = tree.FileSize(fileRel) >= 0;
  if (existed) {
    const TFileDigest there =
        DigestFile([&] { return tree.OpenRead(fileRel); }, std::nullopt, tree.DisplayPath(fileRel));
    if (there.size != digest.size || there.sha256 != digest.sha256)
      throw EPublishRefused(platform::FormatText(tx::kPathTaken, tree.DisplayPath(fileRel)));
  }

  TManifestEntry wanted;
  wanted.name = key;
  wanted.version = options.version;
  wanted.versionPath = options.path;
  wanted.sha256 = Sha256Text(digest.sha256);
  if (digest.signature) wanted.signature = Base64Text(*digest.signature);
  if (!entry) entry = editor.AddEntry(isTemplate ? "Template" : "Version");
  TManifestEditor::SetAttribute(entry, "Name", key);
  TManifestEditor::SetAttribute(entry, "Version", std::to_string(options.version));
  TManifestEditor::SetAttribute(entry, "VersionPath", options.path);
  if (!isTemplate) {
    wanted.mustUpdate = options.mandatory ? 1 : 0;
    wanted.rollout = options.rollout.value_or(100);
    wanted.notes = notes;
    TManifestEditor::SetAttribute(entry, "MustUpdate", std::to_string(wanted.mustUpdate));
  } else {
    const TManifestEntry old = ReadManifestEntry(entry);
    wanted.mustUpdate = old.mustUpdate;
    wanted.rollout = old.rollout;
    wanted.notes = old.notes;
  }
  TManifestEditor::SetAttribute(entry, "SHA256", wanted.sha256);
  TManifestEditor::SetAttribute(entry, "Signature", wanted.signature);
  if (!isTemplate) {
    TManifestEditor::SetAttribute(
        entry, "Rollout",
        wanted.rollout < 100 ? std::optional(std::to_string(wanted.rollout)) : std::nullopt);
    editor.SetNotes(entry, notes);
  }
  const int64_t expires = UtcNow() + int64_t{options.expiresDays} * 86400;
  if (seed) editor.SetExpires(expires);
  const std::string bytes = editor.Bytes();
  CheckRewrite(bytes, key, wanted);

  if (!existed) PlacePackage(tree, fileRel, source, digest, options.file);
  WriteManifest(tree, files, bytes, seed);

  PrintLine(platform::FormatText(tx::kPublished, options.kind, options.version, Label(key)));
  PrintLine(platform::FormatText(tx::kPublishedFile, tree.DisplayPath(fileRel),
                                 existed ? tx::kAlreadyThere.str() : std::string()));
  PrintLine(platform::FormatText(tx::kPublishedSha256, *wanted.sha256));
  PrintLine(platform::FormatText(tx::kPublishedManifest, tree.DisplayPath(files.manifestRel)));
  if (seed)
    PrintLine(platform::FormatText(tx::kPublishedSignature, tree.DisplayPath(files.signatureRel),
                                   UtcTimeText(expires)));
  if (wanted.rollout < 100) PrintLine(platform::FormatText(tx::kPublishedRollout, wanted.rollout));
  return 0;
}

int RunRollout(const TPublishOptions& options) {
  const platform::TServerTree tree = OpenTree(options);
  const std::optional<platform::TEd25519Seed> seed = ReadKey(options);
  const TManifestFiles files = ReadManifestFiles(tree, options.kind);
  if (!files.manifest)
    throw EPublishRefused(
        platform::FormatText(tx::kNoManifest, tree.DisplayPath(files.manifestRel)));
  RefuseUnsignedRewrite(tree, files, seed);
  TManifestEditor editor(files.manifest, tree.DisplayPath(files.manifestRel), "Versions");
  IXMLNodeRef entry = editor.FindEntry(options.region);
  if (!entry)
    throw EPublishRefused(platform::FormatText(tx::kNoEntry, tree.DisplayPath(files.manifestRel),
                                               Label(options.region)));
  TManifestEntry wanted = ReadManifestEntry(entry);
  wanted.rollout = options.rollout.value_or(100);
  TManifestEditor::SetAttribute(entry, "Rollout",
                                wanted.rollout < 100 ? std::optional(std::to_string(wanted.rollout))
                                                     : std::nullopt);
  if (seed) editor.SetExpires(UtcNow() + int64_t{options.expiresDays} * 86400);
  const std::string bytes = editor.Bytes();
  CheckRewrite(bytes, options.region, wanted);
  WriteManifest(tree, files, bytes, seed);
  PrintLine(platform::FormatText(tx::kRolloutSet, Label(options.region), wanted.version,
                                 wanted.rollout, tree.DisplayPath(files.manifestRel)));
  return 0;
}

int RunSign(const TPublishOptions& options) {
  const platform::TEd25519Seed seed = ReadPrivateKeyFile(options.keyFile);
  const TFileDigest digest = DigestFile(
      [&] { return std::make_unique<TFileStream>(options.file, fmOpenRead); }, seed, options.file);
  PrintLine("SHA256=\"" + Sha256Text(digest.sha256) + "\" Signature=\"" +
            Base64Text(*digest.signature) + "\"");
  PrintLine(platform::FormatText(tx::kPublicKeyLine,
                                 Base64Text(platform::TEd25519Signer(seed).PublicKey())));
  return 0;
}
