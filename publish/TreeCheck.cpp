#include "publish/TreeCheck.h"

#include "archive/TemplateVersion.h"
#include "common/IntegerText.h"
#include "common/IntegrityText.h"
#include "common/ManifestSignature.h"
#include "common/ProductTable.h"
#include "common/VersionManifest.h"
#include "common/ZorvaXMLDoc.h"
#include "common/ZorvaXMLUtils.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/ServerTree.h"
#include "platform/Stream.h"
#include "platform/TextFormat.h"
#include "publish/Console.h"
#include "publish/PublishErrors.h"
#include "publish/PublishTexts.h"
#include "publish/PublisherKey.h"
#include "publish/TreeSource.h"

#include <exception>
#include <memory>

namespace {

namespace tx = publishtexts;

constexpr int64_t kPackageLimit = int64_t{1} << 31;
constexpr int64_t kMaxManifestSize = 16 * 1024 * 1024;
constexpr int64_t kMaxSignatureFileSize = 64 * 1024;
constexpr int64_t kExpiryWarning = 7 * 86400;

std::string Label(const std::string& name) {
  return name.empty() ? tx::kEmptyName.str() : name;
}

// What the checker is given as the publisher's key: the Base64 text of
// VersionCfg.ini, or a PEM file with the public or the private key.
platform::TEd25519PublicKey PublicKeyFrom(const std::string& argument) {
  if (const auto key = ParsePublicKeyText(argument)) return *key;
  if (platform::FileExists(argument)) {
    TMemoryStream file;
    file.LoadFromFile(argument);
    const std::string pem(file.Memory(),
                          static_cast<size_t>(std::min<int64_t>(file.GetSize(), 64 * 1024)));
    if (const auto key = ParsePublicKeyPem(pem)) return *key;
  }
  throw EUsageError(platform::FormatText(tx::kPublicKeyBad, argument));
}

// Takes the bytes a transfer writes, for the digest and the signature, and
// keeps them in a file too when asked (a template, whose comment is read
// from the file as the client reads it).
class TCheckSink : public TStream {
public:
  TCheckSink(const std::optional<platform::TEd25519Signature>& signature,
             const std::optional<platform::TEd25519PublicKey>& key, TStream* copy)
      : copy_(copy) {
    if (signature && key)
      verifier_ = std::make_unique<platform::TEd25519Verifier>(*key, *signature);
  }
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void* buffer, int32_t count) override {
    if (count <= 0) return 0;
    sha256_.Update(buffer, static_cast<size_t>(count));
    if (verifier_) verifier_->Update(buffer, static_cast<size_t>(count));
    if (copy_) copy_->WriteBuffer(buffer, count);
    size_ += count;
    return count;
  }
  int64_t Seek64(int64_t offset, TSeekOrigin origin) override {
    // The transfer only ever asks where it is.
    if (origin == TSeekOrigin::soBeginning && offset != size_) throw EStreamError("seek");
    return size_;
  }
  void SetSize64(int64_t) override {}

  platform::TSha256Digest Digest() { return sha256_.Final(); }
  bool SignatureValid() { return verifier_ && verifier_->Verify(); }

private:
  platform::TSha256 sha256_;
  std::unique_ptr<platform::TEd25519Verifier> verifier_;
  TStream* copy_;
  int64_t size_ = 0;
};

// A file in the temporary folder, removed when it goes.
class TScratchFile {
public:
  TScratchFile()
      : path_(platform::TempPath() + "update-publish-check-" +
              std::to_string(platform::CurrentProcessId()) + ".sfwb") {}
  ~TScratchFile() { platform::DeleteFile(path_); }
  TScratchFile(const TScratchFile&) = delete;
  TScratchFile& operator=(const TScratchFile&) = delete;
  const std::string& Path() const { return path_; }

private:
  std::string path_;
};

class TChecker {
public:
  // Manifests come from `source`, the files they name from `files` (the
  // CDN base of a server split in two), or from `source` too.
  TChecker(std::unique_ptr<TTreeSource> source, std::unique_ptr<TTreeSource> files,
           std::optional<platform::TEd25519PublicKey> key)
      : source_(std::move(source)), files_(std::move(files)), key_(key) {}

