#include "common/ZorvaXMLDoc.h"
#include "platform/CodePage.h"
#include "platform/Stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Ansi(const char* utf8) {
  return platform::Utf8ToAnsi(utf8);
}

IXMLNodeRef NewElement(const std::string& name, TXMLOptions options = 0) {
  IXMLNodeRef node(new TXMLNode(TXMLNodeType::ntElement, options));
  node->SetNodeName(name);
  return node;
}

// Runs `action` and returns the message of the EXMLException it raises.
template <class F> std::string XMLErrorOf(F action) {
  try {
    action();
  } catch (const EXMLException& e) {
    return e.what();
  }
  return "(nothing raised)";
}

template <class F> std::string AssertionOf(F action) {
  try {
    action();
  } catch (const EAssertionFailed& e) {
    return e.what();
  }
  return "(nothing raised)";
}

TGUID ParseGuid(const char* text) {
  TGUID g{};
  unsigned d[11];
  EXPECT_EQ(11, std::sscanf(text, "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d[0], &d[1], &d[2],
                            &d[3], &d[4], &d[5], &d[6], &d[7], &d[8], &d[9], &d[10]));
  g.D1 = d[0];
  g.D2 = static_cast<uint16_t>(d[1]);
  g.D3 = static_cast<uint16_t>(d[2]);
  for (int i = 0; i < 8; ++i)
    g.D4[i] = static_cast<uint8_t>(d[3 + i]);
  return g;
}

TEST(XmlInterfaces, IdentifiersAreThePublishedOnes) {
  EXPECT_EQ(IXMLNode::IID, ParseGuid("{4C7DD0DC-7E8D-4479-9B8D-637D097CE206}"));
  EXPECT_EQ(IXMLNodeList::IID, ParseGuid("{A97C487B-F099-4798-A62B-D2C5BF742711}"));
  EXPECT_EQ(IXMLNodeAttributes::IID, ParseGuid("{F5755073-FC55-4077-9729-D4FA833BDB15}"));
  EXPECT_EQ(IXMLNodeAttribute::IID, ParseGuid("{FAE28ACE-04F6-4395-8F76-6EEFE495BDB1}"));
  EXPECT_EQ(IXMLJSONText::IID, ParseGuid("{55F64FD4-46AA-458C-BE28-9787E48F352F}"));
  EXPECT_EQ(IXMLDocument::IID, ParseGuid("{10774EA2-0132-4D59-A799-9D4CA4A69626}"));
  EXPECT_EQ(IXMLJSONFile::IID, ParseGuid("{D90716FB-506C-4624-9073-DB60702A25E2}"));
}

TEST(XmlInterfaces, QueryAnswersOnlyForTheClassesInterfaces) {
  IXMLNodeRef node = NewElement("n");
  auto json = node.Query<IXMLJSONText>();
  ASSERT_TRUE(json);
  EXPECT_EQ(node, json.Query<IXMLNode>());
  EXPECT_FALSE(node.Query<IXMLDocument>());
  EXPECT_FALSE(node.Query<IXMLNodeList>());

  auto list = node->GetChildNodes();
  EXPECT_TRUE(list.Query<IXMLNodeList>());
  EXPECT_FALSE(list.Query<IXMLNode>());
  auto attributes = node->GetAttributes();
  EXPECT_TRUE(attributes.Query<IXMLNodeAttributes>());
  EXPECT_FALSE(attributes.Query<IXMLNodeAttribute>());
  auto attribute = attributes->Add("a");
  EXPECT_TRUE(attribute.Query<IXMLNodeAttribute>());
  EXPECT_FALSE(attribute.Query<IXMLNode>());

  IXMLDocumentRef document = NewXmlDocument(true, true);
  EXPECT_TRUE(document.Query<IXMLJSONFile>());
  EXPECT_TRUE(document.Query<IXMLJSONText>());
  EXPECT_FALSE(document.Query<IXMLNode>());
}

