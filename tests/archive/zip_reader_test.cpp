#include "archive/ZipControl.h"
#include "archive/ZipDirReader.h"
#include "archive/ZipEndRecord.h"
#include "archive/ZipFileMask.h"
#include "zip_fixtures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#ifndef _WIN32
#include <sys/stat.h>
#endif
#include <vector>

using namespace ziptest;

namespace {

uint32_t StoredDirectoryOffset(const TZipDirReader& r) {
  const auto& e = r.EndRecord();
  return e[16] | (e[17] << 8) | (e[18] << 16) | (static_cast<uint32_t>(e[19]) << 24);
}

struct Recorder {
  std::vector<std::string> calls;
  std::vector<int> errors;
  std::vector<std::string> errorTexts;
  std::vector<std::string> names;

  void Attach(TZipDirReader& r) {
    r.OnActivate = [this](TZipDirReader& s) {
      calls.push_back(s.ArchiveStream() ? "activate(open)" : "activate(closed)");
    };
    r.OnRead = [this](TZipDirReader& s, int64_t, int32_t number) {
      calls.push_back("read" + std::to_string(number));
      names.push_back(s.CurrentEntry().FileName);
    };
    r.OnReadBegin = [this](TZipDirReader&) { calls.push_back("begin"); };
    r.OnReadEnd = [this](TZipDirReader&) { calls.push_back("end"); };
    r.OnTotals = [this](TZipDirReader& s) {
      calls.push_back(s.ArchiveStream() ? "totals(open)" : "totals");
    };
    r.OnDeactivate = [this](TZipDirReader&) { calls.push_back("deactivate"); };
    r.OnElapsedTime = [this](TZipDirReader&) { calls.push_back("elapsed"); };
    r.OnError = [this](TZipDirReader&, const std::string&, int code, const std::string& text1,
                       const std::string&) {
      errors.push_back(code);
      errorTexts.push_back(text1);
    };
  }
};

} // namespace

TEST(ZipDirReader, ArchiveMadeByZipToolIsFullyLocated) {
  ZIPTEST_NEEDS_ZIP_TOOL();
  ScratchDir dir;
  const std::string path = ZipWithTool(dir, "plain.zip", "one\ntwo");
  TZipDirReader r;
  r.SetArchiveFile(path);
  EXPECT_EQ(r.ArcType(), atZip);
  EXPECT_EQ(r.ZipFlags(), zfLocalHeader | zfCentralDir | zfEndRecord);
  EXPECT_EQ(r.ArchiveSize(), static_cast<int64_t>(std::filesystem::file_size(path)));
  EXPECT_EQ(r.DirectoryStart(), StoredDirectoryOffset(r));
  EXPECT_EQ(r.CommentLength(), 8); // "one\r\ntwo"
  EXPECT_EQ(r.CommentOffset(), r.ArchiveSize() - 8);
}

TEST(ZipDirReader, SmallMissingAndForeignFilesAreNotArchives) {
  ScratchDir dir;
  TZipDirReader r;
  r.SetArchiveFile(dir.Write("tiny.zip", std::string("PK\x03\x04", 4) + std::string(15, 'x')));
  EXPECT_EQ(r.ArcType(), atNA); // 19 bytes
  r.SetArchiveFile(dir.Write("twenty.zip", std::string("PK\x03\x04", 4) + std::string(16, 'x')));
  EXPECT_EQ(r.ArcType(), atZip);
  r.SetArchiveFile(dir.Path("missing.zip"));
  EXPECT_EQ(r.ArcType(), atNA);
  EXPECT_EQ(r.ArchiveFile(), "");
  r.SetArchiveFile(dir.Path(""));
  EXPECT_EQ(r.ArcType(), atNA); // a folder
  r.SetArchiveFile(dir.Write("text.txt", std::string(500, 'a')));
  EXPECT_EQ(r.ArcType(), atUnknown);
  EXPECT_FALSE(r.EndRecordFound());
  r.SetArchiveFile(dir.Write("prog.exe", "MZ" + std::string(5000, '\x90')));
  EXPECT_EQ(r.ArcType(), atUnknown);
  // "PKG4" and "PKCI" name no zip type; without an end record nothing is found.
  r.SetArchiveFile(dir.Write("g4.bin", "PKG4" + std::string(100, 'z')));
  EXPECT_EQ(r.ArcType(), atUnknown);
}

