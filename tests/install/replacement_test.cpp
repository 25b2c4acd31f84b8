// The chunked copy, WININIT.INI's [rename] section and the deferred
// replacement of a file in use on both Windows families.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <thread>

#include "framework/file.h"
#include "install/install_test_util.h"
#include "install/installer.h"
#include "install/replacement.h"
#include "install/wininit.h"
#include "platform/host/prefix.h"
#include "support/engine_test_util.h"
#include "support/temp_dir.h"

namespace {

using sfx::test::CatchFramework;
using sfx::test::Caught;
using sfx::test::LogMark;
using sfx::test::ReadFile;
using sfx::test::ScopedPrefix;
using sfx::test::WriteFile;

const char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";

bool HostExists(const std::string& host) {
  struct stat st;
  return stat(host.c_str(), &st) == 0;
}

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = (char)(i * 7 + i / 251);
  return s;
}

std::string ShortPath(const char* path) {
  char buf[MAX_PATH + 1] = {};
  DWORD n = GetShortPathNameA(path, buf, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(buf) : std::string(path);
}

TEST(TemporaryName, CutBeforeTheLastDot) {
  const char* cases[][2] = {
      {"SHARED.DLL", "SHARED.tmp"}, {"README", "README.tmp"}, {"a.b.c", "a.b.tmp"},
      {".x", ".tmp"},               {"x.", "x.tmp"},          {"", ".tmp"},
  };
  for (auto& c : cases) EXPECT_STREQ(TemporaryName(c[0]), c[1]) << c[0];
}

// ---- Where the rename line goes ---------------------------------------------

TEST(FindRenameInsertion, PlacesTheLineInTheFirstRenameSection) {
  struct Case {
    std::string text;
    std::string before;  // the text before the insertion point
    bool header, lineBreak;
  } cases[] = {
      {"", "", true, false},
      {"[boot]\r\nx=1\r\n", "[boot]\r\nx=1\r\n", true, false},
      {"[boot]\r\nx=1", "[boot]\r\nx=1", true, true},
      {"[rename]\r\na=b\r\n[boot]\r\nx=1\r\n", "[rename]\r\na=b\r\n", false, false},
      {"[Rename]\r\n[boot]\r\n", "[Rename]\r\n", false, false},
      {"  [RENAME] \t\r\n\r\n[boot]\r\n", "  [RENAME] \t\r\n", false, false},
      {"[rename]\r\na=b\r\n\r\n; tail\r\n", "[rename]\r\na=b\r\n\r\n; tail\r\n", false, false},
      {"[rename]\r\na=b\r\n\r\n\r\n", "[rename]\r\na=b\r\n", false, false},
      {"[rename]", "[rename]", false, true},
      {"[rename]\na=b", "[rename]\na=b", false, true},
      {"[renamed]\r\n", "[renamed]\r\n", true, false},
      {"; [rename]\r\n", "; [rename]\r\n", true, false},
      {"[x]\r\n[rename]\r\na=1\r\n[rename]\r\nb=2\r\n", "[x]\r\n[rename]\r\na=1\r\n", false, false},
  };
  for (const Case& c : cases) {
    RenameInsertion at = FindRenameInsertion(c.text.data(), (DWORD)c.text.size());
    EXPECT_EQ(c.text.substr(0, at.dwOffset), c.before) << c.text;
    EXPECT_EQ(at.bNeedHeader != 0, c.header) << c.text;
    EXPECT_EQ(at.bNeedLineBreak != 0, c.lineBreak) << c.text;
  }
}

// The rename lines go at the end of the first [rename] section, a section
// is added where there is none, and everything else stays byte for byte; a
// file too large to parse gets a section of its own at its end.
TEST(AddWininitRename, AddsToTheFirstSectionAndKeepsTheRest) {
  const std::string head = "; other program\r\n[Rename]\r\nNUL=C:\\OLD.TMP\r\n";
  const std::string tail = "[CombineVxDs]\r\nx=y\n\xE4\x00z";
  const std::string big = "[rename]\r\n" + std::string(kMaxParsedIniSize, ';');
  const std::string a = "C:\\A.DLL=C:\\A.tmp\r\n", b = "C:\\B.DLL=C:\\B.tmp\r\n";
  struct Case {
    const char* what;
    bool exists;
    std::string before;
    int renames;  // A, or A then B
    std::string after;
  } cases[] = {
      {"no file", false, "", 1, "[rename]\r\n" + a},
      {"a section among others", true, head + tail, 2, head + a + b + tail},
      {"no section", true, "[boot]\r\nshell=x", 1, "[boot]\r\nshell=x\r\n[rename]\r\n" + a},
      {"too large to parse", true, big, 1, big + "\r\n[rename]\r\n" + a},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedPrefix prefix;
    const std::string host = prefix.Host("C:\\WINDOWS\\WININIT.INI");
    if (c.exists) WriteFile(host, c.before);
    AddWininitRename("C:\\WINDOWS\\WININIT.INI", "C:\\A.DLL", "C:\\A.tmp");
    if (c.renames == 2) AddWininitRename("C:\\WINDOWS\\WININIT.INI", "C:\\B.DLL", "C:\\B.tmp");
    EXPECT_EQ(ReadFile(host), c.after);
    EXPECT_STREQ(WininitPath(), "C:\\WINDOWS\\WININIT.INI");
  }
}

// Two setups on the 95 family replacing files in use at the same time both
// add to WININIT.INI, each holding it alone while it does: the second waits
// for the first instead of losing its instruction. The other writer holds
// the file for a while (a time, not a guess: the call must outlast it).
TEST(AddWininitRename, WaitsForAnotherWriterOfTheFile) {
  ScopedPrefix prefix;
  const char kIni[] = "C:\\WINDOWS\\WININIT.INI";
  WriteFile(prefix.Host(kIni), "[rename]\r\nC:\\X.DLL=C:\\X.tmp\r\n");
  CFile other;
  ASSERT_TRUE(other.Open(kIni, CFile::modeReadWrite | CFile::shareExclusive));
  std::thread release([&other] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    other.Close();
  });
  try {
    AddWininitRename(kIni, "C:\\A.DLL", "C:\\A.tmp");
  } catch (CException* e) {
    e->Delete();
    ADD_FAILURE() << "the instruction was lost while another writer held the file";
  }
  release.join();
  EXPECT_EQ(ReadFile(prefix.Host(kIni)), "[rename]\r\nC:\\X.DLL=C:\\X.tmp\r\nC:\\A.DLL=C:\\A.tmp\r\n");
}