TEST(XmlReferenceCounting, CountsFollowReferencesAndContainersShareTheNode) {
  IXMLNodeRef node = NewElement("n");
  EXPECT_EQ(2, node->AddRef());
  EXPECT_EQ(1, node->Release());
  IXMLNodeListRef children = node->GetChildNodes();
  IXMLNodeAttributesRef attributes = node->GetAttributes();
  IXMLNodeRef child = node->AddChild("c");
  node.Reset();
  // The containers keep their node alive; under AddressSanitizer a freed one
  // would be reported here.
  EXPECT_EQ(1, children->GetCount());
  EXPECT_EQ(child, children->GetNode(0));
  attributes->Add("a");
  EXPECT_EQ(1, attributes->GetCount());
  EXPECT_TRUE(child->GetParentNode());
}

TEST(XmlNames, HashFoldsCaseAndRotates) {
  EXPECT_EQ(0x1C41u, XMLNameHash("Name"));
  EXPECT_EQ(0x1C41u, XMLNameHash("name"));
  EXPECT_EQ(0x7FBu, XMLNameHash("abc"));
  IXMLNodeRef node = NewElement("n");
  auto attribute = node->GetAttributes()->Add("NAME");
  EXPECT_EQ(0x1C41u, attribute->GetNameHash());
  attribute->SetName("  abc\t");
  EXPECT_EQ("abc", attribute->GetName());
  EXPECT_EQ(0x7FBu, attribute->GetNameHash());
}

TEST(XmlNames, ComparisonFoldsOnlyAsciiLetters) {
  EXPECT_TRUE(XMLSameName("Version", "VERSION"));
  EXPECT_FALSE(XMLSameName("Version", "Versio"));
  EXPECT_FALSE(XMLSameName("a[", "A{")); // '[' and '{' differ by 32 but are no letters
  EXPECT_FALSE(XMLSameName(Ansi("名称"), Ansi("名稱")));
}

TEST(XmlAttributes, ReadingAMissingAttributeCreatesIt) {
  IXMLNodeRef node = NewElement("Item");
  auto attributes = node->GetAttributes();
  EXPECT_FALSE(node->HasAttribute("Version"));
  EXPECT_EQ(-1, attributes->IndexOf("Version"));
  EXPECT_EQ(0, attributes->GetCount());

  EXPECT_EQ("", attributes->GetAttribute("Version")->GetValue());
  EXPECT_EQ(1, attributes->GetCount());
  EXPECT_EQ("Version=\"\"", attributes->GetXML());
  EXPECT_EQ("<Item Version=\"\">", node->GetXML());

  attributes->Add("VERSION")->SetValue("12");
  EXPECT_EQ(1, attributes->GetCount());
  EXPECT_EQ("Version", attributes->GetItem(0)->GetName());
  EXPECT_EQ(12, attributes->GetAttribute("version")->GetAsInteger());
  EXPECT_TRUE(node->HasAttribute("vErSiOn"));
}

TEST(XmlAttributes, IndexErrorsAndDeletion) {
  IXMLNodeRef node = NewElement("n");
  auto attributes = node->GetAttributes();
  attributes->Add("a");
  attributes->Add("b");
  EXPECT_EQ(Ansi("访问索引越界"), XMLErrorOf([&] { attributes->GetItem(2); }));
  EXPECT_EQ(Ansi("访问索引越界"), XMLErrorOf([&] { attributes->GetItem(-1); }));
  attributes->Delete(2);
  attributes->Delete(-1);
  EXPECT_EQ(2, attributes->GetCount());
  attributes->Delete(0);
  EXPECT_EQ("b", attributes->GetItem(0)->GetName());
  attributes->Clear();
  EXPECT_EQ(0, attributes->GetCount());
  EXPECT_EQ("", attributes->GetXML());
}