TEST(ZipDirReader, LeadingSignatureRules) {
  ScratchDir dir;
  const ZipLayout zip = BuildZip(TwoMembers(), "c");
  TZipDirReader r;

  for (size_t nuls : {7u, 510u, 5000u}) {
    r.SetArchiveFile(dir.Write("leading-nuls.zip", std::string(nuls, '\0') + zip.bytes));
    EXPECT_EQ(r.ArcType(), atZip) << nuls;
    EXPECT_EQ(r.DirectoryStart(), static_cast<int64_t>(nuls + zip.directoryOffset)) << nuls;
  }

  r.SetArchiveFile(dir.Write("span.zip", std::string("PK\x07\x08", 4) + zip.bytes));
  EXPECT_EQ(r.ArcType(), atZipMV);

  // The engine's own "PL", "PM" and "PN" lead as "PK" does, even without an
  // end record; their neighbours "PJ" and "PO" lead nothing.
  const std::string tail(100, 'z');
  for (const char second : {'J', 'K', 'L', 'M', 'N', 'O'}) {
    const bool variant = second >= 'K' && second <= 'N';
    const std::string lead = std::string("P") + second;
    r.SetArchiveFile(dir.Write("lead.bin", lead + "\x03\x04" + tail));
    EXPECT_EQ(r.ArcType(), variant ? atZip : atUnknown) << second;
    EXPECT_EQ(r.ZipFlags(), variant ? zfLocalHeader : 0) << second;
    EXPECT_EQ(r.DirectoryStart(), 0) << second;
    r.SetArchiveFile(dir.Write("lead.bin", lead + "\x07\x08" + tail));
    EXPECT_EQ(r.ArcType(), variant ? atZipMV : atUnknown) << second;
    r.SetArchiveFile(dir.Write("lead.bin", lead + "CI" + tail));
    EXPECT_EQ(r.ArcType(), atUnknown) << second;
  }

  r.SetArchiveFile(dir.Write("x.jar", zip.bytes));
  EXPECT_EQ(r.ArcType(), atJar);
  r.SetArchiveFile(dir.Write("Upper.JAR", zip.bytes));
  EXPECT_EQ(r.ArcType(), atJar);
  r.SetArchiveFile(dir.Write("jar.d/x.zip", zip.bytes));
  EXPECT_EQ(r.ArcType(), atZip);
}

TEST(ZipDirReader, StubWithoutSignatureIsFoundThroughTheEndRecord) {
  ScratchDir dir;
  const ZipLayout zip = BuildZip(TwoMembers(), "stub");
  std::string stub(100, '\0');
  for (size_t i = 0; i < stub.size(); ++i)
    stub[i] = static_cast<char>('a' + i % 26);
  TZipDirReader r;
  r.SetArchiveFile(dir.Write("stubbed.bin", stub + zip.bytes));
  EXPECT_EQ(r.ArcType(), atZip);
  EXPECT_EQ(r.DirectoryStart(), 100 + static_cast<int64_t>(zip.directoryOffset));
  // The local-header offsets are unadjusted; the stub's length is allowed for.
  EXPECT_EQ(r.ZipFlags(), zfLocalHeader | zfCentralDir | zfEndRecord);
}

TEST(ZipDirReader, ExecutableStubGivesZipExe) {
  ZIPTEST_NEEDS_ZIP_TOOL();
  ScratchDir dir;
  dir.Write("stub.exe", "MZ" + std::string(300, '\x90'));
  ZipWithTool(dir, "payload.zip", "sfx\n");
  Shell(dir,
        "cat stub.exe payload.zip > sfx.exe && cp sfx.exe adjusted.exe && zip -q -A adjusted.exe");
  const int64_t payloadDirectory = [&] {
    TZipDirReader plain;
    plain.SetArchiveFile(dir.Path("payload.zip"));
    return plain.DirectoryStart();
  }();
  for (const char* name : {"sfx.exe", "adjusted.exe"}) {
    TZipDirReader r;
    r.SetArchiveFile(dir.Path(name));
    EXPECT_EQ(r.ArcType(), atZipExe) << name;
    EXPECT_EQ(r.DirectoryStart(), 302 + payloadDirectory) << name;
    EXPECT_EQ(r.ZipFlags(), zfLocalHeader | zfCentralDir | zfEndRecord) << name;
  }
}

