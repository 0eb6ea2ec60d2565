#pragma once
// The texts of the XML library's errors, in the ANSI code page.
#include "platform/CodePage.h"

#include <string>

namespace xmltext {
inline const platform::AnsiText kIndexOutOfRange{"访问索引越界"};
inline const platform::AnsiText kAttributeQuotes{"XML 属性标识符号不匹配"};
inline const platform::AnsiText kOneTopLevelNode{"XML 文档只能有一个顶层节点"};
inline const platform::AnsiText kMarkupUnmatched{"XML 标识符号不匹配"};
inline const platform::AnsiText kEmptyMarkup{"XML 节点内容不能为空"};
inline const platform::AnsiText kIllegalContent{"节点内容非法"};
inline const platform::AnsiText kErrorPosition{"，错误位置 "};

// "<message>，错误位置 <position>".
inline std::string WithPosition(const std::string& message, long long position) {
  return message + kErrorPosition.str() + std::to_string(position);
}
} // namespace xmltext
