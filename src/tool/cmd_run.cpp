// sfx run: runs a setup (host-packed or Win32-packed) through the host stub
// in an emulated machine and reports what the run did.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <filesystem>
#include <fstream>
#include <thread>

#include "pack/atomic_output.h"
#include "pack/setup_reader.h"
#include "pack/setup_writer.h"
#include "pack/verify.h"
#include "platform/host/code_page.h"
#include "platform/host/prefix.h"
#include "tool/catalogue_view.h"
#include "tool/commands.h"
#include "tool/machine_snapshot.h"
#include "tool/scratch_folder.h"
#include "tool/stub_lookup.h"
#include "tool/tool_error.h"

namespace fs = std::filesystem;

namespace sfx::tool {
namespace {

using nlohmann::json;

const int kTimeoutSeconds = 600;

struct RunOptions {
  std::string setup;
  std::string prefix;
  std::string family;
  std::string codePage;
  std::string stub;
  bool json = false;
};

struct StubRun {
  int status = -1;  // exit status; -1 when killed (time-out) or by a signal
  std::vector<std::string> boxes;
  std::vector<std::string> started;
  std::string how;  // "locator" or "Data.bin"
  pack::Project project;
  std::vector<std::string> damage;  // what sfx verify finds wrong with the setup
};

std::vector<std::string> FileLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) lines.push_back(line);
  return lines;
}

bool StartsWith(const std::string& path, const char* magic) {
  char head[4] = {};
  std::ifstream in(path, std::ios::binary);
  in.read(head, 4);
  return in.gcount() == 4 && memcmp(head, magic, 4) == 0;
}

// A host-packed setup runs as it is; any other (a Win32 setup, a bare
// payload, a Data.bin) has its payload and record handed to a copy of the
// host stub as "Data.bin" in the work folder.
std::string PrepareProgram(const RunOptions& o, const std::string& work, std::string& how, pack::Project& project,
                           std::vector<std::string>& damage) {
  pack::SetupFile setup = OpenSetup(o.setup, false);
  // A file that is no setup is refused in one line; a damaged one still
  // runs, to show what the stub makes of it, and verify says what is wrong.
  bool loaded = false;
  pack::VerifyHooks hooks;
  hooks.loaded = [&](const pack::LoadedPayload& p) {
    loaded = true;
    project = p.project;
  };
  damage = pack::VerifySetup(setup, hooks).problems;
  if (!loaded) RefuseUnlessSetup(setup);
  if (StartsWith(o.setup, "\x7f" "ELF") && setup.locator.present) {
    how = setup.locator.offset != 0 ? "locator" : "Data.bin";
    return fs::absolute(o.setup).string();
  }
  how = "Data.bin";
  std::string program = work + "/setup";
  fs::copy_file(FindStub("host", o.stub), program);
  fs::permissions(program, fs::perms::owner_all);
  pack::WriteAtomically(work + "/" + pack::kDataFileName, setup.payload(), setup.payloadSize() + setup.recordLength);
  return program;
}

// Windows programs the setup starts are recorded, not run: this runner
// writes its arguments to a log.
std::string WriteRecorder(const std::string& work) {
  std::string path = work + "/record-start";
  std::string script = "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" + work + "/started.log'\n";
  pack::WriteAtomically(path, (const uint8_t*)script.data(), script.size(), 0755);
  return path;
}

StubRun RunStub(const RunOptions& o, const std::string& work) {
  StubRun run;
  std::string program = PrepareProgram(o, work, run.how, run.project, run.damage);
  std::string recorder = WriteRecorder(work);
  std::string out = work + "/stdout", err = work + "/stderr";
  pid_t pid = fork();
  if (pid < 0) throw ToolError(std::string("cannot start the stub: ") + strerror(errno));
  if (pid == 0) {
    int o1 = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), o2 = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int in = open("/dev/null", O_RDONLY);
    if (o1 < 0 || o2 < 0 || in < 0) _exit(127);
    dup2(in, 0);
    dup2(o1, 1);
    dup2(o2, 2);
    setenv("SFX_PREFIX", host::PrefixRoot().c_str(), 1);
    setenv("SFX_WIN32_RUNNER", recorder.c_str(), 1);
    if (!o.family.empty()) setenv("SFX_WINVER", o.family.c_str(), 1);
    if (chdir(work.c_str()) != 0) _exit(127);
    execl(program.c_str(), program.c_str(), (char*)nullptr);
    _exit(127);
  }
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kTimeoutSeconds);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      status = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  run.status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  // Programs start detached: give the recorder a moment to finish writing.
  std::string log = work + "/started.log";
  for (int i = 0; i < 10; ++i) {
    size_t before = FileLines(log).size();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (FileLines(log).size() == before && i >= 2) break;
  }
  run.boxes = FileLines(err);
  for (const std::string& line : FileLines(log)) {
    size_t blank = std::min(line.size(), line.find(' '));
    run.started.push_back(host::MapToWindows(line.substr(0, blank)) + line.substr(blank));
  }
  return run;
}

