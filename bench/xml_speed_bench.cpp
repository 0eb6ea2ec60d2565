// The XML library's load, parse and save speed and the JSON reader's growth,
// beside pugixml and tinyxml2 in the same process, on the two generated
// documents of xml_speed_docs.h. bench/xml_speed_compare.py runs the modes
// below and prints one table; run that rather than this program.
//
//   xml_speed_bench warm [--size-mb N] [--runs N]
//       Every contender side by side: each run times each contender once, in
//       turn, so that a busy machine disturbs all alike; prints the median of
//       the runs as "figure value" lines. Speeds are MB/s (10^6 bytes) of the
//       UTF-8 input, for a save of the output written; times are process CPU
//       time. Releasing a document is not timed. The caller sets the
//       allocator to keep freed memory (GLIBC_TUNABLES), so that no library
//       pays for first touches of fresh pages that another is spared.
//   xml_speed_bench write <folder> [--size-mb N]
//       Writes wide.xml and deep.xml (UTF-8) and wide.ansi.xml and
//       deep.ansi.xml (the GBK text that our parser sees after conversion).
//   xml_speed_bench peak <contender> <file>
//       Reads the file into memory, loads it once with one library and prints
//       the process's peak of resident memory in KiB (Linux's VmHWM: unlike
//       the maximum that the parent learns when it waits, it does not count
//       the pages the process shared with its parent before it started). Contenders: input (read
//       only), ours-load, ours-parse (give it the .ansi.xml file), pugixml, tinyxml2.
#include "bench/xml_speed_docs.h"
#include "common/ZorvaXMLDoc.h"
#include "common/ZorvaXMLIntf.h"
#include "common/ZorvaXMLUtils.h"
#include "platform/CodePage.h"
#include "platform/Stream.h"

#include <pugixml.hpp>
#include <tinyxml2.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <exception>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

double CpuSeconds() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// One timed piece of work: its CPU seconds and the bytes it stands for.
struct TTimed {
  double seconds = 0;
  std::size_t bytes = 0;
};

// Times `work` alone; what it returns is released after the clock stops.
template <class Work> TTimed Time(std::size_t bytes, Work&& work) {
  const double start = CpuSeconds();
  auto keep = work();
  const double seconds = CpuSeconds() - start;
  (void)keep;
  return {seconds, bytes};
}

struct TContender {
  std::string figure;
  std::function<TTimed()> run;
};

// Runs every contender `runs` times, one run of each in turn after one
// untimed warm-up round, and prints each contender's median speed.
void RunSideBySide(const std::vector<TContender>& contenders, int runs) {
  for (const TContender& c : contenders)
    c.run();
  std::vector<std::vector<double>> speeds(contenders.size());
  for (int r = 0; r < runs; ++r)
    for (std::size_t i = 0; i < contenders.size(); ++i) {
      const TTimed t = contenders[i].run();
      speeds[i].push_back(static_cast<double>(t.bytes) / 1e6 / std::max(t.seconds, 1e-9));
    }
  for (std::size_t i = 0; i < contenders.size(); ++i) {
    auto& s = speeds[i];
    std::sort(s.begin(), s.end());
    std::printf("%s %.1f\n", contenders[i].figure.c_str(), s[s.size() / 2]);
    std::fflush(stdout);
  }
}

// --- Element counts, to check that every library read the whole document ---

int64_t CountOurs(const TXMLNode& root) {
  int64_t count = 0;
  std::vector<const TXMLNode*> pending{&root};
  while (!pending.empty()) {
    const TXMLNode* node = pending.back();
    pending.pop_back();
    if (node->Type() == TXMLNodeType::ntElement) ++count;
    for (const TXMLNode* child : node->Children().Items())
      pending.push_back(child);
  }
  return count;
}

int64_t CountPugi(const pugi::xml_node& root) {
  int64_t count = 0;
  std::vector<pugi::xml_node> pending{root};
  while (!pending.empty()) {
    const pugi::xml_node node = pending.back();
    pending.pop_back();
    ++count;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
      if (child.type() == pugi::node_element) pending.push_back(child);
  }
  return count;
}

