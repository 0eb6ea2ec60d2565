#include "common/ProductTable.h"

#include "platform/GbkText.h"

namespace pt = producttexts;

const std::array<TProduct, 2>& Products() {
  static const std::array<TProduct, 2> kProducts{{
      {"-ZB", pt::kTenderTool, pt::kTenderSampleText, "MQT6.exe", "ZBPath"},
      {"-TB", pt::kBidTool, pt::kBidSampleText, "MQV6.exe", "TBPath"},
  }};
  return kProducts;
}

const TProduct* ProductOfSwitch(std::string_view argument) {
  for (const TProduct& product : Products())
    if (platform::SameTextIgnoringAsciiCase(argument, product.commandSwitch)) return &product;
  return nullptr;
}

const TProduct* ProductOfKind(std::string_view kind) {
  for (const TProduct& product : Products())
    if (platform::SameTextIgnoringAsciiCase(kind, product.kind.str())) return &product;
  return nullptr;
}

const TProduct* ProductOfServerFolder(std::string_view name) {
  for (const TProduct& product : Products())
    if (name == product.kind.str() || name == product.sampleTextKind.str()) return &product;
  return nullptr;
}
