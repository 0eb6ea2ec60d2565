#include "common/XMLCodeConversion.h"
#include "common/ZorvaXMLDoc.h"
#include "platform/CodePage.h"
#include "platform/Stream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::string Ansi(const char* utf8) {
  return platform::Utf8ToAnsi(utf8);
}

const std::string kBom = "\xEF\xBB\xBF";

void LoadBytes(const IXMLDocumentRef& document, const std::string& bytes) {
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream.SetPosition(0);
  document->LoadFromStream(&stream);
}

class XmlDocumentFiles : public ::testing::Test {
protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("xml_document_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::string Write(const std::string& name, const std::string& bytes) {
    const std::filesystem::path path = folder_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }
  std::string PathOf(const std::string& name) const { return (folder_ / name).string(); }

private:
  std::filesystem::path folder_;
};

TEST(XmlDocument, NewDocumentDefaults) {
  IXMLDocumentRef document = NewXmlDocument(false, false);
  EXPECT_TRUE(document->IsEmpty());
  EXPECT_FALSE(document->GetIncludeDeclaration());
  EXPECT_FALSE(document->GetFormatted());
  EXPECT_EQ("utf-8", document->GetEncoding());
  EXPECT_EQ("1.0", document->GetVersion());
  EXPECT_EQ("", document->GetFileName());
  EXPECT_EQ(0, document->GetOptions());
  IXMLDocumentRef plain(new TXMLDocument);
  EXPECT_TRUE(plain->GetIncludeDeclaration());
  EXPECT_TRUE(plain->GetFormatted());
}

TEST(XmlDocument, OnlyOneRootAndFreeNodes) {
  IXMLDocumentRef document = NewXmlDocument(true, true);
  document->SetOptions(xoEncodeLineBreaks);
  IXMLNodeRef root = document->AddRootNode("r");
  EXPECT_EQ(root, document->GetDocumentElement());
  EXPECT_EQ(Ansi("XML 文档只能有一个顶层节点"), [&] {
    try {
      document->AddRootNode("again");
    } catch (const EXMLException& e) {
      return std::string(e.what());
    }
    return std::string();
  }());
  EXPECT_EQ(root, document->GetDocumentElement());

  IXMLNodeRef loose = document->CreateNode("c", TXMLNodeType::ntComment);
  EXPECT_EQ("c", loose->GetNodeName());
  EXPECT_EQ(TXMLNodeType::ntComment, loose->GetNodeType());
  EXPECT_FALSE(loose->GetParentNode());
  EXPECT_EQ(0, root->GetChildNodes()->GetCount());
  loose->SetAsString("\n");
  EXPECT_EQ("&#xA;", loose->GetText()); // the document's options
}

TEST(XmlDocument, DeclarationFromVersionAndEncoding) {
  IXMLDocumentRef ref(new TXMLDocument);
  auto& document = static_cast<TXMLDocument&>(*ref);
  EXPECT_EQ("<?xml version=\"1.0\" encoding=\"utf-8\"?>", document.BuildDeclaration());
  document.SetVersion("");
  document.SetEncoding("");
  EXPECT_EQ("<?xml version=\"1.0\"?>", document.BuildDeclaration());
  document.SetVersion("1.1");
  document.SetEncoding("GBK");
  EXPECT_EQ("<?xml version=\"1.1\" encoding=\"GBK\"?>", document.BuildDeclaration());
}

TEST(XmlDocument, EncodingDetection) {
  TXMLEncodingInfo info = DetectXMLEncoding(kBom + "<r/>");
  EXPECT_TRUE(info.found && info.byteOrderMark);
  EXPECT_EQ("utf-8", info.encoding);

  info = DetectXMLEncoding(" \t\r\n<?xml version=\"1.0\" encoding=\"GBK\"?><r/>");
  EXPECT_TRUE(info.found);
  EXPECT_FALSE(info.byteOrderMark);
  EXPECT_EQ("GBK", info.encoding);

  info = DetectXMLEncoding("<?xml version='1.0' encoding='GBK'?><r/>");
  EXPECT_TRUE(info.found);
  EXPECT_EQ("", info.encoding);

  // The search is not limited to the declaration.
  info = DetectXMLEncoding("<?xml version=\"1.0\"?><r encoding=\"big5\"/>");
  EXPECT_EQ("big5", info.encoding);
  info = DetectXMLEncoding("<?xml version=\"1.0\" encoding=\"x");
  EXPECT_TRUE(info.found);
  EXPECT_EQ("", info.encoding);

  EXPECT_FALSE(DetectXMLEncoding("").found);
  EXPECT_FALSE(DetectXMLEncoding(" \r\n").found);
  EXPECT_FALSE(DetectXMLEncoding("<?xml?><r/>").found);
  EXPECT_FALSE(DetectXMLEncoding("<r encoding=\"GBK\"/>").found);
}

