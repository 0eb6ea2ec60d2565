#pragma once
// The two products of the suite and every name that derives from a product:
// the switch that chooses it on the updater's command line, its kind (the
// server folder and the installer's name), the kind of its sample texts (the
// server folder and the installed folder of its templates), its program and
// the registry value of its install folder. The one table of them, read by
// the updater and the publishing program alike.
#include "platform/CodePage.h"

#include <array>
#include <string_view>

namespace producttexts {
inline const platform::AnsiText kTenderTool{"招标工具"};
inline const platform::AnsiText kBidTool{"投标工具"};
inline const platform::AnsiText kTenderSampleText{"招标示范文本"};
inline const platform::AnsiText kBidSampleText{"投标示范文本"};
} // namespace producttexts

struct TProduct {
  const char* commandSwitch;                // "-ZB"
  const platform::AnsiText& kind;           // 招标工具
  const platform::AnsiText& sampleTextKind; // 招标示范文本
  const char* exeName;                      // MQT6.exe
  const char* installFolderValue;           // ZBPath
};

const std::array<TProduct, 2>& Products();

// The product chosen by the command-line switch `argument`, ignoring the
// case of ASCII letters; nullptr for any other text.
const TProduct* ProductOfSwitch(std::string_view argument);

// The product of kind `kind`, ignoring the case of ASCII letters; nullptr for
// any other text.
const TProduct* ProductOfKind(std::string_view kind);

// The product whose kind or sample-text kind is exactly `name`; nullptr for
// any other text.
const TProduct* ProductOfServerFolder(std::string_view name);