TEST(XmlAttributes, AttributeTextForms) {
  IXMLNodeRef node = NewElement("n");
  auto attributes = node->GetAttributes();

  attributes->SetXML("Name=\"abc\" Version=\"12\"");
  EXPECT_EQ("Name=\"abc\" Version=\"12\"", attributes->GetXML());

  // Single quotes: the double quotes inside are part of the value.
  attributes->SetXML("Title='say \"hi\"' Path = \"a'b\"");
  ASSERT_EQ(2, attributes->GetCount());
  EXPECT_EQ("say \"hi\"", attributes->GetItem(0)->GetValue());
  EXPECT_EQ("Path", attributes->GetItem(1)->GetName());
  EXPECT_EQ("a'b", attributes->GetItem(1)->GetValue());

  // Values stay raw; a name met again keeps place and spelling.
  attributes->SetXML("a=\"&lt;\" B=\"1\" A=\"2\"");
  ASSERT_EQ(2, attributes->GetCount());
  EXPECT_EQ("a", attributes->GetItem(0)->GetName());
  EXPECT_EQ("2", attributes->GetItem(0)->GetValue());
  EXPECT_EQ("1", attributes->GetItem(1)->GetValue());

  // Bytes between '=' and the opening quote are skipped; an empty name is
  // ignored.
  attributes->SetXML("a=x\"v\" =\"w\"");
  ASSERT_EQ(1, attributes->GetCount());
  EXPECT_EQ("v", attributes->GetItem(0)->GetValue());

  // One stray byte after the last value is ignored.
  attributes->SetXML("a=\"1\"x");
  EXPECT_EQ(1, attributes->GetCount());
}

TEST(XmlAttributes, BadAttributeTextRaisesAndKeepsWhatWasRead) {
  IXMLNodeRef node = NewElement("n");
  auto attributes = node->GetAttributes();
  const std::string quotes = Ansi("XML 属性标识符号不匹配");
  EXPECT_EQ(quotes, XMLErrorOf([&] { attributes->SetXML("Name=a"); }));
  EXPECT_EQ(quotes, XMLErrorOf([&] { attributes->SetXML("Name=\"a"); }));
  EXPECT_EQ(quotes, XMLErrorOf([&] { attributes->SetXML("Name"); }));
  // Two bytes after the last value start another attribute, which has no '='.
  EXPECT_EQ(quotes, XMLErrorOf([&] { attributes->SetXML("a=\"1\"\r\n"); }));
  EXPECT_EQ(quotes, XMLErrorOf([&] { attributes->SetXML("a=\"1\" b=\"2\" c=3"); }));
  ASSERT_EQ(2, attributes->GetCount());
  EXPECT_EQ("b", attributes->GetItem(1)->GetName());
}

TEST(XmlAttributes, ManyAttributesInOneTextKeepTheirOrderAndMerge) {
  std::string text;
  for (int i = 0; i < 200; ++i)
    // Appended piece by piece: g++ 12 at -O3 warns (-Wrestrict) about
    // "literal" + std::string temporaries.
    text.append("k")
        .append(std::to_string(i))
        .append("=\"")
        .append(std::to_string(i))
        .append("\" ");
  text += "K150=\"last\" k0=\"first\"";
  IXMLNodeRef node = NewElement("n");
  auto attributes = node->GetAttributes();
  attributes->SetXML(text);
  ASSERT_EQ(200, attributes->GetCount());
  EXPECT_EQ("k150", attributes->GetItem(150)->GetName());
  EXPECT_EQ("last", attributes->GetItem(150)->GetValue());
  EXPECT_EQ("first", attributes->GetItem(0)->GetValue());
  EXPECT_EQ("199", attributes->GetItem(199)->GetValue());
}

TEST(XmlAttributes, OneAttributeFromText) {
  IXMLNodeRef node = NewElement("n");
  auto attribute = node->GetAttributes()->Add("x");
  attribute->SetXML("Name = \" abc\" ");
  EXPECT_EQ("Name ", attribute->GetName()); // the name is not trimmed
  EXPECT_EQ(XMLNameHash("Name "), attribute->GetNameHash());
  EXPECT_EQ(" abc", attribute->GetValue());
  attribute->SetXML("a='q'");
  EXPECT_EQ("'q'", attribute->GetValue()); // single quotes stay
  attribute->SetXML("b=\"x=1\"");
  EXPECT_EQ("x=1", attribute->GetValue());
  attribute->SetXML("\"p=q\"=v");
  EXPECT_EQ("\"p=q\"", attribute->GetName());
  attribute->SetXML("lonely");
  EXPECT_EQ("lonely", attribute->GetName());
  EXPECT_EQ("", attribute->GetValue());
  EXPECT_EQ("lonely=\"\"", attribute->GetXML());
}