// Programs the stub starts directly (host programs: scripts and ELF files)
// leave no record; when the run completed, the catalogue's programs of
// component 0 and the main program that the recorder did not see are named
// as started by the stub.
void AddHostStarts(const pack::Project& p, const std::string& installFolder, std::vector<std::string>& started) {
  std::vector<std::string> expected;
  for (const pack::Program& prog : p.programs)
    if (prog.component == 0) {
      std::string dir = prog.dir;
      if (dir.rfind("%inst%", 0) == 0) dir = installFolder + dir.substr(6);
      if (!dir.empty() && dir.back() != '\\') dir += '\\';
      expected.push_back(dir + prog.name);
    }
  expected.push_back((p.mainInWindowsDir ? std::string("C:\\WINDOWS") : installFolder) + "\\" + p.mainProgram + " /UNS");
  for (const std::string& e : expected) {
    bool seen = false;
    for (const std::string& s : started) seen = seen || strcasecmp(s.substr(0, e.size()).c_str(), e.c_str()) == 0;
    if (!seen) started.push_back(e + "  (started by the stub directly: a host program, not recorded)");
  }
}

// The folder of the removal log the run wrote: the install folder.
std::string InstallFolder(const std::vector<FileChange>& files) {
  for (const FileChange& f : files)
    if (fs::path(f.hostPath).filename() == "_Del.log") return host::MapToWindows(fs::path(f.hostPath).parent_path().string());
  return std::string();
}

// Text of the machine (paths, boxes) in UTF-8 for the report.
std::string Shown(const std::string& s) {
  return host::CodePageToUtf8(host::CurrentCodePage(), s, host::BadBytes::Escape);
}

std::vector<std::string> Shown(const std::vector<std::string>& list) {
  std::vector<std::string> out;
  for (const std::string& s : list) out.push_back(Shown(s));
  return out;
}

void Report(const RunOptions& o, const std::string& prefix, bool newPrefix, const StubRun& run,
            const std::vector<FileChange>& files, const std::vector<ValueChange>& values,
            const std::vector<std::string>& renames, bool completed) {
  std::string folder = InstallFolder(files);
  if (o.json) {
    json jf = json::array(), jv = json::array();
    for (const FileChange& f : files)
      jf.push_back({{"path", Shown(host::MapToWindows(f.hostPath))}, {"hostPath", f.hostPath}, {"size", f.size},
                    {"change", f.added ? "added" : "changed"}});
    for (const ValueChange& v : values) {
      json value = RegistryValueJson(v.value);
      value["key"] = v.key;
      value["change"] = v.added ? "added" : "changed";
      jv.push_back(value);
    }
    PrintJson({{"setup", o.setup}, {"prefix", prefix}, {"newPrefix", newPrefix}, {"payloadVia", run.how},
               {"exitStatus", run.status}, {"completed", completed}, {"installFolder", Shown(folder)},
               {"files", jf}, {"registry", jv}, {"pendingRenames", Shown(renames)}, {"messageBoxes", Shown(run.boxes)},
               {"programsStarted", Shown(run.started)}, {"setupProblems", run.damage}});
    return;
  }
  printf("prefix: %s%s\npayload via: %s\ninstall folder: %s\n", prefix.c_str(), newPrefix ? " (new)" : "",
         run.how.c_str(), folder.empty() ? "(none)" : Printable(Shown(folder)).c_str());
  printf("files written: %zu\n", files.size());
  for (const FileChange& f : files)
    printf("  %s (%llu bytes%s)\n", Printable(Shown(host::MapToWindows(f.hostPath))).c_str(), (unsigned long long)f.size,
           f.added ? "" : ", replaced");
  printf("registry values added or changed: %zu\n", values.size());
  for (const ValueChange& v : values)
    printf("  %s\\%s = %s (%s)\n", Printable(v.key).c_str(), v.value.name.empty() ? "(default)" : Printable(v.value.name).c_str(),
           RegistryValueText(v.value).c_str(), v.added ? "added" : "changed");
  printf("pending renames: %zu\n", renames.size());
  for (const std::string& r : renames) printf("  %s\n", Printable(Shown(r)).c_str());
  printf("message boxes: %zu\n", run.boxes.size());
  for (const std::string& b : run.boxes) printf("  %s\n", Printable(Shown(b)).c_str());
  printf("programs started: %zu\n", run.started.size());
  for (const std::string& s : run.started) printf("  %s\n", Printable(Shown(s)).c_str());
  printf("setup problems (sfx verify): %zu\n", run.damage.size());
  for (const std::string& d : run.damage) printf("  %s\n", Printable(d).c_str());
  printf("result: %s (stub exit status %d)\n",
         completed            ? "completed"
         : run.damage.empty() ? "ended with a message box or stopped early"
                              : "the setup is damaged",
         run.status);
}

