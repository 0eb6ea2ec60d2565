// Loads arbitrary bytes as an XML document, the way the updater loads a
// downloaded manifest, then reads every node and attribute through the typed
// accessors and writes the document back. Library errors are expected for
// malformed input; anything else (a crash, a sanitizer report, another
// exception type) is a finding. So is a load from a stream that hands out a
// few bytes at a time ending otherwise than the load of the same bytes
// converted whole and parsed.
#include "common/XMLCodeConversion.h"
#include "common/ZorvaXMLDoc.h"
#include "common/ZorvaXMLIntf.h"
#include "common/ZorvaXMLUtils.h"
#include "platform/Exception.h"
#include "platform/Stream.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A memory stream that hands out at most `piece` bytes per read.
class TPieceStream : public TMemoryStream {
public:
  explicit TPieceStream(int32_t piece) : piece_(piece) {}
  int32_t Read(void* buffer, int32_t count) override {
    return TMemoryStream::Read(buffer, std::min(count, piece_));
  }

private:
  int32_t piece_;
};

struct TOutcome {
  std::string error;
  std::string xml;
  std::string encoding;
  std::string version;
};

template <class Load> TOutcome Outcome(TXMLOptions options, Load&& load) {
  IXMLDocumentRef document = NewXmlDocument(true, false);
  document->SetOptions(options);
  TOutcome outcome;
  try {
    load(*static_cast<TXMLDocument*>(document.get()));
  } catch (const Exception& e) {
    outcome.error = e.what();
  }
  outcome.xml = document->GetXML();
  outcome.encoding = document->GetEncoding();
  outcome.version = document->GetVersion();
  return outcome;
}

// The bytes loaded in pieces of `piece` bytes against the same bytes
// converted whole and parsed then.
void CompareStreamedLoad(const std::string& bytes, TXMLOptions options, int32_t piece) {
  const TOutcome streamed = Outcome(options, [&](TXMLDocument& document) {
    TPieceStream stream(piece);
    stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    stream.SetPosition(0);
    document.LoadFromStream(&stream);
    if (stream.GetPosition() != static_cast<int64_t>(bytes.size())) std::abort();
  });
  const TOutcome whole = Outcome(options, [&](TXMLDocument& document) {
    const TXMLEncodingInfo info = DetectXMLEncoding(bytes);
    if (info.found && !info.encoding.empty()) document.SetEncoding(info.encoding);
    if (!XMLSameName(document.GetEncoding(), "utf-8")) {
      document.ParseText(bytes, info.byteOrderMark ? 2 : 1);
    } else if (info.byteOrderMark) {
      const std::string rest = XMLUtf8ToAnsi(std::string_view(bytes).substr(3));
      document.ParseText(rest.empty() ? "" : "?" + rest, rest.empty() ? 1 : 2);
    } else {
      document.ParseText(XMLUtf8ToAnsi(bytes), 1);
    }
  });
  if (streamed.error != whole.error || streamed.xml != whole.xml ||
      streamed.encoding != whole.encoding || streamed.version != whole.version)
    std::abort();
}

// Iterative, so that a deeply nested input does not exhaust this walker's
// stack before the library's.
void ReadEverything(const IXMLNodeRef& root) {
  std::vector<IXMLNodeRef> pending{root};
  while (!pending.empty()) {
    IXMLNodeRef node = std::move(pending.back());
    pending.pop_back();
    (void)node->GetAsString();
    (void)node->GetAsInt64();
    (void)node->GetAsFloat();
    (void)node->GetAsBoolean();
    TXMLBinary binary;
    (void)node->GetAsBinary(binary);
    (void)node->GetXML();
    (void)node->GetLevel();
    (void)node->PreviousSibling();
    (void)node->NextSibling();

    const IXMLNodeAttributesRef attributes = node->GetAttributes();
    for (int32_t i = 0; i < attributes->GetCount(); ++i) {
      const IXMLNodeAttributeRef attribute = attributes->GetItem(i);
      (void)attribute->GetAsString();
      (void)attribute->GetAsInteger();
      (void)attribute->GetAsFloat();
      (void)attribute->GetXML();
    }
    const IXMLNodeListRef children = node->GetChildNodes();
    for (int32_t i = 0; i < children->GetCount(); ++i)
      pending.push_back(children->GetNode(i));
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the options and the encoding assumed for a text
  // without declaration; the rest is the file.
  const uint8_t control = data[0];
  TMemoryStream stream;
  stream.WriteBuffer(data + 1, static_cast<int64_t>(size - 1));
  stream.SetPosition(0);

  IXMLDocumentRef document = NewXmlDocument((control & 1) != 0, (control & 2) != 0);
  document->SetOptions(static_cast<TXMLOptions>(((control & 4) ? xoSkipComments : 0) |
                                                ((control & 8) ? xoSkipCDATA : 0) |
                                                ((control & 16) ? xoDecodeLineBreaks : 0)));
  if (control & 32) document->SetEncoding("GBK");
  if (control & 64)
    CompareStreamedLoad(std::string(reinterpret_cast<const char*>(data) + 1, size - 1),
                        document->GetOptions(), 1 + (control >> 7) * 4);
  try {
    document->LoadFromStream(&stream);
  } catch (const Exception&) {
    return 0;
  }
  if (document->IsEmpty()) return 0;
  ReadEverything(document->GetDocumentElement());

  // What the library writes it must be able to read again.
  const std::string written = document->GetXML();
  IXMLDocumentRef again = NewXmlDocument(false, false);
  try {
    again->SetXML(written);
  } catch (const Exception&) {
    return 0;
  }
  return 0;
}