// The end record lies in the last 32768 bytes, whose first byte is never
// examined: a comment of 32745 bytes is the longest that is found.
TEST(ZipDirReader, EndRecordSearchWindowBoundary) {
  ScratchDir dir;
  const std::vector<Member> big = {{"big.bin", std::string(40000, 'b')}};
  for (size_t length : {4072u, 4074u, 8170u, 32744u, 32745u, 32746u, 40000u}) {
    TZipDirReader r;
    r.SetArchiveFile(dir.Write("w.zip", BuildZip(big, std::string(length, 'c')).bytes));
    EXPECT_EQ(r.ArcType(), atZip) << length;
    if (length <= 32745) {
      EXPECT_TRUE(r.EndRecordFound()) << length;
      EXPECT_EQ(r.CommentLength(), length);
      EXPECT_EQ(r.ZipFlags(), zfLocalHeader | zfCentralDir | zfEndRecord);
    } else {
      EXPECT_FALSE(r.EndRecordFound()) << length;
      EXPECT_EQ(r.ZipFlags(), zfLocalHeader) << length;
      EXPECT_EQ(r.DirectoryStart(), 0) << length;
      EXPECT_EQ(r.CommentOffset(), 0) << length;
    }
  }
}

TEST(ZipDirReader, EndRecordAtOffsetZeroIsNotFound) {
  ScratchDir dir;
  TZipDirReader r;
  r.SetArchiveFile(dir.Write("empty.zip", BuildZip({}, "comment of an empty archive").bytes));
  EXPECT_EQ(r.ArcType(), atZip);
  EXPECT_FALSE(r.EndRecordFound());
}

TEST(ZipDirReader, SignatureTooCloseToTheEndIsNotTakenForTheRecord) {
  ScratchDir dir;
  // The comment ends in an end-record signature that has no room for a record.
  const std::string comment = std::string("ends with ") + std::string("PK\x05\x06", 4) + "abc";
  const ZipLayout zip = BuildZip(TwoMembers(), comment);
  TZipDirReader r;
  r.SetArchiveFile(dir.Write("tail.zip", zip.bytes));
  EXPECT_TRUE(r.EndRecordFound());
  EXPECT_EQ(r.CommentOffset(), static_cast<int64_t>(zip.endRecordOffset) + 22);
  EXPECT_EQ(r.CommentLength(), comment.size());
}

TEST(ZipDirReader, Zip64RecordsSetTheirFlagsAndGiveTheDirectory) {
  ScratchDir dir;
  TZipDirReader r;
  // Comment lengths that put the Zip64 records on both sides of 4 KiB blocks.
  for (size_t length : {10u, 4030u, 4054u, 4060u, 4100u}) {
    const ZipLayout zip = BuildZip(TwoMembers(), std::string(length, 'v'), true);
    r.SetArchiveFile(dir.Write("z64.zip", zip.bytes));
    EXPECT_EQ(r.ArcType(), atZip);
    EXPECT_EQ(r.ZipFlags(),
              zfLocalHeader | zfCentralDir | zfEndRecord | zfZip64Locator | zfZip64End)
        << length;
    EXPECT_EQ(r.DirectoryStart(), static_cast<int64_t>(zip.directoryOffset)) << length;
  }
  const ZipLayout zip = BuildZip(TwoMembers(), "[Region]\r\nVersion=64", true);

  // A locator whose Zip64 end-record offset points past the file: the
  // directory is looked for once more through the 22-byte record's size.
  std::string bent = zip.bytes;
  bent[zip.endRecordOffset - 20 + 8 + 7] = '\x7f';
  std::string plainSize;
  Put32(plainSize, static_cast<uint32_t>(zip.endRecordOffset - zip.directoryOffset));
  bent.replace(zip.endRecordOffset + 12, 4, plainSize);
  r.SetArchiveFile(dir.Write("bent64.zip", bent));
  EXPECT_EQ(r.ZipFlags(), zfLocalHeader | zfCentralDir | zfEndRecord | zfZip64Locator | zfZip64End);
  EXPECT_EQ(r.DirectoryStart(), static_cast<int64_t>(zip.directoryOffset));
}