// ---- CopyInstallFile ---------------------------------------------------------

TEST(CopyInstallFile, CopiesExactlyAndCreatesTheTargetDirectories) {
  ScopedPrefix prefix;
  ASSERT_EQ(_mkdir("C:\\src"), 0);
  const std::string data = Pattern(40000);  // reads of 16384, 16384 and 7232 bytes
  WriteFile(prefix.Host("C:\\src\\big.bin"), data);
  LogMark log;
  CopyInstallFile("C:\\src\\", "C:\\dst\\deep\\", "big.bin", "copy.bin", &RemovalLog());
  EXPECT_EQ(ReadFile(prefix.Host("C:\\dst\\deep\\copy.bin")), data);
  EXPECT_EQ(log.Since(),
            "directory:C:\\dst\ndirectory:C:\\dst\\deep\nfile:C:\\dst\\deep\\copy.bin\n");
}

TEST(CopyInstallFile, EmptySourceAndShorterSource) {
  ScopedPrefix prefix;
  ASSERT_EQ(_mkdir("C:\\src"), 0);
  WriteFile(prefix.Host("C:\\src\\empty"), "");
  WriteFile(prefix.Host("C:\\src\\old"), Pattern(20000));
  WriteFile(prefix.Host("C:\\src\\short"), "abc");
  LogMark log;
  CopyInstallFile("C:\\src\\", "C:\\src\\", "empty", "empty.out", &RemovalLog());
  CopyInstallFile("C:\\src\\", "C:\\src\\", "short", "old", nullptr);  // emptied first
  EXPECT_EQ(ReadFile(prefix.Host("C:\\src\\empty.out")), "");
  EXPECT_EQ(ReadFile(prefix.Host("C:\\src\\old")), "abc");
  EXPECT_EQ(log.Since(), "file:C:\\src\\empty.out\n");
}

TEST(CopyInstallFile, MissingSourceThrowsFileException) {
  ScopedPrefix prefix;
  LogMark log;
  Caught c = CatchFramework([] { CopyInstallFile("C:\\TEMP\\", "C:\\WINDOWS\\", "gone.dll", "gone.tmp", &RemovalLog()); });
  EXPECT_EQ(c.kind, "file");
  EXPECT_EQ(c.cause, CFileException::fileNotFound);
  EXPECT_FALSE(HostExists(prefix.Host("C:\\WINDOWS\\gone.tmp")));
  EXPECT_EQ(log.Since(), "");
}