int RunRun(const RunOptions& o) {
  bool newPrefix = o.prefix.empty();
  std::string prefix = newPrefix ? MakeTempFolder("sfx-run-prefix") : fs::absolute(o.prefix).string();
  host::SetPrefixRoot(prefix);
  host::EnsurePrefix();
  if (!o.family.empty()) WritePrefixFamily(o.family);
  if (!o.codePage.empty()) {
    unsigned codePage = 0;
    if (!host::ParseCodePage(o.codePage, codePage))
      throw ToolError("unknown code page " + o.codePage + " (known: " + host::KnownCodePagesText() + ")");
    if (!host::WritePrefixCodePage(prefix, codePage)) throw ToolError("cannot write " + prefix + "/codepage");
  }
  // The stub refuses an unknown code page; say so before running it.
  std::string codePageSource, codePageError;
  unsigned inForce = 0;
  if (!host::ReadCodePageSetting(inForce, codePageSource, codePageError)) throw ToolError(codePageError);
  StubRun run;
  MachineSnapshot before, after;
  {
    ScratchFolder work("sfx-run");
    before = TakeSnapshot();
    run = RunStub(o, work.path());
    after = TakeSnapshot();
  }
  std::vector<FileChange> files = ChangedFiles(before, after);
  std::vector<ValueChange> values = ChangedValues(before, after);
  bool completed = run.status == 0 && run.boxes.empty() && run.damage.empty();
  if (completed) AddHostStarts(run.project, InstallFolder(files), run.started);
  Report(o, prefix, newPrefix, run, files, values, PendingRenameLines(), completed);
  return completed ? 0 : 1;
}

}  // namespace

void AddRunCommand(CLI::App& app, int* status) {
  auto o = std::make_shared<RunOptions>();
  CLI::App* cmd = app.add_subcommand(
      "run", "Run a setup (host or Win32) through the host stub in an emulated machine and report what it did");
  cmd->add_option("SETUP", o->setup, "Setup executable (either target), bare payload or Data.bin")->required();
  cmd->add_option("--prefix", o->prefix, "Emulated machine to run in (made if missing); default: a new one");
  cmd->add_option("--family", o->family, "Windows family the run reports: nt or 95")
      ->check(CLI::IsMember({"nt", "95"}));
  cmd->add_option("--codepage", o->codePage,
                  "The machine's ANSI code page, kept in the prefix: 1252, 932, 936, 949 or 950 (SFX_CODEPAGE "
                  "overrides it)");
  cmd->add_option("--stub", o->stub, "Host stub to run a Win32 setup's payload with");
  cmd->add_flag("--json", o->json, "Print the report as JSON");
  HelpFooter(cmd, "sfx run app-setup.exe --family 95 --json",
             "SFX_STUB (the host stub for a Win32 setup's payload), TMPDIR; the run's own SFX_PREFIX, "
             "SFX_WINVER and SFX_WIN32_RUNNER are set by sfx run");
  cmd->callback([o, status] { *status = RunRun(*o); });
}

}  // namespace sfx::tool
