#include "common/XMLJson.h"

#include "common/ZorvaXMLIntf.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/Stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

const char kCompact[] = R"({"root":[{"v":"1"},{"item":["t"]},{"item2":[]}]})";

const char kFormatted[] = "{\"root\":[\r\n"
                          "    {\r\n"
                          "    \"v\":\"1\"\r\n"
                          "    },\r\n"
                          "    {\"item\":[\r\n"
                          "    \"t\"\r\n"
                          "    ]},\r\n"
                          "    {\"item2\":[\r\n"
                          "    ]}\r\n"
                          "]}\r\n";

// root v="1" with item (text t) and item2.
IXMLDocumentRef ExampleDocument() {
  IXMLDocumentRef doc = NewXmlDocument(true, true);
  IXMLNodeRef root = doc->AddRootNode("root");
  root->GetAttributes()->GetAttribute("v")->SetAsString("1");
  root->AddChild("item")->SetText("t");
  root->AddChild("item2");
  return doc;
}

IXMLNodeRef NewHolder() {
  static IXMLDocumentRef factory = NewXmlDocument(true, true);
  return factory->CreateNode("", TXMLNodeType::ntElement);
}

IXMLNodeRef Read(const std::string& json) {
  IXMLNodeRef holder = NewHolder();
  LoadJsonIntoNode(holder, json);
  return holder;
}

std::string Compact(const IXMLNodeRef& node) {
  std::string text;
  NodeToJsonText(node.get(), text);
  return text;
}

std::string StreamText(TMemoryStream& stream) {
  return std::string(stream.Memory(), static_cast<size_t>(stream.GetSize()));
}

// The node and its subtree as markup, to compare trees in one assertion.
std::string Markup(const IXMLNodeRef& node) {
  TMemoryStream stream;
  node->SaveToStream(&stream);
  return StreamText(stream);
}

const char kExampleMarkup[] = R"(<root v="1"><item>t</item><item2/></root>)";

TEST(Json, CompactFormOfTheExampleReadsBackIntoTheSameTree) {
  IXMLDocumentRef doc = ExampleDocument();
  EXPECT_EQ(kCompact, Compact(doc->GetDocumentElement()));
  std::string viaInterface;
  doc->GetDocumentElement().Query<IXMLJSONText>()->GetJSON(viaInterface);
  EXPECT_EQ(kCompact, viaInterface);

  IXMLNodeRef holder = Read(kCompact);
  ASSERT_EQ(1, holder->GetChildNodes()->GetCount());
  EXPECT_EQ(kExampleMarkup, Markup(holder->GetChildNodes()->GetNode(0)));
}

TEST(Json, DocumentStreamGivesTheTenLinesAndReadsBack) {
  IXMLDocumentRef doc = ExampleDocument();
  TMemoryStream stream;
  doc.Query<IXMLJSONFile>()->SaveJSONToStream(&stream);
  EXPECT_EQ(kFormatted, StreamText(stream));

  IXMLDocumentRef loaded = NewXmlDocument(true, true);
  stream.SetPosition(0);
  loaded.Query<IXMLJSONFile>()->LoadJSONFromStream(&stream);
  ASSERT_FALSE(loaded->IsEmpty());
  EXPECT_EQ(kExampleMarkup, Markup(loaded->GetDocumentElement()));
  EXPECT_FALSE(loaded->GetDocumentElement()->GetParentNode());
}

TEST(Json, TextAndAttributesWithoutChildrenLeaveACommaBeforeTheBracket) {
  IXMLNodeRef holder = NewHolder();
  IXMLNodeRef e = holder->AddChild("e");
  e->SetText("body");
  e->GetAttributes()->GetAttribute("a")->SetValue("1");
  e->GetAttributes()->GetAttribute("b")->SetValue("2");
  const std::string json = Compact(e);
  EXPECT_EQ(R"({"e":["body",{"a":"1","b":"2"},]})", json);
  EXPECT_EQ(R"(<e a="1" b="2">body</e>)", Markup(Read(json)->GetChildNodes()->GetNode(0)));
}

TEST(Json, TextBeginningWithCarriageReturnIsNotWritten) {
  IXMLDocumentRef doc = NewXmlDocument(true, true);
  IXMLNodeRef root = doc->AddRootNode("r");
  root->SetText("\r\n    ");
  root->AddChild("c")->SetText("\rx");
  EXPECT_EQ(R"({"r":[{},{"c":[]}]})", Compact(root));
  TMemoryStream stream;
  WriteJsonDocument(doc.get(), &stream);
  EXPECT_EQ("{\"r\":[\r\n    {\r\n    },\r\n    {\"c\":[\r\n    ]}\r\n]}\r\n", StreamText(stream));
}

