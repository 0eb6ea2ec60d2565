// The operations of nodes and documents that write XML text.
#include "common/XMLWriter.h"
#include "common/ZorvaXMLDoc.h"

void TXMLNode::SaveToStream(TStream* stream) {
  SaveNodeToStream(this, stream);
}

std::string TXMLDocument::GetDisplayXML() {
  return DocumentToString(this, false);
}

std::string TXMLDocument::GetXML() {
  return DocumentToString(this, true);
}

void TXMLDocument::SaveToStream(TStream* stream) {
  SaveDocumentToStream(this, stream);
}
