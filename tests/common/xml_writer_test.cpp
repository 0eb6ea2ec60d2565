#include "common/XMLWriter.h"

#include "bench/xml_write_docs.h"
#include "common/XMLCodeConversion.h"
#include "common/ZorvaXMLIntf.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/Stream.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Ansi(const char* utf8) {
  return platform::Utf8ToAnsi(utf8);
}

std::string Saved(const IXMLDocumentRef& doc) {
  TMemoryStream stream;
  doc->SaveToStream(&stream);
  return std::string(stream.Memory(), static_cast<size_t>(stream.GetSize()));
}

// Root a="1" with Child (text x) and Empty.
IXMLDocumentRef SmallDocument(bool formatted) {
  IXMLDocumentRef doc = NewXmlDocument(true, formatted);
  IXMLNodeRef root = doc->AddRootNode("Root");
  root->GetAttributes()->GetAttribute("a")->SetValue("1");
  root->AddChild("Child")->SetText("x");
  root->AddChild("Empty");
  return doc;
}

// Names, kinds, raw texts and raw attributes of two subtrees, and the text of
// leaves only: the writer leaves out the text of an element with children.
void ExpectSameTree(IXMLNode* a, IXMLNode* b, const std::string& path = "") {
  const std::string here = path + "/" + a->GetNodeName();
  ASSERT_EQ(a->GetNodeName(), b->GetNodeName()) << here;
  ASSERT_EQ(a->GetNodeType(), b->GetNodeType()) << here;
  ASSERT_EQ(a->GetAttributes()->GetXML(), b->GetAttributes()->GetXML()) << here;
  const int32_t count = a->GetChildNodes()->GetCount();
  ASSERT_EQ(count, b->GetChildNodes()->GetCount()) << here;
  if (count == 0) {
    ASSERT_EQ(a->GetText(), b->GetText()) << here;
  }
  for (int32_t i = 0; i < count; ++i)
    ExpectSameTree(a->GetChildNodes()->GetNode(i).get(), b->GetChildNodes()->GetNode(i).get(),
                   here);
}

TEST(XmlWriter, FormattedDocumentGivesTheFiveLinesAndCompactOneLine) {
  EXPECT_EQ("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
            "<Root a=\"1\">\r\n"
            "    <Child>x</Child>\r\n"
            "    <Empty/>\r\n"
            "</Root>\r\n",
            Saved(SmallDocument(true)));
  EXPECT_EQ("<?xml version=\"1.0\" encoding=\"utf-8\"?>"
            "<Root a=\"1\"><Child>x</Child><Empty/></Root>",
            Saved(SmallDocument(false)));

  IXMLDocumentRef deep = NewXmlDocument(false, true);
  deep->AddRootNode("a")->AddChild("b")->AddChild("c")->AddChild("d")->SetText("1");
  EXPECT_EQ("<a>\r\n    <b>\r\n        <c>\r\n            <d>1</d>\r\n        </c>\r\n"
            "    </b>\r\n</a>\r\n",
            deep->GetXML());
}

TEST(XmlWriter, Utf8EncodingConvertsAndOtherEncodingsWriteAnsiBytes) {
  const std::string chinese = Ansi("在线升级");
  for (const char* encoding : {"utf-8", "UTF-8", "GBK", "UTF8"}) {
    SCOPED_TRACE(encoding);
    IXMLDocumentRef doc = NewXmlDocument(true, false);
    doc->SetEncoding(encoding);
    doc->AddRootNode("r")->SetText(chinese);
    const bool utf8 = std::string(encoding) == "utf-8" || std::string(encoding) == "UTF-8";
    const std::string body = "<r>" + (utf8 ? std::string("在线升级") : chinese) + "</r>";
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"" + std::string(encoding) + "\"?>" + body,
              Saved(doc));
    // The text property is ANSI whatever the encoding says, and its
    // declaration still names the encoding.
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"" + std::string(encoding) + "\"?><r>" + chinese +
                  "</r>",
              doc->GetXML());
  }
}

TEST(XmlWriter, DeclarationFollowsTheDocumentSwitches) {
  IXMLDocumentRef doc = NewXmlDocument(false, false);
  doc->AddRootNode("r");
  EXPECT_EQ("<r/>", doc->GetXML());
  doc->SetIncludeDeclaration(true);
  doc->SetVersion("");
  doc->SetEncoding("");
  EXPECT_EQ("<?xml version=\"1.0\"?><r/>", doc->GetXML());
  doc->SetVersion("1.1");
  doc->SetEncoding("GBK");
  EXPECT_EQ("<?xml version=\"1.1\" encoding=\"GBK\"?><r/>", doc->GetXML());
}

