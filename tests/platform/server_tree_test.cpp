// The update server's tree: GBK names on disk below the root, files that
// appear whole or not at all, and a published file that is never replaced
// by accident. Also the machine identity's Linux half.
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/MachineIdentity.h"
#include "platform/ServerTree.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>

namespace {

using platform::Utf8ToAnsi;

// Every entry below `utf8Folder`, relative, in order.
std::vector<std::string> Listing(const std::string& utf8Folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(utf8Folder))
    names.push_back(entry.path().string().substr(utf8Folder.size()));
  std::sort(names.begin(), names.end());
  return names;
}

void Put(platform::TServerTree& tree, const std::string& relative, const std::string& bytes,
         bool replace, bool expected = true) {
  auto file = tree.NewFile(relative);
  file->Stream().WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  EXPECT_EQ(file->Commit(replace), expected) << relative;
}

TEST(ServerTree, NamesBelowTheRootAreStoredAsTheirGbkBytes) {
  testsupport::TempFolder dir;
  dir.MakeFolder("根目录");
  // The root is an ordinary path: its Chinese name is UTF-8 on disk.
  platform::TServerTree tree(dir.Ansi("根目录"));
  ASSERT_TRUE(tree.RootExists());
  const std::string kind = Utf8ToAnsi("招标工具");
  tree.ForceFolders(kind + "/V7");
  Put(tree, kind + "/V7/" + kind + ".exe", "package", false);
  // What a static server finds for the percent-encoded GBK of the URL.
  EXPECT_EQ(dir.Read("根目录/" + kind + "/V7/" + kind + ".exe"), "package");
  EXPECT_EQ(tree.FileSize(kind + "/V7/" + kind + ".exe"), 7);
  EXPECT_EQ(tree.FileSize(kind + "/V7"), -1);
  EXPECT_EQ(tree.FileSize(kind + "/V8/" + kind + ".exe"), -1);
  EXPECT_EQ(tree.ReadSmallFile(kind + "/V7/" + kind + ".exe", 100), "package");
  EXPECT_EQ(tree.ReadSmallFile(kind + "/Version.xml", 100), std::nullopt);
  EXPECT_THROW(tree.ReadSmallFile(kind + "/V7/" + kind + ".exe", 6), EStreamError);
  EXPECT_FALSE(platform::TServerTree(dir.Ansi("nowhere")).RootExists());
}

TEST(ServerTree, AFileIsPlacedWholeOrNotAtAllAndNeverOverAnotherUnlessAsked) {
  testsupport::TempFolder dir;
  platform::TServerTree tree(dir.Ansi());
  tree.ForceFolders("k");
  Put(tree, "k/a", "first", false);
  // Without replace, the file in place stays.
  Put(tree, "k/a", "second", false, false);
  EXPECT_EQ(dir.Read("k/a"), "first");
  Put(tree, "k/a", "third", true);
  EXPECT_EQ(dir.Read("k/a"), "third");
  {
    // Written, read back, never committed: gone without a trace.
    auto file = tree.NewFile("k/b");
    file->Stream().WriteBuffer("abc", 3);
    file->Stream().SetPosition(0);
    char back[3] = {};
    file->Stream().ReadBuffer(back, 3);
    EXPECT_EQ(std::string(back, 3), "abc");
  }
  EXPECT_EQ(Listing(dir.Utf8()), (std::vector<std::string>{"k", "k/a"}));
  // The web server, another user, must be able to read what is published.
  struct stat st {};
  ASSERT_EQ(::stat(dir.Utf8("k/a").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0444, 0444u);
  EXPECT_THROW(tree.NewFile("missing/a"), EFOpenError);
}

TEST(MachineIdentity, IsTheFirstLineOfTheMachineIdFileTrimmed) {
  testsupport::TempFolder dir;
  dir.Write("machine-id", "  0123456789abcdef \nsecond line\n");
  {
    testsupport::ScopedEnv file("UPDATE_MACHINE_ID_FILE", dir.Utf8("machine-id"));
    EXPECT_EQ(platform::MachineIdentity(), "0123456789abcdef");
  }
  dir.Write("blank", "\n");
  for (const char* none : {"blank", "missing"}) {
    testsupport::ScopedEnv file("UPDATE_MACHINE_ID_FILE", dir.Utf8(none));
    EXPECT_EQ(platform::MachineIdentity(), "") << none;
  }
}

} // namespace