TEST(XmlDocument, Utf8WithByteOrderMarkIsConvertedToAnsi) {
  IXMLDocumentRef document = NewXmlDocument(true, true);
  LoadBytes(document, kBom + "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                             "<Product Name=\"招标工具\"><Note>新版本</Note></Product>\r\n");
  IXMLNodeRef root = document->GetDocumentElement();
  ASSERT_TRUE(root);
  EXPECT_EQ(Ansi("招标工具"), root->GetAttributes()->GetAttribute("Name")->GetValue());
  EXPECT_EQ(Ansi("新版本"), root->GetChildNodes()->GetNode(0)->GetText());
  EXPECT_EQ("utf-8", document->GetEncoding());
}

TEST(XmlDocument, ErrorPositionsCountTheConvertedText) {
  IXMLDocumentRef document = NewXmlDocument(true, true);
  // The byte-order mark is one character after conversion, and each Chinese
  // character two bytes instead of three.
  std::string message;
  try {
    LoadBytes(document, kBom + "<a>中文</a></b>");
  } catch (const EXMLException& e) {
    message = e.what();
  }
  EXPECT_EQ(Ansi("XML 标识符号不匹配，错误位置 13"), message);
  EXPECT_TRUE(document->IsEmpty());
}

TEST(XmlDocument, DeclaredGbkIsLoadedUnchanged) {
  IXMLDocumentRef document = NewXmlDocument(true, true);
  const std::string text =
      "<?xml version=\"1.0\" encoding=\"GBK\"?><r v=\"" + Ansi("投标工具") + "\"/>";
  LoadBytes(document, text);
  EXPECT_EQ("GBK", document->GetEncoding());
  EXPECT_EQ(Ansi("投标工具"),
            document->GetDocumentElement()->GetAttributes()->GetItem(0)->GetValue());
}

TEST(XmlDocument, UndeclaredGbkIsTakenForUtf8) {
  const std::string gbk = "<r>" + Ansi("投标工具") + "</r>";
  IXMLDocumentRef document = NewXmlDocument(true, true);
  document->AddRootNode("old");
  LoadBytes(document, gbk); // not valid UTF-8: the text counts as empty
  EXPECT_TRUE(document->IsEmpty());
  EXPECT_EQ("utf-8", document->GetEncoding());

  document->SetEncoding("GBK");
  LoadBytes(document, gbk);
  ASSERT_FALSE(document->IsEmpty());
  EXPECT_EQ(Ansi("投标工具"), document->GetDocumentElement()->GetText());
  // Without a declaration the parse sets the encoding back to its default.
  EXPECT_EQ("utf-8", document->GetEncoding());

  // Only "utf-8" in any letter case selects the conversion; "UTF8" does not.
  document->SetEncoding("UTF8");
  LoadBytes(document, gbk);
  EXPECT_FALSE(document->IsEmpty());
  document->SetEncoding("UTF-8");
  LoadBytes(document, gbk);
  EXPECT_TRUE(document->IsEmpty());
}

TEST(XmlDocument, SingleQuotedEncodingIsReadOnlyByTheParse) {
  const std::string text = "<?xml version='1.0' encoding='GBK'?><r>" + Ansi("中") + "</r>";
  IXMLDocumentRef document = NewXmlDocument(true, true);
  LoadBytes(document, text); // decided by the property: UTF-8, invalid
  EXPECT_TRUE(document->IsEmpty());
  document->SetEncoding("GBK");
  LoadBytes(document, text);
  EXPECT_EQ(Ansi("中"), document->GetDocumentElement()->GetText());
  EXPECT_EQ("GBK", document->GetEncoding());
}

TEST(XmlDocument, Utf8CharactersWithoutGbkFormBecomeQuestionMarks) {
  IXMLDocumentRef document = NewXmlDocument(true, true);
  LoadBytes(document, "<r>a\xF0\x9F\x98\x80"
                      "b</r>");
  EXPECT_EQ("a?b", document->GetDocumentElement()->GetText());
}

