// Parsing speed and memory of our XML library beside pugixml and tinyxml2,
// on two generated documents:
//  - wide: a manifest-like document of about 50 MB, entries with Chinese
//    (GBK-representable) attribute values, stored as UTF-8 with a declaration
//    that names utf-8, as the update server publishes them;
//  - deep: towers of nested elements (depth 90, below tinyxml2's limit of
//    100) with text, entity references, comments and CDATA sections.
// Our library is measured twice: Load (from a memory stream, with the UTF-8
// to ANSI conversion the document does) and Parse (ANSI text, parse only).
//
// Memory: every allocation of the process goes through the counting functions
// below (operator new, and pugixml's allocator hooks). A benchmark reports the
// peak of live bytes above what was live when its parse began, so the input
// buffer is not counted, the document and every temporary are. Memory that
// an allocator keeps for reuse (our node pool keeps its slabs) is seen only
// by the first benchmark of a process: xml_parse_compare.py runs each
// benchmark in a process of its own and prints the figures side by side.
#include "common/ZorvaXMLDoc.h"
#include "common/ZorvaXMLIntf.h"
#include "common/ZorvaXMLUtils.h"
#include "platform/CodePage.h"
#include "platform/Stream.h"

#include <benchmark/benchmark.h>
#include <pugixml.hpp>
#include <tinyxml2.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>

namespace {

// --- Counting allocator -----------------------------------------------------

std::atomic<int64_t> gLiveBytes{0};
std::atomic<int64_t> gPeakBytes{0};

// Each block carries its size in a header of 16 bytes, which keeps the
// alignment malloc gives.
constexpr std::size_t kHeader = 16;

void* CountedAlloc(std::size_t size) {
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (!block) return nullptr;
  *reinterpret_cast<std::size_t*>(block) = size;
  const int64_t live =
      gLiveBytes.fetch_add(static_cast<int64_t>(size)) + static_cast<int64_t>(size);
  int64_t peak = gPeakBytes.load(std::memory_order_relaxed);
  while (live > peak && !gPeakBytes.compare_exchange_weak(peak, live)) {
  }
  return block + kHeader;
}

void CountedFree(void* pointer) {
  if (!pointer) return;
  auto* block = static_cast<unsigned char*>(pointer) - kHeader;
  gLiveBytes.fetch_sub(static_cast<int64_t>(*reinterpret_cast<std::size_t*>(block)));
  std::free(block);
}

// Measures the peak of live bytes over one parse.
class PeakScope {
public:
  PeakScope() : base_(gLiveBytes.load()) { gPeakBytes.store(base_); }
  int64_t Peak() const { return gPeakBytes.load() - base_; }

private:
  int64_t base_;
};

void ReportMemory(benchmark::State& state, int64_t peak, std::size_t inputSize) {
  state.counters["peak_MiB"] = static_cast<double>(peak) / (1024.0 * 1024.0);
  state.counters["peak_per_input"] = static_cast<double>(peak) / static_cast<double>(inputSize);
}

// --- Generated documents ----------------------------------------------------

// UTF-8 texts of Chinese characters that all have a GBK form.
const char* const kRegions[] = {"上海", "北京", "广东省深圳市", "浙江", "江苏南京", "四川成都"};
const char* const kNotes[] = {
    "修复了招标文件导出时偶尔丢失附件的问题",
    "优化下载速度，支持断点续传",
    "新增投标报价汇总表与清单核对功能",
    "调整界面布局，改进大字体下的显示效果",
};

std::string WideDocument(std::size_t targetBytes) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Versions>\r\n";
  for (int entry = 0; xml.size() < targetBytes; ++entry) {
    xml += "  <Item Name=\"";
    xml += kRegions[entry % 6];
    xml += std::to_string(entry);
    xml += "\" Version=\"" + std::to_string(600 + entry % 97) + "\" VersionPath=\"V" +
           std::to_string(entry) + "\" MustUpdate=\"" + std::to_string(entry % 2) + "\">\r\n";
    for (int line = 0; line < 4; ++line) {
      xml += "    <Detail 明细=\"";
      xml += std::to_string(line + 1) + "、";
      xml += kNotes[(entry + line) % 4];
      xml += "\"/>\r\n";
    }
    xml += "  </Item>\r\n";
  }
  xml += "</Versions>\r\n";
  return xml;
}

