#include "common/ZorvaXMLDoc.h"
#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Ansi(const char* utf8) {
  return platform::Utf8ToAnsi(utf8);
}

IXMLDocumentRef Parse(const std::string& text, TXMLOptions options = 0) {
  IXMLDocumentRef document = NewXmlDocument(true, true);
  document->SetOptions(options);
  document->SetXML(text);
  return document;
}

IXMLNodeRef Child(const IXMLNodeRef& node, int32_t index) {
  return node->GetChildNodes()->GetNode(index);
}

TEST(XmlParser, ElementsKeepTheirTextRaw) {
  IXMLNodeRef a = Parse("<a><b>x</b><c/></a>")->GetDocumentElement();
  ASSERT_TRUE(a);
  EXPECT_EQ("a", a->GetNodeName());
  EXPECT_EQ("", a->GetText());
  ASSERT_EQ(2, a->GetChildNodes()->GetCount());
  EXPECT_EQ("x", Child(a, 0)->GetText());
  EXPECT_FALSE(Child(a, 0)->HasChildNodes());
  EXPECT_EQ("c", Child(a, 1)->GetNodeName());
  EXPECT_EQ("", Child(a, 1)->GetText());
  EXPECT_FALSE(Child(a, 1)->HasChildNodes());

  IXMLNodeRef raw = Parse("<a>&lt; &#x41;</a>")->GetDocumentElement();
  EXPECT_EQ("&lt; &#x41;", raw->GetText());
  EXPECT_EQ("< &#x41;", raw->GetAsString());
}

TEST(XmlParser, LaterTextRunsReplaceEarlierOnes) {
  IXMLNodeRef a = Parse("<a>\r\n  <b>x</b>\r\n  <c/>\r\n</a>")->GetDocumentElement();
  EXPECT_EQ("\r\n", a->GetText());
  EXPECT_EQ("x", Child(a, 0)->GetText());

  EXPECT_EQ("two", Parse("<a>one<b/>two</a>")->GetDocumentElement()->GetText());
  // Text outside every element is dropped.
  IXMLNodeRef r = Parse("lead<r>in</r>tail")->GetDocumentElement();
  EXPECT_EQ("in", r->GetText());
}

TEST(XmlParser, TopLevelElementsMergeIntoOneRoot) {
  IXMLNodeRef root = Parse("<a x=\"1\"><k/></a><b y=\"2\">t</b>")->GetDocumentElement();
  EXPECT_EQ("b", root->GetNodeName());
  EXPECT_EQ("y=\"2\"", root->GetAttributes()->GetXML());
  EXPECT_EQ(1, root->GetChildNodes()->GetCount());
  EXPECT_EQ("t", root->GetText());

  IXMLNodeRef single = Parse("<a/><b/>")->GetDocumentElement();
  EXPECT_EQ("b", single->GetNodeName());
  EXPECT_EQ(0, single->GetAttributes()->GetCount());
  EXPECT_FALSE(single->HasChildNodes());
}

TEST(XmlParser, EndTagNamesAreNotCompared) {
  IXMLNodeRef a = Parse("<a></b>")->GetDocumentElement();
  EXPECT_EQ("a", a->GetNodeName());
  // Unclosed elements are kept as built.
  IXMLNodeRef open = Parse("<a><b><c>")->GetDocumentElement();
  EXPECT_EQ("c", Child(Child(open, 0), 0)->GetNodeName());
}

TEST(XmlParser, CommentBeforeTheRootBecomesTheRoot) {
  IXMLNodeRef root = Parse("<!-- note --><r a=\"1\"><c/></r>")->GetDocumentElement();
  EXPECT_EQ(TXMLNodeType::ntComment, root->GetNodeType());
  EXPECT_EQ("r", root->GetNodeName());
  EXPECT_EQ(" note ", root->GetText());
  EXPECT_EQ("a=\"1\"", root->GetAttributes()->GetXML());
  EXPECT_EQ(1, root->GetChildNodes()->GetCount());

  IXMLNodeRef skipped = Parse("<!-- note --><r/>", xoSkipComments)->GetDocumentElement();
  EXPECT_EQ(TXMLNodeType::ntElement, skipped->GetNodeType());
  EXPECT_EQ("r", skipped->GetNodeName());
  EXPECT_TRUE(Parse("<r/><!-- after -->", xoSkipComments)->GetDocumentElement());
}

