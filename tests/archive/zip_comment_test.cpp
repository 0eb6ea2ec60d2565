#include "archive/ZipCommentWriter.h"
#include "archive/ZipControl.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/Stream.h"
#include "zip_fixtures.h"

#include <gtest/gtest.h>

#include <string>

using namespace ziptest;

TEST(ZipComment, TemplateVersionCommentComesBackAsLines) {
  ZIPTEST_NEEDS_ZIP_TOOL();
  ScratchDir dir;
  // `zip -z` stores each LF as CR LF and drops the last line end.
  const std::string tool = ZipWithTool(dir, "template.sfwb", "[Region]\nVersion=5\n");
  EXPECT_EQ(TZipInfo::ReadArchiveComment(tool), "[Region]\r\nVersion=5\r\n");

  const std::string built =
      dir.Write("built.sfwb", BuildZip(TwoMembers(), "[Region]\r\nVersion=5").bytes);
  EXPECT_EQ(TZipInfo::ReadArchiveComment(built), "[Region]\r\nVersion=5\r\n");

  const std::string mixed =
      dir.Write("mixed.zip", BuildZip(TwoMembers(), "a\nb\rc\r\n\r\nd").bytes);
  EXPECT_EQ(TZipInfo::ReadArchiveComment(mixed), "a\r\nb\r\nc\r\n\r\nd\r\n");
}

TEST(ZipComment, TextStaysInTheAnsiCodePage) {
  ScratchDir dir;
  const std::string gbk = platform::Utf8ToAnsi("[地区]\r\n版本=7");
  ASSERT_FALSE(gbk.empty());
  const std::string path = dir.Write("gbk.zip", BuildZip(TwoMembers(), gbk).bytes);
  EXPECT_EQ(TZipInfo::ReadArchiveComment(path), gbk + "\r\n");
}

TEST(ZipComment, EmptyCommentIgnoresBytesAfterTheRecord) {
  ScratchDir dir;
  const std::string path =
      dir.Write("trail.zip", BuildZip(TwoMembers(), "").bytes + "Version=9\r\nappended");
  EXPECT_EQ(TZipInfo::ReadArchiveComment(path), "");
}

// The comment is as long as its record says: data appended to an archive
// (a signature, a download tail) is no part of it.
TEST(ZipComment, BytesAfterTheCommentAreNotPartOfIt) {
  ScratchDir dir;
  const std::string path =
      dir.Write("appended.zip", BuildZip(TwoMembers(), "Version=5").bytes + "\r\nVersion=6\r\n");
  EXPECT_EQ(TZipInfo::ReadArchiveComment(path), "Version=5\r\n");

  // A length running past the end of the file gives what is there.
  const std::string cut = dir.Write("cut.zip", BuildZip(TwoMembers(), "short", false, 500).bytes);
  EXPECT_EQ(TZipInfo::ReadArchiveComment(cut), "short\r\n");
}

// The recorded length is an unsigned 16-bit count: any value up to 0xFFFF
// that runs past the end of the file gives the bytes that are there, in a
// small file and in one larger than the end-record search window.
TEST(ZipComment, RecordedLengthPastTheEndOfTheFileGivesTheBytesThere) {
  ScratchDir dir;
  const std::vector<Member> big = {{"big.bin", std::string(40000, 'b')}};
  for (const std::vector<Member>& members : {TwoMembers(), big}) {
    for (int64_t length : {0x7FFF, 0x8000, 0x9000, 0xFFFF}) {
      SCOPED_TRACE(std::to_string(members.size()) + " members, length " + std::to_string(length));
      const std::string path =
          dir.Write("cut.zip", BuildZip(members, "[Region]\r\nVersion=5", false, length).bytes);
      EXPECT_EQ(TZipInfo::ReadArchiveComment(path), "[Region]\r\nVersion=5\r\n");
    }
  }
}

TEST(ZipComment, NulByteEndsTheText) {
  ScratchDir dir;
  const std::string comment = std::string("first\r\nsec\0ond\r\nthird", 21);
  const std::string path = dir.Write("leading-nuls.zip", BuildZip(TwoMembers(), comment).bytes);
  EXPECT_EQ(TZipInfo::ReadArchiveComment(path), "first\r\nsec\r\n");
}

TEST(ZipComment, ExecutableAndJarArchivesGiveTheirComment) {
  ZIPTEST_NEEDS_ZIP_TOOL();
  ScratchDir dir;
  dir.Write("stub.exe", "MZ" + std::string(300, '\x90'));
  ZipWithTool(dir, "payload.zip", "[Region]\nVersion=3");
  Shell(dir, "cat stub.exe payload.zip > sfx.exe && cp payload.zip x.jar");
  EXPECT_EQ(TZipInfo::ReadArchiveComment(dir.Path("sfx.exe")), "[Region]\r\nVersion=3\r\n");
  EXPECT_EQ(TZipInfo::ReadArchiveComment(dir.Path("x.jar")), "[Region]\r\nVersion=3\r\n");

  std::string stub(100, 'q');
  const std::string stubbed =
      dir.Write("stubbed.bin", stub + BuildZip(TwoMembers(), "Version=4").bytes);
  EXPECT_EQ(TZipInfo::ReadArchiveComment(stubbed), "Version=4\r\n");

  const std::string zip64 = dir.Write("z64.zip", BuildZip(TwoMembers(), "Version=64", true).bytes);
  EXPECT_EQ(TZipInfo::ReadArchiveComment(zip64), "Version=64\r\n");
}