std::string DeepDocument(std::size_t targetBytes) {
  constexpr int kDepth = 90;
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root>\n";
  for (int tower = 0; xml.size() < targetBytes; ++tower) {
    for (int level = 0; level < kDepth; ++level) {
      xml += "<level n=\"" + std::to_string(level) + "\" kind='tower &amp; level'>";
      xml += "text &lt;" + std::to_string(tower) + "&gt; 说明 &quot;quoted&quot; ";
      if (level % 3 == 0) xml += "<!-- a comment with > inside -->";
      if (level % 5 == 0) xml += "<![CDATA[raw <markup> & ]] stuff]]>";
    }
    for (int level = 0; level < kDepth; ++level)
      xml += "tail</level>\n";
  }
  xml += "</root>\n";
  return xml;
}

struct Corpus {
  std::string utf8;
  std::string ansi; // the same text as our document sees it after conversion
};

const Corpus& Wide() {
  static const Corpus corpus = [] {
    Corpus c{WideDocument(50u << 20), {}};
    c.ansi = platform::Utf8ToAnsi(c.utf8);
    return c;
  }();
  return corpus;
}

const Corpus& Deep() {
  static const Corpus corpus = [] {
    Corpus c{DeepDocument(20u << 20), {}};
    c.ansi = platform::Utf8ToAnsi(c.utf8);
    return c;
  }();
  return corpus;
}

const Corpus& CorpusOf(int which) {
  return which == 0 ? Wide() : Deep();
}
const char* NameOf(int which) {
  return which == 0 ? "wide" : "deep";
}

// The element count, to check that every library saw the whole document.
int64_t CountElements(IXMLNode& node) {
  int64_t count = node.GetNodeType() == TXMLNodeType::ntElement ? 1 : 0;
  const auto children = node.GetChildNodes();
  for (int32_t i = 0, n = children->GetCount(); i < n; ++i)
    count += CountElements(*children->GetNode(i));
  return count;
}

// --- Benchmarks -------------------------------------------------------------

void BM_Zorva_Load(benchmark::State& state) {
  const Corpus& corpus = CorpusOf(static_cast<int>(state.range(0)));
  TMemoryStream stream;
  stream.WriteBuffer(corpus.utf8.data(), static_cast<int64_t>(corpus.utf8.size()));
  // Kept across calls: the calls that size the iteration count are not
  // reported, and the first one may be the only one that grows a pool.
  static int64_t peakSeen[2] = {0, 0};
  int64_t& peak = peakSeen[state.range(0)];
  for (auto _ : state) {
    PeakScope scope;
    {
      IXMLDocumentRef document = NewXmlDocument(false, false);
      stream.SetPosition(0);
      document->LoadFromStream(&stream);
      if (document->IsEmpty()) state.SkipWithError("document did not load");
      benchmark::DoNotOptimize(document.get());
    }
    peak = std::max(peak, scope.Peak());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus.utf8.size()));
  ReportMemory(state, peak, corpus.utf8.size());
  state.SetLabel(NameOf(static_cast<int>(state.range(0))));
}

void BM_Zorva_Parse(benchmark::State& state) {
  const Corpus& corpus = CorpusOf(static_cast<int>(state.range(0)));
  // Kept across calls: the calls that size the iteration count are not
  // reported, and the first one may be the only one that grows a pool.
  static int64_t peakSeen[2] = {0, 0};
  int64_t& peak = peakSeen[state.range(0)];
  int64_t elements = 0;
  for (auto _ : state) {
    PeakScope scope;
    {
      IXMLDocumentRef document = NewXmlDocument(false, false);
      document->SetXML(corpus.ansi);
      benchmark::DoNotOptimize(document.get());
      state.PauseTiming();
      elements = document->IsEmpty() ? 0 : CountElements(*document->GetDocumentElement());
      state.ResumeTiming();
    }
    peak = std::max(peak, scope.Peak());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus.utf8.size()));
  ReportMemory(state, peak, corpus.utf8.size());
  state.counters["elements"] = static_cast<double>(elements);
  state.SetLabel(NameOf(static_cast<int>(state.range(0))));
}

