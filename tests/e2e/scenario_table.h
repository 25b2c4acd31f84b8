// Whole setup runs described once and run by several runners: the host
// stub in a prefix folder (tests/e2e) and the x86-64 stub under Wine
// (tests/wine). A runner is a Machine: one fresh Windows machine of one
// family per scenario, with what the table needs to arrange a run and to
// read back what it left. The table and its checks are in scenario_table.cpp.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/payload_builder.h"
#include "support/temp_dir.h"

namespace sfx::scenario {

using sfx::test::CatalogueBuilder;
using sfx::test::Family;
using sfx::test::Plain;
using sfx::test::SharedDll;
using sfx::test::TestFile;

// The error box of a run. style: MB_* flags, when the runner can see them.
struct Box {
  std::string text;
  std::string title;
  std::optional<unsigned> style;
};

struct RunResult {
  int exitCode = -1;
  std::vector<Box> boxes;
  // The command lines handed to WinExec with their show flags, when the
  // runner can see them (nullopt: it cannot).
  std::optional<std::vector<std::pair<std::string, unsigned>>> execs;
  std::string diagnostics;  // printed when a check fails
  long long started = 0;    // when the run began, seconds since 1970
};

// One start of the recorder program: its command line as a Windows path and
// arguments, and the "_Del.log" beside it at that moment (nullopt: none).
struct Start {
  std::string commandLine;
  std::optional<std::string> log;
};

struct FileFacts {
  unsigned attributes = 0;
  unsigned platformBits = 0;  // attributes the platform sets on every file itself
  std::optional<long long> created;  // nullopt: the runner does not vouch for it
  long long written = 0;
};

struct RegValue {
  std::string type;  // "REG_SZ", "REG_DWORD", ...
  std::string data;  // REG_SZ: the string
  bool operator==(const RegValue& o) const { return type == o.type && data == o.data; }
};

class Machine {
 public:
  virtual ~Machine() = default;
  virtual Family family() const = 0;

  // Folders as this machine names them, each with its trailing "\".
  virtual std::string WindowsDir() const = 0;
  virtual std::string SystemDir() const = 0;
  virtual std::string FontsDir() const = 0;
  virtual std::string TempDir() const = 0;
  static std::string SetupDir() { return "C:\\setup\\"; }

  // Files, by Windows path (folders are made as needed).
  virtual void Write(const std::string& path, const std::string& bytes) = 0;
  virtual std::string Read(const std::string& path) = 0;  // "" when missing
  virtual bool Exists(const std::string& path) = 0;
  virtual void Remove(const std::string& path) = 0;  // with everything below it
  virtual std::vector<std::string> List(const std::string& dir) = 0;  // sorted; none: empty
  // Every entry below dir, relative, folders with a trailing "/", sorted.
  virtual std::vector<std::string> Tree(const std::string& dir) = 0;
  virtual std::optional<FileFacts> Facts(const std::string& path) = 0;
  // A file at `path` holding `bytes` that setup cannot overwrite;
  // Intact() tells whether it is still as made.
  virtual void MakeUnwritable(const std::string& path, const std::string& bytes) = 0;
  virtual bool Intact(const std::string& path, const std::string& bytes) = 0;
  // Whether `written` (perhaps a short name) names the file `path`.
  virtual bool SameFile(const std::string& written, const std::string& path) = 0;

  // The registry.
  virtual std::optional<unsigned> SharedDllCount(const std::string& path) = 0;
  virtual void SetSharedDllCount(const std::string& path, unsigned count) = 0;
  virtual std::vector<std::string> PendingRenames() = 0;
  virtual std::map<std::string, RegValue> FontValues() = 0;

