// The JSON writers. Both decide the comma after an element while walking its
// parent's children, where the answer is known, instead of asking each node
// for its next sibling: that question searches the parent's list and would
// make writing a wide element quadratic. Only the node a writing starts on
// asks, once. The walk keeps no recursion, so any depth can be written.
#include "common/XMLJson.h"

#include "common/XMLTreeWalk.h"
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

// Everything of an element that comes before its children.
void AppendCompactHead(const TXMLNode& node, std::string& out) {
  out += '{';
  AppendQuoted(out, node.Name());
  out += ":[";
  const auto& attributes = node.Attributes().Items();
  const bool hasObject = !attributes.empty() || node.Children().Count() != 0;
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
}

} // namespace

void NodeToJsonText(IXMLNode* node, std::string& text) {
  if (node == nullptr) return;
  TXMLNode* own = TXMLNode::FromIntf(node);
  ZORVA_ASSERT(own != nullptr);
  WalkXMLTree(
      *own, 0, static_cast<bool>(node->NextSibling()),
      [&text](TXMLNode& element, int32_t, bool) { AppendCompactHead(element, text); },
      [&text](TXMLNode&, int32_t, bool hasNext) { text += hasNext ? "]}," : "]}"; });
}

TJSONBuilder::TJSONBuilder(TStream* stream) : stream_(stream) {
  ZORVA_ASSERT(stream != nullptr);
}

void TJSONBuilder::Build(IXMLDocument* document, bool formatted) {
  formatted_ = formatted;
  lineBreak_ = formatted ? "\r\n" : "";
  IXMLNodeRef root = document->GetDocumentElement();
  if (!root) return;
  TXMLNode* own = TXMLNode::FromIntf(root.get());
  ZORVA_ASSERT(own != nullptr);
  WalkXMLTree(
      *own, root->GetLevel(), static_cast<bool>(root->NextSibling()),
      [this](TXMLNode& node, int32_t level, bool) { WriteHead(node, level); },
      [this](TXMLNode&, int32_t level, bool hasNext) { Line(level, {hasNext ? "]}," : "]}"}); });
}

void TJSONBuilder::Line(int32_t level, std::initializer_list<std::string_view> parts) {
  line_.clear();
  if (formatted_ && level > 0) line_.append(static_cast<size_t>(level) * 4, ' ');
  for (std::string_view part : parts)
    line_ += part;
  line_ += lineBreak_;
  stream_->WriteBuffer(line_.data(), static_cast<int64_t>(line_.size()));
}

void TJSONBuilder::WriteHead(const TXMLNode& node, int32_t level) {
  Line(level, {"{\"", node.Name(), "\":["});
  const auto& attributes = node.Attributes().Items();
  const bool hasObject = !attributes.empty() || node.Children().Count() != 0;
  if (WritesText(node.Text())) Line(level, {"\"", node.Text(), hasObject ? "\"," : "\""});
  if (!hasObject) return;
  Line(level + 1, {"{"});
  for (size_t i = 0; i < attributes.size(); ++i)
    Line(level + 1,
         {"\"", attributes[i]->Name(), "\":\"", UnescapeXmlText(attributes[i]->Value(), false),
          i + 1 < attributes.size() ? "\"," : "\""});
  Line(level + 1, {"},"});
}

void WriteJsonDocument(IXMLDocument* document, TStream* stream) {
  TJSONBuilder builder(stream);
  builder.Build(document, true);
}