  int Run() {
    for (const TProduct& product : Products())
      CheckManifest(product.kind, false);
    for (const TProduct& product : Products())
      CheckManifest(product.sampleTextKind, true);
    if (manifests_ == 0) Problem(platform::FormatText(tx::kCheckNoManifest, source_->Describe("")));
    PrintLine(problems_ == 0
                  ? platform::FormatText(tx::kCheckSummaryGood, manifests_, entries_)
                  : platform::FormatText(tx::kCheckSummaryBad, manifests_, entries_, problems_));
    return problems_ == 0 ? 0 : 1;
  }

private:
  void Problem(const std::string& text) {
    ++problems_;
    PrintLine(text);
  }

  void CheckManifest(const std::string& kind, bool templates) {
    const std::string rel = kind + "/Version.xml";
    const std::string where = source_->Describe(rel);
    std::optional<std::string> bytes;
    IXMLDocumentRef document;
    try {
      bytes = source_->ReadSmall(rel, kMaxManifestSize);
      if (!bytes) return;
      ++manifests_;
      document = LoadManifestBytes(*bytes);
    } catch (const std::exception& e) {
      if (bytes)
        Problem(platform::FormatText(tx::kCheckUnreadable, where, e.what()));
      else
        Problem(platform::FormatText(tx::kCheckFetchFailed, where, e.what()));
      return;
    }
    if (document->GetDocumentElement() == nullptr) {
      Problem(platform::FormatText(tx::kCheckUnreadable, where, ""));
      return;
    }
    if (key_) CheckSignature(rel, *bytes);
    const std::vector<TManifestEntry> entries = ReadManifestEntries(document);
    const std::vector<bool> encodable = NamesEncodable(*bytes, document, entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      ++entries_;
      if (!encodable[i])
        Problem(platform::FormatText(tx::kCheckNotGbk, where, Label(entries[i].name)));
      CheckEntry(kind, templates, where, entries[i]);
    }
  }

  void CheckSignature(const std::string& rel, const std::string& bytes) {
    const std::string where = source_->Describe(rel);
    std::optional<std::string> signatureFile;
    TManifestCheck check;
    try {
      signatureFile = source_->ReadSmall(rel + ".sig", kMaxSignatureFileSize);
      check = VerifyManifest(bytes, signatureFile, Base64Text(*key_), UtcNow());
    } catch (const std::exception& e) {
      Problem(platform::FormatText(tx::kCheckFetchFailed, where + ".sig", e.what()));
      return;
    }
    switch (check.verdict) {
    case TManifestVerdict::Valid:
      if (check.expires && *check.expires - UtcNow() < kExpiryWarning)
        PrintLine(platform::FormatText(tx::kCheckExpiresSoon, where, UtcTimeText(*check.expires)));
      return;
    case TManifestVerdict::BadKey:
    case TManifestVerdict::Invalid:
      Problem(platform::FormatText(tx::kCheckSignatureInvalid, where));
      return;
    case TManifestVerdict::Missing:
      Problem(platform::FormatText(tx::kCheckSignatureMissing, where));
      return;
    case TManifestVerdict::NoExpiry:
      Problem(platform::FormatText(tx::kCheckNoExpiry, where));
      return;
    case TManifestVerdict::Expired:
      Problem(platform::FormatText(tx::kCheckExpired, where, UtcTimeText(*check.expires)));
      return;
    }
  }

  // Whether each entry's Name and VersionPath reach the client whole. A
  // UTF-8 manifest is converted to GBK as it is loaded, and what GBK cannot
  // hold becomes '?': so the manifest is parsed once more unconverted, by
  // the same rules, and the names are converted exactly.
  static std::vector<bool> NamesEncodable(const std::string& bytes, const IXMLDocumentRef& document,
                                          size_t count) {
    std::vector<bool> encodable(count, true);
    if (!XMLSameName(document->GetEncoding(), "utf-8")) return encodable;
    IXMLDocumentRef raw = NewXmlDocument(false, false);
    raw->SetOptions(xoSkipComments);
    const bool bom = bytes.rfind("\xEF\xBB\xBF", 0) == 0;
    raw->SetXML(bytes.substr(bom ? 3 : 0));
    const std::vector<TManifestEntry> entries = ReadManifestEntries(raw);
    for (size_t i = 0; i < count && i < entries.size(); ++i)
      encodable[i] = platform::Utf8ToAnsiExact(entries[i].name).has_value() &&
                     platform::Utf8ToAnsiExact(entries[i].versionPath).has_value();
    return encodable;
  }