// ---- ScheduleReplacement ----------------------------------------------------

// An installed shared file in use, and its new content beside the "program".
struct ReplacementFixture {
  ScopedPrefix prefix;
  std::string installed;
  std::string temporary;
  ReplacementFixture() {
    installed = sfx::test::SystemDirectory() + "\\SHARED.DLL";
    temporary = sfx::test::SystemDirectory() + "\\SHARED.tmp";
    EXPECT_EQ(_mkdir("C:\\setup"), 0);
    EXPECT_EQ(_mkdir("C:\\setup\\win32"), 0);
    WriteFile(prefix.Host(installed.c_str()), "old content");
    WriteFile(prefix.Host("C:\\setup\\win32\\SHARED.DLL"), "new content");
  }
};

TEST(ScheduleReplacement, NtFamilyUsesTheDelayedMove) {
  ReplacementFixture f;
  CInstaller engine;
  engine.m_bWinNT = 1;
  LogMark log;
  engine.ScheduleReplacement("SHARED.DLL", f.installed.c_str(), "C:\\setup\\win32\\");

  EXPECT_EQ(log.Since(), "file:" + f.temporary + "\nfile:" + f.installed + "\n");
  EXPECT_EQ(ReadFile(f.prefix.Host(f.temporary.c_str())), "new content");
  EXPECT_EQ(ReadFile(f.prefix.Host(f.installed.c_str())), "old content");
  sfx::test::RegValue pending = sfx::test::QueryHklmValue(kSessionManager, "PendingFileRenameOperations");
  ASSERT_TRUE(pending.found);
  EXPECT_NE(pending.data.find("SHARED.tmp"), std::string::npos);
  EXPECT_FALSE(HostExists(f.prefix.Host("C:\\WINDOWS\\WININIT.INI")));

  // The machine's restart performs the rename.
  EXPECT_EQ(sfx::host::PerformPendingRenames(), 1);
  EXPECT_EQ(ReadFile(f.prefix.Host(f.installed.c_str())), "new content");
  EXPECT_FALSE(HostExists(f.prefix.Host(f.temporary.c_str())));
}

// On the 95 family the rename goes to WININIT.INI, into a [rename] section
// there or a new file, and the machine's restart performs it.
TEST(ScheduleReplacement, Win95FamilyWritesWininit) {
  for (const std::string before : {"[boot]\r\nx=1\r\n[rename]\r\nNUL=C:\\OTHER.TMP\r\n", ""}) {
    SCOPED_TRACE(before.empty() ? "no WININIT.INI" : "WININIT.INI with a [rename] section");
    ReplacementFixture f;
    CInstaller engine;
    engine.m_bWinNT = 0;
    const std::string ini = f.prefix.Host("C:\\WINDOWS\\WININIT.INI");
    if (!before.empty()) WriteFile(ini, before);
    LogMark log;
    engine.ScheduleReplacement("SHARED.DLL", f.installed.c_str(), "C:\\setup\\win32\\");

    EXPECT_EQ(log.Since(), "file:" + f.temporary + "\nfile:" + f.installed + "\n");
    EXPECT_EQ(ReadFile(ini), (before.empty() ? "[rename]\r\n" : before) + ShortPath(f.installed.c_str()) + "=" +
                                 ShortPath(f.temporary.c_str()) + "\r\n");
    EXPECT_FALSE(sfx::test::QueryHklmValue(kSessionManager, "PendingFileRenameOperations").found);
    EXPECT_EQ(ReadFile(f.prefix.Host(f.installed.c_str())), "old content");
    EXPECT_EQ(sfx::host::PerformPendingRenames(), 1);
    EXPECT_EQ(ReadFile(f.prefix.Host(f.installed.c_str())), "new content");
  }
}

TEST(ScheduleReplacement, MissingSourceSchedulesNothing) {
  ReplacementFixture f;
  for (BOOL nt : {0, 1}) {
    CInstaller engine;
    engine.m_bWinNT = nt;
    LogMark log;
    Caught c = CatchFramework([&] { engine.ScheduleReplacement("OTHER.DLL", "C:\\WINDOWS\\OTHER.DLL", "C:\\setup\\win32\\"); });
    EXPECT_EQ(c.kind, "file");
    EXPECT_EQ(log.Since(), "");
  }
  EXPECT_FALSE(HostExists(f.prefix.Host("C:\\WINDOWS\\WININIT.INI")));
  EXPECT_FALSE(sfx::test::QueryHklmValue(kSessionManager, "PendingFileRenameOperations").found);
}

}  // namespace
