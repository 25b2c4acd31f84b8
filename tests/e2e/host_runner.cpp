// The scenario table run by the host stub: each scenario on a fresh prefix
// folder, the stub started as a process of its own; programs are shell
// scripts, a file in use is held by this test process.
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e/e2e_support.h"
#include "e2e/scenario_table.h"
#include "platform/host/code_page.h"
#include "platform/host/prefix.h"
#include "platform/host/registry_view.h"

namespace fs = std::filesystem;

namespace sfx::scenario {
namespace {

class HostMachine : public Machine {
 public:
  explicit HostMachine(Family family) : family_(family) {}
  ~HostMachine() override { Release(); }

  Family family() const override { return family_; }
  std::string WindowsDir() const override { return "C:\\WINDOWS\\"; }
  std::string SystemDir() const override { return e2e::SystemDir(family_) + "\\"; }
  std::string FontsDir() const override { return "C:\\WINDOWS\\FONTS\\"; }
  std::string TempDir() const override { return "C:\\TEMP\\"; }

  void Write(const std::string& path, const std::string& bytes) override {
    fs::create_directories(fs::path(e2e::Host(path)).parent_path());
    e2e::WriteWin(path, bytes);
    // A host program (a copy of the stub) stays one.
    if (bytes.compare(0, 4, "\x7F" "ELF") == 0)
      fs::permissions(e2e::Host(path), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  }
  std::string Read(const std::string& path) override { return e2e::ReadWin(path); }
  bool Exists(const std::string& path) override { return e2e::ExistsWin(path); }
  void Remove(const std::string& path) override { fs::remove_all(e2e::Host(path)); }
  std::vector<std::string> List(const std::string& dir) override {
    std::vector<std::string> names;
    if (!fs::is_directory(e2e::Host(dir))) return names;
    for (const auto& entry : fs::directory_iterator(e2e::Host(dir)))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<std::string> Tree(const std::string& dir) override {
    return e2e::ListTree(e2e::Host(dir));
  }
  std::optional<FileFacts> Facts(const std::string& path) override {
    e2e::FileFacts f = e2e::Probe(path);
    if (f.attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return FileFacts{f.attributes, 0, f.ctime, f.mtime};
  }
  void MakeUnwritable(const std::string& path, const std::string& bytes) override {
    Write(path, bytes);
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  }
  bool Intact(const std::string& path, const std::string& bytes) override {
    return Read(path) == bytes;
  }
  bool SameFile(const std::string& written, const std::string& path) override {
    char buf[MAX_PATH] = {};
    DWORD n = GetShortPathNameA(path.c_str(), buf, MAX_PATH);
    return written == (n > 0 && n < MAX_PATH ? std::string(buf) : path);
  }

  std::optional<unsigned> SharedDllCount(const std::string& path) override {
    return e2e::SharedDllCount(path);
  }
  void SetSharedDllCount(const std::string& path, unsigned count) override {
    e2e::SetSharedDllCount(path, count);
  }
  std::vector<std::string> PendingRenames() override { return e2e::PendingRenames(); }
  std::map<std::string, RegValue> FontValues() override {
    sfx::host::RegistryKeyContents key;
    std::map<std::string, RegValue> out;
    EXPECT_EQ(sfx::host::ListRegistryKey(std::string("HKLM\\") + e2e::kFontsKey, key),
              ERROR_SUCCESS);
    for (const auto& v : key.values)
      out[v.name] = {v.type == REG_SZ ? "REG_SZ" : "REG_" + std::to_string(v.type),
                     std::string(v.data.begin(), v.data.end())};
    return out;
  }

  void Hold(const std::string& path) override {
    Release();
    held_ = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                        nullptr);
    ASSERT_NE(held_, INVALID_HANDLE_VALUE) << path;
  }
  void Release() override {
    if (held_ != INVALID_HANDLE_VALUE) CloseHandle(held_);
    held_ = INVALID_HANDLE_VALUE;
  }
  void Restart() override { sfx::host::PerformPendingRenames(); }
  void UseDocumentedVersionService() override {}
  // The host stub loads no libraries.
  void PlantLibraries(const std::string&, const std::vector<std::string>&) override {
    ADD_FAILURE() << "no libraries to plant on the host";
  }

  std::string WriteSetup(const pack::Bytes& payload, const std::string& name) override {
    fs::create_directories(e2e::Host(SetupDir()));
    sfx::test::WriteSetupExe(e2e::StubPath(), payload, e2e::Host(SetupDir()), name);
    return SetupDir() + name;
  }
  std::string WriteStub(const std::string& name) override {
    fs::create_directories(e2e::Host(SetupDir()));
    fs::copy_file(e2e::StubPath(), e2e::Host(SetupDir() + name));
    return SetupDir() + name;
  }
  void WriteDataBin(const pack::Bytes& payload) override {
    fs::create_directories(e2e::Host(SetupDir()));
    sfx::test::WriteDataBin(e2e::Host(SetupDir()), payload);
  }

  RunResult Run(const std::string& exe) override {
    e2e::StubResult s = e2e::RunStub(e2e::Host(exe), prefix_.root(), family_);
    RunResult r;
    r.exitCode = s.exitCode;
    r.diagnostics = s.stderrText;
    // The box goes to standard error as "TITLE: TEXT".
    for (size_t at = 0, end; at < s.stderrText.size(); at = end + 1) {
      end = s.stderrText.find('\n', at);
      if (end == std::string::npos) end = s.stderrText.size();
      std::string line = s.stderrText.substr(at, end - at);
      size_t colon = line.find(": ");
      if (colon != std::string::npos) r.boxes.push_back({line.substr(colon + 2), line.substr(0, colon), {}});
    }
    return r;
  }

  // A script that records its start under C:\starts\<pid>.txt: its own
  // path and its arguments, and a copy of the "_Del.log" beside it.
  std::string Recorder() override {
    return "#!/bin/sh\nd='" + e2e::Host("C:\\starts") +
           "'\nmkdir -p \"$d\"\nn=\"$d/$(printf %010d $$)\"\n"
           "l=\"$(dirname \"$0\")/_Del.log\"\n[ -f \"$l\" ] && cp \"$l\" \"$n.log\"\n"
           "printf '%s\\n%s' \"$0\" \"$*\" > \"$n.part\" && mv \"$n.part\" \"$n.txt\"\n";
  }
  std::vector<Start> Starts() override {
    std::vector<Start> starts;
    for (const std::string& name : List("C:\\starts\\")) {
      if (name.size() < 4 || name.compare(name.size() - 4, 4, ".txt") != 0) continue;
      std::string base = e2e::Host("C:\\starts\\") + "/" + name.substr(0, name.size() - 4);
      std::string text = sfx::test::ReadFile(base + ".txt");
      size_t nl = text.find('\n');
      Start s;
      s.commandLine = sfx::host::MapToWindows(text.substr(0, nl));
      if (nl != std::string::npos && nl + 1 < text.size()) s.commandLine += " " + text.substr(nl + 1);
      if (fs::exists(base + ".log")) s.log = sfx::test::ReadFile(base + ".log");
      starts.push_back(s);
    }
    return starts;
  }
  std::string Sample(const std::string& name) override { return sfx::test::TestDll(name); }
  // Kept in the prefix, so this process maps the names as the stub does.
  bool UseCodePage(unsigned codePage) override {
    return sfx::host::WritePrefixCodePage(prefix_.root(), codePage);
  }

 private:
  e2e::ScopedPrefix prefix_;
  Family family_;
  HANDLE held_ = INVALID_HANDLE_VALUE;
};

const bool kRegistered = RegisterScenarios<HostMachine>("host", "SetupRun");

}  // namespace
}  // namespace sfx::scenario
