// Feeds arbitrary bytes to the start-tag and attribute-text scanning of the
// XML node, then checks the text helpers on every value it produced: the
// escaping round trip, the search against a plain one, and the value
// conversions reading back what they wrote.
#include "common/ZorvaXMLDoc.h"
#include "common/ZorvaXMLIntf.h"
#include "common/ZorvaXMLUtils.h"
#include "platform/Exception.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

int PlainFind(std::string_view pattern, std::string_view text, int start) {
  if (pattern.empty()) return 0;
  for (std::size_t i = static_cast<std::size_t>(start) - 1; i + pattern.size() <= text.size(); ++i)
    if (text.substr(i, pattern.size()) == pattern) return static_cast<int>(i + 1);
  return 0;
}

void CheckTextHelpers(const std::string& value) {
  std::string withoutNul;
  for (char c : value)
    if (c != '\0') withoutNul += c;
  for (bool lineBreaks : {false, true})
    Check(UnescapeXmlText(EscapeXmlText(value, lineBreaks), lineBreaks) == withoutNul);

  for (std::string_view pattern : {"-->", "]]>", "&", "\"", "encoding=\""}) {
    const int length = static_cast<int>(value.size());
    for (int start : {1, 2, length / 2 + 1, length, length + 1, length + 5})
      if (start >= 1)
        Check(FindTextFrom(pattern, value, start) == PlainFind(pattern, value, start));
  }

  const int64_t integer = XmlTextToInt64(value);
  Check(XmlTextToInt64(Int64ToXmlText(integer)) == integer);

  const long double number = XmlTextToFloat(value);
  if (std::isnormal(number)) {
    const std::string text = FloatToXmlText(number);
    Check(FloatToXmlText(XmlTextToFloat(text)) == text);
  }

  TXMLBinary bytes;
  if (Base64TextToBytes(value, bytes) && bytes) {
    std::string encoded;
    BytesToBase64Text(bytes, encoded);
    TXMLBinary again;
    Check(Base64TextToBytes(encoded, again) && again == bytes);
  }
  Check(XmlTextToBool(value) == XmlTextToBool(BoolToXmlText(XmlTextToBool(value))));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckTextHelpers(text);

  IXMLDocumentRef document = NewXmlDocument(false, false);
  IXMLNodeRef node = document->CreateNode("n", TXMLNodeType::ntElement);
  try {
    node->SetXML(text);
  } catch (const Exception&) {
  }
  try {
    node->GetAttributes()->SetXML(text);
  } catch (const Exception&) {
  }

  const IXMLNodeAttributesRef attributes = node->GetAttributes();
  for (int32_t i = 0; i < attributes->GetCount(); ++i) {
    const IXMLNodeAttributeRef attribute = attributes->GetItem(i);
    CheckTextHelpers(attribute->GetValue());
    CheckTextHelpers(attribute->GetAsString());
  }
  CheckTextHelpers(node->GetNodeName());

  // The attribute text the node writes reads back to the same attributes
  // when no value holds a double quote (written values are double-quoted).
  bool quoted = false;
  for (int32_t i = 0; i < attributes->GetCount(); ++i)
    quoted = quoted || attributes->GetItem(i)->GetValue().find('"') != std::string::npos;
  if (!quoted) {
    IXMLNodeRef copy = document->CreateNode("copy", TXMLNodeType::ntElement);
    copy->GetAttributes()->SetXML(attributes->GetXML());
    const IXMLNodeAttributesRef copied = copy->GetAttributes();
    Check(copied->GetCount() == attributes->GetCount());
    for (int32_t i = 0; i < copied->GetCount(); ++i) {
      Check(copied->GetItem(i)->GetName() == attributes->GetItem(i)->GetName());
      Check(copied->GetItem(i)->GetValue() == attributes->GetItem(i)->GetValue());
    }
  }
  return 0;
}
