// The JSON operations of nodes and documents.
#include "common/XMLJson.h"
#include "common/ZorvaXMLDoc.h"
#include "platform/Assert.h"
#include "platform/Stream.h"

void TXMLNode::GetJSON(std::string& text) {
  text.clear();
  NodeToJsonText(this, text);
}

void TXMLNode::SetJSON(const std::string& text) {
  LoadJsonIntoNode(IXMLNodeRef(this), text);
}

// An empty document has no node to give or take the text: it gives empty text
// and ignores what it is given.
void TXMLDocument::GetJSON(std::string& text) {
  text.clear();
  if (root_) NodeToJsonText(root_.get(), text);
}

void TXMLDocument::SetJSON(const std::string& text) {
  if (root_) LoadJsonIntoNode(root_, text);
}

void TXMLDocument::LoadJSONFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead);
  file.SetPosition(0);
  LoadJSONFromStream(&file);
  fileName_ = fileName;
}

// The text is read below a temporary element, so that a failure leaves the
// document as it was; its first child becomes the new root.
void TXMLDocument::LoadJSONFromStream(TStream* stream) {
  ZORVA_ASSERT(stream != nullptr);
  IXMLNodeRef holder(new TXMLNode(TXMLNodeType::ntElement, 0));
  LoadJsonIntoNode(holder, ReadStreamRest(*stream));
  root_.Reset();
  SetOuterComments({}, {});
  IXMLNodeListRef children = holder->GetChildNodes();
  if (children->GetCount() == 0) return;
  IXMLNodeRef first = children->GetNode(0);
  children->Delete(0);
  first->SetParentNode(nullptr);
  root_ = first;
}

void TXMLDocument::SaveJSONToFile(const std::string& fileName) {
  TFileStream file(fileName, fmCreate);
  file.SetSize64(0);
  SaveJSONToStream(&file);
}

void TXMLDocument::SaveJSONToStream(TStream* stream) {
  WriteJsonDocument(this, stream);
}
