// The version manifest and the two update checks: the program check (an
// entry per region) and the template check (an entry per template, compared
// with the version in the installed template's archive comment).
#include "app/IntegerText.h"
#include "app/UpdateForm.h"
#include "app/UpdateFormTexts.h"
#include "archive/ZipControl.h"
#include "common/ZorvaXMLIntf.h"
#include "common/ZorvaXMLUtils.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/ProfileText.h"
#include "platform/TextFormat.h"

#include <exception>
#include <optional>
#include <string_view>

namespace {

namespace tx = updatetexts;

// A manifest is a few KiB; a server that sends without end must not fill the
// memory.
constexpr int32_t kMaxManifestSize = 16 * 1024 * 1024;

class TManifestStream : public TMemoryStream {
public:
  int32_t Write(const void* buffer, int32_t count) override {
    if (GetPosition() + count > kMaxManifestSize)
      throw EStreamError(platform::FormatText(tx::kManifestTooLarge, kMaxManifestSize));
    return TMemoryStream::Write(buffer, count);
  }
};

std::string Attribute(const IXMLNodeRef& node, const std::string& name) {
  return node->GetAttributes()->GetAttribute(name)->GetAsString();
}

// The attribute's value, or nullopt when the node has no such attribute.
std::optional<std::string> OptionalAttribute(const IXMLNodeRef& node, const std::string& name) {
  IXMLNodeAttributesRef attributes = node->GetAttributes();
  if (attributes->IndexOf(name) < 0) return std::nullopt;
  return attributes->GetAttribute(name)->GetAsString();
}

std::string TrimBlanks(std::string_view s) {
  size_t begin = s.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  size_t end = s.find_last_not_of(" \t");
  return std::string(s.substr(begin, end - begin + 1));
}

// Calls `visit` for each entry of the manifest, in document order, until it
// returns false.
template <class Visit> void ForEachEntry(const IXMLDocumentRef& doc, Visit visit) {
  IXMLNodeRef root = doc->GetDocumentElement();
  if (root == nullptr) return;
  IXMLNodeListRef entries = root->GetChildNodes();
  const int32_t count = entries->GetCount();
  for (int32_t i = 0; i < count; ++i) {
    IXMLNodeRef entry = entries->GetNode(i);
    if (entry->GetNodeType() != TXMLNodeType::ntElement) continue; // CDATA, say
    if (!visit(entry)) return;
  }
}

} // namespace

void TUpdateForm::FetchManifest(const std::string& url) {
  TManifestStream manifest;
  platform::THttpClient client;
  // A server that accepts the connection and never answers must not hold the
  // updater for ever.
  client.SetConnectTimeout(limits.checkConnectMs);
  client.SetTotalTimeout(limits.checkTotalMs);
  client.Get(url, manifest);
  const std::string file = GetWorkingFolder() + "Version.xml";
  if (!platform::WriteFileAtomically(
          file, std::string_view(manifest.Memory(), static_cast<size_t>(manifest.GetSize()))))
    throw EFOpenError(platform::FormatText(tx::kFileWriteFailed, file));
}

TCheckResult TUpdateForm::CheckProductUpdate() {
  lastCheckError.clear();
  try {
    const std::string url = BuildProductUrl(false, "Version.xml", "");
    if (!ReachServer(url)) return TCheckResult::CheckFailed;
    FetchManifest(url);
    ReadProductManifest();
    const int32_t installed = ReadInstalledVersion();
    Log(platform::FormatText("offer version=%d installed=%d path=%s mandatory=%d integrity=%s",
                             latestVersion, installed, packagePath, mustUpdate,
                             IntegrityAttributes()));
    if (latestVersion > installed) {
      controls[ControlId::lblPrompt1].caption = platform::FormatText(tx::kOfferText, latestVersion);
      return TCheckResult::UpdateAvailable;
    }
    return TCheckResult::UpToDate;
  } catch (const std::exception& e) {
    lastCheckError = e.what();
    return TCheckResult::CheckFailed;
  }
}

bool TUpdateForm::ReachServer(const std::string& manifestUrl) {
  Log("manifest url=" + UrlForLog(manifestUrl));
  if (platform::CanConnectTo(manifestUrl, limits.reachMs)) return true;
  lastCheckError = platform::FormatText(tx::kServerUnreachable, UrlForLog(manifestUrl));
  return false;
}