TEST(XmlParser, CommentsAndCDataBecomeChildren) {
  IXMLNodeRef r = Parse("<r><!-- a > b --><![CDATA[a<b>c]]><!----><!--x---><![CDATA[]]></r>")
                      ->GetDocumentElement();
  ASSERT_EQ(5, r->GetChildNodes()->GetCount());
  EXPECT_EQ(TXMLNodeType::ntComment, Child(r, 0)->GetNodeType());
  EXPECT_EQ("#comment", Child(r, 0)->GetNodeName());
  EXPECT_EQ(" a > b ", Child(r, 0)->GetText());
  EXPECT_EQ(TXMLNodeType::ntCData, Child(r, 1)->GetNodeType());
  EXPECT_EQ("#cdata-section", Child(r, 1)->GetNodeName());
  EXPECT_EQ("a<b>c", Child(r, 1)->GetText());
  EXPECT_EQ("", Child(r, 2)->GetText());
  EXPECT_EQ("x-", Child(r, 3)->GetText());
  EXPECT_EQ("", Child(r, 4)->GetText());
  EXPECT_EQ(2, Child(r, 0)->GetLevel() + Child(r, 4)->GetLevel());

  IXMLNodeRef none =
      Parse("<r><![CDATA[x]]><!--c--></r>", xoSkipCDATA | xoSkipComments)->GetDocumentElement();
  EXPECT_EQ(0, none->GetChildNodes()->GetCount());
}

TEST(XmlParser, OtherBangMarkupIsSkipped) {
  IXMLNodeRef r = Parse("<!DOCTYPE r><r><!-x-><!--><!---><![CDATA[>]]></r>")->GetDocumentElement();
  EXPECT_EQ("r", r->GetNodeName());
  // "<!-->", "<!--->" and "<![CDATA[>" end at their first '>' and are too
  // short to be a comment or a section, so they are skipped and "]]>" is
  // the element's text.
  EXPECT_EQ(0, r->GetChildNodes()->GetCount());
  EXPECT_EQ("]]>", r->GetText());
}

TEST(XmlParser, DeclarationsSetEncodingAndVersion) {
  IXMLDocumentRef gbk = Parse("<?xml version=\"1.1\" encoding=\"GBK\"?><r/>");
  EXPECT_EQ("GBK", gbk->GetEncoding());
  EXPECT_EQ("1.1", gbk->GetVersion());
  IXMLDocumentRef bare = Parse("<?xml?><r/>");
  EXPECT_EQ("utf-8", bare->GetEncoding());
  EXPECT_EQ("1.0", bare->GetVersion());
  IXMLDocumentRef quoted = Parse("<?xml Encoding='big5'?><r/>");
  EXPECT_EQ("big5", quoted->GetEncoding());
  EXPECT_THROW(Parse("<?><r/>"), EAssertionFailed);
  EXPECT_THROW(Parse("<?xml version=1.0?><r/>"), EXMLException);
}

TEST(XmlParser, EmptyTextGivesNoRoot) {
  EXPECT_TRUE(Parse("")->IsEmpty());
  EXPECT_TRUE(Parse("just text")->IsEmpty());
}

struct BadDocument {
  const char* text;
  const char* message; // UTF-8
  int position;        // 0: no position is added
};