void BM_Pugixml_Parse(benchmark::State& state) {
  const Corpus& corpus = CorpusOf(static_cast<int>(state.range(0)));
  // Kept across calls: the calls that size the iteration count are not
  // reported, and the first one may be the only one that grows a pool.
  static int64_t peakSeen[2] = {0, 0};
  int64_t& peak = peakSeen[state.range(0)];
  for (auto _ : state) {
    PeakScope scope;
    {
      pugi::xml_document document;
      const auto result = document.load_buffer(corpus.utf8.data(), corpus.utf8.size());
      if (!result) state.SkipWithError(result.description());
      benchmark::DoNotOptimize(document.first_child());
    }
    peak = std::max(peak, scope.Peak());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus.utf8.size()));
  ReportMemory(state, peak, corpus.utf8.size());
  state.SetLabel(NameOf(static_cast<int>(state.range(0))));
}

void BM_Tinyxml2_Parse(benchmark::State& state) {
  const Corpus& corpus = CorpusOf(static_cast<int>(state.range(0)));
  // Kept across calls: the calls that size the iteration count are not
  // reported, and the first one may be the only one that grows a pool.
  static int64_t peakSeen[2] = {0, 0};
  int64_t& peak = peakSeen[state.range(0)];
  for (auto _ : state) {
    PeakScope scope;
    {
      tinyxml2::XMLDocument document;
      if (document.Parse(corpus.utf8.data(), corpus.utf8.size()) != tinyxml2::XML_SUCCESS)
        state.SkipWithError(document.ErrorStr());
      benchmark::DoNotOptimize(document.RootElement());
    }
    peak = std::max(peak, scope.Peak());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus.utf8.size()));
  ReportMemory(state, peak, corpus.utf8.size());
  state.SetLabel(NameOf(static_cast<int>(state.range(0))));
}

// Walking n siblings with NextSibling must cost O(n), not O(n^2).
void BM_Zorva_NextSiblingWalk(benchmark::State& state) {
  const auto n = static_cast<int64_t>(state.range(0));
  std::string xml = "<r>";
  for (int64_t i = 0; i < n; ++i)
    xml += "<c/>";
  xml += "</r>";
  IXMLDocumentRef document = NewXmlDocument(false, false);
  document->SetXML(xml);
  const IXMLNodeRef first = document->GetDocumentElement()->GetChildNodes()->GetNode(0);
  for (auto _ : state) {
    int64_t visited = 0;
    for (IXMLNodeRef node = first; node; node = node->NextSibling())
      ++visited;
    if (visited != n) state.SkipWithError("the walk missed siblings");
    benchmark::DoNotOptimize(visited);
  }
  state.SetComplexityN(n);
  state.SetItemsProcessed(state.iterations() * n);
}

BENCHMARK(BM_Zorva_Load)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Zorva_Parse)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pugixml_Parse)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tinyxml2_Parse)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Zorva_NextSiblingWalk)->Arg(1000)->Arg(10000)->Arg(100000)->Complexity(benchmark::oN);

struct PugixmlAllocatorHook {
  PugixmlAllocatorHook() { pugi::set_memory_management_functions(CountedAlloc, CountedFree); }
} gPugixmlAllocatorHook;

} // namespace

void* operator new(std::size_t size) {
  if (void* p = CountedAlloc(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  if (void* p = CountedAlloc(size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return CountedAlloc(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return CountedAlloc(size);
}
void operator delete(void* p) noexcept {
  CountedFree(p);
}
void operator delete[](void* p) noexcept {
  CountedFree(p);
}
void operator delete(void* p, std::size_t) noexcept {
  CountedFree(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  CountedFree(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  CountedFree(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  CountedFree(p);
}

BENCHMARK_MAIN();