int64_t CountTiny(const tinyxml2::XMLElement* root) {
  int64_t count = 0;
  std::vector<const tinyxml2::XMLElement*> pending{root};
  while (!pending.empty()) {
    const tinyxml2::XMLElement* e = pending.back();
    pending.pop_back();
    ++count;
    for (const tinyxml2::XMLElement* c = e->FirstChildElement(); c; c = c->NextSiblingElement())
      pending.push_back(c);
  }
  return count;
}

// --- Loading ------------------------------------------------------------------

IXMLDocumentRef OursLoad(TMemoryStream& utf8) {
  IXMLDocumentRef document = NewXmlDocument(true, true);
  utf8.SetPosition(0);
  document->LoadFromStream(&utf8);
  return document;
}

IXMLDocumentRef OursParse(const std::string& ansi) {
  IXMLDocumentRef document = NewXmlDocument(true, true);
  document->SetXML(ansi);
  return document;
}

std::unique_ptr<pugi::xml_document> PugiParse(const std::string& utf8) {
  auto document = std::make_unique<pugi::xml_document>();
  if (!document->load_buffer(utf8.data(), utf8.size())) throw std::runtime_error("pugixml failed");
  return document;
}

std::unique_ptr<tinyxml2::XMLDocument> TinyParse(const std::string& utf8) {
  auto document = std::make_unique<tinyxml2::XMLDocument>();
  if (document->Parse(utf8.data(), utf8.size()) != tinyxml2::XML_SUCCESS)
    throw std::runtime_error("tinyxml2 failed");
  return document;
}

// --- Saving -------------------------------------------------------------------

struct TStringWriter : pugi::xml_writer {
  std::string out;
  void write(const void* data, size_t size) override {
    out.append(static_cast<const char*>(data), size);
  }
};

struct TDocuments {
  std::string name;
  std::string utf8;
  std::string ansi;
};

