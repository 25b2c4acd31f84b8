// Helpers for whole setup runs: starting the built stub as its own process
// on a test prefix, and reading back what a run left on the emulated
// machine (install directories, files with their stamps, registry values,
// started programs).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/payload_builder.h"
#include "support/temp_dir.h"

namespace sfx::e2e {

// The payload descriptions and temporary folders every whole-run test uses.
using sfx::test::CatalogueBuilder;
using sfx::test::Family;
using sfx::test::Lines;
using sfx::test::ListTree;
using sfx::test::Plain;
using sfx::test::ScopedPrefix;
using sfx::test::SharedDll;
using sfx::test::TempDir;
using sfx::test::TestDll;
using sfx::test::TestFile;

struct StubResult {
  int exitCode = -1;       // -1: killed or did not exit normally
  std::string stderrText;  // everything the run wrote to standard error
};

// One run of a setup executable, started at once and not waited for until
// Wait(). The child sees SFX_PREFIX = prefixRoot and, for the 95 family,
// SFX_WINVER=95; its standard output is a pipe (see Wait).
class StubProcess {
 public:
  StubProcess(const std::string& exe, const std::string& prefixRoot, Family family = Family::NT);
  ~StubProcess();
  StubProcess(const StubProcess&) = delete;
  StubProcess& operator=(const StubProcess&) = delete;

  // Waits (at most timeoutMs, then kills the run) and collects the result;
  // then waits, within the same time, for the programs the run started.
  StubResult Wait(int timeoutMs = 60000);

 private:
  sfx::test::TempDir scratch_;  // holds the captured standard error
  pid_t pid_ = -1;
  int outFd_ = -1;  // read end of the child's standard output
  bool done_ = false;
  StubResult result_;
};

// Starts a run and waits for it.
StubResult RunStub(const std::string& exe, const std::string& prefixRoot,
                   Family family = Family::NT);

// The built stub, without a payload.
std::string StubPath();

// Writes a setup executable (stub + payload) named setup.exe into hostDir.
std::string WriteSetup(const sfx::test::CatalogueBuilder& builder, const std::string& hostDir);

// Runs a setup executable made of the stub and payload on the prefix at
// prefixRoot and checks that the run ends with the one box `message` ("%s":
// the setup executable's Windows path) and exit status 0, leaving no
// install directory.
void ExpectRunEndsWithBox(const std::string& prefixRoot, const pack::Payload& payload,
                          const std::string& message);

// The install directories ("C:\TEMP\ccXXXX.tmp\") in the prefix.
std::vector<std::string> InstallDirs();

// Host path of a Windows path in the current prefix, and whole-file reads.
std::string Host(const std::string& windowsPath);
std::string ReadWin(const std::string& windowsPath);
bool ExistsWin(const std::string& windowsPath);
void WriteWin(const std::string& windowsPath, const std::string& bytes);

// What the platform reports for a file: attributes and the two time stamps
// as seconds since 1970.
struct FileFacts {
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  int64_t ctime = 0;
  int64_t mtime = 0;
};
FileFacts Probe(const std::string& windowsPath);

// HKLM values.
extern const char kSharedDllsKey[];
extern const char kFontsKey[];
// A SharedDLLs count: nullopt when the value is missing or not a 4-byte DWORD.
std::optional<uint32_t> SharedDllCount(const std::string& path);
void SetSharedDllCount(const std::string& path, uint32_t count);
// The REG_MULTI_SZ strings of PendingFileRenameOperations (empty if absent).
std::vector<std::string> PendingRenames();

// The Windows directory's system folder for a family.
std::string SystemDir(Family family);

// A native script that appends "<pid> <tag> <arguments>" to runsFile each
// time it is started, after running the shell commands of `before`.
std::string MarkerScript(const std::string& tag, const std::string& runsFile,
                         const std::string& before = "");

struct ProgramStart {
  long pid = 0;
  std::string tag;
  std::string args;
};
// The starts recorded in runsFile, in the order they were made (process ids
// grow with each start). StubProcess::Wait has waited for the programs.
std::vector<ProgramStart> RecordedStarts(const std::string& runsFile);

}  // namespace sfx::e2e