TEST(XmlValues, TypedAccessorsStoreText) {
  IXMLNodeRef node = NewElement("n");
  node->SetAsString("a<b&\"c\"");
  EXPECT_EQ("a&lt;b&amp;&quot;c&quot;", node->GetText());
  EXPECT_EQ("a<b&\"c\"", node->GetAsString());

  node->SetText("4294967297");
  EXPECT_EQ(1, node->GetAsInteger());
  EXPECT_EQ(4294967297LL, node->GetAsInt64());
  node->SetAsInteger(-5);
  EXPECT_EQ("-5", node->GetText());

  for (const char* yes : {"True", "TRUE", "true"}) {
    node->SetText(yes);
    EXPECT_TRUE(node->GetAsBoolean()) << yes;
  }
  for (const char* no : {"1", "yes", " True", ""}) {
    node->SetText(no);
    EXPECT_FALSE(node->GetAsBoolean()) << no;
  }
  node->SetAsBoolean(false);
  EXPECT_EQ("False", node->GetText());

  auto attribute = node->GetAttributes()->Add("v");
  attribute->SetAsFloat(1.5L);
  EXPECT_EQ("1.5", attribute->GetValue());
  EXPECT_EQ(1.5L, attribute->GetAsFloat());
  attribute->SetAsString("x'y");
  EXPECT_EQ("x&apos;y", attribute->GetValue());
  EXPECT_EQ("x'y", attribute->GetAsString());
  attribute->SetAsBinary(std::vector<uint8_t>{1, 2, 3});
  TXMLBinary bytes;
  EXPECT_TRUE(attribute->GetAsBinary(bytes));
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), bytes.value());
}

TEST(XmlValues, LineBreakOptionsReachAttributesThroughTheCollection) {
  IXMLNodeRef node = NewElement("n", xoEncodeLineBreaks | xoDecodeLineBreaks);
  node->SetAsString("a\r\nb");
  EXPECT_EQ("a&#xD;&#xA;b", node->GetText());
  EXPECT_EQ("a\r\nb", node->GetAsString());
  auto attribute = node->GetAttributes()->Add("v");
  attribute->SetAsString("\n");
  EXPECT_EQ("&#xA;", attribute->GetValue());
  IXMLNodeRef child = node->AddChild("c");
  child->SetAsString("\r");
  EXPECT_EQ("&#xD;", child->GetText());

  IXMLNodeRef plain = NewElement("p");
  plain->SetAsString("a\nb");
  EXPECT_EQ("a\nb", plain->GetText());
  plain->SetText("&#xA;");
  EXPECT_EQ("&#xA;", plain->GetAsString());
}

TEST(XmlNodes, KindsAndOwnMarkup) {
  IXMLNodeRef node = NewElement("Item");
  node->SetText("t");
  EXPECT_EQ("<Item>", node->GetXML());
  node->SetNodeType(TXMLNodeType::ntComment);
  EXPECT_EQ("#comment", node->GetNodeName());
  EXPECT_EQ("<!--t-->", node->GetXML());
  node->SetNodeType(TXMLNodeType::ntElement);
  EXPECT_EQ("#comment", node->GetNodeName());
  node->SetNodeType(TXMLNodeType::ntCData);
  EXPECT_EQ("#cdata-section", node->GetNodeName());
  EXPECT_EQ("<![CDATA[t]]>", node->GetXML());
  node->SetNodeType(TXMLNodeType::ntText);
  EXPECT_EQ("#text", node->GetNodeName());
  EXPECT_EQ("t", node->GetXML());
  node->SetNodeName("Other");
  node->SetNodeType(TXMLNodeType::ntText);
  EXPECT_EQ("Other", node->GetNodeName()); // same kind: nothing changes
}

