// Helpers for whole runs of the x86-64 stub under Wine: a Wine prefix per
// case (a copy of a template booted once), programs started in it, files and
// registry values read back as Windows sees them, and the relay trace of the
// calls whose arguments the user would see (the error box) or the platform
// receives (the command lines of started programs).
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace sfx::wine {

struct RunResult {
  int exitCode = -1;   // -1: killed after the time limit, or no normal exit
  std::string trace;   // standard error: Wine's debug output
  std::string output;  // standard output
};

// A MessageBoxA call of the relay trace.
struct MessageBoxCall {
  std::string text;
  std::string title;
  unsigned type = 0;
};

// The MessageBoxA and WinExec calls of a relay trace, in call order.
std::vector<MessageBoxCall> MessageBoxes(const std::string& trace);
struct WinExecCall {
  std::string commandLine;
  unsigned show = 0;
};
std::vector<WinExecCall> WinExecs(const std::string& trace);

using sfx::test::Family;

// A Wine prefix of its own for one case, copied from the template, with a
// wineserver that stays up until the prefix is destroyed (or Restart()), so
// that what the server holds (delayed moves, open files) is still there when
// the case looks.
class Prefix {
 public:
  explicit Prefix(Family family = Family::NT);
  ~Prefix();
  Prefix(const Prefix&) = delete;
  Prefix& operator=(const Prefix&) = delete;

  const std::string& root() const { return dir_.path(); }

  // Runs a program under wine64 and waits for it (at most timeoutMs).
  // relay: with the relay trace of the calls the template selects.
  RunResult Run(const std::vector<std::string>& args, bool relay = false,
                int timeoutMs = 120000);
  // Starts a program under wine64 without waiting; WaitFor collects it.
  pid_t Start(const std::vector<std::string>& args);
  int WaitFor(pid_t pid, int timeoutMs = 120000);
  // Waits (at most timeoutMs) until the programs started in the prefix,
  // other than Wine's own and `except`, have ended.
  void WaitForPrograms(pid_t except = -1, int timeoutMs = 60000);

  // Makes the programs run from now on prefer a native DLL of that name
  // (beside them or in the system directory) to Wine's built-in one.
  void PreferNativeDll(const std::string& name) { nativeDlls_ += ";" + name + "=n,b"; }
  // Runs Wine in a locale whose ANSI code page is codePage: 1252 (the
  // default) or 932 (ja_JP.UTF-8). Windows paths given to this object are
  // text of that code page. false when it cannot.
  bool UseCodePage(unsigned codePage);
  // Text of that code page as a Unix argument (UTF-8).
  std::string UnixText(const std::string& windowsText) const;

  // Ends the prefix's wineserver and starts it again, then runs a trivial
  // program: the cold start that performs what waits for the next restart.
  void Restart();

  // Host path of a Windows path (C: only), matching existing components
  // without regard to case as Windows does.
  std::string Host(const std::string& windowsPath) const;
  bool Exists(const std::string& windowsPath) const;
  std::string Read(const std::string& windowsPath) const;
  void Write(const std::string& windowsPath, const std::string& bytes) const;
  // Names in a Windows directory, sorted.
  std::vector<std::string> List(const std::string& windowsDir) const;
  // Every entry below a Windows directory as a relative path, directories
  // with a trailing "/", sorted.
  std::vector<std::string> Tree(const std::string& windowsDir) const;

  // The temporary-files directory of the prefix's user, with its "\".
  std::string TempDir() const;

  // A registry value through the prefix's own "reg query": its type name
  // and its data as printed (REG_DWORD as 0x..., REG_MULTI_SZ strings
  // joined by "\0"). nullopt when the value does not exist.
  struct RegValue {
    std::string type;
    std::string data;
  };
  std::optional<RegValue> Query(const std::string& key, const std::string& value);
  // Every value of a key (empty when the key does not exist).
  std::map<std::string, RegValue> Values(const std::string& key);
  // A SharedDLLs count (nullopt: no such value or not a DWORD).
  std::optional<unsigned> SharedDllCount(const std::string& path);
  void SetSharedDllCount(const std::string& path, unsigned count);
  // The strings of PendingFileRenameOperations (empty when there is none).
  std::vector<std::string> PendingRenames();

  // What Windows reports for a file (through a small Windows program).
  struct FileFacts {
    unsigned attributes = 0;
    long long created = 0;
    long long written = 0;
  };
  std::optional<FileFacts> Facts(const std::string& windowsPath);

 private:
  std::vector<std::string> Environment(bool relay) const;
  // The command that runs a Windows program (paths as Wine sees them), and
  // the wineserver command.
  std::vector<std::string> WineCommand(const std::vector<std::string>& args);
  std::vector<std::string> ServerCommand(const std::string& option) const;
  void StartServer();
  void StopServer();

  sfx::test::TempDir dir_;
  std::string prefix_;  // dir_/pfx, the WINEPREFIX
  bool serverUp_ = false;
  std::string nativeDlls_;
  unsigned codePage_ = 1252;
};

// Where the built pieces are.
std::string StubPath();                        // the x86-64 stub
std::string ProgramPath(const std::string& name);  // record_start.exe, ...
using sfx::test::ReadFileIfPresent;  // whole host files; empty when unreadable

}  // namespace sfx::wine
