// Writing a document to a string: our XML writer (compact and formatted) and
// compact JSON writer beside pugixml's and tinyxml2's save to a string, on a
// root with N leaf children. Each series reports its fitted complexity: the
// writers must stay linear in N.
#include "bench/xml_write_docs.h"
#include "common/XMLJson.h"
#include "common/XMLWriter.h"
#include "common/ZorvaXMLUtils.h"

#include <benchmark/benchmark.h>
#include <pugixml.hpp>
#include <tinyxml2.h>

#include <string>

namespace {

void Sizes(benchmark::internal::Benchmark* b) {
  b->RangeMultiplier(10)->Range(1000, 100000)->Complexity(benchmark::oN);
}

void BM_OursXmlCompact(benchmark::State& state) {
  IXMLDocumentRef doc = xml_write_docs::WideDocument(static_cast<int>(state.range(0)), false);
  size_t bytes = 0;
  for (auto _ : state) {
    std::string xml = doc->GetXML();
    bytes = xml.size();
    benchmark::DoNotOptimize(xml);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_OursXmlCompact)->Apply(Sizes);

void BM_OursXmlFormatted(benchmark::State& state) {
  IXMLDocumentRef doc = xml_write_docs::WideDocument(static_cast<int>(state.range(0)), true);
  size_t bytes = 0;
  for (auto _ : state) {
    std::string xml = DocumentToString(doc.get(), true);
    bytes = xml.size();
    benchmark::DoNotOptimize(xml);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_OursXmlFormatted)->Apply(Sizes);

void BM_OursJsonCompact(benchmark::State& state) {
  IXMLDocumentRef doc = xml_write_docs::WideDocument(static_cast<int>(state.range(0)), false);
  IXMLNodeRef root = doc->GetDocumentElement();
  size_t bytes = 0;
  for (auto _ : state) {
    std::string json;
    NodeToJsonText(root.get(), json);
    bytes = json.size();
    benchmark::DoNotOptimize(json);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_OursJsonCompact)->Apply(Sizes);

void BuildPugi(pugi::xml_document& doc, int count) {
  pugi::xml_node decl = doc.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "utf-8";
  pugi::xml_node root = doc.append_child("Items");
  root.append_attribute("Count") = count;
  for (int i = 0; i < count; ++i) {
    pugi::xml_node item = root.append_child("Item");
    item.append_attribute("Name") = ("item" + std::to_string(i)).c_str();
    item.append_attribute("Version") = i * 7;
    item.text() = ("text of item " + std::to_string(i)).c_str();
  }
}

struct StringWriter : pugi::xml_writer {
  std::string out;
  void write(const void* data, size_t size) override {
    out.append(static_cast<const char*>(data), size);
  }
};

void BM_PugixmlCompact(benchmark::State& state) {
  pugi::xml_document doc;
  BuildPugi(doc, static_cast<int>(state.range(0)));
  size_t bytes = 0;
  for (auto _ : state) {
    StringWriter writer;
    doc.save(writer, "", pugi::format_raw);
    bytes = writer.out.size();
    benchmark::DoNotOptimize(writer.out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_PugixmlCompact)->Apply(Sizes);

void BM_PugixmlFormatted(benchmark::State& state) {
  pugi::xml_document doc;
  BuildPugi(doc, static_cast<int>(state.range(0)));
  size_t bytes = 0;
  for (auto _ : state) {
    StringWriter writer;
    doc.save(writer, "    ", pugi::format_indent);
    bytes = writer.out.size();
    benchmark::DoNotOptimize(writer.out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_PugixmlFormatted)->Apply(Sizes);

void BuildTinyXml2(tinyxml2::XMLDocument& doc, int count) {
  doc.InsertEndChild(doc.NewDeclaration("xml version=\"1.0\" encoding=\"utf-8\""));
  tinyxml2::XMLElement* root = doc.NewElement("Items");
  doc.InsertEndChild(root);
  root->SetAttribute("Count", count);
  for (int i = 0; i < count; ++i) {
    tinyxml2::XMLElement* item = doc.NewElement("Item");
    root->InsertEndChild(item);
    item->SetAttribute("Name", ("item" + std::to_string(i)).c_str());
    item->SetAttribute("Version", i * 7);
    item->SetText(("text of item " + std::to_string(i)).c_str());
  }
}

// tinyxml2's printer writes compact or formatted text by one switch.
void RunTinyXml2Print(benchmark::State& state, bool compact) {
  tinyxml2::XMLDocument doc;
  BuildTinyXml2(doc, static_cast<int>(state.range(0)));
  size_t bytes = 0;
  for (auto _ : state) {
    tinyxml2::XMLPrinter printer(nullptr, compact);
    doc.Print(&printer);
    std::string xml(printer.CStr(), static_cast<size_t>(printer.CStrSize() - 1));
    bytes = xml.size();
    benchmark::DoNotOptimize(xml);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.SetComplexityN(state.range(0));
}

void BM_TinyXml2Compact(benchmark::State& state) { RunTinyXml2Print(state, true); }
BENCHMARK(BM_TinyXml2Compact)->Apply(Sizes);

void BM_TinyXml2Formatted(benchmark::State& state) { RunTinyXml2Print(state, false); }
BENCHMARK(BM_TinyXml2Formatted)->Apply(Sizes);

} // namespace

BENCHMARK_MAIN();