TEST(XmlNodes, StartTagForms) {
  IXMLNodeRef node = NewElement("old");
  node->SetXML("<Item Name=\"a\"/>");
  EXPECT_EQ("Item", node->GetNodeName());
  ASSERT_EQ(1, node->GetAttributes()->GetCount());
  EXPECT_EQ("a", node->GetAttributes()->GetItem(0)->GetValue());

  node->SetXML("<Item/>");
  EXPECT_EQ("Item", node->GetNodeName());
  EXPECT_EQ(0, node->GetAttributes()->GetCount());
  node->SetXML("<Item >");
  EXPECT_EQ("Item", node->GetNodeName());
  node->SetXML("  Row  Key='1'  ");
  EXPECT_EQ("Row", node->GetNodeName());
  EXPECT_EQ("Key=\"1\"", node->GetAttributes()->GetXML());
  node->SetXML("<Item Name=\"a\" />");
  EXPECT_EQ(1, node->GetAttributes()->GetCount());

  // Only the blank separates: after a tab the name runs to the end.
  node->SetXML("<Item\tName=\"a\">");
  EXPECT_EQ("Item\tName=\"a\"", node->GetNodeName());
  EXPECT_EQ(0, node->GetAttributes()->GetCount());
  // Kind and text are untouched.
  node->SetText("kept");
  node->SetXML("<x>");
  EXPECT_EQ("kept", node->GetText());
}

TEST(XmlNodes, StartTagWithoutNameFailsItsPrecondition) {
  IXMLNodeRef node = NewElement("n");
  for (const char* tag : {"", ">", "<", "/>"}) {
    const std::string message = AssertionOf([&] { node->SetXML(tag); });
    EXPECT_EQ(0u, message.find("Assertion failure (XMLNodeModel.cpp, line ")) << tag << message;
  }
  node->SetXML("<>");
  EXPECT_EQ("", node->GetNodeName());
}

TEST(XmlNodeList, IndexRulesAndEmptyReferences) {
  IXMLNodeRef root = NewElement("r");
  auto list = root->GetChildNodes();
  EXPECT_EQ(-1, list->Add(nullptr));
  list->Insert(0, nullptr);
  EXPECT_EQ(0, list->GetCount());
  EXPECT_FALSE(root->HasChildNodes());
  root->AddChild("a");
  root->AddChild("b");
  list->Delete(-1);
  list->Delete(2);
  EXPECT_EQ(2, list->GetCount());
  EXPECT_EQ(Ansi("访问索引越界"), XMLErrorOf([&] { list->GetNode(2); }));
  EXPECT_THROW(list->Move(0, 2), EXMLException);
  EXPECT_THROW(list->Exchange(-1, 0), EXMLException);
  EXPECT_THROW(list->Insert(3, NewElement("x")), EXMLException);
  EXPECT_EQ(2, list->GetCount());
}

TEST(XmlNodeList, LookupsByNameAndIdentity) {
  IXMLNodeRef root = NewElement("r");
  auto list = root->GetChildNodes();
  IXMLNodeRef a = root->AddChild("Item");
  IXMLNodeRef b = root->AddChild("item");
  IXMLNodeRef stranger = NewElement("Item");
  EXPECT_EQ(a, list->FindNode("ITEM"));
  EXPECT_EQ(a, list->GetNodeByName("item"));
  EXPECT_FALSE(list->FindNode("none"));
  EXPECT_EQ(1, list->IndexOf(b));
  EXPECT_EQ(-1, list->IndexOf(stranger));
  EXPECT_EQ(-1, list->Remove(stranger));
  EXPECT_EQ(0, list->DeleteByName("ITEM"));
  EXPECT_EQ(b, list->GetNode(0));
  EXPECT_EQ(-1, list->DeleteByName("gone"));
  EXPECT_EQ(0, list->Remove(b));
  EXPECT_EQ(0, list->GetCount());
}

// Walks the children through NextSibling and PreviousSibling and compares
// with the list's own order.
void ExpectSiblingsMatchList(const IXMLNodeListRef& list) {
  const int32_t count = list->GetCount();
  for (int32_t i = 0; i < count; ++i) {
    IXMLNodeRef node = list->GetNode(i);
    IXMLNodeRef next = node->NextSibling();
    IXMLNodeRef previous = node->PreviousSibling();
    if (i + 1 < count)
      EXPECT_EQ(list->GetNode(i + 1), next) << i;
    else
      EXPECT_FALSE(next) << i;
    if (i > 0)
      EXPECT_EQ(list->GetNode(i - 1), previous) << i;
    else
      EXPECT_FALSE(previous) << i;
    EXPECT_EQ(i, list->IndexOf(node));
  }
}

