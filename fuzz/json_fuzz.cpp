// The JSON reader on arbitrary bytes. Whatever it reads must also survive
// the XML writer, the compact JSON writer and a second reading of the text
// that writer gives.
#include "common/XMLJson.h"
#include "common/XMLWriter.h"
#include "common/ZorvaXMLIntf.h"
#include "platform/Exception.h"
#include "platform/Stream.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  IXMLDocumentRef doc = NewXmlDocument(true, true);
  IXMLNodeRef holder = doc->CreateNode("", TXMLNodeType::ntElement);
  try {
    LoadJsonIntoNode(holder, text);
  } catch (const Exception&) {
    // Format and conversion errors are expected; what was read stays.
  }
  std::string json;
  NodeToJsonText(holder.get(), json);
  TMemoryStream xml;
  TXMLBuilder builder(&xml);
  builder.Indent = true;
  builder.WriteNode(holder.get());
  IXMLNodeRef again = doc->CreateNode("", TXMLNodeType::ntElement);
  try {
    LoadJsonIntoNode(again, json);
  } catch (const Exception&) {
  }
  return 0;
}
