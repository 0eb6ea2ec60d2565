// The JSON writers. Both decide the comma after an element while walking its
// parent's children, where the answer is known, instead of asking each node
// for its next sibling: that question searches the parent's list and would
// make writing a wide element quadratic. Only the node a writing starts on
// asks, once.
#include "common/XMLJson.h"

#include "common/ZorvaXMLUtils.h"
#include "platform/Assert.h"
#include "platform/Stream.h"

namespace {

bool WritesText(const std::string& text) {
  return !text.empty() && text[0] != '\r';
}

void AppendQuoted(std::string& out, const std::string& text) {
  out += '"';
  out += text;
  out += '"';
}

void AppendCompact(IXMLNode* node, std::string& out, bool hasNext) {
  out += '{';
  AppendQuoted(out, node->GetNodeName());
  out += ":[";
  IXMLNodeAttributesRef attributes = node->GetAttributes();
  IXMLNodeListRef children = node->GetChildNodes();
  const int32_t attributeCount = attributes->GetCount();
  const int32_t childCount = children->GetCount();
  const std::string text = node->GetText();
  if (WritesText(text)) {
    AppendQuoted(out, text);
    if (childCount != 0 || attributeCount != 0) out += ',';
  }
  if (attributeCount != 0 || childCount != 0) {
    out += '{';
    for (int32_t i = 0; i < attributeCount; ++i) {
      IXMLNodeAttributeRef attribute = attributes->GetItem(i);
      if (i > 0) out += ',';
      AppendQuoted(out, attribute->GetName());
      out += ':';
      AppendQuoted(out, attribute->GetValue());
    }
    out += "},";
  }
  for (int32_t i = 0; i < childCount; ++i)
    AppendCompact(children->GetNode(i).get(), out, i + 1 < childCount);
  out += "]}";
  if (hasNext) out += ',';
}

} // namespace

void NodeToJsonText(IXMLNode* node, std::string& text) {
  if (node == nullptr) return;
  AppendCompact(node, text, static_cast<bool>(node->NextSibling()));
}

TJSONBuilder::TJSONBuilder(TStream* stream) : stream_(stream) {
  ZORVA_ASSERT(stream != nullptr);
}

void TJSONBuilder::Build(IXMLDocument* document, bool formatted) {
  formatted_ = formatted;
  lineBreak_ = formatted ? "\r\n" : "";
  IXMLNodeRef root = document->GetDocumentElement();
  if (!root) return;
  WriteElement(root.get(), root->GetLevel(), static_cast<bool>(root->NextSibling()));
}

void TJSONBuilder::Line(int32_t level, const std::string& text) {
  line_.clear();
  if (formatted_ && level > 0) line_.append(static_cast<size_t>(level) * 4, ' ');
  line_ += text;
  line_ += lineBreak_;
  stream_->WriteBuffer(line_.data(), static_cast<int64_t>(line_.size()));
}

void TJSONBuilder::WriteElement(IXMLNode* node, int32_t level, bool hasNext) {
  Line(level, "{\"" + node->GetNodeName() + "\":[");
  IXMLNodeAttributesRef attributes = node->GetAttributes();
  IXMLNodeListRef children = node->GetChildNodes();
  const int32_t attributeCount = attributes->GetCount();
  const int32_t childCount = children->GetCount();
  const std::string text = node->GetText();
  if (WritesText(text))
    Line(level, "\"" + text + "\"" + (childCount != 0 || attributeCount != 0 ? "," : ""));
  if (attributeCount != 0 || childCount != 0) {
    Line(level + 1, "{");
    for (int32_t i = 0; i < attributeCount; ++i) {
      IXMLNodeAttributeRef attribute = attributes->GetItem(i);
      Line(level + 1, "\"" + attribute->GetName() + "\":\"" +
                          UnescapeXmlText(attribute->GetValue(), false) + "\"" +
                          (i + 1 < attributeCount ? "," : ""));
    }
    Line(level + 1, "},");
  }
  for (int32_t i = 0; i < childCount; ++i)
    WriteElement(children->GetNode(i).get(), level + 1, i + 1 < childCount);
  Line(level, hasNext ? "]}," : "]}");
}

void WriteJsonDocument(IXMLDocument* document, TStream* stream) {
  TJSONBuilder builder(stream);
  builder.Build(document, true);
}