TEST(XmlNodeList, SiblingsFollowEveryChangeOfTheList) {
  IXMLNodeRef root = NewElement("r");
  auto list = root->GetChildNodes();
  for (int i = 0; i < 8; ++i)
    root->AddChild(std::string("c").append(std::to_string(i)));
  ExpectSiblingsMatchList(list);
  list->Insert(0, NewElement("first"));
  ExpectSiblingsMatchList(list);
  list->Insert(4, NewElement("middle"));
  ExpectSiblingsMatchList(list);
  list->Delete(2);
  ExpectSiblingsMatchList(list);
  list->Move(0, 7);
  ExpectSiblingsMatchList(list);
  list->Exchange(1, 6);
  ExpectSiblingsMatchList(list);
  list->Remove(list->GetNode(3));
  ExpectSiblingsMatchList(list);
  root->AddChild("end");
  ExpectSiblingsMatchList(list);
  EXPECT_EQ("end", list->GetNode(list->GetCount() - 1)->GetNodeName());
}

TEST(XmlNodeList, WalkingManySiblingsTakesLinearTime) {
  // Quadratic sibling lookups would need billions of steps here and time out.
  constexpr int kCount = 300000;
  IXMLNodeRef root = NewElement("r");
  for (int i = 0; i < kCount; ++i)
    root->AddChild("c");
  root->GetChildNodes()->Delete(0); // forces one renumbering
  int walked = 0;
  for (IXMLNodeRef n = root->GetChildNodes()->GetNode(0); n; n = n->NextSibling())
    ++walked;
  EXPECT_EQ(kCount - 1, walked);
  walked = 0;
  for (IXMLNodeRef n = root->GetChildNodes()->GetNode(kCount - 2); n; n = n->PreviousSibling())
    ++walked;
  EXPECT_EQ(kCount - 1, walked);
}

TEST(XmlNodeTree, LevelsAndParents) {
  IXMLNodeRef root = NewElement("r");
  IXMLNodeRef child = root->AddChild("c");
  IXMLNodeRef grandchild = child->AddChild("g");
  EXPECT_EQ(0, root->GetLevel());
  EXPECT_EQ(1, child->GetLevel());
  EXPECT_EQ(2, grandchild->GetLevel());
  EXPECT_EQ(child, grandchild->GetParentNode());
  EXPECT_FALSE(root->GetParentNode());
  EXPECT_FALSE(root->NextSibling());
  EXPECT_FALSE(root->PreviousSibling());

  // SetParentNode changes the link only.
  IXMLNodeRef other = NewElement("o");
  grandchild->SetParentNode(other);
  EXPECT_EQ(other, grandchild->GetParentNode());
  EXPECT_EQ(1, child->GetChildNodes()->GetCount());
  EXPECT_FALSE(grandchild->NextSibling());
  grandchild->SetParentNode(nullptr);
  EXPECT_EQ(0, grandchild->GetLevel());
}

TEST(XmlNodeTree, ParentCyclesAreRefused) {
  IXMLNodeRef root = NewElement("r");
  IXMLNodeRef child = root->AddChild("c");
  EXPECT_THROW(child->GetChildNodes()->Add(root), EAssertionFailed);
  EXPECT_THROW(root->GetChildNodes()->Add(root), EAssertionFailed);
  EXPECT_THROW(child->GetChildNodes()->Insert(0, root), EAssertionFailed);
  EXPECT_THROW(root->SetParentNode(child), EAssertionFailed);
  EXPECT_THROW(root->SetParentNode(root), EAssertionFailed);
  EXPECT_EQ(0, root->GetLevel());
  EXPECT_EQ(0, child->GetChildNodes()->GetCount());
}