TEST(ZipDirReader, DirectoryMissingFallsBackToFirstLocalHeader) {
  ScratchDir dir;
  const ZipLayout zip = BuildZip(TwoMembers(), "kept", false, -1, 0x7FFFFFF0);
  TZipDirReader r;
  r.SetArchiveFile(dir.Write("nodir.zip", std::string(3, '\0') + zip.bytes));
  EXPECT_EQ(r.ArcType(), atZip);
  EXPECT_EQ(r.DirectoryStart(), 3);
  // The end record was found and stays marked so.
  EXPECT_EQ(r.ZipFlags(), zfLocalHeader | zfEndRecord);
  EXPECT_EQ(r.CommentLength(), 4);
}

TEST(ZipDirReader, ForwardSlashPathsAreKept) {
  ScratchDir dir;
  const std::string path = dir.Write("a/b/c.zip", BuildZip(TwoMembers(), "x").bytes);
  const std::string winding = dir.Path("a//b/./c.zip");
  TZipDirReader r;
  r.SetArchiveFile(winding);
  EXPECT_EQ(r.ArchiveFile(), winding);
  EXPECT_EQ(r.ArcType(), atZip);
  Recorder rec;
  rec.Attach(r);
  EXPECT_TRUE(r.Activate());
  EXPECT_EQ(rec.names.size(), 2u);
}

TEST(ZipDirReader, ActivationRaisesEventsInOrder) {
  ScratchDir dir;
  TZipDirReader r;
  r.SetArchiveFile(dir.Write("ev.zip", BuildZip(TwoMembers(), "").bytes));
  r.FileSpec.Add("*.*");
  Recorder rec;
  rec.Attach(r);
  EXPECT_TRUE(r.Activate());
  const std::vector<std::string> expected = {"activate(open)", "begin",  "read0", "end",
                                             "begin",          "read1",  "end",   "totals",
                                             "deactivate",     "elapsed"};
  EXPECT_EQ(rec.calls, expected);
  EXPECT_EQ(rec.names, (std::vector<std::string>{"readme.txt", "data/values.ini"}));
  EXPECT_TRUE(rec.errors.empty());
  EXPECT_EQ(r.ArchiveStream(), nullptr);
  EXPECT_FALSE(r.Busy());
}

TEST(ZipDirReader, ActivationRefusesWithoutReadHandlerOrFile) {
  ScratchDir dir;
  TZipDirReader r;
  r.SetArchiveFile(dir.Write("a.zip", BuildZip(TwoMembers(), "").bytes));
  Recorder rec;
  rec.Attach(r);
  r.OnRead = nullptr;
  EXPECT_FALSE(r.Activate());
  EXPECT_TRUE(rec.calls.empty()); // no OnActivate
  EXPECT_EQ(rec.errors, std::vector<int>{msgRequiredEventNotAssigned});
  EXPECT_EQ(rec.errorTexts, std::vector<std::string>{"OnRead"});

  rec = Recorder{};
  rec.Attach(r);
  std::filesystem::remove(dir.Path("a.zip"));
  EXPECT_FALSE(r.Activate());
  EXPECT_TRUE(rec.calls.empty());
  EXPECT_EQ(rec.errors, std::vector<int>{msgFileNotFound});

  rec = Recorder{};
  rec.Attach(r);
  r.SetArchiveFile(dir.Path("never.zip"));
  EXPECT_FALSE(r.Activate());
  EXPECT_EQ(rec.errors, std::vector<int>{msgFileNotFound});
}

