// CFile over the platform (a fresh emulated machine per test), CFileStatus
// with SetStatus/GetStatus, CMemFile and CStdioFile.
#include "framework/file.h"
#include "framework/whole_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "support/temp_dir.h"

namespace {

using sfx::test::ReadFile;
using sfx::test::ScopedPrefix;
using sfx::test::WriteFile;

const char kPath[] = "C:\\TEMP\\x.bin";

// Runs f and describes the CFileException it throws, "cause <n>: <file name>"
// and with details " (os error <n>): <message>", or says "nothing thrown".
template <class F>
std::string FileError(F f, bool details = false) {
  try {
    f();
  } catch (CFileException* e) {
    std::string what = "cause " + std::to_string(e->m_cause) + ": " + (const char*)e->m_strFileName;
    if (details)
      what += " (os error " + std::to_string(e->m_lOsError) + "): " + (const char*)e->GetErrorMessage();
    e->Delete();
    return what;
  }
  return "nothing thrown";
}

std::string Error(int cause, const std::string& name) { return "cause " + std::to_string(cause) + ": " + name; }
std::string Error(int cause, const std::string& name, LONG osError, const std::string& message) {
  return Error(cause, name) + " (os error " + std::to_string(osError) + "): " + message;
}

class FileTest : public testing::Test {
 protected:
  ScopedPrefix prefix_;

