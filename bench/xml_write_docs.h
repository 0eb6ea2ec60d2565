#pragma once
// Generated documents for the writer benchmarks, also read back by the
// writer's round-trip tests.
#include "common/ZorvaXMLIntf.h"
#include "platform/CodePage.h"

#include <string>

namespace xml_write_docs {

// A root with `count` leaf children, each with two attributes and a text.
inline IXMLDocumentRef WideDocument(int count, bool formatted) {
  IXMLDocumentRef doc = NewXmlDocument(true, formatted);
  IXMLNodeRef root = doc->AddRootNode("Items");
  root->GetAttributes()->GetAttribute("Count")->SetAsInteger(count);
  for (int i = 0; i < count; ++i) {
    IXMLNodeRef item = root->AddChild("Item");
    item->GetAttributes()->GetAttribute("Name")->SetAsString("item" + std::to_string(i));
    item->GetAttributes()->GetAttribute("Version")->SetAsInteger(i * 7);
    item->SetAsString("text of item " + std::to_string(i));
  }
  return doc;
}

// `breadth` children per element down to `depth` levels, with GBK texts,
// escaped markup characters, comments and CDATA sections on the way.
inline void FillMixed(IXMLNodeRef node, int depth, int breadth, int& serial) {
  static const std::string chinese = platform::Utf8ToAnsi("版本说明：修复了若干问题");
  for (int i = 0; i < breadth; ++i) {
    const int n = serial++;
    if (depth == 0 || n % 5 == 4) {
      IXMLNodeRef leaf = node->AddChild("Leaf");
      leaf->GetAttributes()->GetAttribute("id")->SetAsInteger(n);
      if (n % 3 == 0) leaf->GetAttributes()->GetAttribute("expr")->SetAsString("a<b & \"c\"");
      if (n % 4 != 1) leaf->SetAsString(n % 2 ? chinese : "x < y && y > z " + std::to_string(n));
      continue;
    }
    if (n % 7 == 3) {
      IXMLNodeRef comment = node->AddChild("");
      comment->SetNodeType(TXMLNodeType::ntComment);
      comment->SetText(" note " + std::to_string(n) + " ");
    }
    if (n % 11 == 6) {
      IXMLNodeRef cdata = node->AddChild("");
      cdata->SetNodeType(TXMLNodeType::ntCData);
      cdata->SetText("<raw> & " + chinese);
    }
    IXMLNodeRef group = node->AddChild("Group");
    group->GetAttributes()->GetAttribute("Name")->SetAsString(chinese + std::to_string(n));
    FillMixed(group, depth - 1, breadth, serial);
  }
}

inline IXMLDocumentRef MixedDocument(int depth, int breadth, bool formatted) {
  IXMLDocumentRef doc = NewXmlDocument(true, formatted);
  int serial = 0;
  FillMixed(doc->AddRootNode("Manifest"), depth, breadth, serial);
  return doc;
}

} // namespace xml_write_docs
