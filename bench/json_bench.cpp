// JSON read and write speed of the XML library's JSON classes on a
// manifest-like tree: a root with an entry per region, each with four GBK
// attributes and three release-note children. Write is NodeToJsonText of the
// tree; read is LoadJsonIntoNode of that text into a fresh node (the reader
// takes the writer's form back whole; other JSON loses the members of all but
// one object of an array). Both are timed in the same run, in turn, after an
// untimed warm-up round; the figures are the median CPU time of the runs, as
// MB/s (10^6 bytes) of the JSON text.
//
//   json_bench [size-MB] [runs]        (default 20 MB, 7 runs)
//
// Prints "json.<figure> <value>" lines: bytes, read_mbps, write_mbps.
#include "common/XMLJson.h"
#include "common/ZorvaXMLDoc.h"
#include "common/ZorvaXMLIntf.h"
#include "platform/CodePage.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

double CpuSeconds() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// About 330 bytes of JSON per entry.
IXMLDocumentRef MakeManifest(std::size_t bytes) {
  const std::string region = platform::Utf8ToAnsi("上海");
  const std::string note =
      platform::Utf8ToAnsi("新增电子标书一键导出，修正了大文件保存变慢的问题。");
  const std::string detail = platform::Utf8ToAnsi("明细");
  IXMLDocumentRef doc = NewXmlDocument(true, false);
  IXMLNodeRef root = doc->AddRootNode("Versions");
  for (std::size_t i = 0; i < bytes / 330; ++i) {
    IXMLNodeRef entry = root->AddChild("Version");
    entry->GetAttributes()->GetAttribute("Name")->SetAsString(region + std::to_string(i));
    entry->GetAttributes()->GetAttribute("Version")->SetAsInteger(static_cast<int32_t>(7 + i % 5));
    // Built by appending: g++ 12 at -O3 warns falsely on a literal + to_string.
    std::string path = "V";
    path += std::to_string(i);
    entry->GetAttributes()->GetAttribute("VersionPath")->SetAsString(path);
    entry->GetAttributes()->GetAttribute("MustUpdate")->SetAsInteger(static_cast<int32_t>(i % 2));
    for (int line = 1; line <= 3; ++line)
      entry->AddChild("Detail")->GetAttributes()->GetAttribute(detail)->SetAsString(
          std::to_string(line).append(". ").append(note));
  }
  return doc;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
  const std::size_t mb = argc > 1 ? static_cast<std::size_t>(std::atoi(argv[1])) : 20;
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
  IXMLDocumentRef manifest = MakeManifest(mb * 1000000);

  std::vector<double> read, write;
  std::string text;
  for (int r = 0; r <= runs; ++r) {
    text.clear();
    double start = CpuSeconds();
    NodeToJsonText(manifest->GetDocumentElement().get(), text);
    const double writeSeconds = CpuSeconds() - start;

    IXMLDocumentRef doc = NewXmlDocument(true, false);
    IXMLNodeRef holder = doc->CreateNode("", TXMLNodeType::ntElement);
    start = CpuSeconds();
    LoadJsonIntoNode(holder, text);
    const double readSeconds = CpuSeconds() - start;
    if (r == 0) {
      // What was read must be the whole tree: written again, it is the text
      // inside the holder's own member.
      std::string again;
      NodeToJsonText(holder.get(), again);
      if (again != "{\"\":[{}," + text + "]}") {
        std::fprintf(stderr, "the JSON read back differs from the JSON written\n");
        return 1;
      }
      continue; // the warm-up round
    }
    read.push_back(readSeconds);
    write.push_back(writeSeconds);
  }
  const double megabytes = static_cast<double>(text.size()) / 1e6;
  std::printf("json.bytes %zu\njson.read_mbps %.1f\njson.write_mbps %.1f\n", text.size(),
              megabytes / Median(read), megabytes / Median(write));
  return 0;
}
