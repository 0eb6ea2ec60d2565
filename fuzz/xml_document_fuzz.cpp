// Loads arbitrary bytes as an XML document, the way the updater loads a
// downloaded manifest, then reads every node and attribute through the typed
// accessors and writes the document back. Library errors are expected for
// malformed input; anything else (a crash, a sanitizer report, another
// exception type) is a finding.
#include "common/ZorvaXMLDoc.h"
#include "common/ZorvaXMLIntf.h"
#include "common/ZorvaXMLUtils.h"
#include "platform/Exception.h"
#include "platform/Stream.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// Iterative, so that a deeply nested input does not exhaust this walker's
// stack before the library's.
void ReadEverything(const IXMLNodeRef& root) {
  std::vector<IXMLNodeRef> pending{root};
  while (!pending.empty()) {
    IXMLNodeRef node = std::move(pending.back());
    pending.pop_back();
    (void)node->GetAsString();
    (void)node->GetAsInt64();
    (void)node->GetAsFloat();
    (void)node->GetAsBoolean();
    TXMLBinary binary;
    (void)node->GetAsBinary(binary);
    (void)node->GetXML();
    (void)node->GetLevel();
    (void)node->PreviousSibling();
    (void)node->NextSibling();

    const IXMLNodeAttributesRef attributes = node->GetAttributes();
    for (int32_t i = 0; i < attributes->GetCount(); ++i) {
      const IXMLNodeAttributeRef attribute = attributes->GetItem(i);
      (void)attribute->GetAsString();
      (void)attribute->GetAsInteger();
      (void)attribute->GetAsFloat();
      (void)attribute->GetXML();
    }
    const IXMLNodeListRef children = node->GetChildNodes();
    for (int32_t i = 0; i < children->GetCount(); ++i)
      pending.push_back(children->GetNode(i));
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the options and the encoding assumed for a text
  // without declaration; the rest is the file.
  const uint8_t control = data[0];
  TMemoryStream stream;
  stream.WriteBuffer(data + 1, static_cast<int64_t>(size - 1));
  stream.SetPosition(0);

  IXMLDocumentRef document = NewXmlDocument((control & 1) != 0, (control & 2) != 0);
  document->SetOptions(static_cast<TXMLOptions>(((control & 4) ? xoSkipComments : 0) |
                                                ((control & 8) ? xoSkipCDATA : 0) |
                                                ((control & 16) ? xoDecodeLineBreaks : 0)));
  if (control & 32) document->SetEncoding("GBK");
  try {
    document->LoadFromStream(&stream);
  } catch (const Exception&) {
    return 0;
  }
  if (document->IsEmpty()) return 0;
  ReadEverything(document->GetDocumentElement());

  // What the library writes it must be able to read again.
  const std::string written = document->GetXML();
  IXMLDocumentRef again = NewXmlDocument(false, false);
  try {
    again->SetXML(written);
  } catch (const Exception&) {
    return 0;
  }
  return 0;
}
