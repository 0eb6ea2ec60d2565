// The shortcut reader: shell links built from the public binary format,
// broken ones among them, desktop entries and symbolic links.
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/ShellLink.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/ShellLinkBytes.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include <objbase.h>
#include <objidl.h>
#include <shlguid.h>
#include <shobjidl.h>
#else
#include <unistd.h>
#endif

#include <functional>
#include <string>

namespace {

using platform::Utf8ToAnsi;
using testsupport::kLinkInfoAt;
using testsupport::MakeShellLink;
using testsupport::SetU32;
using testsupport::ShellLinkShape;

ShellLinkShape AnsiLink() {
  return {Utf8ToAnsi("C:\\Program Files\\Zorva\\招标工具\\"), "unins000.exe", false, {}, {}};
}

TEST(ShellLink, TargetIsTheLocalBasePathWithTheCommonSuffix) {
  EXPECT_EQ(platform::ParseShellLinkTarget(MakeShellLink(AnsiLink())),
            Utf8ToAnsi("C:\\Program Files\\Zorva\\招标工具\\unins000.exe"));

  // The Unicode forms win over the ANSI ones.
  ShellLinkShape unicode{"C:\\WRONG\\", "wrong.exe", true, u"D:\\卸载程序\\", u"卸载.exe"};
  EXPECT_EQ(platform::ParseShellLinkTarget(MakeShellLink(unicode)),
            Utf8ToAnsi("D:\\卸载程序\\卸载.exe"));
}

TEST(ShellLink, OffsetsAndSizesOutsideTheFileAreRejected) {
  const std::string good = MakeShellLink(AnsiLink());
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
  } cases[] = {
      {"cut in the header", [](std::string& b) { b.resize(0x40); }},
      {"cut in the link info", [](std::string& b) { b.resize(kLinkInfoAt + 0x20); }},
      {"other class id", [](std::string& b) { b[4] = 0x02; }},
      {"no link info", [](std::string& b) { SetU32(b, 0x14, 0x01); }},
      {"id list beyond the end", [](std::string& b) { b[0x4C] = '\xFF', b[0x4D] = '\xFF'; }},
      {"link info beyond the end", [](std::string& b) { SetU32(b, kLinkInfoAt, 0x7FFFFFF0); }},
      {"link info header beyond it", [](std::string& b) { SetU32(b, kLinkInfoAt + 4, 0x1000); }},
      {"no local base path", [](std::string& b) { SetU32(b, kLinkInfoAt + 8, 0x02); }},
      {"base path offset beyond it", [](std::string& b) { SetU32(b, kLinkInfoAt + 0x10, 0x1000); }},
      {"suffix offset beyond it",
       [](std::string& b) { SetU32(b, kLinkInfoAt + 0x18, 0xFFFFFFFF); }},
      {"suffix without its end",
       [](std::string& b) {
         SetU32(b, kLinkInfoAt,
                static_cast<uint32_t>(b.size() - kLinkInfoAt - 6)); // ends inside the suffix
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = good;
    c.damage(bytes);
    EXPECT_EQ(platform::ParseShellLinkTarget(bytes), std::nullopt);
  }
}

TEST(ShellLink, DesktopEntryGivesTheProgramOfItsExecLine) {
  struct Case {
    const char* text;
    std::optional<std::string> program; // UTF-8
  } cases[] = {
      {"[Desktop Entry]\nName=卸载\nExec=/opt/zorva/uninstall --all %f\n", "/opt/zorva/uninstall"},
      {"\xEF\xBB\xBF# comment\n\n[Desktop Entry]\r\nExec = \"/opt/卸载 程序/un\\\\\"x\" -q\r\n",
       "/opt/卸载 程序/un\"x"},
      {"[Desktop Entry]\nExec=uninstall-zorva\n[Desktop Action Remove]\nExec=/bin/rm\n",
       "uninstall-zorva"},
      {"[Desktop Action Remove]\nExec=/bin/rm\n[Desktop Entry]\nExec=/bin/true\n", std::nullopt},
      {"Exec=/bin/true\n[Desktop Entry]\n", std::nullopt},
      {"[Desktop Entry]\nName=no program\n", std::nullopt},
      {"[Desktop Entry]\nExec=\n", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::optional<std::string> expected;
    if (c.program) expected = Utf8ToAnsi(*c.program);
    EXPECT_EQ(platform::ParseDesktopEntryProgram(c.text), expected);
  }
}

#ifdef _WIN32
// Saves a shortcut to `target` at `path` through the shell's own link object.
bool SaveShellLink(const std::string& ansiPath, const std::string& ansiTarget) {
  const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  bool saved = false;
  IShellLinkA* link = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                 reinterpret_cast<void**>(&link)))) {
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->SetPath(ansiTarget.c_str())) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
      wchar_t wide[MAX_PATH];
      if (MultiByteToWideChar(CP_ACP, 0, ansiPath.c_str(), -1, wide, MAX_PATH) > 0)
        saved = SUCCEEDED(file->Save(wide, TRUE));
      file->Release();
    }
    link->Release();
  }
  if (com) CoUninitialize();
  return saved;
}