TEST(Json, EntityIsKeptByTheCompactWriterAndDecodedByTheDocumentWriter) {
  IXMLDocumentRef doc = NewXmlDocument(true, true);
  doc->AddRootNode("r")->GetAttributes()->GetAttribute("v")->SetAsString("a<b");
  EXPECT_EQ(R"({"r":[{"v":"a&lt;b"},]})", Compact(doc->GetDocumentElement()));
  TMemoryStream stream;
  WriteJsonDocument(doc.get(), &stream);
  EXPECT_EQ("{\"r\":[\r\n    {\r\n    \"v\":\"a<b\"\r\n    },\r\n]}\r\n", StreamText(stream));
  // The plain '<' is stored escaped again when read back.
  stream.SetPosition(0);
  IXMLDocumentRef loaded = NewXmlDocument(true, true);
  loaded.Query<IXMLJSONFile>()->LoadJSONFromStream(&stream);
  EXPECT_EQ("a&lt;b", loaded->GetDocumentElement()->GetAttributes()->GetItem(0)->GetValue());
}

TEST(Json, ArrayItemsAndPlainValues) {
  // The later plain item replaces the earlier one.
  EXPECT_EQ("y", Read(R"({"a":["x","y"]})")->GetChildNodes()->GetNode(0)->GetText());
  // Texts are stored as written, attribute values escaped.
  IXMLNodeRef a = Read(R"({"a":["1 < 2",{"q":"x&y","n":12,"f":-1.5e3,"b":TRUE,"d":1.2.3}]})")
                      ->GetChildNodes()
                      ->GetNode(0);
  EXPECT_EQ("1 < 2", a->GetText());
  EXPECT_EQ(R"(q="x&amp;y" n="12" f="-1.5e3" b="TRUE" d="1.2.3")", a->GetAttributes()->GetXML());
  // Blanks and line breaks between the tokens are skipped; a repeated
  // attribute name reuses the attribute.
  IXMLNodeRef b =
      Read("{ \"b\" :\r\n [ { \"k\" : \"1\" , \"K\" : \"2\" } ] }")->GetChildNodes()->GetNode(0);
  EXPECT_EQ(R"(k="2")", b->GetAttributes()->GetXML());
  // A member whose value is an object becomes a child too.
  EXPECT_EQ(R"(<o><p x="1"/></o>)",
            Markup(Read(R"({"o":{"p":{"x":"1"}}})")->GetChildNodes()->GetNode(0)));
  // Chinese (GBK) names and texts pass unchanged.
  const std::string name = platform::Utf8ToAnsi("版本");
  IXMLNodeRef c = Read("{\"" + name + "\":[\"" + name + "\"]}")->GetChildNodes()->GetNode(0);
  EXPECT_EQ(name, c->GetNodeName());
  EXPECT_EQ(name, c->GetText());
}

TEST(Json, TextNotStartingWithABraceReadsNothing) {
  for (const std::string& json :
       {std::string(" {\"a\":[]}"), std::string("\xEF\xBB\xBF{\"a\":[]}"), std::string(""),
        std::string("[{\"a\":[]}]"), std::string("{}")}) {
    IXMLNodeRef holder = Read(json);
    EXPECT_EQ(0, holder->GetChildNodes()->GetCount()) << json;
    EXPECT_EQ(0, holder->GetAttributes()->GetCount()) << json;
  }
}

TEST(Json, FormatAndConversionErrors) {
  const std::string bad = platform::Utf8ToAnsi("错误的JSON格式");
  struct Case {
    const char* json;
    std::string message;
  };
  const Case cases[] = {
      {R"({"abc)", bad},                 // name without closing quote
      {R"({"a":"xyz})", bad},            // value without closing quote
      {R"({"a":1)", bad},                // member value followed by neither , nor }
      {R"({"a":[1 2)", bad},             // array item followed by neither , nor ]
      {R"({"a":["x" y]})", bad},         // string that does not end with its quote
      {R"({"a":[1,,,2]})", bad},         // empty array item
      {"{\"a\":\x01,\"b\":\"1\"}", bad}, // empty member value
      {R"({"a":["x)", bad},              // item without closing quote
      {R"({"a":null})", "'null' is not a valid boolean value"},
      {R"({"a":[yes]})", "'yes' is not a valid boolean value"},
      {R"({"a":{"b":1e}})", "'1e' is not a valid boolean value"},
  };
  for (const Case& c : cases) {
    try {
      Read(c.json);
      ADD_FAILURE() << "no error for " << c.json;
    } catch (const EConvertError& e) {
      EXPECT_EQ(c.message, e.what()) << c.json;
      EXPECT_NE(bad, c.message) << c.json << " raised a conversion error";
    } catch (const Exception& e) {
      EXPECT_EQ(c.message, e.what()) << c.json;
    }
  }
}

