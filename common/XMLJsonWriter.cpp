// The JSON writers. Both decide the comma after an element while walking its
// parent's children, where the answer is known, instead of asking each node
// for its next sibling: that question searches the parent's list and would
// make writing a wide element quadratic. Only the node a writing starts on
// asks, once.
#include "common/XMLJson.h"

#include "common/ZorvaXMLDoc.h"
#include "common/ZorvaXMLUtils.h"
#include "platform/Assert.h"
#include "platform/Stream.h"

#include <string_view>

namespace {

bool WritesText(std::string_view text) {
  return !text.empty() && text[0] != '\r';
}

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  out += text;
  out += '"';
}

void AppendCompact(const TXMLNode& node, std::string& out, bool hasNext) {
  out += '{';
  AppendQuoted(out, node.Name());
  out += ":[";
  const auto& attributes = node.Attributes().Items();
  const auto& children = node.Children().Items();
  const bool hasObject = !attributes.empty() || !children.empty();
  if (WritesText(node.Text())) {
    AppendQuoted(out, node.Text());
    if (hasObject) out += ',';
  }
  if (hasObject) {
    out += '{';
    for (size_t i = 0; i < attributes.size(); ++i) {
      if (i > 0) out += ',';
      AppendQuoted(out, attributes[i]->Name());
      out += ':';
      AppendQuoted(out, attributes[i]->Value());
    }
    out += "},";
  }
  for (size_t i = 0; i < children.size(); ++i)
    AppendCompact(*children[i], out, i + 1 < children.size());
  out += "]}";
  if (hasNext) out += ',';
}

} // namespace

void NodeToJsonText(IXMLNode* node, std::string& text) {
  if (node == nullptr) return;
  const TXMLNode* own = TXMLNode::FromIntf(node);
  ZORVA_ASSERT(own != nullptr);
  AppendCompact(*own, text, static_cast<bool>(node->NextSibling()));
}

TJSONBuilder::TJSONBuilder(TStream* stream) : stream_(stream) {
  ZORVA_ASSERT(stream != nullptr);
}

void TJSONBuilder::Build(IXMLDocument* document, bool formatted) {
  formatted_ = formatted;
  lineBreak_ = formatted ? "\r\n" : "";
  IXMLNodeRef root = document->GetDocumentElement();
  if (!root) return;
  const TXMLNode* own = TXMLNode::FromIntf(root.get());
  ZORVA_ASSERT(own != nullptr);
  WriteElement(*own, root->GetLevel(), static_cast<bool>(root->NextSibling()));
}

void TJSONBuilder::Line(int32_t level, std::initializer_list<std::string_view> parts) {
  line_.clear();
  if (formatted_ && level > 0) line_.append(static_cast<size_t>(level) * 4, ' ');
  for (std::string_view part : parts)
    line_ += part;
  line_ += lineBreak_;
  stream_->WriteBuffer(line_.data(), static_cast<int64_t>(line_.size()));
}

void TJSONBuilder::WriteElement(const TXMLNode& node, int32_t level, bool hasNext) {
  Line(level, {"{\"", node.Name(), "\":["});
  const auto& attributes = node.Attributes().Items();
  const auto& children = node.Children().Items();
  const bool hasObject = !attributes.empty() || !children.empty();
  if (WritesText(node.Text())) Line(level, {"\"", node.Text(), hasObject ? "\"," : "\""});
  if (hasObject) {
    Line(level + 1, {"{"});
    for (size_t i = 0; i < attributes.size(); ++i)
      Line(level + 1,
           {"\"", attributes[i]->Name(), "\":\"", UnescapeXmlText(attributes[i]->Value(), false),
            i + 1 < attributes.size() ? "\"," : "\""});
    Line(level + 1, {"},"});
  }
  for (size_t i = 0; i < children.size(); ++i)
    WriteElement(*children[i], level + 1, i + 1 < children.size());
  Line(level, {hasNext ? "]}," : "]}"});
}

void WriteJsonDocument(IXMLDocument* document, TStream* stream) {
  TJSONBuilder builder(stream);
  builder.Build(document, true);
}