TEST(ZipComment, CommentOutsideTheSearchWindowIsNotRead) {
  ScratchDir dir;
  const std::vector<Member> big = {{"big.bin", std::string(40000, 'b')}};
  const std::string longest(32745, 'c');
  EXPECT_EQ(TZipInfo::ReadArchiveComment(dir.Write("in.zip", BuildZip(big, longest).bytes)),
            longest + "\r\n");
  EXPECT_EQ(TZipInfo::ReadArchiveComment(
                dir.Write("out.zip", BuildZip(big, std::string(40000, 'c')).bytes)),
            "");
}

// A damaged directory does not hide a comment whose end record was found.
TEST(ZipComment, DamagedDirectoryKeepsTheComment) {
  ScratchDir dir;
  const std::string path =
      dir.Write("nodir.zip", BuildZip(TwoMembers(), "Version=8", false, -1, 0x7FFFFFF0).bytes);
  EXPECT_EQ(TZipInfo::ReadArchiveComment(path), "Version=8\r\n");
}

TEST(ZipComment, ForeignMissingAndTinyFilesGiveNoText) {
  ScratchDir dir;
  EXPECT_EQ(TZipInfo::ReadArchiveComment(dir.Path("missing.sfwb")), "");
  EXPECT_EQ(TZipInfo::ReadArchiveComment(dir.Path("")), "");
  EXPECT_EQ(TZipInfo::ReadArchiveComment(""), "");
  EXPECT_EQ(TZipInfo::ReadArchiveComment(dir.Write("x.cab", "MSCF" + std::string(400, '\0'))), "");
  EXPECT_EQ(
      TZipInfo::ReadArchiveComment(dir.Write("x.rar", "Rar!\x1a\x07" + std::string(400, 'r'))), "");
  EXPECT_EQ(TZipInfo::ReadArchiveComment(dir.Write("tiny.zip", std::string(19, 'P'))), "");
  // An end record alone, with a comment: at offset 0 it is never found.
  EXPECT_EQ(TZipInfo::ReadArchiveComment(dir.Write("empty.zip", BuildZip({}, "Version=1").bytes)),
            "");
}

TEST(ZipComment, ForwardSlashPathGivesTheSameComment) {
  ScratchDir dir;
  dir.Write("t/sub/a.sfwb", BuildZip(TwoMembers(), "[Region]\r\nVersion=2").bytes);
  EXPECT_EQ(TZipInfo::ReadArchiveComment(dir.Path("t/sub/a.sfwb")), "[Region]\r\nVersion=2\r\n");
  EXPECT_EQ(TZipInfo::ReadArchiveComment(dir.Path("t//sub/./a.sfwb")), "[Region]\r\nVersion=2\r\n");
}

TEST(ZipComment, LoadCommentReplacesEarlierLines) {
  ScratchDir dir;
  TZipInfo info;
  info.ArchivePath = dir.Write("one.zip", BuildZip(TwoMembers(), "a\r\nb").bytes);
  info.LoadComment();
  EXPECT_EQ(info.Lines().Count(), 2);
  info.ArchivePath = dir.Write("two.zip", BuildZip(TwoMembers(), "c").bytes);
  info.LoadComment();
  EXPECT_EQ(info.Lines().GetText(), "c\r\n");
}

// The comment written into a copy reads back through the reader, whatever
// the old comment was and whatever followed it; the members stay as they are.
TEST(ZipCommentWriter, CopyCarriesTheNewCommentAndTheSameMembers) {
  ScratchDir dir;
  const std::string comment = "[Region]\r\nVersion=9\r\n";
  for (const std::string& source :
       {BuildZip(TwoMembers(), "").bytes, BuildZip(TwoMembers(), "[Region]\r\nVersion=2").bytes,
        BuildZip(TwoMembers(), "old", false, -1).bytes + "trailing bytes",
        BuildZip(TwoMembers(), "z64", true).bytes,
        std::string(100, 'x') + BuildZip(TwoMembers(), "behind a stub").bytes}) {
    const std::string in = dir.Write("in.zip", source);
    TFileStream input(in, fmOpenRead);
    TMemoryStream copy;
    CopyZipWithComment(input, input.GetSize(), comment, copy);
    const std::string bytes(copy.Memory(), static_cast<size_t>(copy.GetSize()));
    const std::string out = dir.Write("out.zip", bytes);
    EXPECT_EQ(TZipInfo::ReadArchiveComment(out), comment);
    EXPECT_EQ(bytes.substr(0, bytes.size() - comment.size() - 2),
              source.substr(0, bytes.size() - comment.size() - 2));
  }
}

TEST(ZipCommentWriter, WhatTheReaderWouldNotFindIsRefused) {
  ScratchDir dir;
  const std::string big =
      dir.Write("big.zip", BuildZip({{"a", std::string(40000, 'a')}}, "").bytes);
  const std::string text = dir.Write("text.txt", std::string(1000, 't'));
  TMemoryStream copy;
  TFileStream bigFile(big, fmOpenRead);
  EXPECT_NO_THROW(CopyZipWithComment(bigFile, bigFile.GetSize(), std::string(32745, 'c'), copy));
  EXPECT_THROW(CopyZipWithComment(bigFile, bigFile.GetSize(), std::string(32746, 'c'), copy),
               EStreamError);
  TFileStream textFile(text, fmOpenRead);
  EXPECT_THROW(CopyZipWithComment(textFile, textFile.GetSize(), "x", copy), EStreamError);
}
