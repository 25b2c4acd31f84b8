// The scenario table run by the x86-64 stub under Wine: each scenario in a
// prefix of its own; the programs are Windows programs (programs/), the
// error box and the command lines come from Wine's relay trace.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>

#include "e2e/scenario_table.h"
#include "wine/wine_support.h"

namespace fs = std::filesystem;

namespace sfx::scenario {
namespace {

const char kFontsKey[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";

class WineMachine : public Machine {
 public:
  explicit WineMachine(Family family)
      : family_(family),
        prefix_(family),
        temp_(prefix_.TempDir()) {}
  ~WineMachine() override { Release(); }

  Family family() const override { return family_; }
  // system32 on both families: for the x86-64 stub under wine64 and for the
  // i686 stub in the 32-bit-only prefix of the i686 runs (no syswow64 there).
  std::string WindowsDir() const override { return "C:\\windows\\"; }
  std::string SystemDir() const override { return "C:\\windows\\system32\\"; }
  std::string FontsDir() const override { return "C:\\windows\\Fonts\\"; }
  std::string TempDir() const override { return temp_; }

  void Write(const std::string& path, const std::string& bytes) override { prefix_.Write(path, bytes); }
  std::string Read(const std::string& path) override { return prefix_.Read(path); }
  bool Exists(const std::string& path) override { return prefix_.Exists(path); }
  void Remove(const std::string& path) override { fs::remove_all(prefix_.Host(path)); }
  bool UseCodePage(unsigned codePage) override { return prefix_.UseCodePage(codePage); }
  std::vector<std::string> List(const std::string& dir) override { return prefix_.List(dir); }
  std::vector<std::string> Tree(const std::string& dir) override { return prefix_.Tree(dir); }
  std::optional<FileFacts> Facts(const std::string& path) override {
    std::optional<wine::Prefix::FileFacts> f = prefix_.Facts(path);
    if (!f) return std::nullopt;
    // Wine reports every file as to be archived; creation times are its own.
    return FileFacts{f->attributes, 0x20, std::nullopt, f->written};
  }
  // Wine run by root writes read-only files, so a directory takes the name.
  void MakeUnwritable(const std::string& path, const std::string& bytes) override {
    Write(path + "\\keep", bytes);
  }
  bool Intact(const std::string& path, const std::string& bytes) override {
    return Read(path + "\\keep") == bytes;
  }
  bool SameFile(const std::string& written, const std::string& path) override {
    return prefix_.Host(written) == prefix_.Host(path);
  }

  std::optional<unsigned> SharedDllCount(const std::string& path) override {
    return prefix_.SharedDllCount(path);
  }
  void SetSharedDllCount(const std::string& path, unsigned count) override {
    prefix_.SetSharedDllCount(path, count);
  }
  std::vector<std::string> PendingRenames() override { return prefix_.PendingRenames(); }
  std::map<std::string, RegValue> FontValues() override {
    std::map<std::string, RegValue> out;
    for (const auto& [name, v] : prefix_.Values(kFontsKey)) out[name] = {v.type, v.data};
    return out;
  }

  void Hold(const std::string& path) override {
    Release();
    holder_ = prefix_.Start({wine::ProgramPath("hold_file.exe"), path, "C:\\held", "C:\\release"});
    // hold_file.exe is a Windows program with no channel back to this
    // process but the files it makes: a bounded wait for its ready flag.
    for (int i = 0; i < 1200 && !Exists("C:\\held"); ++i) usleep(50000);
    ASSERT_TRUE(Exists("C:\\held")) << "the holder did not open " << path;
  }
  void Release() override {
    if (holder_ < 0) return;
    Write("C:\\release", "");
    EXPECT_EQ(prefix_.WaitFor(holder_), 0);
    Remove("C:\\held");
    Remove("C:\\release");
    holder_ = -1;
  }
  void Restart() override { prefix_.Restart(); }
  // The stub loads VERSION.dll by its full path in the system directory, so
  // the stand-in takes the place of Wine's placeholder there (removed first:
  // it is a hard link to the template's file, which must stay as it is).
  void UseDocumentedVersionService() override {
    Remove(SystemDir() + "version.dll");
    Write(SystemDir() + "version.dll", wine::ReadFileIfPresent(wine::ProgramPath("version.dll")));
    prefix_.PreferNativeDll("version");
  }
  void PlantLibraries(const std::string& dir, const std::vector<std::string>& names) override {
    std::string planted = wine::ReadFileIfPresent(wine::ProgramPath("planted.dll"));
    ASSERT_FALSE(planted.empty());
    for (const std::string& name : names) {
      Write(dir + name, planted);
      std::string base = name.substr(0, name.rfind('.'));
      for (char& c : base) c = (char)std::tolower((unsigned char)c);
      prefix_.PreferNativeDll(base);
    }
  }

  std::string WriteSetup(const pack::Bytes& payload, const std::string& name) override {
    Write(SetupDir() + name, "");
    sfx::test::WriteSetupExe(wine::StubPath(), payload, prefix_.Host(SetupDir()), name);
    return SetupDir() + name;
  }
  std::string WriteStub(const std::string& name) override {
    Write(SetupDir() + name, wine::ReadFileIfPresent(wine::StubPath()));
    return SetupDir() + name;
  }
  void WriteDataBin(const pack::Bytes& payload) override {
    Write(SetupDir() + "Data.bin", "");
    sfx::test::WriteDataBin(prefix_.Host(SetupDir()), payload);
  }

  RunResult Run(const std::string& exe) override {
    wine::RunResult w = prefix_.Run({prefix_.UnixText(exe)}, true);
    RunResult r;
    r.exitCode = w.exitCode;
    for (const auto& b : wine::MessageBoxes(w.trace)) r.boxes.push_back({b.text, b.title, b.type});
    r.execs.emplace();
    for (const auto& e : wine::WinExecs(w.trace)) r.execs->push_back({e.commandLine, e.show});
    // The calls the checks read and Wine's errors, not the whole trace.
    for (size_t at = 0, end; at < w.trace.size(); at = end + 1) {
      end = std::min(w.trace.find('\n', at), w.trace.size());
      std::string line = w.trace.substr(at, end - at);
      for (const char* mark : {"MessageBoxA", "WinExec", ":err:", "wine:"})
        if (line.find(mark) != std::string::npos && line.find("load_list") == std::string::npos) {
          r.diagnostics += line + "\n";
          break;
        }
    }
    prefix_.WaitForPrograms(holder_);
    return r;
  }

  std::string Recorder() override {
    return wine::ReadFileIfPresent(wine::ProgramPath("record_start.exe"));
  }
  // record_start.exe names its record after its creation time and id.
  std::vector<Start> Starts() override {
    std::vector<Start> starts;
    for (const auto& name : List("C:\\starts")) {
      if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".txt") != 0) continue;
      Start s;
      s.commandLine = Read("C:\\starts\\" + name);
      std::string log = "C:\\starts\\" + name.substr(0, name.size() - 4) + ".log";
      if (Exists(log)) s.log = Read(log);
      starts.push_back(s);
    }
    return starts;
  }
  std::string Sample(const std::string& name) override {
    return sfx::test::TestDll(name);
  }

 private:
  Family family_;
  wine::Prefix prefix_;
  std::string temp_;
  pid_t holder_ = -1;
};

const bool kRegistered = RegisterScenarios<WineMachine>("wine", "WineRun");

}  // namespace
}  // namespace sfx::scenario