  void CheckEntry(const std::string& kind, bool templates, const std::string& where,
                  const TManifestEntry& entry) {
    const std::string name = Label(entry.name);
    if (entry.version <= 0) Problem(platform::FormatText(tx::kCheckBadVersion, where, name));
    if (entry.versionPath.empty()) {
      Problem(platform::FormatText(tx::kCheckNoPath, where, name));
      return;
    }
    const std::string fileRel =
        kind + "/" + entry.versionPath + "/" + (templates ? entry.name + ".sfwb" : kind + ".exe");
    TTreeSource& files = files_ ? *files_ : *source_;
    const std::string file = files.Describe(fileRel);
    std::string reason;
    const std::optional<int64_t> size = files.Size(fileRel, reason);
    if (!size) {
      Problem(platform::FormatText(tx::kCheckMissing, where, name, file, reason));
      return;
    }
    if (*size >= kPackageLimit)
      Problem(platform::FormatText(tx::kCheckTooLarge, where, name, file,
                                   static_cast<long long>(*size)));
    const std::optional<platform::TSha256Digest> digest =
        entry.sha256 ? ParseSha256Text(*entry.sha256) : std::nullopt;
    if (entry.sha256 && !digest)
      Problem(platform::FormatText(tx::kCheckBadDigestText, where, name));
    if (key_ && !entry.signature) Problem(platform::FormatText(tx::kCheckNoSignature, where, name));
    const std::optional<platform::TEd25519Signature> signature =
        entry.signature ? ParseSignatureText(*entry.signature) : std::nullopt;
    const bool verify = key_ && entry.signature;
    if (!digest && !verify && !templates) return;

    TScratchFile scratch;
    std::unique_ptr<TFileStream> copy;
    if (templates) copy = std::make_unique<TFileStream>(scratch.Path(), fmCreate);
    TCheckSink sink(signature, key_, copy.get());
    try {
      files.Read(fileRel, sink);
    } catch (const std::exception& e) {
      Problem(platform::FormatText(tx::kCheckMissing, where, name, file, e.what()));
      return;
    }
    copy.reset();
    if (digest && sink.Digest() != *digest)
      Problem(platform::FormatText(tx::kCheckDigestMismatch, where, name, file));
    if (verify && !sink.SignatureValid())
      Problem(platform::FormatText(tx::kCheckBadSignature, where, name, file));
    if (templates) CheckComment(where, name, file, scratch.Path(), entry.version);
  }

  // The installed template's version is read from its comment, as the
  // client reads it; below the entry's version the client would fetch it on
  // every run.
  void CheckComment(const std::string& where, const std::string& name, const std::string& file,
                    const std::string& path, int32_t version) {
    const std::string value = ReadTemplateVersionText(path);
    const std::optional<int32_t> found = value.empty() ? std::optional(0) : TextToInt32(value);
    if (!found)
      Problem(platform::FormatText(tx::kCheckCommentBad, where, name, file, value));
    else if (*found < version)
      Problem(platform::FormatText(tx::kCheckCommentBehind, where, name, file, *found, version));
  }

  std::unique_ptr<TTreeSource> source_;
  std::unique_ptr<TTreeSource> files_;
  std::optional<platform::TEd25519PublicKey> key_;
  int manifests_ = 0;
  int entries_ = 0;
  int problems_ = 0;
};

} // namespace

int RunCheck(const TPublishOptions& options) {
  std::optional<platform::TEd25519PublicKey> key;
  if (!options.publicKey.empty()) key = PublicKeyFrom(options.publicKey);
  if (!options.server.empty()) {
    if (!platform::TServerTree(options.server).RootExists())
      throw Exception(platform::FormatText(tx::kServerMissing, options.server));
    return TChecker(LocalTreeSource(options.server), nullptr, key).Run();
  }
  return TChecker(HttpTreeSource(options.url),
                  options.cdnUrl.empty() ? nullptr : HttpTreeSource(options.cdnUrl), key)
      .Run();
}