void MeasureDocument(const TDocuments& doc, int runs) {
  TMemoryStream stream;
  stream.WriteBuffer(doc.utf8.data(), static_cast<int64_t>(doc.utf8.size()));
  const std::size_t input = doc.utf8.size();
  const std::string& n = doc.name;

  {
    IXMLDocumentRef loaded = OursLoad(stream);
    IXMLDocumentRef parsed = OursParse(doc.ansi);
    const auto pugi = PugiParse(doc.utf8);
    const auto tiny = TinyParse(doc.utf8);
    const int64_t elements[] = {CountOurs(*static_cast<TXMLDocument*>(loaded.get())->Root()),
                                CountOurs(*static_cast<TXMLDocument*>(parsed.get())->Root()),
                                CountPugi(pugi->document_element()),
                                CountTiny(tiny->RootElement())};
    std::printf("%s.elements %lld\n", n.c_str(), static_cast<long long>(elements[0]));
    for (int64_t e : elements)
      if (e != elements[0]) std::printf("%s.element_counts_differ 1\n", n.c_str());
    std::printf("%s.bytes %zu\n", n.c_str(), input);
  }

  RunSideBySide(
      {
          {n + ".load.ours", [&] { return Time(input, [&] { return OursLoad(stream); }); }},
          {n + ".parse.ours", [&] { return Time(input, [&] { return OursParse(doc.ansi); }); }},
          {n + ".parse.pugixml", [&] { return Time(input, [&] { return PugiParse(doc.utf8); }); }},
          {n + ".parse.tinyxml2", [&] { return Time(input, [&] { return TinyParse(doc.utf8); }); }},
      },
      runs);

  // Each library saves the tree it read from the same text. Every save
  // builds its output from nothing, as GetXML must.
  IXMLDocumentRef ours = OursLoad(stream);
  const auto pugi = PugiParse(doc.utf8);
  const auto tiny = TinyParse(doc.utf8);
  const auto getXml = [&](bool formatted) {
    ours->SetFormatted(formatted);
    std::string xml = ours->GetXML();
    return TTimed{0, xml.size()};
  };
  const auto timeGetXml = [&](bool formatted) {
    ours->SetFormatted(formatted);
    std::size_t size = 0;
    TTimed t = Time(0, [&] {
      auto xml = std::make_unique<std::string>(ours->GetXML());
      size = xml->size();
      return xml;
    });
    t.bytes = size;
    return t;
  };
  const auto timeSaveToStream = [&](bool formatted) {
    ours->SetFormatted(formatted);
    std::size_t size = 0;
    TTimed t = Time(0, [&] {
      auto out = std::make_unique<TMemoryStream>();
      ours->SaveToStream(out.get());
      size = static_cast<std::size_t>(out->GetSize());
      return out;
    });
    t.bytes = size;
    return t;
  };
  const auto timePugi = [&](bool formatted) {
    std::size_t size = 0;
    TTimed t = Time(0, [&] {
      auto writer = std::make_unique<TStringWriter>();
      if (formatted)
        pugi->save(*writer, "    ", pugi::format_indent);
      else
        pugi->save(*writer, "", pugi::format_raw);
      size = writer->out.size();
      return writer;
    });
    t.bytes = size;
    return t;
  };
  const auto timeTiny = [&](bool formatted) {
    std::size_t size = 0;
    TTimed t = Time(0, [&] {
      auto printer = std::make_unique<tinyxml2::XMLPrinter>(nullptr, !formatted);
      tiny->Print(printer.get());
      size = static_cast<std::size_t>(printer->CStrSize() - 1);
      return printer;
    });
    t.bytes = size;
    return t;
  };
  std::printf("%s.save_bytes.ours %zu\n", n.c_str(), getXml(true).bytes);
  RunSideBySide(
      {
          {n + ".save_fmt.ours_getxml", [&] { return timeGetXml(true); }},
          {n + ".save_fmt.ours_stream", [&] { return timeSaveToStream(true); }},
          {n + ".save_fmt.pugixml", [&] { return timePugi(true); }},
          {n + ".save_fmt.tinyxml2", [&] { return timeTiny(true); }},
          {n + ".save_raw.ours_getxml", [&] { return timeGetXml(false); }},
          {n + ".save_raw.ours_stream", [&] { return timeSaveToStream(false); }},
          {n + ".save_raw.pugixml", [&] { return timePugi(false); }},
          {n + ".save_raw.tinyxml2", [&] { return timeTiny(false); }},
      },
      runs);
}

// An object of `members` plain members, read into one element.
std::string JsonObject(int members) {
  std::string json = "{\"Root\":[{";
  for (int i = 0; i < members; ++i) {
    if (i > 0) json += ',';
    json += "\"member" + std::to_string(i) + "\":\"value " + std::to_string(i) + "\"";
  }
  json += "}]}";
  return json;
}

// The two sizes take turns, so that a change in the machine's load falls on
// both alike.
void MeasureJson(int smallMembers, int runs) {
  const int sizes[] = {smallMembers, smallMembers * 10};
  const std::string texts[] = {JsonObject(sizes[0]), JsonObject(sizes[1])};
  std::vector<double> times[2];
  for (int r = 0; r <= runs; ++r)
    for (int k = 0; k < 2; ++k) {
      const TTimed t = Time(texts[k].size(), [&] {
        IXMLDocumentRef document = NewXmlDocument(true, true);
        TMemoryStream stream;
        stream.WriteBuffer(texts[k].data(), static_cast<int64_t>(texts[k].size()));
        stream.SetPosition(0);
        document.Query<IXMLJSONFile>()->LoadJSONFromStream(&stream);
        if (document->GetDocumentElement()->GetAttributes()->GetCount() != sizes[k])
          throw std::runtime_error("JSON members lost");
        return document;
      });
      if (r > 0) times[k].push_back(t.seconds);
    }
  for (int k = 0; k < 2; ++k) {
    std::sort(times[k].begin(), times[k].end());
    std::printf("json.members_%d_ms %.3f\n", sizes[k], times[k][times[k].size() / 2] * 1e3);
  }
}