std::string TUpdateForm::IntegrityAttributes() const {
  std::string names;
  if (packageSha256) names = "SHA256";
  if (packageSignature) names += names.empty() ? "Signature" : ",Signature";
  return names.empty() ? "none" : names;
}

void TUpdateForm::ReadProductManifest() {
  const std::string file = GetWorkingFolder() + "Version.xml";
  if (!platform::FileExists(file)) return;
  std::vector<std::string>& notes = controls[ControlId::mmo1].lines;
  IXMLDocumentRef doc = OpenXmlDocumentFile(file, false, false);
  notes.clear();
  notes.push_back(platform::FormatText(tx::kReleaseNotesHeading, regionName));
  // Every matching entry is applied: the last one's values stand, and the
  // release notes of all of them follow one another.
  ForEachEntry(doc, [&](const IXMLNodeRef& entry) {
    if (!platform::SameProfileName(Attribute(entry, "Name"), regionName)) return true;
    latestVersion = StrToIntDef(Attribute(entry, "Version"), 0);
    packagePath = Attribute(entry, "VersionPath");
    mustUpdate = StrToIntDef(Attribute(entry, "MustUpdate"), 0);
    packageSha256 = OptionalAttribute(entry, "SHA256");
    packageSignature = OptionalAttribute(entry, "Signature");
    IXMLNodeListRef details = entry->GetChildNodes();
    const int32_t count = details->GetCount();
    for (int32_t i = 0; i < count; ++i) {
      IXMLNodeRef detail = details->GetNode(i);
      if (detail->GetNodeType() == TXMLNodeType::ntElement)
        notes.push_back(Attribute(detail, tx::kDetailAttribute));
    }
    return true;
  });
}

void TUpdateForm::ReadTemplateManifest() {
  const std::string file = GetWorkingFolder() + "Version.xml";
  if (!platform::FileExists(file)) return;
  IXMLDocumentRef doc = OpenXmlDocumentFile(file, false, false);
  ForEachEntry(doc, [&](const IXMLNodeRef& entry) {
    const std::string name = Attribute(entry, "Name");
    if (!platform::SameProfileName(name, TemplateArgument())) return true;
    latestVersion = StrToIntDef(Attribute(entry, "Version"), 0);
    packagePath = Attribute(entry, "VersionPath");
    templateName = name;
    packageSha256 = OptionalAttribute(entry, "SHA256");
    packageSignature = OptionalAttribute(entry, "Signature");
    templateVersion = latestVersion;
    return false; // the first matching entry wins
  });
}

int32_t TUpdateForm::ReadInstalledVersion() const {
  int32_t version = platform::ReadProfileInt(configFile, regionName, "CurVersion", 0);
  if (version == 0) version = platform::ReadProfileInt(configFile, "Version", "CurVersion", 0);
  return version;
}

TCheckResult TUpdateForm::CheckTemplateUpdate() {
  lastCheckError.clear();
  try {
    const std::string url = BuildSampleTextUrl(false, "Version.xml", "");
    if (!ReachServer(url)) return TCheckResult::CheckFailed;
    FetchManifest(url);
    ReadTemplateManifest();
    const int32_t installed = GetInstalledTemplateVersion();
    Log(platform::FormatText("template name=%s installed=%d published=%d path=%s integrity=%s",
                             templateName.empty() ? TemplateArgument() : templateName, installed,
                             templateVersion, packagePath, IntegrityAttributes()));
    return installed < templateVersion ? TCheckResult::UpdateAvailable : TCheckResult::UpToDate;
  } catch (const std::exception& e) {
    lastCheckError = e.what();
    return TCheckResult::CheckFailed;
  }
}

int32_t TUpdateForm::GetInstalledTemplateVersion() {
  const std::string kind = GetProductKind();
  std::string folder;
  if (platform::SameProfileName(kind, tx::kTenderTool.str()))
    folder = tx::kTenderSampleText;
  else if (platform::SameProfileName(kind, tx::kBidTool.str()))
    folder = tx::kBidSampleText;
  if (!folder.empty())
    localTemplatePath = ExeFolder() + folder + platform::PathDelim + templateName + ".sfwb";

  if (localTemplatePath.empty() || !platform::FileExists(localTemplatePath)) return 0;
  const std::string comment = TZipInfo::ReadArchiveComment(localTemplatePath);
  const std::string value =
      TrimBlanks(platform::ReadProfileStringFromText(comment, "Region", "Version", ""));
  return value.empty() ? 0 : StrToInt(value);
}
