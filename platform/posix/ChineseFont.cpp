#include "platform/ChineseFont.h"

#include <fontconfig/fontconfig.h>

#include <memory>

namespace {

struct PatternDeleter {
  void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
struct FontSetDeleter {
  void operator()(FcFontSet* s) const { FcFontSetDestroy(s); }
};
struct ObjectSetDeleter {
  void operator()(FcObjectSet* s) const { FcObjectSetDestroy(s); }
};
using PatternPtr = std::unique_ptr<FcPattern, PatternDeleter>;

const FcChar8* Text(const char* s) {
  return reinterpret_cast<const FcChar8*>(s);
}

bool CoversChinese(FcPattern* font) {
  FcLangSet* langs = nullptr;
  if (FcPatternGetLangSet(font, FC_LANG, 0, &langs) != FcResultMatch) return false;
  return FcLangSetHasLang(langs, Text("zh-cn")) != FcLangDifferentLang;
}

std::string Family(FcPattern* font) {
  FcChar8* family = nullptr;
  if (FcPatternGetString(font, FC_FAMILY, 0, &family) != FcResultMatch) return {};
  return reinterpret_cast<const char*>(family);
}

} // namespace

namespace platform {

std::string FindChineseFontFamily() {
  if (!FcInit()) return {};

  PatternPtr wanted(FcNameParse(Text("sans-serif:lang=zh-cn")));
  if (!wanted) return {};
  FcConfigSubstitute(nullptr, wanted.get(), FcMatchPattern);
  FcDefaultSubstitute(wanted.get());
  FcResult result = FcResultNoMatch;
  PatternPtr best(FcFontMatch(nullptr, wanted.get(), &result));
  // The best match may be a Latin font when no Chinese one is configured as
  // preferred; only a font that covers Chinese helps.
  if (best && CoversChinese(best.get())) return Family(best.get());

  PatternPtr anyChinese(FcNameParse(Text(":lang=zh-cn")));
  std::unique_ptr<FcObjectSet, ObjectSetDeleter> fields(FcObjectSetBuild(FC_FAMILY, nullptr));
  if (!anyChinese || !fields) return {};
  std::unique_ptr<FcFontSet, FontSetDeleter> fonts(
      FcFontList(nullptr, anyChinese.get(), fields.get()));
  if (!fonts) return {};
  for (int i = 0; i < fonts->nfont; ++i) {
    std::string family = Family(fonts->fonts[i]);
    if (!family.empty()) return family;
  }
  return {};
}

} // namespace platform
