// WinExec: command-line splitting, program search, scripts, PE files
// through a runner, detached start without zombies.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "support/platform_child.h"
#include "support/temp_dir.h"

using sfx::test::ScopedPrefix;
using sfx::test::WaitForFileLine;
using sfx::test::WriteFile;

namespace {

// A script that writes its arguments, one per line, then "END" and the
// prefix it saw, into <prefix>/<outName>. Installed without execute bits,
// as an installation leaves it.
void WriteRecorder(const ScopedPrefix& prefix, const char* windowsPath, const std::string& outName) {
  std::string out = prefix.root() + "/" + outName;
  WriteFile(prefix.Host(windowsPath),
            "#!/bin/sh\n"
            "for a in \"$@\"; do echo \"$a\"; done > " + out + ".part\n"
            "echo \"END $SFX_PREFIX\" >> " + out + ".part\n"
            "mv " + out + ".part " + out + "\n");
  chmod(prefix.Host(windowsPath).c_str(), 0644);
}

std::string Expected(const ScopedPrefix& prefix, const std::string& argLines) {
  return argLines + "END " + prefix.root() + "\n";
}

TEST(WinExec, LongestExistingPrefixIsTheProgram) {
  ScopedPrefix prefix;
  ASSERT_TRUE(CreateDirectoryA("C:\\Program Files", nullptr));
  WriteRecorder(prefix, "C:\\Program Files\\My App.exe", "long");
  WriteRecorder(prefix, "C:\\Program", "short");  // a shorter prefix that also exists
  EXPECT_GT(WinExec("c:\\program files\\my app.exe  one two", SW_SHOWNORMAL), 31u);
  EXPECT_EQ(WaitForFileLine(prefix.root() + "/long"), Expected(prefix, "one\ntwo\n"));
  EXPECT_GT(WinExec("\"C:\\Program\" files\\my", SW_SHOWNORMAL), 31u);  // quoted: exactly that
  EXPECT_EQ(WaitForFileLine(prefix.root() + "/short"), Expected(prefix, "files\\my\n"));
}

TEST(WinExec, BareNamesAreSearchedInTheWindowsFolders) {
  ScopedPrefix prefix;
  WriteRecorder(prefix, "C:\\WINDOWS\\tool.exe", "win");
  EXPECT_GT(WinExec("tool a", SW_SHOWNORMAL), 31u);  // ".exe" added, found in C:\WINDOWS
  EXPECT_EQ(WaitForFileLine(prefix.root() + "/win"), Expected(prefix, "a\n"));
  WriteRecorder(prefix, "C:\\WINDOWS\\SYSTEM32\\sys.exe", "sys");
  EXPECT_GT(WinExec("sys.exe", SW_SHOWNORMAL), 31u);
  EXPECT_EQ(WaitForFileLine(prefix.root() + "/sys"), Expected(prefix, ""));
}

TEST(WinExec, FailuresReturnSmallValues) {
  ScopedPrefix prefix;
  unsetenv("SFX_WIN32_RUNNER");
  EXPECT_EQ(WinExec("C:\\TEMP\\missing.exe /UNS", SW_SHOWNORMAL), (UINT)ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(WinExec("C:\\TEMP\\ /UNS", SW_SHOWNORMAL), (UINT)ERROR_FILE_NOT_FOUND);  // a folder
  EXPECT_EQ(WinExec("", SW_SHOWNORMAL), (UINT)ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(WinExec(nullptr, SW_SHOWNORMAL), (UINT)ERROR_FILE_NOT_FOUND);
  WriteFile(prefix.Host("C:\\TEMP\\pe.exe"), std::string("MZ\x90\0", 4) + std::string(60, '\0'));
  EXPECT_EQ(WinExec("C:\\TEMP\\pe.exe", SW_SHOWNORMAL), (UINT)ERROR_BAD_FORMAT);
  WriteFile(prefix.Host("C:\\TEMP\\text.exe"), "just text");
  EXPECT_EQ(WinExec("C:\\TEMP\\text.exe", SW_SHOWNORMAL), (UINT)ERROR_BAD_FORMAT);
  WriteFile(prefix.Host("C:\\TEMP\\bad.exe"), "#!/no/such/interpreter\n");
  EXPECT_EQ(WinExec("C:\\TEMP\\bad.exe", SW_SHOWNORMAL), (UINT)ERROR_FILE_NOT_FOUND);
}

TEST(WinExec, PeFilesGoThroughTheRunner) {
  ScopedPrefix prefix;
  WriteRecorder(prefix, "C:\\runner.sh", "runner");
  std::string runner = prefix.Host("C:\\runner.sh");
  chmod(runner.c_str(), 0755);  // the runner is a host program
  WriteFile(prefix.Host("C:\\TEMP\\pe.exe"), std::string("MZ\x90\0", 4) + std::string(60, '\0'));
  setenv("SFX_WIN32_RUNNER", runner.c_str(), 1);
  UINT rc = WinExec("C:\\TEMP\\pe.exe x", SW_SHOWNORMAL);
  unsetenv("SFX_WIN32_RUNNER");
  EXPECT_GT(rc, 31u);
  EXPECT_EQ(WaitForFileLine(prefix.root() + "/runner"),
            Expected(prefix, prefix.Host("C:\\TEMP\\pe.exe") + "\nx\n"));
}

TEST(WinExec, NeverWaitsAndLeavesNoZombie) {
  ScopedPrefix prefix;
  // The program keeps our standard output and error; it lets go of them so
  // that whoever reads this test's output need not wait for it.
  WriteFile(prefix.Host("C:\\slow.exe"), "#!/bin/sh\nexec >/dev/null 2>&1\nsleep 5\n");
  // In a child of our own, so that "no children left" can be checked
  // without interference from other tests.
  int rc = sfx::test::RunInChild([] {
    time_t start = time(nullptr);
    if (WinExec("C:\\slow.exe", SW_SHOWNORMAL) <= 31) return 1;
    if (time(nullptr) - start > 3) return 2;  // waited for the program
    errno = 0;
    if (waitpid(-1, nullptr, WNOHANG) != -1 || errno != ECHILD) return 3;  // a child remains
    return 0;
  });
  EXPECT_EQ(rc, 0);
}

}  // namespace
