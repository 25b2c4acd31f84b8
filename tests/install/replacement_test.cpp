// The chunked copy, WININIT.INI's [rename] section, and a deferred
// replacement whose source is missing.
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

// The replacement of a copy in use on both families is a whole run:
// SetupRun.CopyInUseIsReplacedAtTheNextRestart.
TEST(ScheduleReplacement, MissingSourceSchedulesNothing) {
  ScopedPrefix prefix;
  ASSERT_EQ(_mkdir("C:\\setup"), 0);
  ASSERT_EQ(_mkdir("C:\\setup\\win32"), 0);
  for (BOOL nt : {0, 1}) {
    CInstaller engine;
    engine.m_bWinNT = nt;
    LogMark log;
    Caught c = CatchFramework([&] { engine.ScheduleReplacement("OTHER.DLL", "C:\\WINDOWS\\OTHER.DLL", "C:\\setup\\win32\\"); });
    EXPECT_EQ(c.kind, "file");
    EXPECT_EQ(log.Since(), "");
  }
  EXPECT_FALSE(HostExists(prefix.Host("C:\\WINDOWS\\WININIT.INI")));
  EXPECT_FALSE(sfx::test::QueryHklmValue(kSessionManager, "PendingFileRenameOperations").found);
}

}  // namespace