TEST(XmlWriter, EmptyDocumentWritesAtMostTheDeclaration) {
  IXMLDocumentRef doc = NewXmlDocument(true, true);
  EXPECT_EQ("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n", Saved(doc));
  EXPECT_EQ("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n", doc->GetXML());
  doc->SetIncludeDeclaration(false);
  EXPECT_EQ("", Saved(doc));
  EXPECT_EQ("", doc->GetXML());
  EXPECT_EQ("", doc->GetDisplayXML());
}

TEST(XmlWriter, DisplayTextDecodesLeafTextButNotAttributes) {
  IXMLDocumentRef doc = NewXmlDocument(false, false);
  IXMLNodeRef root = doc->AddRootNode("r");
  root->GetAttributes()->GetAttribute("v")->SetAsString("a<b");
  root->AddChild("t")->SetAsString("x<y & z");
  EXPECT_EQ("<r v=\"a&lt;b\"><t>x&lt;y &amp; z</t></r>", doc->GetXML());
  EXPECT_EQ("<r v=\"a&lt;b\"><t>x<y & z</t></r>", doc->GetDisplayXML());
}

TEST(XmlWriter, NodeKindsAndTextsOfElementsWithChildren) {
  IXMLDocumentRef doc = NewXmlDocument(false, true);
  IXMLNodeRef root = doc->AddRootNode("r");
  root->SetText("\r\n  ignored because r has children");
  IXMLNodeRef text = root->AddChild("");
  text->SetNodeType(TXMLNodeType::ntText);
  text->SetText("plain &amp; text");
  IXMLNodeRef cdata = root->AddChild("");
  cdata->SetNodeType(TXMLNodeType::ntCData);
  cdata->SetText("<raw>");
  IXMLNodeRef comment = root->AddChild("");
  comment->SetNodeType(TXMLNodeType::ntComment);
  comment->SetText(" note ");
  root->AddChild("a")->SetText("\r\n");
  IXMLNodeRef item = root->AddChild("Item");
  item->GetAttributes()->GetAttribute("Name")->SetValue("a");
  EXPECT_EQ("<r>\r\n"
            "    plain &amp; text\r\n"
            "    <![CDATA[<raw>]]>\r\n"
            "    <!-- note -->\r\n"
            "    <a>\r\n</a>\r\n"
            "    <Item Name=\"a\"/>\r\n"
            "</r>\r\n",
            doc->GetXML());
}

TEST(XmlWriter, NodeSavesItsSubtreeCompactlyWithoutConversion) {
  IXMLDocumentRef doc = SmallDocument(true);
  IXMLNodeRef root = doc->GetDocumentElement();
  root->GetChildNodes()->GetNode(0)->SetText(Ansi("升级"));
  TMemoryStream stream;
  root->SaveToStream(&stream);
  EXPECT_EQ("<Root a=\"1\"><Child>" + Ansi("升级") + "</Child><Empty/></Root>",
            std::string(stream.Memory(), static_cast<size_t>(stream.GetSize())));
  TMemoryStream child;
  SaveNodeToStream(root->GetChildNodes()->GetNode(1).get(), &child);
  EXPECT_EQ("<Empty/>", std::string(child.Memory(), static_cast<size_t>(child.GetSize())));
  SaveNodeToStream(nullptr, &child);
  EXPECT_EQ(8, child.GetSize()) << "a null node writes nothing";
}

// The writer's own GBK to UTF-8 conversion against the platform's: every
// byte from 0x80 on before every byte, between ASCII runs of every length
// around the eight-byte steps, and each such byte cut off at the end.
TEST(XmlWriter, Utf8OutputMatchesThePlatformConversion) {
  std::string all;
  for (unsigned first = 0x80, k = 0; first <= 0xFF; ++first)
    for (unsigned second = 0; second <= 0xFF; ++second, ++k) {
      all.append(k % 11, 'a');
      all += static_cast<char>(first);
      all += static_cast<char>(second);
    }
  std::string out = "kept ";
  XMLAnsiToUtf8Append(all, out);
  EXPECT_EQ("kept " + platform::AnsiToUtf8(all), out);
  for (unsigned last = 0x80; last <= 0xFF; ++last) {
    const std::string cut = "abc" + std::string(1, static_cast<char>(last));
    out.clear();
    XMLAnsiToUtf8Append(cut, out);
    EXPECT_EQ(platform::AnsiToUtf8(cut), out) << last;
  }
}

TEST(XmlWriter, MissingStreamOrNodeIsAnAssertionFailure) {
  EXPECT_THROW(TXMLBuilder(nullptr), EAssertionFailed);
  TMemoryStream stream;
  EXPECT_THROW(TXMLBuilder(&stream).BuildOpenTag(nullptr, false), EAssertionFailed);
  EXPECT_THROW(TXMLBuilder(&stream).BuildCloseTag(nullptr), EAssertionFailed);
  EXPECT_THROW(SmallDocument(true)->SaveToStream(nullptr), EAssertionFailed);
}

