#pragma once
// The fixed texts of the update window's start-up, converted once to ANSI.
#include "platform/CodePage.h"

namespace updatetexts {

inline const platform::AnsiText kTenderTool{"招标工具"};
inline const platform::AnsiText kBidTool{"投标工具"};
inline const platform::AnsiText kTenderSampleText{"招标示范文本"};
inline const platform::AnsiText kBidSampleText{"投标示范文本"};
inline const platform::AnsiText kShanghai{"上海"};
inline const platform::AnsiText kInstallKey{"SOFTWARE\\Zorva编标工具\\6.0"};

} // namespace updatetexts