TEST(ZipDirReader, SpecialFilesAreNeitherWaitedForNorRead) {
  ScratchDir dir;
#ifdef _WIN32
  // "NUL" names the null device in every folder.
  for (const std::string& path : {dir.Path("NUL")}) {
#else
  // Opening a FIFO that has no writer for reading would wait forever; a
  // device gives endless bytes.
  ASSERT_EQ(::mkfifo(dir.Path("pipe.zip").c_str(), 0600), 0);
  for (const std::string& path : {std::string("/dev/zero"), dir.Path("pipe.zip")}) {
#endif
    TZipDirReader r;
    r.SetArchiveFile(path);
    EXPECT_EQ(r.ArcType(), atNA) << path;
    EXPECT_EQ(r.ArchiveFile(), path);
    Recorder rec;
    rec.Attach(r);
    EXPECT_FALSE(r.Activate()) << path;
    EXPECT_TRUE(rec.calls.empty()) << path; // no OnActivate
    EXPECT_EQ(rec.errors, std::vector<int>{msgErrorOpeningFile}) << path;
    EXPECT_EQ(TZipInfo::ReadArchiveComment(path), "") << path;
  }
}

TEST(ZipDirReader, FiltersChooseEntries) {
  ScratchDir dir;
  const std::vector<Member> members = {
      {"readme.txt", "1"}, {"NOEXT", "2"}, {"docs/Guide.TXT", "3"}, {"docs/b.txt", "4"}};
  TZipDirReader r;
  r.SetArchiveFile(dir.Write("f.zip", BuildZip(members, "").bytes));
  Recorder rec;
  rec.Attach(r);
  r.FileSpec.Add("*.*");
  ASSERT_TRUE(r.Activate());
  EXPECT_EQ(rec.names.size(), 4u);

  rec.names.clear();
  r.FileSpec.Clear();
  r.FileSpec.Add("*.txt");
  r.ExcludeSpec.Add("b*");
  ASSERT_TRUE(r.Activate());
  EXPECT_EQ(rec.names, (std::vector<std::string>{"readme.txt", "docs/Guide.TXT"}));

  rec.names.clear();
  r.FileSpec.Clear();
  r.ExcludeSpec.Clear();
  r.FileSpec.Add("docs\\*");
  ASSERT_TRUE(r.Activate());
  EXPECT_EQ(rec.names, (std::vector<std::string>{"docs/Guide.TXT", "docs/b.txt"}));

  EXPECT_TRUE(ZipMaskMatches("a/b/c", "*.*"));
  EXPECT_FALSE(ZipMaskMatches("readme.txt", ""));
  EXPECT_FALSE(ZipMaskMatches("docs/readme.txt", "other/*"));
}

TEST(ZipDirReader, CancelStopsTheDirectoryLoop) {
  ScratchDir dir;
  std::vector<Member> members;
  for (int i = 0; i < 5; ++i)
    members.push_back({std::string(1, 'm').append(std::to_string(i)), "x"});
  TZipDirReader r;
  r.SetArchiveFile(dir.Write("c.zip", BuildZip(members, "").bytes));
  Recorder rec;
  rec.Attach(r);
  int reads = 0;
  r.OnRead = [&](TZipDirReader& s, int64_t, int32_t) {
    if (++reads == 2) s.SetCancel(true);
  };
  EXPECT_TRUE(r.Activate());
  EXPECT_EQ(reads, 2);
  EXPECT_EQ(rec.errors, std::vector<int>{msgUserCanceled});
  // The next activation starts uncancelled.
  reads = 0;
  r.OnRead = [&](TZipDirReader&, int64_t, int32_t) { ++reads; };
  EXPECT_TRUE(r.Activate());
  EXPECT_EQ(reads, 5);
}

TEST(ZipDirReader, ErrorReportRoutines) {
  TZipDirReader r;
  Recorder rec;
  rec.Attach(r);
  r.ReportError("f.zip", msgBadFileHeader, "t1");
  EXPECT_EQ(rec.errors, std::vector<int>{msgBadFileHeader});
  try {
    r.RaiseError("f.zip", msgErrorOpeningFile);
    FAIL() << "no error raised";
  } catch (const EZipDirError& e) {
    EXPECT_EQ(e.Code(), msgErrorOpeningFile);
    EXPECT_STREQ(e.what(), "Error opening file");
  }
  rec.errors.clear();
  r.SetCancel(true);
  EXPECT_EQ(rec.errors, std::vector<int>{msgUserCanceled});
  rec.errors.clear();
  EXPECT_NO_THROW(r.RaiseError("f.zip", msgBadFileHeader));
  EXPECT_EQ(rec.errors, std::vector<int>{msgUserCanceled});
}

TEST(ZipDirReader, HandlerErrorsEndOnlyTheActivation) {
  ScratchDir dir;
  TZipDirReader r;
  r.SetArchiveFile(dir.Write("h.zip", BuildZip(TwoMembers(), "").bytes));
  int reads = 0;
  r.OnRead = [&](TZipDirReader&, int64_t, int32_t) { ++reads; };
  bool nested = true;
  r.OnActivate = [&](TZipDirReader& s) {
    nested = s.Activate();
    throw std::runtime_error("handler failed");
  };
  EXPECT_FALSE(r.Activate());
  EXPECT_FALSE(nested); // a running activation is not entered twice
  EXPECT_EQ(reads, 0);
  EXPECT_FALSE(r.Busy());
  r.OnActivate = nullptr;
  EXPECT_TRUE(r.Activate());
  EXPECT_EQ(reads, 2);
}

TEST(ZipDirReader, DirectoryWithoutRecordsAsksCorruptHeaderHandler) {
  ScratchDir dir;
  const ZipLayout zip = BuildZip(TwoMembers(), "", false, -1, 0x7FFFFFF0);
  TZipDirReader r;
  r.SetArchiveFile(dir.Write("corrupt.zip", zip.bytes));
  Recorder rec;
  rec.Attach(r);
  // Unassigned: reported, then the local headers are read.
  EXPECT_TRUE(r.Activate());
  EXPECT_EQ(rec.errors, std::vector<int>{msgRequiredEventNotAssigned});
  EXPECT_EQ(rec.errorTexts, std::vector<std::string>{"OnCorruptZipHeader"});
  EXPECT_EQ(rec.names, (std::vector<std::string>{"readme.txt", "data/values.ini"}));

  for (bool answer : {true, false}) {
    rec.names.clear();
    uint8_t askedFlags = 0;
    r.OnCorruptZipHeader = [&](TZipDirReader&, uint8_t flags, bool& goOn) {
      askedFlags = flags;
      EXPECT_TRUE(goOn);
      goOn = answer;
    };
    EXPECT_TRUE(r.Activate());
    EXPECT_EQ(askedFlags, zfLocalHeader | zfEndRecord);
    EXPECT_EQ(rec.names.size(), answer ? 0u : 2u);
  }
}

TEST(ZipDirReader, HostileDirectoryRecordsAreRefused) {
  ScratchDir dir;
  ZipLayout zip = BuildZip(TwoMembers(), "");
  // The first directory entry claims a name running far past the file.
  std::string bent = zip.bytes;
  bent[zip.directoryOffset + 28] = '\xff';
  bent[zip.directoryOffset + 29] = '\xff';
  TZipDirReader r;
  r.SetArchiveFile(dir.Write("bad.zip", bent));
  Recorder rec;
  rec.Attach(r);
  EXPECT_FALSE(r.Activate());
  EXPECT_EQ(rec.errors, std::vector<int>{msgBadFileHeader});
  EXPECT_TRUE(rec.names.empty());

  // A file cut short after classification is read only as far as it goes.
  r.SetArchiveFile(dir.Write("cut.zip", zip.bytes));
  std::filesystem::resize_file(dir.Path("cut.zip"), 40);
  rec = Recorder{};
  rec.Attach(r);
  EXPECT_TRUE(r.Activate());
  EXPECT_EQ(r.ArchiveSize(), 40);
  EXPECT_TRUE(rec.names.empty());
}
