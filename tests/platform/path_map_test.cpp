// Windows path syntax, the mapping between Windows and host paths, and the
// folder and name queries built on them.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/host/prefix.h"
#include "platform/platform.h"
#include "support/temp_dir.h"

using sfx::host::MapToHost;
using sfx::host::MapToWindows;
using sfx::test::ScopedPrefix;

namespace {

bool IsDir(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(Prefix, LayoutCreatedOnFirstUse) {
  ScopedPrefix prefix;
  for (const char* dir : {"drive_c/WINDOWS", "drive_c/WINDOWS/SYSTEM", "drive_c/WINDOWS/SYSTEM32",
                          "drive_c/WINDOWS/FONTS", "drive_c/TEMP"})
    EXPECT_TRUE(IsDir(prefix.root() + "/" + dir)) << dir;
}

TEST(Prefix, SetPrefixRootDropsCachedLayout) {
  sfx::test::TempDir other;
  {
    ScopedPrefix prefix;
    sfx::host::SetPrefixRoot(other.path() + "/p");
    EXPECT_EQ(sfx::host::PrefixRoot(), other.path() + "/p");
    EXPECT_TRUE(IsDir(other.path() + "/p/drive_c/WINDOWS/FONTS"));
    EXPECT_EQ(MapToHost("C:\\x"), other.path() + "/p/drive_c/x");
  }
}

TEST(PathMap, WindowsToHost) {
  ScopedPrefix prefix;
  const std::string c = prefix.root() + "/drive_c";
  struct Case {
    const char* win;
    std::string host;
  } cases[] = {
      {"C:\\", c},
      {"C:\\WINDOWS", c + "/WINDOWS"},
      {"c:/windows/fonts/x.ttf", c + "/WINDOWS/FONTS/x.ttf"},  // existing parts found by case
      {"C:\\windows\\NewDir\\File.Txt", c + "/WINDOWS/NewDir/File.Txt"},  // new parts keep case
      {"C:\\..\\..\\etc", c + "/etc"},                          // never above the drive root
      {"C:\\TEMP\\.\\a\\..\\b\\", c + "/TEMP/b"},
      {"\\TEMP", c + "/TEMP"},                                  // no drive: C:
      {"Z:\\", "/"},
      {"Z:\\etc\\..\\..\\tmp", "/tmp"},
      {"\\\\server\\share\\dir\\f", prefix.root() + "/unc/server/share/dir/f"},
      {"\\\\server\\share\\..\\..\\x", prefix.root() + "/unc/server/share/x"},
      {"\\\\?\\C:\\TEMP", c + "/TEMP"},
      {"\\??\\C:\\TEMP\\x", c + "/TEMP/x"},
      {"D:\\setup", prefix.root() + "/dosdevices/d/setup"},
  };
  for (const Case& tc : cases) EXPECT_EQ(MapToHost(tc.win), tc.host) << tc.win;
}

TEST(PathMap, HostToWindows) {
  ScopedPrefix prefix;
  const std::string c = prefix.root() + "/drive_c";
  EXPECT_EQ(MapToWindows(c), "C:\\");
  EXPECT_EQ(MapToWindows(c + "/WINDOWS/SYSTEM32"), "C:\\WINDOWS\\SYSTEM32");
  EXPECT_EQ(MapToWindows(c + "/TEMP/../WINDOWS/"), "C:\\WINDOWS");
  EXPECT_EQ(MapToWindows("/"), "Z:\\");
  EXPECT_EQ(MapToWindows("/home/u/setup"), "Z:\\home\\u\\setup");
  // A sibling whose name merely starts like the drive folder is outside it.
  std::string sibling = "Z:" + c + "_other\\x";
  for (char& ch : sibling)
    if (ch == '/') ch = '\\';
  EXPECT_EQ(MapToWindows(c + "_other/x"), sibling);
  EXPECT_EQ(MapToWindows(prefix.root() + "/unc/srv/sh/f"), "\\\\srv\\sh\\f");
  EXPECT_EQ(MapToWindows(prefix.root() + "/dosdevices/d/x"), "D:\\x");
}

TEST(PathMap, RelativePathsStartAtTheWorkingDirectory) {
  ScopedPrefix prefix;
  char saved[4096];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(chdir(prefix.Host("C:\\WINDOWS").c_str()), 0);
  std::string mapped = MapToHost("fonts\\..\\system32\\x.dll");
  char full[MAX_PATH];
  DWORD n = GetFullPathNameA("sub\\x.dll", MAX_PATH, full, nullptr);
  ASSERT_EQ(chdir(saved), 0);
  EXPECT_EQ(mapped, prefix.root() + "/drive_c/WINDOWS/SYSTEM32/x.dll");
  EXPECT_EQ(std::string(full), "C:\\WINDOWS\\sub\\x.dll");
  EXPECT_EQ(n, strlen(full));
}

TEST(PathMap, CaseInsensitiveLookupPrefersExactMatch) {
  ScopedPrefix prefix;
  std::string dir = prefix.Host("C:\\TEMP");
  ASSERT_EQ(mkdir((dir + "/Data").c_str(), 0777), 0);
  ASSERT_EQ(mkdir((dir + "/DATA").c_str(), 0777), 0);
  EXPECT_EQ(MapToHost("C:\\temp\\DATA"), dir + "/DATA");
  EXPECT_EQ(MapToHost("C:\\temp\\Data"), dir + "/Data");
  std::string any = MapToHost("C:\\temp\\data");
  EXPECT_TRUE(any == dir + "/DATA" || any == dir + "/Data") << any;
}

// Folders this process made keep their listing for case-blind look-ups; a
// change the process did not make itself must still be seen.
TEST(PathMap, MadeFolderListingFindsOwnAndForeignEntries) {
  ScopedPrefix prefix;
  ASSERT_TRUE(CreateDirectoryA("C:\\Made", nullptr));
  ASSERT_EQ(_mkdir("C:\\Made\\Sub"), 0);
  std::string dir = prefix.Host("C:\\Made");
  HANDLE h = CreateFileA("C:\\Made\\Mixed.TXT", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);

  struct Case {
    const char* win;
    std::string host;
    bool exists;
  } cases[] = {
      // The folder spelled as on disk: the listing answers for the name.
      {"C:\\Made\\mixed.txt", dir + "/Mixed.TXT", true},
      {"C:\\made\\mixed.txt", dir + "/Mixed.TXT", true},
      {"C:\\MADE\\SUB", dir + "/Sub", true},
      {"C:\\Made\\absent.txt", dir + "/absent.txt", false},
  };
  for (const Case& c : cases) {
    bool exists = !c.exists;
    EXPECT_EQ(MapToHost(c.win, &exists), c.host) << c.win;
    EXPECT_EQ(exists, c.exists) << c.win;
  }
  // A name made from outside, with the folder's time moved as any later
  // clock tick would: the listing no longer holds and the folder is read.
  ASSERT_EQ(close(open((dir + "/Foreign.DAT").c_str(), O_CREAT | O_WRONLY, 0666)), 0);
  struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, dir.c_str(), old, 0), 0);
  bool exists = false;
  EXPECT_EQ(MapToHost("C:\\Made\\foreign.dat", &exists), dir + "/Foreign.DAT");
  EXPECT_TRUE(exists);
  // Opening under another case reaches the same file, and a new name made
  // afterwards is found as well.
  h = CreateFileA("C:\\MADE\\FOREIGN.dat", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  h = CreateFileA("C:\\Made\\Later.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                  nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_EQ(MapToHost("C:\\Made\\LATER.BIN"), dir + "/Later.bin");
  EXPECT_EQ(MapToHost("C:\\made\\LATER.BIN"), dir + "/Later.bin");
  // In a folder whose listing still holds, renamed and deleted entries
  // leave it: the old names are gone in every case, the new one is found.
  for (const char* name : {"C:\\Made\\Sub\\One.TXT", "C:\\Made\\Sub\\Two.bin"}) {
    h = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << name;
    CloseHandle(h);
  }
  ASSERT_TRUE(MoveFileA("C:\\Made\\Sub\\One.TXT", "C:\\Made\\Sub\\Three.Txt"));
  ASSERT_TRUE(DeleteFileA("C:\\Made\\Sub\\two.BIN"));
  for (const char* gone : {"C:\\Made\\Sub\\ONE.txt", "C:\\Made\\Sub\\Two.bin"}) {
    exists = true;
    MapToHost(gone, &exists);
    EXPECT_FALSE(exists) << gone;
  }
  EXPECT_EQ(MapToHost("C:\\made\\sub\\THREE.txt", &exists), dir + "/Sub/Three.Txt");
  EXPECT_TRUE(exists);
  // The listed folder moved away from outside and another put in its place:
  // new names and moves go to the folder the path leads to now.
  ASSERT_EQ(rename((dir + "/Sub").c_str(), (dir + "/Old").c_str()), 0);
  ASSERT_EQ(mkdir((dir + "/Sub").c_str(), 0777), 0);
  h = CreateFileA("C:\\Made\\Sub\\New.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  ASSERT_TRUE(MoveFileA("C:\\Made\\Sub\\New.txt", "C:\\Made\\Sub\\Moved.txt"));
  struct stat st;
  EXPECT_EQ(lstat((dir + "/Sub/Moved.txt").c_str(), &st), 0);
  EXPECT_NE(lstat((dir + "/Old/New.txt").c_str(), &st), 0);
  EXPECT_NE(lstat((dir + "/Old/Moved.txt").c_str(), &st), 0);
}

// The mapping's own look answers the status of the path it found.
TEST(PathMap, MapToHostStatAgreesWithStat) {
  ScopedPrefix prefix;
  std::string temp = prefix.Host("C:\\TEMP");
  ASSERT_EQ(close(open((temp + "/File.txt").c_str(), O_CREAT | O_WRONLY, 0666)), 0);
  ASSERT_EQ(symlink("File.txt", (temp + "/link").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (temp + "/dangling").c_str()), 0);
  ASSERT_EQ(close(open((temp + "/plain").c_str(), O_CREAT | O_WRONLY, 0666)), 0);
  // A folder this process made, with a name it made and one made behind its
  // back (the folder's times moved as a later clock tick would).
  ASSERT_TRUE(CreateDirectoryA("C:\\TEMP\\Made", nullptr));
  HANDLE h = CreateFileA("C:\\TEMP\\Made\\Own.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  ASSERT_EQ(close(open((temp + "/Made/Foreign.txt").c_str(), O_CREAT | O_WRONLY, 0666)), 0);
  struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (temp + "/Made").c_str(), old, 0), 0);
  for (const char* win : {"C:\\TEMP\\file.TXT", "C:\\TEMP\\File.txt", "C:\\TEMP\\link",
                          "C:\\TEMP\\dangling", "C:\\TEMP\\missing", "C:\\TEMP\\plain\\below",
                          "C:\\nofolder\\x", "C:\\temp", "C:\\TEMP\\Made\\own.TXT",
                          "C:\\TEMP\\Made\\foreign.txt", "C:\\TEMP\\made\\missing"}) {
    std::string host;
    struct stat got;
    int err = sfx::host::MapToHostStat(win, host, &got);
    struct stat want;
    int wantErr = stat(host.c_str(), &want) == 0 ? 0 : errno;
    EXPECT_EQ(err, wantErr) << win;
    if (err == 0 && wantErr == 0) {
      EXPECT_EQ(got.st_ino, want.st_ino) << win;
      EXPECT_EQ(got.st_mode, want.st_mode) << win;
    }
    // A missing file is "file not found" in a folder that exists, else
    // "path not found", however the mapping learnt it.
    if (wantErr != 0) {
      EXPECT_EQ(GetFileAttributesA(win), INVALID_FILE_ATTRIBUTES) << win;
      size_t slash = host.rfind('/');
      struct stat folder;
      bool inFolder = stat(host.substr(0, slash).c_str(), &folder) == 0 && S_ISDIR(folder.st_mode);
      EXPECT_EQ(GetLastError(), inFolder ? (DWORD)ERROR_FILE_NOT_FOUND : (DWORD)ERROR_PATH_NOT_FOUND) << win;
    }
  }
}

}  // namespace