  void Put(const char* windowsPath, const std::string& bytes) {
    WriteFile(prefix_.Host(windowsPath), bytes);
  }
  std::string Get(const char* windowsPath) { return ReadFile(prefix_.Host(windowsPath)); }
};

TEST_F(FileTest, OpenOrThrowNamesTheMissingFile) {
  EXPECT_EQ(FileError([] { CFile f("C:\\TEMP\\missing.bin", CFile::modeRead); }, true),
            Error(CFileException::fileNotFound, "C:\\TEMP\\missing.bin", ERROR_FILE_NOT_FOUND,
                  "C:\\TEMP\\missing.bin was not found."));
  EXPECT_EQ(FileError([] { CFile f("C:\\NO\\SUCH\\DIR\\x.bin", CFile::modeCreate | CFile::modeWrite); }),
            Error(CFileException::badPath, "C:\\NO\\SUCH\\DIR\\x.bin"));
}

TEST_F(FileTest, FailedOpenLeavesAnUnopenedNamelessFileThatFailsAsInvalid) {
  // What a setup run meets when its payload cannot be opened: the open
  // fails quietly and the first seek or read names no file.
  CFile f;
  CFileException error;
  EXPECT_FALSE(f.Open("C:\\TEMP\\Data.bin", CFile::modeRead, &error));
  EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
  EXPECT_EQ(error.m_strFileName, "C:\\TEMP\\Data.bin");
  EXPECT_FALSE(f.Open("C:\\TEMP\\Data.bin", CFile::modeRead));  // no record: still quiet
  EXPECT_FALSE(f.IsOpen());
  EXPECT_TRUE(f.GetFilePath().IsEmpty());

  char buffer[4];
  auto operations = {
      std::function<void()>([&] { f.Seek(0x31A00, CFile::begin); }),
      std::function<void()>([&] { f.Read(buffer, 4); }),
      std::function<void()>([&] { f.Read(buffer, 0); }),
      std::function<void()>([&] { f.Write(buffer, 4); }),
      std::function<void()>([&] { f.GetLength(); }),
      std::function<void()>([&] { f.GetPosition(); }),
  };
  for (const auto& op : operations)
    EXPECT_EQ(FileError(op, true),
              Error(CFileException::invalidFile, "", ERROR_INVALID_HANDLE, "An invalid file handle was associated with ."));
}

TEST_F(FileTest, ReadWriteSeekPositionLength) {
  {
    CFile out(kPath, CFile::modeCreate | CFile::modeWrite);
    EXPECT_EQ(out.GetFilePath(), kPath);
    out.Write("hello, ", 7);
    out.Write("world", 5);
    out.Write("", 0);
    EXPECT_EQ(out.GetPosition(), 12u);
    EXPECT_EQ(out.GetLength(), 12u);
    EXPECT_EQ(out.Seek(0, CFile::begin), 0u);
    out.Write("J", 1);
    out.Close();
    EXPECT_FALSE(out.IsOpen());
    EXPECT_TRUE(out.GetFilePath().IsEmpty());
  }
  EXPECT_EQ(Get(kPath), "Jello, world");

  CFile in(kPath, CFile::modeRead | CFile::shareDenyNone);
  EXPECT_EQ(in.GetLength(), 12u);
  char buffer[32] = {};
  EXPECT_EQ(in.Seek(7, CFile::begin), 7u);
  EXPECT_EQ(in.Read(buffer, 3), 3u);
  EXPECT_EQ(std::string(buffer, 3), "wor");
  EXPECT_EQ(in.Seek(-2, CFile::current), 8u);
  EXPECT_EQ(in.Seek(-1, CFile::end), 11u);
  EXPECT_EQ(in.Read(buffer, sizeof buffer), 1u);
  EXPECT_EQ(buffer[0], 'd');
  // At the end a read returns 0, as often as it is asked.
  EXPECT_EQ(in.Read(buffer, sizeof buffer), 0u);
  EXPECT_EQ(in.Read(buffer, sizeof buffer), 0u);
  // Seeking before the start fails and names the file.
  EXPECT_EQ(FileError([&] { in.Seek(-100, CFile::current); }), Error(CFileException::badSeek, kPath));
}

TEST_F(FileTest, ReopenByItsOwnPath) {
  Put(kPath, "abc");
  CFile f(kPath, CFile::modeRead);
  // The name handed in is the file's own, which closing the file releases.
  ASSERT_TRUE(f.Open(f.GetFilePath(), CFile::modeRead));
  EXPECT_EQ(f.GetFilePath(), kPath);
  EXPECT_EQ(f.GetLength(), 3u);
}

TEST_F(FileTest, SeekFromBeginTakesTheOffsetAsUnsigned) {
  Put(kPath, "abc");
  CFile in(kPath, CFile::modeRead);
  // A payload may start beyond 2 GiB: 0x80000000 as a LONG is negative, but
  // counted from the beginning it is a position.
  EXPECT_EQ(in.Seek((LONG)0x80000000u, CFile::begin), 0x80000000u);
  EXPECT_EQ(in.GetPosition(), 0x80000000u);
  char ch;
  EXPECT_EQ(in.Read(&ch, 1), 0u);  // beyond the end: nothing to read
  EXPECT_EQ(in.Seek((LONG)0xFFFFFFF0u, CFile::begin), 0xFFFFFFF0u);
  EXPECT_EQ(in.SeekToBegin(), 0u);
  EXPECT_EQ(in.Read(&ch, 1), 1u);
  EXPECT_EQ(ch, 'a');
}

TEST_F(FileTest, CreateTruncatesAndNoTruncateKeeps) {
  Put(kPath, "old content");
  { CFile f(kPath, CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite);
    EXPECT_EQ(f.GetLength(), 11u);
    f.SeekToEnd();
    f.Write("+", 1);
  }
  EXPECT_EQ(Get(kPath), "old content+");
  { CFile f(kPath, CFile::modeCreate | CFile::modeWrite); }
  EXPECT_EQ(Get(kPath), "");
}

TEST_F(FileTest, ShareModesBetweenTwoOpens) {
  Put(kPath, "data");
  const UINT kShared = CFile::modeRead | CFile::shareDenyNone;
  const UINT kExclusive = CFile::modeRead;  // compatibility mode: exclusive
  struct Case {
    const char* what;
    UINT first;
    UINT second;
    bool secondOpens;
  } cases[] = {
      {"shared then shared", kShared, kShared, true},
      {"shared then exclusive", kShared, kExclusive, false},
      {"exclusive then shared", kExclusive, kShared, false},
      {"exclusive then exclusive", kExclusive, kExclusive, false},
      {"exclusive writer then exclusive", CFile::modeWrite | CFile::shareExclusive, kExclusive, false},
  };
  for (const Case& c : cases) {
    CFile first(kPath, c.first);
    CFile second;
    CFileException error;
    EXPECT_EQ(second.Open(kPath, c.second, &error) != FALSE, c.secondOpens) << c.what;
    if (!c.secondOpens) {
      EXPECT_EQ(error.m_cause, CFileException::sharingViolation) << c.what;
      EXPECT_EQ(error.m_strFileName, kPath) << c.what;
    }
  }
  // Once the holder is closed (here: destroyed) an exclusive open succeeds.
  { CFile holder(kPath, kExclusive); }
  CFile again(kPath, kExclusive);
  EXPECT_TRUE(again.IsOpen());
}

TEST_F(FileTest, DestructorClosesAndNeverThrows) {
  {
    CFile f(kPath, CFile::modeCreate | CFile::modeWrite);
    f.Write("x", 1);
  }  // closed here: an exclusive open must now succeed
  CFile g(kPath, CFile::modeRead);
  EXPECT_EQ(g.GetLength(), 1u);
  g.Abort();
  EXPECT_FALSE(g.IsOpen());
  g.Close();  // closing a closed file is harmless
  CFile never;  // destroying a file that was never opened

  // A handle that fails to close: Close reports it, the destructor does not.
  CFile h(kPath, CFile::modeRead);
  CloseHandle(h.m_hFile);
  EXPECT_NE(FileError([&] { h.Close(); }), "nothing thrown");
  EXPECT_FALSE(h.IsOpen());
  {
    CFile quiet(kPath, CFile::modeRead);
    CloseHandle(quiet.m_hFile);
  }  // destroyed with a dead handle: must not throw (that would terminate)
}

CFileStatus Status(DWORD ctime, DWORD mtime, BYTE attribute) {
  CFileStatus s;
  s.m_ctime = ctime;
  s.m_mtime = mtime;
  s.m_attribute = attribute;
  return s;
}

const DWORD kCreated = 946684800;   // 2000-01-01 00:00:00 UTC
const DWORD kWritten = 1234567890;  // 2009-02-13 23:31:30 UTC

// SetStatus applied once or twice, then read back: a zero creation time
// leaves it alone, a zero write time sets no time but still the attribute,
// and read-only still takes the times (the attribute goes on last and comes
// off first).
TEST_F(FileTest, SetStatusTimesAndReadOnly) {
  const BYTE kRO = CFile::readOnly, kA = CFile::archive;
  struct Case {
    const char* what;
    std::vector<CFileStatus> applied;
    DWORD ctime, mtime;
    bool readOnly;
  } cases[] = {
      {"both times", {Status(kCreated, kWritten, kA)}, kCreated, kWritten, false},
      {"largest time, no creation time", {Status(kCreated, kWritten, kA), Status(0, 0xFFFFFFF0u, 0)},
       kCreated, 0xFFFFFFF0u, false},
      {"no write time", {Status(kCreated, kWritten, 0), Status(1, 0, kRO)}, kCreated, kWritten, true},
      {"read-only", {Status(kCreated, kWritten, kRO | kA)}, kCreated, kWritten, true},
      {"read-only taken away", {Status(kCreated, kWritten, kRO | kA), Status(0, kWritten + 60, 0)},
       kCreated, kWritten + 60, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Put(kPath, "payload");
    for (const CFileStatus& s : c.applied) CFile::SetStatus(kPath, s);
    CFileStatus got;
    ASSERT_TRUE(CFile::GetStatus(kPath, got));
    EXPECT_EQ(got.m_ctime, c.ctime);
    EXPECT_EQ(got.m_mtime, c.mtime);
    EXPECT_EQ(got.m_size, 7);
    EXPECT_EQ((got.m_attribute & CFile::readOnly) != 0, c.readOnly);
    EXPECT_EQ((GetFileAttributesA(kPath) & FILE_ATTRIBUTE_READONLY) != 0, c.readOnly);
    EXPECT_STREQ(got.m_szFullName, kPath);
    // A write-open is refused exactly while the file is read-only, and a
    // refused truncating one leaves the content.
    const UINT mode = c.readOnly ? CFile::modeCreate | CFile::modeWrite : CFile::modeWrite;
    EXPECT_EQ(FileError([mode] { CFile f(kPath, mode); }),
              c.readOnly ? Error(CFileException::accessDenied, kPath) : "nothing thrown");
    EXPECT_EQ(Get(kPath), "payload");
    SetFileAttributesA(kPath, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(kPath);
  }
}

TEST_F(FileTest, SetStatusOnAMissingFileThrows) {
  EXPECT_EQ(FileError([] { CFile::SetStatus("C:\\TEMP\\gone.dll", Status(kCreated, kWritten, 0)); }),
            Error(CFileException::fileNotFound, "C:\\TEMP\\gone.dll"));
  CFileStatus got;
  EXPECT_FALSE(CFile::GetStatus("C:\\TEMP\\gone.dll", got));
}

// CWholeFile on both families, over a file and onto a new name: the file
// appears only on Commit, with its status; an old copy's creation time stays
// when the status sets none; a file never committed leaves the old content
// and nothing else. The 95 family has no MoveFileExA at all.
TEST_F(FileTest, WholeFileAppearsOnlyWhenCommitted) {
  struct Case {
    const char* family;
    bool existing;
    bool commit;
  } cases[] = {{"nt", true, true},  {"nt", false, true},  {"95", true, true},
               {"95", false, true}, {"nt", true, false}, {"95", false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.family) + (c.existing ? " over a file" : " new") + (c.commit ? "" : " uncommitted"));
    setenv("SFX_WINVER", c.family, 1);
    const char kDest[] = "C:\\TEMP\\whole.bin";
    if (c.existing) {
      Put(kDest, "old");
      CFileStatus created;
      created.m_ctime = 1000000000;
      created.m_mtime = 1000000001;
      CFile::SetStatus(kDest, created);
    }
    {
      CWholeFile f(kDest, strcmp(c.family, "nt") == 0);
      f.Write("new", 3);
      EXPECT_EQ(std::filesystem::exists(prefix_.Host(kDest)), c.existing) << "not before Commit";
      if (c.existing) {
        EXPECT_EQ(Get(kDest), "old");
      }
      CFileStatus status;
      status.m_mtime = 1200000000;  // no creation time
      status.m_attribute = CFile::readOnly | CFile::archive;
      if (c.commit) f.Commit(&status);
    }
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(prefix_.Host("C:\\TEMP")))
      names.push_back(e.path().filename().string());
    if (!c.commit) {
      EXPECT_EQ(names, c.existing ? std::vector<std::string>{"whole.bin"} : std::vector<std::string>{});
      if (c.existing) {
        EXPECT_EQ(Get(kDest), "old");
      }
    } else {
      EXPECT_EQ(names, std::vector<std::string>{"whole.bin"});
      EXPECT_EQ(Get(kDest), "new");
      CFileStatus s;
      ASSERT_TRUE(CFile::GetStatus(kDest, s));
      EXPECT_EQ(s.m_mtime, 1200000000u);
      EXPECT_EQ(s.m_attribute, CFile::readOnly | CFile::archive);
      if (c.existing) {
        EXPECT_EQ(s.m_ctime, 1000000000u);
      }
    }
    SetFileAttributesA(kDest, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(kDest);
  }
  setenv("SFX_WINVER", "95", 1);
  Put("C:\\TEMP\\a", "a");
  EXPECT_FALSE(MoveFileExA("C:\\TEMP\\a", "C:\\TEMP\\b", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_CALL_NOT_IMPLEMENTED);
  unsetenv("SFX_WINVER");
}

TEST(FileTimeTest, SecondsSince1970AreUtcFileTimes) {
  struct Case {
    DWORD seconds;
    ULONGLONG ticks;
  } cases[] = {
      {0, 116444736000000000ull},
      {1, 116444736010000000ull},
      {kWritten, 116444736000000000ull + 12345678900000000ull},
      {0xFFFFFFFFu, 116444736000000000ull + 0xFFFFFFFFull * 10000000ull},
  };
  for (const Case& c : cases) {
    FILETIME ft = CFile::TimeToFileTime(c.seconds);
    EXPECT_EQ(((ULONGLONG)ft.dwHighDateTime << 32) | ft.dwLowDateTime, c.ticks) << c.seconds;
    EXPECT_EQ(CFile::FileTimeToTime(ft), c.seconds);
  }
  FILETIME before1970 = {0, 0};
  EXPECT_EQ(CFile::FileTimeToTime(before1970), 0u);
}

TEST(MemFileTest, SeekPastEndThenWriteZeroFills) {
  CMemFile f;
  f.Write("ab", 2);
  EXPECT_EQ(f.Seek(6, CFile::begin), 6u);
  EXPECT_EQ(f.GetLength(), 2u);  // seeking alone does not extend
  f.Write("z", 1);
  ASSERT_EQ(f.GetLength(), 7u);
  EXPECT_EQ(std::string((const char*)f.GetData(), 7), std::string("ab\0\0\0\0z", 7));

  // Reads stop at the end and then return 0.
  f.SeekToBegin();
  char buffer[16];
  EXPECT_EQ(f.Read(buffer, sizeof buffer), 7u);
  EXPECT_EQ(f.Read(buffer, sizeof buffer), 0u);
  f.Seek(100, CFile::begin);
  EXPECT_EQ(f.Read(buffer, sizeof buffer), 0u);
}

TEST(MemFileTest, SeekAndLength) {
  const char data[] = "0123456789";
  CMemFile f(data, 10);
  EXPECT_EQ(f.GetLength(), 10u);
  EXPECT_EQ(f.Seek(-3, CFile::end), 7u);
  EXPECT_EQ(f.Seek(1, CFile::current), 8u);
  EXPECT_EQ(f.Seek((LONG)0x80000000u, CFile::begin), 0x80000000u);  // unsigned from begin
  EXPECT_EQ(FileError([&] { f.Seek(-11, CFile::end); }), Error(CFileException::badSeek, ""));
  EXPECT_EQ(f.GetPosition(), 0x80000000u);  // a failed seek leaves the position

  f.SetLength(4);
  EXPECT_EQ(f.GetLength(), 4u);
  EXPECT_EQ(f.GetPosition(), 4u);
  f.SetLength(6);
  EXPECT_EQ(std::string((const char*)f.GetData(), 6), std::string("0123\0\0", 6));
  // A write that would pass 4 GiB fails instead of wrapping.
  f.Seek((LONG)0xFFFFFFFFu, CFile::begin);
  EXPECT_NE(FileError([&] { f.Write("ab", 2); }), "nothing thrown");
  EXPECT_EQ(f.GetLength(), 6u);
}

TEST_F(FileTest, StdioFileWritesCrLf) {
  {
    CStdioFile f(kPath, CFile::modeCreate | CFile::modeWrite | CFile::typeText);
    f.WriteString("[rename]\n");
    f.WriteString("C:\\A=C:\\B\n");
    f.WriteString("no newline");
    f.WriteString(nullptr);
  }
  EXPECT_EQ(Get(kPath), "[rename]\r\nC:\\A=C:\\B\r\nno newline");

  // Long text crosses the translation buffer's size at every alignment.
  std::string text, expected;
  for (int i = 0; i < 3000; ++i) {
    text += (i % 3 == 0) ? "\n" : "x";
    expected += (i % 3 == 0) ? "\r\n" : "x";
  }
  {
    CStdioFile f(kPath, CFile::modeCreate | CFile::modeWrite);
    f.WriteText(text.data(), (UINT)text.size());
  }
  EXPECT_EQ(Get(kPath), expected);
}

}  // namespace