TEST(XmlNodeTree, DetachedNodesKeepTheirParentUntilItIsFreed) {
  IXMLNodeRef deleted, removed, byName, cleared, readded, orphan, linked;
  IXMLNodeRef elsewhere = NewElement("e");
  {
    IXMLNodeRef parent = NewElement("p");
    IXMLNodeListRef list = parent->GetChildNodes();
    deleted = parent->AddChild("d");
    removed = parent->AddChild("r");
    byName = parent->AddChild("n");
    readded = parent->AddChild("a");
    orphan = parent->AddChild("o");
    parent->AddChild("gone"); // freed as soon as it is taken out
    list->Delete(0);
    EXPECT_EQ(0, list->Remove(removed));
    EXPECT_EQ(0, list->DeleteByName("n"));
    EXPECT_EQ(2, list->DeleteByName("gone"));
    list->Remove(readded);
    elsewhere->GetChildNodes()->Add(readded);
    IXMLNodeRef other = NewElement("q");
    cleared = other->AddChild("c");
    other->SetParentNode(parent);
    other->GetChildNodes()->Clear();
    // Taken out of the list, each still names the live parent it had.
    for (const IXMLNodeRef& node : {deleted, removed, byName}) {
      EXPECT_EQ(parent, node->GetParentNode());
      EXPECT_EQ(1, node->GetLevel());
      EXPECT_FALSE(node->NextSibling());
      EXPECT_FALSE(node->PreviousSibling());
    }
    EXPECT_EQ(other, cleared->GetParentNode());
    EXPECT_EQ(2, cleared->GetLevel());
    EXPECT_EQ(elsewhere, readded->GetParentNode());
    EXPECT_EQ(1, list->GetCount());

    linked = NewElement("l");
    linked->SetParentNode(parent);
    EXPECT_EQ(1, linked->GetLevel());
  }
  // The parents are gone. Under AddressSanitizer any use of them fails the
  // test.
  for (const IXMLNodeRef& node : {deleted, removed, byName, cleared, orphan, linked}) {
    EXPECT_FALSE(node->GetParentNode());
    EXPECT_FALSE(node->NextSibling());
    EXPECT_FALSE(node->PreviousSibling());
    EXPECT_EQ(0, node->GetLevel());
  }
  EXPECT_EQ(elsewhere, readded->GetParentNode());
}

TEST(XmlNodeTree, ManyDirectParentLinksComeAndGoInLinearTime) {
  constexpr int kCount = 200000;
  IXMLNodeRef parent = NewElement("p");
  std::vector<IXMLNodeRef> nodes;
  for (int i = 0; i < kCount; ++i) {
    nodes.push_back(NewElement("n"));
    nodes.back()->SetParentNode(parent);
  }
  // Half of them go away in the order they came, a quarter move elsewhere.
  for (int i = 0; i < kCount / 2; ++i)
    nodes[i].Reset();
  IXMLNodeRef other = NewElement("o");
  for (int i = kCount / 2; i < kCount * 3 / 4; ++i)
    nodes[i]->SetParentNode(other);
  EXPECT_EQ(parent, nodes[kCount - 1]->GetParentNode());
  parent.Reset();
  EXPECT_FALSE(nodes[kCount - 1]->GetParentNode());
  EXPECT_FALSE(nodes[kCount * 3 / 4]->GetParentNode());
  EXPECT_EQ(other, nodes[kCount / 2]->GetParentNode());
}

TEST(XmlNodeTree, NodeInTwoListsStaysSafe) {
  IXMLNodeRef shared = NewElement("s");
  IXMLNodeRef first = NewElement("f");
  {
    IXMLNodeRef second = NewElement("t");
    first->GetChildNodes()->Add(shared);
    second->GetChildNodes()->Add(NewElement("before"));
    second->GetChildNodes()->Add(shared);
    EXPECT_EQ(second, shared->GetParentNode());
    EXPECT_EQ("before", shared->PreviousSibling()->GetNodeName());
    EXPECT_EQ(0, first->GetChildNodes()->IndexOf(shared));
    EXPECT_EQ(1, second->GetChildNodes()->IndexOf(shared));
  }
  EXPECT_FALSE(shared->GetParentNode());
  EXPECT_EQ(shared, first->GetChildNodes()->GetNode(0));
}