TEST(XmlDocument, FastConversionMatchesThePlatformConversion) {
  // Every character of the basic plane, between ASCII runs of every length
  // around the eight-byte steps of the fast path.
  std::string all;
  for (uint32_t cp = 0x80, k = 0; cp < 0x10000; ++cp, ++k) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    all.append(k % 11, 'a');
    if (cp < 0x800) {
      all += static_cast<char>(0xC0 | (cp >> 6));
    } else {
      all += static_cast<char>(0xE0 | (cp >> 12));
      all += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    }
    all += static_cast<char>(0x80 | (cp & 0x3F));
  }
  const std::string expected = platform::Utf8ToAnsi(all);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(expected, XMLUtf8ToAnsi(all));

  // The three-byte characters again, back to back.
  std::string run;
  for (uint32_t cp = 0x800; cp < 0x10000; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    run += static_cast<char>(0xE0 | (cp >> 12));
    run += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    run += static_cast<char>(0x80 | (cp & 0x3F));
  }
  EXPECT_EQ(platform::Utf8ToAnsi(run), XMLUtf8ToAnsi(run));

  const std::string samples[] = {
      "",
      "plain ascii text that is longer than eight bytes",
      "\xF0\x9F\x98\x80 beyond the basic plane",
      "abc\xC0\x80",          // overlong
      "abcdefgh\xE0\x80\x80", // overlong
      "\xED\xA0\x80",         // surrogate
      "\xF4\x90\x80\x80",     // beyond U+10FFFF
      "\xF5\x80\x80\x80",
      "x\x80y",   // lone continuation byte
      "\xE4\xB8", // cut short
      "\xE4\xB8\xAD"
      "abcdefghijk\xE6\x96\x87",
      // Faults right after a run of three-byte characters.
      "\xE4\xB8\xAD\xE6\x96\x87\xE4\xB8",
      "\xE4\xB8\xAD\xED\xA0\x80",
      "\xE4\xB8\xAD\xE0\x80\x80",
      "\xE4\xB8\xAD\xE6\x96\xC3\xA9",
      "\xE4\xB8\xAD\xC3\xA9\xF0\x9F\x98\x80\xE6\x96\x87",
  };
  for (const std::string& sample : samples)
    EXPECT_EQ(platform::Utf8ToAnsi(sample), XMLUtf8ToAnsi(sample)) << sample;
}

TEST(XmlDocument, SetXmlParsesAsItStands) {
  IXMLDocumentRef document = NewXmlDocument(true, true);
  document->SetEncoding("GBK");
  document->SetVersion("2.0");
  document->SetXML("<r/>");
  EXPECT_EQ("utf-8", document->GetEncoding());
  EXPECT_EQ("1.0", document->GetVersion());
  // No conversion and no byte-order-mark handling: the mark is text before
  // the root and dropped.
  document->SetXML(kBom + "<r>" + "\xE4\xB8\xAD" + "</r>");
  EXPECT_EQ("\xE4\xB8\xAD", document->GetDocumentElement()->GetText());
}

TEST(XmlDocument, LoadingReadsFromTheStreamPosition) {
  IXMLDocumentRef document = NewXmlDocument(true, true);
  TMemoryStream stream;
  const std::string bytes = "junk<r/>";
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream.SetPosition(4);
  document->LoadFromStream(&stream);
  EXPECT_EQ("r", document->GetDocumentElement()->GetNodeName());
  EXPECT_THROW(document->LoadFromStream(nullptr), EAssertionFailed);
}

TEST_F(XmlDocumentFiles, LoadFromFileSetsTheFileName) {
  const std::string path = Write("m.xml", kBom + "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                                                 "<!-- c --><Version><Item Name=\"a\"/></Version>");
  IXMLDocumentRef document = NewXmlDocument(true, true);
  document->LoadFromFile(path);
  EXPECT_EQ(path, document->GetFileName());
  EXPECT_EQ(TXMLNodeType::ntComment, document->GetDocumentElement()->GetNodeType());

  EXPECT_THROW(document->LoadFromFile(PathOf("missing.xml")), EFOpenError);
  EXPECT_EQ(path, document->GetFileName());
  const std::string bad = Write("bad.xml", "<a></a></b>");
  EXPECT_THROW(document->LoadFromFile(bad), EXMLException);
  EXPECT_EQ(path, document->GetFileName());
  EXPECT_TRUE(document->IsEmpty());
}

TEST_F(XmlDocumentFiles, OpenXmlDocumentFileDropsComments) {
  const std::string path = Write("v.xml", "<!-- c --><Version><!-- d --><Item Name=\"" +
                                              std::string("区域") + "\"/></Version>");
  IXMLDocumentRef document = OpenXmlDocumentFile(path, false, false);
  EXPECT_FALSE(document->GetIncludeDeclaration());
  EXPECT_FALSE(document->GetFormatted());
  EXPECT_EQ(xoSkipComments, document->GetOptions());
  IXMLNodeRef root = document->GetDocumentElement();
  EXPECT_EQ("Version", root->GetNodeName());
  EXPECT_EQ(TXMLNodeType::ntElement, root->GetNodeType());
  ASSERT_EQ(1, root->GetChildNodes()->GetCount());
  EXPECT_EQ(Ansi("区域"),
            root->GetChildNodes()->GetNode(0)->GetAttributes()->GetItem(0)->GetValue());
  EXPECT_THROW(OpenXmlDocumentFile(PathOf("none.xml"), true, true), EFOpenError);
}

} // namespace