std::size_t SizeOption(int argc, char** argv, const char* name, std::size_t fallback) {
  for (int i = 2; i + 1 < argc; ++i)
    if (std::string(argv[i]) == name) return static_cast<std::size_t>(std::stoul(argv[i + 1]));
  return fallback;
}

TDocuments Make(const std::string& name, std::size_t bytes) {
  TDocuments d{name,
               name == "wide" ? xml_speed_docs::WideDocument(bytes)
                              : xml_speed_docs::DeepDocument(bytes),
               {}};
  d.ansi = platform::Utf8ToAnsi(d.utf8);
  return d;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  TFileStream file(path, fmCreate);
  file.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

// Reads a whole file into a memory stream of exactly its size.
void ReadFile(const std::string& path, TMemoryStream& into) {
  TFileStream file(path, fmOpenRead);
  into.SetSize64(file.GetSize());
  file.ReadBuffer(into.Memory(), file.GetSize());
}

// The peak resident set of this process in KiB, from /proc/self/status; 0
// where the system has no such file.
long PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

int Load(const std::string& contender, const std::string& path) {
  if (contender == "ours-parse") {
    TFileStream file(path, fmOpenRead);
    const std::string text = ReadStreamRest(file);
    IXMLDocumentRef document = NewXmlDocument(true, true);
    document->SetXML(text);
    return document->IsEmpty() ? 1 : 0;
  }
  TMemoryStream input;
  ReadFile(path, input);
  const auto size = static_cast<std::size_t>(input.GetSize());
  if (contender == "input") return 0;
  if (contender == "ours-load") {
    IXMLDocumentRef document = NewXmlDocument(true, true);
    document->LoadFromStream(&input);
    return document->IsEmpty() ? 1 : 0;
  }
  if (contender == "pugixml") {
    pugi::xml_document document;
    return document.load_buffer(input.Memory(), size) ? 0 : 1;
  }
  if (contender == "tinyxml2") {
    tinyxml2::XMLDocument document;
    return document.Parse(input.Memory(), size) == tinyxml2::XML_SUCCESS ? 0 : 1;
  }
  std::fprintf(stderr, "unknown contender %s\n", contender.c_str());
  return 2;
}

} // namespace

int main(int argc, char** argv) try {
  const std::string mode = argc > 1 ? argv[1] : "";
  const std::size_t bytes = SizeOption(argc, argv, "--size-mb", 50) * 1000 * 1000;
  if (mode == "warm") {
    const int runs = static_cast<int>(SizeOption(argc, argv, "--runs", 7));
    for (const char* name : {"wide", "deep"})
      MeasureDocument(Make(name, bytes), runs);
    // Reading JSON takes milliseconds: more runs steady the median.
    MeasureJson(bytes >= 10'000'000 ? 5000 : 500, runs * 3);
    return 0;
  }
  if (mode == "write" && argc > 2) {
    const std::string folder = argv[2];
    for (const char* name : {"wide", "deep"}) {
      const TDocuments d = Make(name, bytes);
      WriteFile(folder + "/" + name + ".xml", d.utf8);
      WriteFile(folder + "/" + name + ".ansi.xml", d.ansi);
    }
    return 0;
  }
  if (mode == "peak" && argc > 3) {
    const int rc = Load(argv[2], argv[3]);
    std::printf("%ld\n", PeakResidentKiB());
    return rc;
  }
  std::fprintf(stderr,
               "usage: %s warm|write <folder>|peak <contender> <file> [--size-mb N] "
               "[--runs N]\n",
               argv[0]);
  return 2;
} catch (const std::exception& e) {
  std::fprintf(stderr, "%s\n", e.what());
  return 1;
}
