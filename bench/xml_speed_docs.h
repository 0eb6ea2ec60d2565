#pragma once
// The two generated documents of the XML speed comparison, as UTF-8 text with
// a declaration that names utf-8, the way the update server publishes files:
//  - wide: a long list of entries, each with four attributes and three
//    children that carry one Chinese attribute each (about 165,000 entries
//    in 50 MB);
//  - deep: towers of eight nested elements with text holding entity
//    references, comments and CDATA sections on the way down, and text
//    before each end tag on the way up.
// Every Chinese character has a GBK form, so the ANSI text loses nothing.
#include <cstddef>
#include <string>

namespace xml_speed_docs {

inline const char* const kRegions[] = {"上海", "北京", "广东深圳", "浙江", "江苏南京", "四川成都"};
inline const char* const kNotes[] = {
    "修复了招标文件导出时偶尔丢失附件的问题",
    "优化下载速度，支持断点续传与校验",
    "新增投标报价汇总表与清单核对功能",
    "调整界面布局，改进大字体下的显示效果",
};

inline std::string WideDocument(std::size_t targetBytes) {
  std::string xml;
  xml.reserve(targetBytes + 1024);
  xml += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Versions>\r\n";
  for (int entry = 0; xml.size() < targetBytes; ++entry) {
    const std::string serial = std::to_string(entry);
    xml += "  <Item Name=\"";
    xml += kRegions[entry % 6];
    xml += serial;
    xml += "\" Version=\"6.";
    xml += std::to_string(entry % 97);
    xml += "\" Path=\"V";
    xml += serial;
    xml += "\" Must=\"";
    xml += entry % 2 ? "True" : "False";
    xml += "\">\r\n";
    for (int line = 0; line < 3; ++line) {
      xml += "    <Detail Text=\"";
      xml += kNotes[(entry + line) % 4];
      xml += "\"/>\r\n";
    }
    xml += "  </Item>\r\n";
  }
  xml += "</Versions>\r\n";
  return xml;
}

inline std::string DeepDocument(std::size_t targetBytes) {
  constexpr int kDepth = 8;
  std::string xml;
  xml.reserve(targetBytes + 4096);
  xml += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Library>\r\n";
  for (int tower = 0; xml.size() < targetBytes; ++tower) {
    const std::string serial = std::to_string(tower);
    for (int level = 0; level < kDepth; ++level) {
      xml.append(static_cast<std::size_t>(level + 1) * 2, ' ');
      xml += "<Section id=\"" + serial + "." + std::to_string(level) +
             "\" kind=\"a &amp; b\">text &lt;" + serial + "&gt; 说明 &amp; more";
      if (level % 3 == 0) xml += "<!-- note " + serial + " -->";
      if (level % 4 == 1) xml += "<![CDATA[raw <markup> & 数据]]>";
      if (level + 1 < kDepth) xml += "\r\n";
    }
    for (int level = kDepth - 1; level >= 0; --level) {
      xml += "tail &amp; end</Section>\r\n";
      if (level > 0) xml.append(static_cast<std::size_t>(level) * 2, ' ');
    }
  }
  xml += "</Library>\r\n";
  return xml;
}

} // namespace xml_speed_docs
