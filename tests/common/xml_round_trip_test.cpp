// What a load and save keep of a document a person wrote: with
// xoDocumentComments, the comments around the document element; always, the
// declared encoding, names in Chinese and attribute values in either quote.
#include "common/ZorvaXMLDoc.h"
#include "platform/CodePage.h"
#include "platform/Stream.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Ansi(const char* utf8) {
  return platform::Utf8ToAnsi(utf8);
}

IXMLDocumentRef Load(const std::string& bytes, TXMLOptions options) {
  IXMLDocumentRef document = NewXmlDocument(true, true);
  document->SetOptions(options);
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream.SetPosition(0);
  document->LoadFromStream(&stream);
  return document;
}

std::string Save(const IXMLDocumentRef& document) {
  TMemoryStream stream;
  document->SaveToStream(&stream);
  return std::string(stream.Memory(), static_cast<size_t>(stream.GetSize()));
}

TEST(XmlRoundTrip, CommentsAroundTheDocumentElementAreKeptWithTheOption) {
  // A file in the writer's own layout comes back byte for byte, whatever its
  // encoding.
  const std::string utf8 = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                           "<!-- 招标工具的版本 -->\r\n"
                           "<!---->\r\n"
                           "<版本清单>\r\n"
                           "    <!-- 各地区 -->\r\n"
                           "    <版本 Name=\"上海\" Version=\"7\">\r\n"
                           "        <明细项 明细=\"1. 新增\"/>\r\n"
                           "    </版本>\r\n"
                           "</版本清单>\r\n"
                           "<!-- 结束 -->\r\n";
  std::string gbk = Ansi(utf8.c_str());
  gbk.replace(gbk.find("UTF-8"), 5, "GBK");
  for (const std::string& bytes : {utf8, gbk}) {
    SCOPED_TRACE(bytes.substr(0, 40));
    IXMLDocumentRef document = Load(bytes, xoDocumentComments);
    EXPECT_EQ(Save(document), bytes);
    auto* own = dynamic_cast<TXMLDocument*>(document.get());
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->CommentsBefore().size(), 2u);
    EXPECT_EQ(own->CommentsAfter(), std::vector<std::string>{Ansi(" 结束 ")});
    // A later load replaces them with the new text's, also when it fails.
    EXPECT_THROW(document->SetXML("<a><!-- x --></a></b>"), EXMLException);
    EXPECT_TRUE(own->CommentsBefore().empty() && own->CommentsAfter().empty());
  }
  // The comments are dropped as before when comments are skipped, and a
  // GetXML shows them like a save.
  IXMLDocumentRef skipped = Load(utf8, xoDocumentComments | xoSkipComments);
  EXPECT_EQ(Save(skipped).find("<!--"), std::string::npos);
  IXMLDocumentRef kept = Load(utf8, xoDocumentComments);
  EXPECT_NE(kept->GetXML().find(Ansi("<!-- 结束 -->")), std::string::npos);
}

TEST(XmlRoundTrip, AValueHoldingDoubleQuotesIsWrittenInApostrophes) {
  IXMLDocumentRef document =
      Load("<r a='say \"hi\"' b=\"it's\" c='both \"&apos;' d=\"plain\"/>", 0);
  EXPECT_EQ(Save(document), "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                            "<r a='say \"hi\"' b=\"it's\" c='both \"&apos;' d=\"plain\"/>\r\n");
  IXMLNodeRef root = document->GetDocumentElement();
  EXPECT_EQ(root->GetAttributes()->GetAttribute("a")->GetXML(), "a='say \"hi\"'");
  // A copy goes through the attributes' text form and keeps the value too.
  IXMLNodeRef copy = root->CloneNode(false);
  EXPECT_EQ(copy->GetAttributes()->GetAttribute("a")->GetAsString(), "say \"hi\"");
  EXPECT_EQ(copy->GetAttributes()->GetAttribute("c")->GetAsString(), "both \"'");
}

} // namespace