TEST(XmlNodeTree, NodeInTwoListsCannotCloseACycle) {
  // b sits in the lists of a and c, and its parent link names c.
  IXMLNodeRef a = NewElement("a");
  IXMLNodeRef c = NewElement("c");
  IXMLNodeRef b = a->AddChild("b");
  c->GetChildNodes()->Add(b);
  IXMLNodeRef d = b->AddChild("d");
  ASSERT_EQ(c, b->GetParentNode());
  // a holds b and d: below either of them it would hold itself.
  for (const IXMLNodeRef& below : {b, d}) {
    EXPECT_THROW(below->GetChildNodes()->Add(a), EAssertionFailed) << below->GetNodeName();
    EXPECT_THROW(below->GetChildNodes()->Insert(0, a), EAssertionFailed);
  }
  EXPECT_EQ(1, b->GetChildNodes()->GetCount());
  EXPECT_EQ(0, d->GetChildNodes()->GetCount());
  EXPECT_FALSE(a->GetParentNode());
  // Nothing below a holds c: a may go there, and the whole tree is freed.
  c->GetChildNodes()->Insert(0, a);
  EXPECT_EQ(c, a->GetParentNode());
  EXPECT_EQ(2, c->GetChildNodes()->GetCount());
}

TEST(XmlNodeTree, CloningCopiesWithoutParent) {
  IXMLNodeRef root = NewElement("r", xoEncodeLineBreaks);
  IXMLNodeRef item = root->AddChild("Item");
  item->SetText("t");
  item->GetAttributes()->SetXML("a=\"1\" Title='say \"hi\"'");
  item->AddChild("sub")->AddChild("leaf")->SetText("x");

  IXMLNodeRef flat = item->CloneNode(false);
  EXPECT_EQ("Item", flat->GetNodeName());
  EXPECT_EQ("t", flat->GetText());
  EXPECT_EQ(item->GetAttributes()->GetXML(), flat->GetAttributes()->GetXML());
  EXPECT_FALSE(flat->HasChildNodes());
  EXPECT_FALSE(flat->GetParentNode());
  EXPECT_EQ(0, flat->GetLevel());
  flat->SetAsString("\n");
  EXPECT_EQ("&#xA;", flat->GetText()); // options are copied

  IXMLNodeRef deep = root->CloneNode(true);
  IXMLNodeRef leaf =
      deep->GetChildNodes()->GetNode(0)->GetChildNodes()->GetNode(0)->GetChildNodes()->GetNode(0);
  EXPECT_EQ("x", leaf->GetText());
  EXPECT_EQ(3, leaf->GetLevel());
  EXPECT_EQ("say \"hi\"",
            deep->GetChildNodes()->GetNode(0)->GetAttributes()->GetItem(1)->GetValue());
  // The copy is independent of the original.
  leaf->SetText("changed");
  EXPECT_EQ("x", item->GetChildNodes()->GetNode(0)->GetChildNodes()->GetNode(0)->GetText());
}

TEST(XmlNodeTree, VeryDeepTreesCloneAndFreeWithoutRecursion) {
  constexpr int kDepth = 200000;
  IXMLNodeRef root = NewElement("d");
  IXMLNodeRef node = root;
  for (int i = 0; i < kDepth; ++i)
    node = node->AddChild("d");
  EXPECT_EQ(kDepth, node->GetLevel());
  node.Reset();
  IXMLNodeRef copy = root->CloneNode(true);
  EXPECT_TRUE(copy->HasChildNodes());
  copy.Reset();
  root.Reset(); // would overflow the stack if freed recursively
}

TEST(XmlNodeTree, LoadFromStreamFillsTheNodeFromItsFirstTag) {
  IXMLNodeRef node = NewElement("old");
  node->SetText("keep");
  node->GetAttributes()->Add("stale");
  node->AddChild("stale");
  TMemoryStream stream;
  const std::string text = "<New a=\"1\"><c>x</c></New>";
  stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
  stream.SetPosition(0);
  node->LoadFromStream(&stream);
  EXPECT_EQ("New", node->GetNodeName());
  EXPECT_EQ("a=\"1\"", node->GetAttributes()->GetXML());
  ASSERT_EQ(1, node->GetChildNodes()->GetCount());
  EXPECT_EQ("x", node->GetChildNodes()->GetNode(0)->GetText());
  EXPECT_EQ("keep", node->GetText());
  EXPECT_NE(std::string::npos,
            AssertionOf([&] { node->LoadFromStream(nullptr); }).find("Assertion failure"));
}

} // namespace