// A stream that takes `room` bytes and then refuses.
class TFullStream : public TMemoryStream {
public:
  explicit TFullStream(int64_t room) : room_(room) {}
  int32_t Write(const void* buffer, int32_t count) override {
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(count, room_ - GetSize()));
    return n <= 0 ? 0 : TMemoryStream::Write(buffer, n);
  }

private:
  int64_t room_;
};

TEST(XmlWriter, WriteErrorPropagatesAndKeepsWhatWasWritten) {
  TFullStream stream(45);
  EXPECT_THROW(SmallDocument(true)->SaveToStream(&stream), EStreamError);
  EXPECT_EQ("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Root",
            std::string(stream.Memory(), static_cast<size_t>(stream.GetSize())));
}

// Lines go to a stream in pieces of many lines: a large document arrives
// whole and in order, and a stream that fills up at any point, a piece's
// end included, keeps exactly the bytes it took.
TEST(XmlWriter, LargeDocumentReachesTheStreamWholeOrAsAPrefix) {
  IXMLDocumentRef doc = xml_write_docs::MixedDocument(6, 4, true);
  doc->SetEncoding("GBK"); // the stream then receives the text GetXML gives
  const std::string whole = doc->GetXML();
  ASSERT_GT(whole.size(), 3 * TXMLBuilder::kStreamPiece);
  EXPECT_EQ(whole, Saved(doc));
  for (size_t room : {size_t{1}, TXMLBuilder::kStreamPiece - 1, TXMLBuilder::kStreamPiece,
                      TXMLBuilder::kStreamPiece + 1, whole.size() - 1}) {
    TFullStream stream(static_cast<int64_t>(room));
    EXPECT_THROW(doc->SaveToStream(&stream), EStreamError) << room;
    EXPECT_EQ(whole.substr(0, room),
              std::string(stream.Memory(), static_cast<size_t>(stream.GetSize())));
  }
}

// What the writer saves, the parser reads back into the same tree, and
// saving that tree again gives the same bytes.
TEST(XmlWriter, SavedGeneratedDocumentsLoadIntoTheSameTree) {
  struct Case {
    const char* name;
    IXMLDocumentRef doc;
  };
  const Case cases[] = {
      {"wide formatted", xml_write_docs::WideDocument(300, true)},
      {"wide compact", xml_write_docs::WideDocument(300, false)},
      {"mixed formatted", xml_write_docs::MixedDocument(4, 4, true)},
      {"mixed compact", xml_write_docs::MixedDocument(4, 4, false)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* encoding : {"utf-8", "GBK"}) {
      SCOPED_TRACE(encoding);
      c.doc->SetEncoding(encoding);
      const std::string saved = Saved(c.doc);
      TMemoryStream stream;
      stream.WriteBuffer(saved.data(), static_cast<int64_t>(saved.size()));
      stream.SetPosition(0);
      IXMLDocumentRef loaded = NewXmlDocument(true, c.doc->GetFormatted());
      loaded->LoadFromStream(&stream);
      EXPECT_EQ(encoding, loaded->GetEncoding());
      ASSERT_FALSE(loaded->IsEmpty());
      ExpectSameTree(c.doc->GetDocumentElement().get(), loaded->GetDocumentElement().get());
      EXPECT_EQ(saved, Saved(loaded));
      EXPECT_EQ(c.doc->GetXML(), loaded->GetXML());
    }
  }
}

TEST(XmlWriter, DeepTreeIsWrittenWithoutExhaustingTheStack) {
  const int depth = 200000;
  IXMLDocumentRef doc = NewXmlDocument(false, false);
  IXMLNodeRef node = doc->AddRootNode("a");
  for (int i = 0; i < depth; ++i)
    node = node->AddChild("a");
  const std::string xml = doc->GetXML();
  ASSERT_EQ(7u * depth + 4u, xml.size());
  EXPECT_EQ("<a><a>", xml.substr(0, 6));
  EXPECT_EQ("<a/></a></a>", xml.substr(3u * depth, 12));
}

TEST(XmlWriter, DocumentTextSpansManyBlocks) {
  IXMLDocumentRef doc = xml_write_docs::WideDocument(2000, true);
  TMemoryStream stream;
  TXMLBuilder builder(&stream);
  builder.WriteDocument(doc.get(), true, true);
  const std::string text = doc->GetXML();
  ASSERT_GT(text.size(), 4096u * 3);
  EXPECT_EQ(std::string(stream.Memory(), static_cast<size_t>(stream.GetSize())), text);
  EXPECT_EQ(text, DocumentToString(doc.get(), true));
}

} // namespace