TEST(Json, ValueCheckKeepsNumbersAndBooleansAsWritten) {
  EXPECT_EQ("abc", CheckJsonValue("\"abc\""));
  EXPECT_EQ("", CheckJsonValue("\"\""));
  for (const char* ok :
       {"0", "1.5", ".", "1..2", "true", "False", "-1", "+2.5", "1e10", "-3.5E-2", ".5", "5."})
    EXPECT_EQ(ok, CheckJsonValue(ok));
  for (const char* no : {"-", "e5", "1e+", "tru", "1 2", "0x10", "--1"})
    EXPECT_THROW(CheckJsonValue(no), EConvertError) << no;
  EXPECT_THROW(CheckJsonValue("\""), Exception);
}

// Members of one object become attributes as GetAttribute and SetAsString
// would make them, one by one, also where the reader looks names up in its
// index: a name met again in another letter case keeps its place and first
// spelling, and the first of two attributes of one name takes the value.
TEST(Json, ManyMembersGiveWhatGetAttributeGives) {
  struct Case {
    const char* name;
    int distinct;       // member0, member1, ...
    int repeated;       // then MEMBER0, MEMBER1, ... again
    int existing;       // attributes the node has before the reading
    bool duplicateName; // one of them renamed to the name of another
  };
  const Case cases[] = {
      {"few", 5, 3, 0, false},
      {"many", 100, 0, 0, false},
      {"many repeated", 100, 60, 0, false},
      {"index over existing ones", 20, 40, 40, false},
      {"two of one name", 40, 40, 40, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Texts are put together piece by piece: g++ 12 warns falsely on a
    // literal + std::string at -O2 and above.
    const auto numbered = [](const char* prefix, int i) {
      std::string text = prefix;
      text += std::to_string(i);
      return text;
    };
    IXMLNodeRef read = NewHolder();
    IXMLNodeRef expected = NewHolder();
    for (const IXMLNodeRef& node : {read, expected}) {
      for (int i = 0; i < c.existing; ++i)
        node->GetAttributes()->Add(numbered("member", i * 2))->SetValue("old");
      if (c.duplicateName) node->GetAttributes()->GetItem(7)->SetName("member4");
    }
    std::string json = "{";
    const auto member = [&](const std::string& name, const std::string& value) {
      if (json.size() > 1) json += ',';
      json += '"';
      json += name;
      json += "\":\"";
      json += value;
      json += '"';
      expected->GetAttributes()->GetAttribute(name)->SetAsString(value);
    };
    for (int i = 0; i < c.distinct; ++i)
      member(numbered("member", i), numbered("v", i));
    for (int i = 0; i < c.repeated; ++i)
      member(numbered("MEMBER", i), numbered("again<", i));
    json += "}";
    LoadJsonIntoNode(read, json);
    EXPECT_EQ(expected->GetAttributes()->GetXML(), read->GetAttributes()->GetXML());
  }
}

TEST(Json, NodesReadBeforeAnErrorStay) {
  IXMLNodeRef holder = NewHolder();
  EXPECT_THROW(LoadJsonIntoNode(holder, R"({"a":[{"k":"1"},{"b":[null]}]})"), EConvertError);
  ASSERT_EQ(1, holder->GetChildNodes()->GetCount());
  IXMLNodeRef a = holder->GetChildNodes()->GetNode(0);
  EXPECT_EQ(R"(k="1")", a->GetAttributes()->GetXML());
  EXPECT_EQ(1, a->GetChildNodes()->GetCount());
}

TEST(Json, DeepNestingIsAFormatErrorNotACrash) {
  std::string json;
  for (int i = 0; i < 100000; ++i)
    json += "{\"a\":";
  EXPECT_THROW(Read(json), Exception);
  std::string arrays;
  for (int i = 0; i < 100000; ++i)
    arrays += "{\"a\":[";
  EXPECT_THROW(Read(arrays), Exception);
  std::string fine;
  for (int i = 0; i < kMaxJsonDepth; ++i)
    fine += "{\"a\":[";
  fine += "\"x\"";
  for (int i = 0; i < kMaxJsonDepth; ++i)
    fine += "]}";
  IXMLNodeRef holder = Read(fine);
  EXPECT_EQ(1, holder->GetChildNodes()->GetCount());
}

TEST(Json, DeepTreeIsWrittenWithoutExhaustingTheStack) {
  const size_t depth = 200000;
  IXMLDocumentRef doc = NewXmlDocument(true, false);
  IXMLNodeRef node = doc->AddRootNode("a");
  for (size_t i = 0; i < depth; ++i)
    node = node->AddChild("a");
  const std::string json = Compact(doc->GetDocumentElement());
  EXPECT_EQ(depth * 11 + 8, json.size());
  EXPECT_EQ(R"({"a":[{},{"a":[{},)", json.substr(0, 18));
  TMemoryStream stream;
  TJSONBuilder(&stream).Build(doc.get(), false);
  EXPECT_EQ(json, StreamText(stream));
}

TEST(Json, DocumentLoadReplacesTheRootOnlyAfterSuccess) {
  IXMLDocumentRef doc = ExampleDocument();
  IXMLNodeRef before = doc->GetDocumentElement();
  TMemoryStream bad;
  bad.WriteBuffer("{\"x\":[null]}", 12);
  bad.SetPosition(0);
  EXPECT_THROW(doc.Query<IXMLJSONFile>()->LoadJSONFromStream(&bad), EConvertError);
  EXPECT_EQ(before.get(), doc->GetDocumentElement().get());

  // Text without an element leaves the document empty; further top-level
  // members are dropped.
  TMemoryStream two;
  two.WriteBuffer("{\"x\":[],\"y\":[]}", 15);
  two.SetPosition(0);
  doc.Query<IXMLJSONFile>()->LoadJSONFromStream(&two);
  EXPECT_EQ("x", doc->GetDocumentElement()->GetNodeName());
  TMemoryStream none;
  doc.Query<IXMLJSONFile>()->LoadJSONFromStream(&none);
  EXPECT_TRUE(doc->IsEmpty());
  EXPECT_THROW(doc.Query<IXMLJSONFile>()->LoadJSONFromStream(nullptr), EAssertionFailed);
  EXPECT_THROW(TJSONBuilder(nullptr), EAssertionFailed);
}

TEST(Json, DocumentTextGoesThroughTheRootAndAnEmptyDocumentHasNone) {
  IXMLDocumentRef empty = NewXmlDocument(true, true);
  TMemoryStream stream;
  empty.Query<IXMLJSONFile>()->SaveJSONToStream(&stream);
  EXPECT_EQ(0, stream.GetSize());
  std::string text = "old";
  empty.Query<IXMLJSONText>()->GetJSON(text);
  EXPECT_EQ("", text);
  empty.Query<IXMLJSONText>()->SetJSON(kCompact);
  EXPECT_TRUE(empty->IsEmpty());

  IXMLDocumentRef doc = ExampleDocument();
  doc.Query<IXMLJSONText>()->GetJSON(text);
  EXPECT_EQ(kCompact, text);
  doc.Query<IXMLJSONText>()->SetJSON(R"({"extra":["e"]})");
  IXMLNodeRef root = doc->GetDocumentElement();
  ASSERT_EQ(3, root->GetChildNodes()->GetCount());
  EXPECT_EQ("e", root->GetChildNodes()->GetNode(2)->GetText());
}

TEST(Json, FilesRoundTripAndKeepTheName) {
  const std::string path =
      std::string(::testing::TempDir()) + "json_test_" + std::to_string(::getpid()) + ".json";
  IXMLDocumentRef doc = ExampleDocument();
  doc.Query<IXMLJSONFile>()->SaveJSONToFile(path);
  doc->GetDocumentElement()->GetChildNodes()->Clear();
  doc.Query<IXMLJSONFile>()->SaveJSONToFile(path); // shorter: the file must be truncated
  IXMLDocumentRef loaded = NewXmlDocument(true, true);
  loaded.Query<IXMLJSONFile>()->LoadJSONFromFile(path);
  EXPECT_EQ(path, loaded->GetFileName());
  EXPECT_EQ(R"(<root v="1"/>)", Markup(loaded->GetDocumentElement()));
  std::remove(path.c_str());
  EXPECT_THROW(loaded.Query<IXMLJSONFile>()->LoadJSONFromFile(path), EFOpenError);
  EXPECT_EQ(path, loaded->GetFileName());
}

} // namespace
