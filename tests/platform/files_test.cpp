// Files by handle and by name: dispositions and their errors, share modes
// between handles and between processes, read-only honoured as root,
// attribute and time round trips, deletion and folders.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/file_meta.h"
#include "platform/platform.h"
#include "support/platform_child.h"
#include "support/temp_dir.h"

using sfx::test::HeldChild;
using sfx::test::ReadFile;
using sfx::test::ScopedPrefix;
using sfx::test::WriteFile;

namespace {

const char kFile[] = "C:\\TEMP\\data.bin";
constexpr DWORD kRW = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE Open(const char* name, DWORD access, DWORD share, DWORD disposition, DWORD attrs = FILE_ATTRIBUTE_NORMAL) {
  return CreateFileA(name, access, share, nullptr, disposition, attrs, nullptr);
}

// Opens, then reports the last error (0 after a success) and closes.
DWORD OpenError(const char* name, DWORD access, DWORD share, DWORD disposition) {
  HANDLE h = Open(name, access, share, disposition);
  DWORD err = GetLastError();
  if (h == INVALID_HANDLE_VALUE) return err == 0 ? 0xFFFFFFFF : err;
  CloseHandle(h);
  return 0;
}

// The error a call left behind: 0 when it succeeded.
DWORD ErrorOf(BOOL ok) { return ok ? 0 : GetLastError(); }

FILETIME SecondsToFileTime(uint64_t unixSeconds) {
  return sfx::host::ToFileTime(unixSeconds * 10000000ull + 116444736000000000ull);
}

uint64_t FileTimeToSeconds(const FILETIME& ft) {
  return (sfx::host::FromFileTime(ft) - 116444736000000000ull) / 10000000ull;
}

// Creation, last-access and last-write time of an open file, in seconds.
std::vector<uint64_t> TimesOf(HANDLE h) {
  FILETIME c = {}, a = {}, w = {};
  EXPECT_TRUE(GetFileTime(h, &c, &a, &w));
  return {FileTimeToSeconds(c), FileTimeToSeconds(a), FileTimeToSeconds(w)};
}

TEST(CreateFile, DispositionsOnExistingAndMissingFiles) {
  ScopedPrefix prefix;
  struct Case {
    DWORD disposition;
    bool exists;
    DWORD error;          // GetLastError after the call; 0 = success
    bool failed;          // INVALID_HANDLE_VALUE expected
    const char* content;  // file content afterwards
  } cases[] = {
      {CREATE_NEW, false, ERROR_SUCCESS, false, ""},
      {CREATE_NEW, true, ERROR_FILE_EXISTS, true, "old"},
      {CREATE_ALWAYS, false, ERROR_SUCCESS, false, ""},
      {CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS, false, ""},
      {OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND, true, nullptr},
      {OPEN_EXISTING, true, ERROR_SUCCESS, false, "old"},
      {OPEN_ALWAYS, false, ERROR_SUCCESS, false, ""},
      {OPEN_ALWAYS, true, ERROR_ALREADY_EXISTS, false, "old"},
      {TRUNCATE_EXISTING, false, ERROR_FILE_NOT_FOUND, true, nullptr},
      {TRUNCATE_EXISTING, true, ERROR_SUCCESS, false, ""},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(testing::Message() << "disposition " << tc.disposition << " exists " << tc.exists);
    std::string host = prefix.Host(kFile);
    unlink(host.c_str());
    if (tc.exists) WriteFile(host, "old");
    HANDLE h = Open(kFile, kRW, 0, tc.disposition);
    EXPECT_EQ(GetLastError(), tc.error);
    EXPECT_EQ(h == INVALID_HANDLE_VALUE, tc.failed);
    if (h != INVALID_HANDLE_VALUE) {
      EXPECT_TRUE(CloseHandle(h));
    }
    if (tc.content == nullptr) {
      EXPECT_NE(access(host.c_str(), F_OK), 0);
    } else {
      EXPECT_EQ(ReadFile(host), tc.content);
    }
  }
}

TEST(CreateFile, ErrorsForMissingFoldersDirectoriesAndBadArguments) {
  ScopedPrefix prefix;
  EXPECT_EQ(OpenError("C:\\NoSuchDir\\x", GENERIC_READ, 0, OPEN_EXISTING), (DWORD)ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(OpenError("C:\\NoSuchDir\\x", GENERIC_WRITE, 0, CREATE_NEW), (DWORD)ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(OpenError("C:\\TEMP\\missing", GENERIC_READ, 0, OPEN_EXISTING), (DWORD)ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(OpenError("C:\\WINDOWS", GENERIC_READ, 0, OPEN_EXISTING), (DWORD)ERROR_ACCESS_DENIED);
  EXPECT_EQ(OpenError("C:\\WINDOWS", GENERIC_WRITE, 0, CREATE_ALWAYS), (DWORD)ERROR_ACCESS_DENIED);
  EXPECT_EQ(OpenError("C:\\TEMP\\x", GENERIC_READ, 0, 99), (DWORD)ERROR_INVALID_PARAMETER);
  EXPECT_EQ(OpenError("", GENERIC_READ, 0, OPEN_EXISTING), (DWORD)ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
}

TEST(CreateFile, ReadWriteSeekSizeAndTruncate) {
  ScopedPrefix prefix;
  HANDLE h = Open(kFile, kRW, 0, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  EXPECT_TRUE(WriteFile(h, "hello world", 11, &n, nullptr));
  EXPECT_EQ(n, 11u);
  DWORD high = 7;
  EXPECT_EQ(GetFileSize(h, &high), 11u);
  EXPECT_EQ(high, 0u);
  EXPECT_EQ(SetFilePointer(h, 6, nullptr, FILE_BEGIN), 6u);
  char buf[16] = {};
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "world");
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));  // end of file: success, 0 bytes
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(SetFilePointer(h, -3, nullptr, FILE_END), 8u);
  EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_CURRENT), 7u);
  EXPECT_EQ(SetFilePointer(h, -20, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NEGATIVE_SEEK);
  LONG hi = 1;  // 4 GiB + 5: a 64-bit move through the high part
  EXPECT_EQ(SetFilePointer(h, 5, &hi, FILE_BEGIN), 5u);
  EXPECT_EQ(hi, 1);
  EXPECT_EQ(SetFilePointer(h, 5, nullptr, FILE_BEGIN), 5u);
  EXPECT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(GetFileSize(h, nullptr), 5u);
  EXPECT_TRUE(FlushFileBuffers(h));
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(ReadFile(prefix.Host(kFile)), "hello");
}

// A handle opened for reading only reads ahead; what it returns and where it
// stands must not show it.
TEST(CreateFile, ReadOnlyHandlesReadSeekAndEndLikeDirectReads) {
  ScopedPrefix prefix;
  std::string data(700 * 1024 + 123, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = char((i * 2654435761u) >> 13);
  WriteFile(prefix.Host(kFile), data);
  HANDLE h = Open(kFile, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::string buf(300 * 1024, '\0');
  DWORD n = 0;
  auto readAt = [&](DWORD expectPos, DWORD count) {
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), expectPos);
    ASSERT_TRUE(ReadFile(h, &buf[0], count, &n, nullptr));
    DWORD want = expectPos >= data.size() ? 0 : std::min<DWORD>(count, DWORD(data.size() - expectPos));
    ASSERT_EQ(n, want);
    if (n > 0) {
      EXPECT_EQ(buf.compare(0, n, data, expectPos, n), 0) << "at " << expectPos;
    }
  };
  readAt(0, 4096);
  readAt(4096, 4096);
  EXPECT_EQ(SetFilePointer(h, 100, nullptr, FILE_BEGIN), 100u);  // back, inside what was read
  readAt(100, 4096);
  EXPECT_EQ(SetFilePointer(h, -50, nullptr, FILE_CURRENT), 4146u);
  readAt(4146, 10);
  EXPECT_EQ(SetFilePointer(h, 500 * 1024, nullptr, FILE_BEGIN), 500u * 1024);  // far ahead
  readAt(500 * 1024, 4096);
  EXPECT_EQ(SetFilePointer(h, 3, nullptr, FILE_BEGIN), 3u);  // far back
  readAt(3, 300 * 1024);                                     // larger than one read-ahead
  readAt(3 + 300 * 1024, 4096);
  EXPECT_EQ(SetFilePointer(h, -20, nullptr, FILE_CURRENT), 3u + 300 * 1024 + 4096 - 20);
  EXPECT_EQ(SetFilePointer(h, -5000000, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NEGATIVE_SEEK);
  readAt(3 + 300 * 1024 + 4096 - 20, 4096);  // a refused seek moves nothing
  EXPECT_EQ(SetFilePointer(h, -4000, nullptr, FILE_END), DWORD(data.size() - 4000));
  readAt(DWORD(data.size() - 4000), 4096);  // the end: fewer bytes
  readAt(DWORD(data.size()), 4096);         // past it: none
  EXPECT_EQ(SetFilePointer(h, 10, nullptr, FILE_END), DWORD(data.size() + 10));
  readAt(DWORD(data.size() + 10), 4096);
  EXPECT_TRUE(CloseHandle(h));
}

TEST(CreateFile, AccessIsEnforcedPerHandleAndHandlesAreChecked) {
  ScopedPrefix prefix;
  WriteFile(prefix.Host(kFile), "abc");
  char buf[4];
  DWORD n = 9;
  HANDLE r = Open(kFile, GENERIC_READ, kShareAll, OPEN_EXISTING);
  EXPECT_EQ(ErrorOf(WriteFile(r, "x", 1, &n, nullptr)), (DWORD)ERROR_ACCESS_DENIED);
  EXPECT_EQ(n, 0u);
  FILETIME ft = SecondsToFileTime(1000000000);
  EXPECT_EQ(ErrorOf(SetFileTime(r, nullptr, nullptr, &ft)), (DWORD)ERROR_ACCESS_DENIED);
  HANDLE w = Open(kFile, GENERIC_WRITE, kShareAll, OPEN_EXISTING);
  EXPECT_EQ(ErrorOf(ReadFile(w, buf, 1, &n, nullptr)), (DWORD)ERROR_ACCESS_DENIED);
  CloseHandle(r);
  CloseHandle(w);
  // Closed and made-up handles are refused, not dereferenced.
  for (HANDLE bad : {r, INVALID_HANDLE_VALUE, (HANDLE) nullptr, (HANDLE)&n}) {
    EXPECT_EQ(ErrorOf(ReadFile(bad, buf, 1, &n, nullptr)), (DWORD)ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(bad));
    EXPECT_EQ(GetFileSize(bad, nullptr), INVALID_FILE_SIZE);
  }
}

TEST(CreateFile, FullDiskIsReportedAsSuch) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  HANDLE h = Open("Z:\\dev\\full", GENERIC_WRITE, kShareAll, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 1;
  EXPECT_EQ(ErrorOf(WriteFile(h, "x", 1, &n, nullptr)), (DWORD)ERROR_DISK_FULL);
  EXPECT_EQ(n, 0u);
  CloseHandle(h);
}

// ---- share modes ---------------------------------------------------------------

TEST(ShareModes, BetweenHandlesOfOneProcess) {
  ScopedPrefix prefix;
  WriteFile(prefix.Host(kFile), "data");
  struct Case {
    DWORD firstShare, secondShare, secondAccess;
    bool conflict;
  } cases[] = {
      {0, kShareAll, GENERIC_READ, true},
      {kShareAll, 0, GENERIC_READ, true},
      {0, 0, GENERIC_WRITE, true},
      {kShareAll, kShareAll, kRW, false},
      {FILE_SHARE_READ, FILE_SHARE_READ, GENERIC_READ, false},
      {0, kShareAll, 0, false},  // a query handle takes no lock
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(testing::Message() << tc.firstShare << "/" << tc.secondShare << "/" << tc.secondAccess);
    HANDLE first = Open(kFile, GENERIC_READ, tc.firstShare, OPEN_EXISTING);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    DWORD err = OpenError(kFile, tc.secondAccess, tc.secondShare, OPEN_EXISTING);
    EXPECT_EQ(err, tc.conflict ? (DWORD)ERROR_SHARING_VIOLATION : 0u);
    CloseHandle(first);
  }
  // A truncating opener refused by another handle leaves the data alone.
  HANDLE holder = Open(kFile, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_EQ(OpenError(kFile, GENERIC_WRITE, 0, CREATE_ALWAYS), (DWORD)ERROR_SHARING_VIOLATION);
  EXPECT_EQ(ReadFile(prefix.Host(kFile)), "data");
  CloseHandle(holder);
  // Closing the holder frees the file.
  EXPECT_EQ(OpenError(kFile, GENERIC_READ, 0, OPEN_EXISTING), 0u);
}

// Another process holds the file: without sharing, every open, truncation,
// deletion and move is refused and the content stays; with sharing, only
// openers that share too are admitted.
TEST(ShareModes, BetweenProcesses) {
  for (DWORD holderShare : {(DWORD)0, kShareAll}) {
    SCOPED_TRACE(holderShare);
    ScopedPrefix prefix;
    WriteFile(prefix.Host(kFile), "keep me");
    HeldChild holder([holderShare] { return Open(kFile, GENERIC_READ, holderShare, OPEN_EXISTING) != INVALID_HANDLE_VALUE; });
    ASSERT_TRUE(holder.ok());
    const DWORD refused = ERROR_SHARING_VIOLATION;
    for (DWORD share : {(DWORD)FILE_SHARE_READ, kShareAll})
      EXPECT_EQ(OpenError(kFile, GENERIC_READ, share, OPEN_EXISTING), holderShare ? 0u : refused) << share;
    EXPECT_EQ(OpenError(kFile, GENERIC_READ, 0, OPEN_EXISTING), refused);
    if (holderShare == 0) {
      EXPECT_EQ(OpenError(kFile, GENERIC_WRITE, kShareAll, CREATE_ALWAYS), refused);
      EXPECT_EQ(OpenError(kFile, GENERIC_WRITE, 0, TRUNCATE_EXISTING), refused);
      EXPECT_EQ(ErrorOf(DeleteFileA(kFile)), refused);
      EXPECT_EQ(ErrorOf(MoveFileExA(kFile, "C:\\TEMP\\moved", 0)), refused);
      EXPECT_EQ(ReadFile(prefix.Host(kFile)), "keep me");  // the refused truncations left it
      holder.Release();
      EXPECT_EQ(OpenError(kFile, GENERIC_WRITE, 0, CREATE_ALWAYS), 0u);
      EXPECT_EQ(ReadFile(prefix.Host(kFile)), "");
    }
  }
}

TEST(ShareModes, HandlesAreNotInheritedByStartedPrograms) {
  ScopedPrefix prefix;
  HANDLE h = Open(kFile, GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  // A child that execs (like a started program) must not keep the lock.
  int rc = sfx::test::RunInChild([] {
    execl("/bin/true", "true", (char*)nullptr);
    return 99;
  });
  EXPECT_EQ(rc, 0);
  CloseHandle(h);
  EXPECT_EQ(OpenError(kFile, GENERIC_READ, 0, OPEN_EXISTING), 0u);
}

// ---- read-only, attributes and times ---------------------------------------------

TEST(Attributes, ReadOnlyIsHonouredEvenForRoot) {
  ScopedPrefix prefix;
  WriteFile(prefix.Host(kFile), "original");
  ASSERT_TRUE(SetFileAttributesA(kFile, FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(GetFileAttributesA(kFile), (DWORD)FILE_ATTRIBUTE_READONLY);
  struct stat st;
  ASSERT_EQ(stat(prefix.Host(kFile).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH), 0u);

  EXPECT_EQ(OpenError(kFile, GENERIC_WRITE, 0, OPEN_EXISTING), (DWORD)ERROR_ACCESS_DENIED);
  EXPECT_EQ(OpenError(kFile, GENERIC_READ, 0, CREATE_ALWAYS), (DWORD)ERROR_ACCESS_DENIED);
  EXPECT_EQ(OpenError(kFile, GENERIC_READ, 0, OPEN_EXISTING), 0u);
  EXPECT_EQ(ErrorOf(DeleteFileA(kFile)), (DWORD)ERROR_ACCESS_DENIED);
  EXPECT_EQ(_unlink(kFile), -1);
  EXPECT_EQ(errno, EACCES);
  WriteFile(prefix.Host("C:\\TEMP\\other"), "o");
  EXPECT_EQ(ErrorOf(MoveFileExA("C:\\TEMP\\other", kFile, MOVEFILE_REPLACE_EXISTING)), (DWORD)ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadFile(prefix.Host(kFile)), "original");

  ASSERT_TRUE(SetFileAttributesA(kFile, FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesA(kFile), (DWORD)FILE_ATTRIBUTE_NORMAL);
  ASSERT_EQ(stat(prefix.Host(kFile).c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IWUSR, 0u);
  EXPECT_TRUE(DeleteFileA(kFile));
}

TEST(Attributes, NewForeignAndDirectoryDefaults) {
  ScopedPrefix prefix;
  HANDLE h = Open(kFile, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN);
  CloseHandle(h);
  EXPECT_EQ(GetFileAttributesA(kFile), (DWORD)(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN));
  std::string foreign = prefix.Host("C:\\TEMP\\foreign");
  WriteFile(foreign, "f");
  EXPECT_EQ(GetFileAttributesA("C:\\TEMP\\foreign"), (DWORD)FILE_ATTRIBUTE_ARCHIVE);
  chmod(foreign.c_str(), 0444);  // a host file without write bits reads as read-only
  EXPECT_EQ(GetFileAttributesA("c:\\temp\\FOREIGN"), (DWORD)(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS"), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(SetFileAttributesA("C:\\WINDOWS", FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS"), (DWORD)(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(GetFileAttributesA("C:\\TEMP\\none"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesA("C:\\none\\none"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(ErrorOf(SetFileAttributesA("C:\\TEMP\\none", FILE_ATTRIBUTE_HIDDEN)), (DWORD)ERROR_FILE_NOT_FOUND);
}

// Times and attributes survive closing and reopening, in the file's own
// extended attributes and in the side records used where there are none.
class TimesAndAttributes : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override { sfx::host::ForceSideRecordsForTesting(GetParam()); }
  void TearDown() override { sfx::host::ForceSideRecordsForTesting(false); }
};

TEST_P(TimesAndAttributes, RoundTripToTheSecond) {
  ScopedPrefix prefix;
  HANDLE h = Open(kFile, kRW, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n;
  WriteFile(h, "content", 7, &n, nullptr);
  FILETIME created = SecondsToFileTime(800000000);   // 1995
  FILETIME accessed = SecondsToFileTime(900000000);  // 1998
  FILETIME written = SecondsToFileTime(850000000);   // 1996, before the access time
  ASSERT_TRUE(SetFileTime(h, &created, &accessed, &written));
  CloseHandle(h);
  ASSERT_TRUE(SetFileAttributesA(kFile, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));

  // Reading the content through the platform must not move the last-access
  // time (host programs reading it are beyond its reach).
  h = Open(kFile, GENERIC_READ, kShareAll, OPEN_EXISTING);
  char buf[8];
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  CloseHandle(h);

  h = Open(kFile, 0, kShareAll, OPEN_EXISTING);
  EXPECT_EQ(TimesOf(h), (std::vector<uint64_t>{800000000, 900000000, 850000000}));
  // The handle's answer agrees with the answers by name.
  BY_HANDLE_FILE_INFORMATION info = {};
  ASSERT_TRUE(GetFileInformationByHandle(h, &info));
  EXPECT_EQ(info.dwFileAttributes, (DWORD)(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));
  EXPECT_EQ((std::vector<uint64_t>{FileTimeToSeconds(info.ftCreationTime), FileTimeToSeconds(info.ftLastAccessTime),
                                   FileTimeToSeconds(info.ftLastWriteTime)}),
            (std::vector<uint64_t>{800000000, 900000000, 850000000}));
  EXPECT_EQ(info.nFileSizeLow, 7u);
  EXPECT_EQ(info.nFileSizeHigh, 0u);
  EXPECT_EQ(info.nNumberOfLinks, 1u);
  CloseHandle(h);
  EXPECT_EQ(GetFileAttributesA(kFile), (DWORD)(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));
}

TEST_P(TimesAndAttributes, NullOrZeroTimesAreLeftAlone) {
  ScopedPrefix prefix;
  HANDLE h = Open(kFile, kRW, 0, CREATE_ALWAYS);
  FILETIME t1 = SecondsToFileTime(1000000000);
  ASSERT_TRUE(SetFileTime(h, &t1, &t1, &t1));
  FILETIME zero = {0, 0};
  FILETIME t2 = SecondsToFileTime(1100000000);
  ASSERT_TRUE(SetFileTime(h, &zero, nullptr, &t2));
  EXPECT_EQ(TimesOf(h), (std::vector<uint64_t>{1000000000, 1000000000, 1100000000}));
  CloseHandle(h);
}

TEST_P(TimesAndAttributes, ANewFileUnderAnOldNameStartsFresh) {
  ScopedPrefix prefix;
  HANDLE h = Open(kFile, kRW, 0, CREATE_NEW);
  FILETIME old = SecondsToFileTime(500000000);
  SetFileTime(h, &old, nullptr, nullptr);
  CloseHandle(h);
  SetFileAttributesA(kFile, FILE_ATTRIBUTE_HIDDEN);
  ASSERT_TRUE(DeleteFileA(kFile));
  h = Open(kFile, kRW, 0, CREATE_NEW);
  FILETIME c;
  ASSERT_TRUE(GetFileTime(h, &c, nullptr, nullptr));
  BY_HANDLE_FILE_INFORMATION info = {};
  ASSERT_TRUE(GetFileInformationByHandle(h, &info));
  EXPECT_EQ(info.dwFileAttributes, (DWORD)FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(sfx::host::FromFileTime(info.ftCreationTime), sfx::host::FromFileTime(c));
  CloseHandle(h);
  EXPECT_GT(FileTimeToSeconds(c), 1600000000u);
  EXPECT_EQ(GetFileAttributesA(kFile), (DWORD)FILE_ATTRIBUTE_ARCHIVE);
  // The creation time was kept when the handle closed: an old last-write
  // time, the answer when none is kept, does not take its place.
  h = Open(kFile, kRW, 0, OPEN_EXISTING);
  FILETIME written = SecondsToFileTime(850000000);
  ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &written));
  EXPECT_EQ(TimesOf(h)[0], FileTimeToSeconds(c));
  CloseHandle(h);
}

INSTANTIATE_TEST_SUITE_P(Stores, TimesAndAttributes, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "SideRecords" : "ExtendedAttributes";
                         });

// ---- deletion and folders -----------------------------------------------------------

TEST(ByName, DeleteAndFolderErrors) {
  ScopedPrefix prefix;
  EXPECT_EQ(ErrorOf(DeleteFileA("C:\\TEMP\\none")), (DWORD)ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ErrorOf(DeleteFileA("C:\\none\\none")), (DWORD)ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(ErrorOf(DeleteFileA("C:\\TEMP")), (DWORD)ERROR_ACCESS_DENIED);

  EXPECT_TRUE(CreateDirectoryA("C:\\TEMP\\New", nullptr));
  EXPECT_EQ(ErrorOf(CreateDirectoryA("c:\\temp\\new", nullptr)), (DWORD)ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ErrorOf(CreateDirectoryA("C:\\none\\sub", nullptr)), (DWORD)ERROR_PATH_NOT_FOUND);
  WriteFile(prefix.Host("C:\\TEMP\\New\\f"), "x");
  EXPECT_EQ(ErrorOf(RemoveDirectoryA("C:\\TEMP\\New")), (DWORD)ERROR_DIR_NOT_EMPTY);
  EXPECT_EQ(ErrorOf(RemoveDirectoryA("C:\\TEMP\\New\\f")), (DWORD)ERROR_DIRECTORY);
  EXPECT_TRUE(DeleteFileA("C:\\TEMP\\NEW\\F"));
  EXPECT_TRUE(RemoveDirectoryA("C:\\TEMP\\New"));
}

TEST(ByName, RunTimeLibraryCallsSetErrno) {
  ScopedPrefix prefix;
  EXPECT_EQ(_mkdir("C:\\TEMP\\d"), 0);
  EXPECT_EQ(_mkdir("C:\\TEMP\\d"), -1);
  EXPECT_EQ(errno, 17);  // what the engine tests for
  EXPECT_EQ(_mkdir("C:\\none\\d"), -1);
  EXPECT_EQ(errno, ENOENT);
  WriteFile(prefix.Host("C:\\TEMP\\d\\f"), "x");
  EXPECT_EQ(_rmdir("C:\\TEMP\\d"), -1);
  EXPECT_EQ(_unlink("C:\\TEMP\\d\\f"), 0);
  EXPECT_EQ(_unlink("C:\\TEMP\\d\\f"), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(_rmdir("C:\\TEMP\\d"), 0);
}

TEST(ByName, ShortPathIsThePathItself) {
  ScopedPrefix prefix;
  WriteFile(prefix.Host("C:\\TEMP\\Long Name.dll"), "x");
  const char* path = "C:\\TEMP\\Long Name.dll";
  char buf[MAX_PATH];
  EXPECT_EQ(GetShortPathNameA(path, buf, MAX_PATH), strlen(path));
  EXPECT_STREQ(buf, path);
  char small[4] = "abc";
  EXPECT_EQ(GetShortPathNameA(path, small, sizeof small), strlen(path) + 1);
  EXPECT_STREQ(small, "abc");  // untouched when too small
  EXPECT_EQ(GetShortPathNameA("C:\\TEMP\\none", buf, MAX_PATH), 0u);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}

TEST(ByName, ImmediateMoves) {
  ScopedPrefix prefix;
  WriteFile(prefix.Host("C:\\TEMP\\a"), "A");
  WriteFile(prefix.Host("C:\\TEMP\\b"), "B");
  EXPECT_EQ(ErrorOf(MoveFileExA("C:\\TEMP\\a", "C:\\TEMP\\b", 0)), (DWORD)ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(MoveFileExA("C:\\TEMP\\a", "C:\\TEMP\\b", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(ReadFile(prefix.Host("C:\\TEMP\\b")), "A");
  EXPECT_TRUE(MoveFileExA("C:\\TEMP\\B", "C:\\WINDOWS\\c", 0));
  EXPECT_EQ(ReadFile(prefix.Host("C:\\WINDOWS\\c")), "A");
  EXPECT_EQ(ErrorOf(MoveFileExA("C:\\TEMP\\gone", "C:\\TEMP\\x", 0)), (DWORD)ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ErrorOf(MoveFileExA("C:\\WINDOWS\\c", nullptr, 0)), (DWORD)ERROR_INVALID_PARAMETER);
}

// ---- errors --------------------------------------------------------------------------

TEST(Errors, LastErrorIsPerThread) {
  SetLastError(1234);
  DWORD seen = 0;
  std::thread t([&] {
    SetLastError(42);
    seen = GetLastError();
  });
  t.join();
  EXPECT_EQ(seen, 42u);
  EXPECT_EQ(GetLastError(), 1234u);
}

}  // namespace
