#include "e2e/e2e_support.h"

#include <fcntl.h>
#include <poll.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "pack/setup_writer.h"
#include "platform/host/prefix.h"
#include "platform/host/registry_view.h"
#include "support/damaged_catalogue.h"
#include "support/process.h"

namespace fs = std::filesystem;

namespace sfx::e2e {

const char kSharedDllsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char kFontsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";

namespace {

uint64_t Ticks(const FILETIME& ft) { return ((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime; }

int64_t UnixSeconds(const FILETIME& ft) {
  return (int64_t)(Ticks(ft) / 10000000u) - 11644473600LL;
}

// Names in the prefix's C:\TEMP, sorted.
std::vector<std::string> TempEntries() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(Host("C:\\TEMP")))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

StubProcess::StubProcess(const std::string& exe, const std::string& prefixRoot, Family family) {
  std::vector<std::string> set = {"SFX_PREFIX=" + prefixRoot};
  if (family == Family::Win95) set.push_back("SFX_WINVER=95");
  // Standard output is a pipe that the programs the stub starts inherit:
  // its end of file tells that the run and all of them are over.
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  outFd_ = out[0];
  try {
    pid_ = sfx::test::Spawn({exe}, sfx::test::EnvironmentWith(set, {"SFX_WINVER"}), "",
                            scratch_ / "stderr", out[1]);
  } catch (...) {
    close(out[1]);
    throw;
  }
  close(out[1]);
}

StubProcess::~StubProcess() {
  if (!done_) Wait(1000);
  if (outFd_ >= 0) close(outFd_);
}

namespace {

// Reads the pipe until its end of file (every writer gone) or the deadline.
void DrainUntilClosed(int fd, std::chrono::steady_clock::time_point deadline) {
  char buf[512];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    pollfd p = {fd, POLLIN, 0};
    int n = poll(&p, 1, (int)left.count());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    ssize_t got = read(fd, buf, sizeof buf);
    if (got == 0 || (got < 0 && errno != EINTR)) return;
  }
}

}  // namespace

StubResult StubProcess::Wait(int timeoutMs) {
  if (done_) return result_;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  result_.exitCode = sfx::test::WaitExit(pid_, timeoutMs);
  done_ = true;
  DrainUntilClosed(outFd_, deadline);
  result_.stderrText = sfx::test::ReadFileIfPresent(scratch_ / "stderr");
  return result_;
}

StubResult RunStub(const std::string& exe, const std::string& prefixRoot, Family family) {
  StubProcess run(exe, prefixRoot, family);
  return run.Wait();
}

std::string StubPath() { return SFX_STUB_PATH; }

std::string WriteSetup(const sfx::test::CatalogueBuilder& builder, const std::string& hostDir) {
  return sfx::test::WriteSetupExe(StubPath(), builder.Write().bytes, hostDir);
}

void ExpectRunEndsWithBox(const std::string& prefixRoot, const pack::Payload& payload,
                          const std::string& message) {
  sfx::test::TempDir dir;
  std::string exe = sfx::test::WriteSetupExe(StubPath(), payload.bytes, dir.path());
  StubResult r = RunStub(exe, prefixRoot);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.stderrText,
            "setup: " + sfx::test::WithSetupPath(message, sfx::host::MapToWindows(exe)) + "\n");
  EXPECT_TRUE(TempEntries().empty());
}

std::vector<std::string> InstallDirs() {
  std::vector<std::string> dirs;
  for (const std::string& name : TempEntries())
    if (sfx::test::IsInstallDirName(name) && fs::is_directory(Host("C:\\TEMP\\" + name)))
      dirs.push_back("C:\\TEMP\\" + name + "\\");
  return dirs;
}

std::string Host(const std::string& windowsPath) { return sfx::host::MapToHost(windowsPath.c_str()); }

std::string ReadWin(const std::string& windowsPath) { return sfx::test::ReadFileIfPresent(Host(windowsPath)); }

bool ExistsWin(const std::string& windowsPath) { return fs::exists(Host(windowsPath)); }

void WriteWin(const std::string& windowsPath, const std::string& bytes) {
  sfx::test::WriteFile(Host(windowsPath), bytes);
}

FileFacts Probe(const std::string& windowsPath) {
  FileFacts facts;
  facts.attributes = GetFileAttributesA(windowsPath.c_str());
  HANDLE h = CreateFileA(windowsPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return facts;
  FILETIME created = {}, accessed = {}, written = {};
  if (GetFileTime(h, &created, &accessed, &written)) {
    facts.ctime = UnixSeconds(created);
    facts.mtime = UnixSeconds(written);
  }
  CloseHandle(h);
  return facts;
}

std::optional<uint32_t> SharedDllCount(const std::string& path) {
  sfx::host::RegistryValue value;
  if (sfx::host::ReadRegistryValue(std::string("HKLM\\") + kSharedDllsKey, path, value) !=
      ERROR_SUCCESS)
    return std::nullopt;
  if (value.type != REG_DWORD || value.data.size() != 4) return std::nullopt;
  uint32_t n = 0;
  memcpy(&n, value.data.data(), 4);
  return n;
}

void SetSharedDllCount(const std::string& path, uint32_t count) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    throw std::runtime_error("cannot open the SharedDLLs key");
  RegSetValueExA(key, path.c_str(), 0, REG_DWORD, (const BYTE*)&count, sizeof count);
  RegCloseKey(key);
}

std::vector<std::string> PendingRenames() {
  sfx::host::RegistryValue value;
  std::vector<std::string> out;
  if (sfx::host::ReadRegistryValue(
          "HKLM\\System\\CurrentControlSet\\Control\\Session Manager",
          "PendingFileRenameOperations", value) != ERROR_SUCCESS)
    return out;
  // NUL-separated strings, the list closed by an empty one.
  std::string data(value.data.begin(), value.data.end());
  while (!data.empty() && data.back() == '\0') data.pop_back();
  size_t start = 0;
  while (start <= data.size()) {
    size_t end = data.find('\0', start);
    if (end == std::string::npos) end = data.size();
    out.push_back(data.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::string SystemDir(Family family) {
  return family == Family::NT ? "C:\\WINDOWS\\SYSTEM32" : "C:\\WINDOWS\\SYSTEM";
}

std::string MarkerScript(const std::string& tag, const std::string& runsFile,
                         const std::string& before) {
  return "#!/bin/sh\n" + before + "echo \"$$ " + tag + " $*\" >> '" + runsFile + "'\n";
}

std::vector<ProgramStart> RecordedStarts(const std::string& runsFile) {
  std::vector<ProgramStart> starts;
  std::istringstream in(sfx::test::ReadFileIfPresent(runsFile));
  std::string line;
  while (std::getline(in, line)) {
    ProgramStart s;
    std::istringstream words(line);
    words >> s.pid >> s.tag;
    std::getline(words, s.args);
    if (!s.args.empty() && s.args[0] == ' ') s.args.erase(0, 1);
    starts.push_back(s);
  }
  std::sort(starts.begin(), starts.end(),
            [](const ProgramStart& a, const ProgramStart& b) { return a.pid < b.pid; });
  return starts;
}

}  // namespace sfx::e2e