TEST(XmlParser, BadDocumentsReportMessageAndPosition) {
  const BadDocument cases[] = {
      {"<a", "XML 标识符号不匹配", 1},
      {"<r>text<b", "XML 标识符号不匹配", 8},
      {"<r><>", "XML 节点内容不能为空", 4},
      {"<r><!-- never closed >", "XML 标识符号不匹配", 4},
      {"<r><![CDATA[never closed>", "XML 标识符号不匹配", 4},
      {"</a>", "XML 标识符号不匹配", 1},
      {"<a/></b>", "XML 标识符号不匹配", 5},
      {"<a></a>\r\n<!--x-->", "节点内容非法", 10},
      {"<a/><![CDATA[x]]>", "节点内容非法", 5},
      {"<a x=1/>", "XML 属性标识符号不匹配", 0},
      {"<a x=\"1 > 2\"/>", "XML 属性标识符号不匹配", 0},
      {"<a\r\n x=\"1\" y\r\n/>", "XML 属性标识符号不匹配", 0},
  };
  for (const BadDocument& c : cases) {
    std::string expected = Ansi(c.message);
    if (c.position) expected += Ansi("，错误位置 ") + std::to_string(c.position);
    std::string actual = "(nothing raised)";
    try {
      Parse(c.text);
    } catch (const EXMLException& e) {
      actual = e.what();
    }
    EXPECT_EQ(expected, actual) << c.text;
  }
}

TEST(XmlParser, FailedParseLeavesTheDocumentWithoutRoot) {
  IXMLDocumentRef document = Parse("<ok/>");
  document->SetVersion("2.0");
  EXPECT_THROW(document->SetXML("<?xml version=\"1.5\"?><r></r><!--c-->"), EXMLException);
  EXPECT_TRUE(document->IsEmpty());
  EXPECT_EQ("1.0", document->GetVersion());
}

TEST(XmlParser, ParseIntoFillsTheGivenNode) {
  IXMLNodeRef node(new TXMLNode(TXMLNodeType::ntElement, 0));
  ParseInto("<item k=\"v\"><x/></item>", *static_cast<TXMLNode*>(node.get()), 0);
  EXPECT_EQ("item", node->GetNodeName());
  EXPECT_EQ("k=\"v\"", node->GetAttributes()->GetXML());
  EXPECT_EQ(1, node->GetChildNodes()->GetCount());

  // Content before the first start tag has no place in a given node.
  IXMLNodeRef other(new TXMLNode(TXMLNodeType::ntElement, 0));
  EXPECT_THROW(ParseInto("<!--c--><n/>", *static_cast<TXMLNode*>(other.get()), 0), EXMLException);

  // Nodes built before an error stay.
  IXMLNodeRef partial(new TXMLNode(TXMLNodeType::ntElement, 0));
  EXPECT_THROW(ParseInto("<p><a/><b/><", *static_cast<TXMLNode*>(partial.get()), 0), EXMLException);
  EXPECT_EQ(2, partial->GetChildNodes()->GetCount());
}

TEST(XmlParser, ParseIntoNeverClimbsAboveTheGivenNode) {
  IXMLNodeRef parent(new TXMLNode(TXMLNodeType::ntElement, 0));
  parent->SetNodeName("parent");
  parent->SetText("parent text");
  IXMLNodeRef node = parent->AddChild("node");
  auto* target = static_cast<TXMLNode*>(node.get());

  ParseInto("<n>in</n>\r\n<m/>after", *target, 0);
  EXPECT_EQ(1, parent->GetChildNodes()->GetCount());
  EXPECT_EQ("parent text", parent->GetText());
  EXPECT_EQ("m", node->GetNodeName());

  EXPECT_THROW(ParseInto("<n/></x>", *target, 0), EXMLException);
  EXPECT_THROW(ParseInto("<n/><!--c-->", *target, 0), EXMLException);
  EXPECT_EQ(1, parent->GetChildNodes()->GetCount());
}

TEST(XmlParser, DeepNestingNeedsNoRecursion) {
  std::string text;
  constexpr int kDepth = 200000;
  for (int i = 0; i < kDepth; ++i)
    text += "<d>";
  IXMLDocumentRef document = Parse(text);
  IXMLNodeRef node = document->GetDocumentElement();
  int depth = 1;
  while (node->HasChildNodes()) {
    node = Child(node, 0);
    ++depth;
  }
  EXPECT_EQ(kDepth, depth);
  EXPECT_EQ(kDepth - 1, node->GetLevel());
}

} // namespace