TEST(ShellLink, ShortcutsSavedByTheShellOrBuiltByteForByteAreReadByTheShell) {
  testsupport::TempFolder folder;
  folder.MakeFolder("招标工具");
  folder.Write("招标工具/unins000.exe", "MZ");
  const std::string target = folder.Ansi("招标工具\\unins000.exe");
  ASSERT_TRUE(SaveShellLink(folder.Ansi("卸载 招标工具.lnk"), target));
  EXPECT_EQ(platform::ReadShortcutTarget(folder.Ansi("卸载 招标工具.lnk")), target);

  // The public format that the portable parser reads is the shell's too.
  folder.Write(
      "built.lnk",
      MakeShellLink(
          {Utf8ToAnsi("C:\\Program Files\\Zorva\\招标工具\\unins000.exe"), "", false, {}, {}}));
  EXPECT_EQ(platform::ReadShortcutTarget(folder.Ansi("built.lnk")),
            Utf8ToAnsi("C:\\Program Files\\Zorva\\招标工具\\unins000.exe"));

  folder.Write("not-a-link.lnk", "[Desktop Entry]\nExec=/opt/zorva/uninstall\n");
  for (const char* name : {"not-a-link.lnk", "missing.lnk"}) {
    SCOPED_TRACE(name);
    try {
      platform::ReadShortcutTarget(folder.Ansi(name));
      ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
      EXPECT_NE(std::string(e.what()).find(folder.Ansi(name)), std::string::npos) << e.what();
    }
  }
}

#else
TEST(ShellLink, ShortcutFilesAreReadByContentAndLinksAreFollowed) {
  testsupport::TempFolder folder;
  testsupport::ScopedEnv drive("UPDATE_DRIVE_C", folder.Utf8("c"));
  folder.Write("卸载 招标工具.lnk", MakeShellLink(AnsiLink()));
  folder.Write("卸载.desktop", "[Desktop Entry]\nExec=/opt/zorva/uninstall\n");
  folder.Write("uninstall", "#!/bin/sh\n");
  ASSERT_EQ(::symlink("uninstall", folder.Utf8("to-program").c_str()), 0);
  ASSERT_EQ(::symlink(folder.Utf8("卸载.desktop").c_str(), folder.Utf8("to-entry").c_str()), 0);
  ASSERT_EQ(::symlink("gone/uninstall", folder.Utf8("dangling").c_str()), 0);

  EXPECT_EQ(platform::ReadShortcutTarget(folder.Ansi("卸载 招标工具.lnk")),
            folder.Ansi("c/Program Files/Zorva/招标工具/unins000.exe"));
  EXPECT_EQ(platform::ReadShortcutTarget(folder.Ansi("卸载.desktop")), "/opt/zorva/uninstall");
  EXPECT_EQ(platform::ReadShortcutTarget(folder.Ansi("to-program")), folder.Ansi("uninstall"));
  EXPECT_EQ(platform::ReadShortcutTarget(folder.Ansi("to-entry")), "/opt/zorva/uninstall");
  EXPECT_EQ(platform::ReadShortcutTarget(folder.Ansi("dangling")), folder.Ansi("gone/uninstall"));

  for (const char* name : {"uninstall", "missing.lnk"}) {
    SCOPED_TRACE(name);
    try {
      platform::ReadShortcutTarget(folder.Ansi(name));
      ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
      EXPECT_NE(std::string(e.what()).find(folder.Ansi(name)), std::string::npos) << e.what();
    }
  }
}
#endif

} // namespace
