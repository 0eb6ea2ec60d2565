// The record beside a partial download: written and read back exactly,
// anything else read as no record.
#include "app/DownloadRecord.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DownloadRecord, RoundTripsQuotesAndDatesAndReadsNothingElse) {
  testsupport::TempFolder dir;
  const std::string local = dir.Ansi("package.exe");
  EXPECT_EQ(DownloadRecordFile(local), local + ".resume");
  EXPECT_FALSE(ReadDownloadRecord(local));

  for (const std::string validator : {"\"5f3a-92b\"", "Tue, 01 Jul 2025 10:00:00 GMT", ""}) {
    const TDownloadRecord record{"http://u:p@cdn/a%20b/x.exe?v=1", 614280, validator};
    ASSERT_TRUE(WriteDownloadRecord(local, record));
    const auto back = ReadDownloadRecord(local);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->url, record.url);
    EXPECT_EQ(back->length, record.length);
    EXPECT_EQ(back->validator, record.validator);
  }
  // A value with a line break would forge a key: not written.
  EXPECT_FALSE(WriteDownloadRecord(local, {"http://h/x\nlength=1", 2, ""}));
  EXPECT_EQ(ReadDownloadRecord(local)->length, 614280);

  for (const char* text :
       {"", "url=http://h/x\n", "length=5\n", "url=http://h/x\nlength=5k\n", "garbage"}) {
    dir.Write("package.exe.resume", text);
    EXPECT_FALSE(ReadDownloadRecord(local)) << text;
  }
  dir.Write("package.exe.resume", "url=http://h/x\r\nlength=-1\r\nvalidator=\"a\"\r\n");
  EXPECT_EQ(ReadDownloadRecord(local)->validator, "\"a\"");
}

TEST(DownloadRecord, ValidatorIsAStrongETagElseTheDate) {
  EXPECT_EQ(ChooseValidator("\"a\"", "date"), "\"a\"");
  EXPECT_EQ(ChooseValidator("W/\"a\"", "date"), "date");
  EXPECT_EQ(ChooseValidator("W/\"a\"", ""), "");
  EXPECT_EQ(ChooseValidator("", ""), "");
}

} // namespace