  // Another process holds `path` open as a running program holds its
  // image (others may read); Release ends it.
  virtual void Hold(const std::string& path) = 0;
  virtual void Release() = 0;
  // A restart: what waits for it (delayed moves, WININIT.INI) is done.
  virtual void Restart() = 0;
  // The version-install service as documented, where the platform's own
  // differs (see tests/wine/README.md); a no-op elsewhere.
  virtual void UseDocumentedVersionService() = 0;
  // Lays a library that exports nothing under each name (e.g. "VERSION.dll")
  // into dir, made the copy to prefer where the platform lets a test choose;
  // loaded, it leaves "<name>.loaded" beside itself.
  virtual void PlantLibraries(const std::string& dir, const std::vector<std::string>& names) = 0;

  // Setup executables in SetupDir(): the stub with a payload appended, the
  // stub alone, and a payload as "Data.bin". Return the Windows path.
  virtual std::string WriteSetup(const pack::Bytes& payload, const std::string& name = "setup.exe") = 0;
  virtual std::string WriteStub(const std::string& name) = 0;
  virtual void WriteDataBin(const pack::Bytes& payload) = 0;
  // Runs a setup executable and waits for it and for the programs it
  // started to end.
  virtual RunResult Run(const std::string& exe) = 0;
  // The bytes of a program that records each of its starts; and the starts
  // recorded so far, in the order they were made.
  virtual std::string Recorder() = 0;
  virtual std::vector<Start> Starts() = 0;
  // Bytes of a sample file of tests/platform/data, or of a host file.
  virtual std::string Sample(const std::string& name) = 0;
  // Makes the machine's ANSI code page codePage, before anything is
  // written; false when this runner cannot (the scenario is skipped).
  virtual bool UseCodePage(unsigned codePage) { return codePage == 1252; }
};

// What a scenario expects; strings may hold {dir} (the install directory),
// {setup}, {win}, {sys}, {fonts} and {exe} (the setup's path).
struct Expected {
  int exitCode = 0;
  std::optional<Box> box;          // none: no box
  bool installDir = true;          // one new install directory; else none
  std::vector<std::string> tree;   // of the install directory (empty: unchecked)
  std::optional<std::vector<std::string>> log;  // _Del.log lines (nullopt: unchecked)
  std::vector<std::string> starts;  // command lines, in order; always checked
  std::vector<std::pair<std::string, std::optional<unsigned>>> counts;  // SharedDLLs
  std::vector<std::pair<std::string, std::string>> files;  // path, bytes
  std::optional<std::vector<std::string>> pendingRenames;
};

struct Scenario {
  std::string name;
  std::vector<Family> families = {Family::NT};
  std::vector<std::string> runners;  // empty: every runner; else only these
  // Prepares the machine and writes the setup; returns its Windows path.
  // `expect` fills in the outcome after the run (it may read samples).
  std::function<std::string(Machine&)> arrange;
  std::function<void(Machine&, Expected&)> expect;
  // Checks beyond Expected, after the run (may run setups again).
  std::function<void(Machine&, const RunResult&, const std::string& dir)> check;
  // The machine's ANSI code page; Windows paths in the scenario are its text.
  unsigned codePage = 1252;
};

const std::vector<Scenario>& Scenarios();

// Runs one scenario on a machine and checks it with GoogleTest assertions.
void RunScenario(Machine& m, const Scenario& s);

// Registers a GoogleTest case "<suite>.<scenario>" (with "_95" for the 95
// family) for every scenario this runner takes.
void RegisterScenarios(const std::string& runner, const std::string& suite,
                       std::function<std::unique_ptr<Machine>(Family)> makeMachine);
// The same for a Machine made from its family, from a static initializer:
//   const bool kRegistered = RegisterScenarios<HostMachine>("host", "SetupRun");
template <class M>
bool RegisterScenarios(const std::string& runner, const std::string& suite) {
  RegisterScenarios(runner, suite, [](Family f) -> std::unique_ptr<Machine> { return std::make_unique<M>(f); });
  return true;
}

// Lines joined with CR LF after each, as "_Del.log" stores them.
std::string CrLf(const std::vector<std::string>& lines);

}  // namespace sfx::scenario
