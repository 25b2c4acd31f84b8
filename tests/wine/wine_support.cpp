#include "wine/wine_support.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/host/code_page.h"
#include "support/process.h"
#include "wine/wine_backend.h"

using sfx::test::WaitExit;

namespace fs = std::filesystem;

namespace sfx::wine {
namespace {

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower((unsigned char)a[i]) != std::tolower((unsigned char)b[i])) return false;
  return true;
}

// The folders of the template that are linked rather than copied: Wine's
// own libraries, hundreds of megabytes that no case writes to.
bool LinkedFolder(const fs::path& relative) {
  auto it = relative.begin();
  if (it == relative.end() || *it != "drive_c") return false;
  if (++it == relative.end() || *it != "windows") return false;
  if (++it == relative.end()) return false;
  return *it == "system32" || *it == "syswow64" || *it == "winsxs";
}

void CopyTemplate(const fs::path& from, const fs::path& to) {
  fs::create_directories(to);
  for (auto it = fs::recursive_directory_iterator(from); it != fs::recursive_directory_iterator();
       ++it) {
    fs::path rel = it->path().lexically_relative(from);
    fs::path dest = to / rel;
    if (it->is_symlink()) {
      fs::copy_symlink(it->path(), dest);
    } else if (it->is_directory()) {
      fs::create_directory(dest);
    } else if (LinkedFolder(rel)) {
      // A hard link only works within one file system. With the temporary
      // folder elsewhere (a tmpfs, another TMPDIR) a symbolic link to the
      // template's file takes its place: a copy would cost 600 MB a case.
      std::error_code linkError;
      fs::create_hard_link(it->path(), dest, linkError);
      if (linkError) fs::create_symlink(fs::absolute(it->path()), dest);
    } else {
      fs::copy_file(it->path(), dest);
    }
  }
}

// The text of a quoted argument in a relay trace line, unescaped.
std::string Unescape(const std::string& s, size_t& i) {
  std::string out;
  ++i;  // opening quote
  while (i < s.size() && s[i] != '"') {
    char c = s[i++];
    if (c != '\\' || i >= s.size()) {
      out += c;
      continue;
    }
    char e = s[i++];
    switch (e) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'x': {
        out += (char)std::stoi(s.substr(i, 2), nullptr, 16);
        i += 2;
        break;
      }
      default: out += e; break;
    }
  }
  ++i;  // closing quote
  return out;
}

// The arguments of every call of `function` in a relay trace: for each
// argument its number and, when Wine printed one, its string.
struct Arg {
  std::string number;
  std::optional<std::string> text;
};
std::vector<std::vector<Arg>> RelayCalls(const std::string& trace, const std::string& function) {
  std::vector<std::vector<Arg>> calls;
  std::istringstream lines(trace);
  std::string line;
  const std::string marker = "." + function + "(";
  while (std::getline(lines, line)) {
    size_t call = line.find(":Call ");
    if (call == std::string::npos) continue;
    size_t at = line.find(marker, call);
    if (at == std::string::npos) continue;
    size_t i = at + marker.size();
    std::vector<Arg> args;
    while (i < line.size() && line[i] != ')') {
      Arg a;
      while (i < line.size() && std::isxdigit((unsigned char)line[i])) a.number += line[i++];
      if (i + 1 < line.size() && line[i] == ' ' && line[i + 1] == '"') {
        ++i;
        a.text = Unescape(line, i);
      }
      args.push_back(a);
      if (i < line.size() && line[i] == ',') ++i;
      else if (i < line.size() && line[i] != ')') break;  // not a form we know
    }
    calls.push_back(args);
  }
  return calls;
}

}  // namespace

std::vector<MessageBoxCall> MessageBoxes(const std::string& trace) {
  std::vector<MessageBoxCall> out;
  for (const auto& args : RelayCalls(trace, "MessageBoxA")) {
    MessageBoxCall m;
    if (args.size() == 4) {
      m.text = args[1].text.value_or("<null>");
      m.title = args[2].text.value_or("<null>");
      m.type = (unsigned)std::stoul(args[3].number, nullptr, 16);
    }
    out.push_back(m);
  }
  return out;
}

std::vector<WinExecCall> WinExecs(const std::string& trace) {
  std::vector<WinExecCall> out;
  for (const auto& args : RelayCalls(trace, "WinExec")) {
    WinExecCall w;
    if (args.size() == 2) {
      w.commandLine = args[0].text.value_or("<null>");
      w.show = (unsigned)std::stoul(args[1].number, nullptr, 16);
    }
    out.push_back(w);
  }
  return out;
}

Prefix::Prefix(Family family) : dir_(TheBackend().casesDir), prefix_(dir_ / "pfx") {
  CopyTemplate(TheBackend().templateDir, prefix_);
  fs::remove(fs::path(prefix_) / ".sfx-template");
  StartServer();
  if (family == Family::Win95) {
    RunResult r = Run({"reg", "add", "HKCU\\Software\\Wine", "/v", "Version", "/d", "win98", "/f"});
    if (r.exitCode != 0) throw std::runtime_error("cannot select the 95 family: " + r.trace);
  }
}

Prefix::~Prefix() { StopServer(); }

std::vector<std::string> Prefix::Environment(bool relay) const {
  std::vector<std::string> set = {
      "WINEPREFIX=" + GuestPath(prefix_), std::string("WINEDEBUG=") + (relay ? "-all,+relay" : "-all"),
      "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d" + nativeDlls_};
  for (const auto& e : TheBackend().env) set.push_back(e);
  // Wine takes its code page from the locale.
  if (codePage_ == 932) {
    set.push_back("LANG=ja_JP.UTF-8");
    set.push_back("LC_ALL=ja_JP.UTF-8");
  }
  return sfx::test::EnvironmentWith(set, {"DISPLAY", "WAYLAND_DISPLAY", "WINE", "LANG", "LC_ALL"});
}

bool Prefix::UseCodePage(unsigned codePage) {
  if (codePage != 1252 && codePage != 932) return false;
  // The i686 root has no Japanese locale of its own.
  if (codePage == 932 && !TheBackend().root.empty()) return false;
  if (codePage == 932 && system("locale -a 2>/dev/null | grep -qix 'ja_JP\\.utf-\\?8'") != 0) return false;
  codePage_ = codePage;
  return true;
}

std::vector<std::string> Prefix::WineCommand(const std::vector<std::string>& args) {
  std::vector<std::string> argv = TheBackend().wine;
  const std::string& root = TheBackend().root;
  for (const auto& a : args) {
    // Behind a chroot, host files are named as Wine sees them; one outside
    // Wine's root (a helper program of the build tree) is copied into the
    // case's folder first. Options ("/v") name no host file.
    if (root.empty() || a.empty() || a[0] != '/' || !fs::is_regular_file(a)) {
      argv.push_back(a);
    } else if (a.compare(0, root.size() + 1, root + "/") == 0) {
      argv.push_back(GuestPath(a));
    } else {
      fs::path copy = fs::path(dir_.path()) / "host" / fs::path(a).filename();
      fs::create_directories(copy.parent_path());
      fs::copy_file(a, copy, fs::copy_options::overwrite_existing);
      argv.push_back(GuestPath(copy.string()));
    }
  }
  return argv;
}

RunResult Prefix::Run(const std::vector<std::string>& args, bool relay, int timeoutMs) {
  sfx::test::Finished f = sfx::test::RunProgram(WineCommand(args), Environment(relay), timeoutMs);
  return {f.status, f.err, f.out};
}

pid_t Prefix::Start(const std::vector<std::string>& args) {
  return sfx::test::Spawn(WineCommand(args), Environment(false), "/dev/null", "/dev/null");
}

int Prefix::WaitFor(pid_t pid, int timeoutMs) { return WaitExit(pid, timeoutMs); }

std::vector<std::string> Prefix::ServerCommand(const std::string& option) const {
  std::vector<std::string> argv = TheBackend().server;
  argv.push_back(option);
  return argv;
}

void Prefix::StartServer() {
  // A persistent server: it outlives the programs of the case, so a delayed
  // move stays pending (a cold start of the server would carry it out).
  pid_t pid = sfx::test::Spawn(ServerCommand("-p"), Environment(false), "/dev/null", "/dev/null");
  WaitExit(pid, 30000);
  serverUp_ = true;
}

namespace {

// The processes whose environment names this prefix: the case's wineserver
// and whatever Windows programs still run in it.
std::vector<pid_t> ProcessesOfPrefix(const std::string& prefix) {
  std::vector<pid_t> pids;
  const std::string wanted = "WINEPREFIX=" + GuestPath(prefix);
  for (const auto& e : fs::directory_iterator("/proc")) {
    std::string name = e.path().filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    std::string env = ReadFileIfPresent(e.path().string() + "/environ");
    size_t at = 0;
    while (at < env.size()) {
      size_t end = env.find('\0', at);
      if (end == std::string::npos) end = env.size();
      if (env.compare(at, end - at, wanted) == 0) {
        pids.push_back((pid_t)std::stol(name));
        break;
      }
      at = end + 1;
    }
  }
  return pids;
}

}  // namespace

void Prefix::StopServer() {
  if (!serverUp_) return;
  pid_t pid = sfx::test::Spawn(ServerCommand("-k"), Environment(false), "/dev/null", "/dev/null");
  WaitExit(pid, 30000);
  pid = sfx::test::Spawn(ServerCommand("-w"), Environment(false), "/dev/null", "/dev/null");
  WaitExit(pid, 30000);
  // Whatever did not end with the server (a program stuck in a debugger,
  // say) is ended here, by process id: its prefix is about to be removed.
  for (pid_t p : ProcessesOfPrefix(prefix_)) kill(p, SIGKILL);
  serverUp_ = false;
}

void Prefix::Restart() {
  StopServer();
  StartServer();
  Run({"cmd", "/c", "exit"});
}

std::string Prefix::UnixText(const std::string& windowsText) const {
  return codePage_ == 1252 ? windowsText : sfx::host::CodePageToUtf8(codePage_, windowsText, sfx::host::BadBytes::Keep);
}

std::string Prefix::Host(const std::string& windowsPath) const {
  // Wine names host files in UTF-8.
  std::string p = UnixText(windowsPath);
  if (p.size() < 2 || std::toupper((unsigned char)p[0]) != 'C' || p[1] != ':')
    throw std::runtime_error("not a C: path: " + windowsPath);
  fs::path host = fs::path(prefix_) / "drive_c";
  std::istringstream parts(p.substr(2));
  std::string part;
  while (std::getline(parts, part, '\\')) {
    if (part.empty()) continue;
    fs::path next = host / part;
    if (!fs::exists(next) && fs::is_directory(host)) {
      for (const auto& e : fs::directory_iterator(host)) {
        if (EqualNoCase(e.path().filename().string(), part)) {
          next = e.path();
          break;
        }
      }
    }
    host = next;
  }
  return host.string();
}

bool Prefix::Exists(const std::string& windowsPath) const { return fs::exists(Host(windowsPath)); }

std::string Prefix::Read(const std::string& windowsPath) const {
  return ReadFileIfPresent(Host(windowsPath));
}

void Prefix::Write(const std::string& windowsPath, const std::string& bytes) const {
  std::string host = Host(windowsPath);
  fs::create_directories(fs::path(host).parent_path());
  // A new file, never a write through a hard link into the template.
  fs::remove(host);
  std::ofstream f(host, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), (std::streamsize)bytes.size());
  if (!f) throw std::runtime_error("cannot write " + host);
}

std::vector<std::string> Prefix::List(const std::string& windowsDir) const {
  std::vector<std::string> names;
  std::string host = Host(windowsDir);
  if (!fs::is_directory(host)) return names;
  for (const auto& e : fs::directory_iterator(host)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> Prefix::Tree(const std::string& windowsDir) const {
  return sfx::test::ListTree(Host(windowsDir));
}

std::string Prefix::TempDir() const {
  // Wine names the user's folder after the account running it.
  for (const auto& e : fs::directory_iterator(fs::path(prefix_) / "drive_c" / "users")) {
    std::string name = e.path().filename().string();
    if (name != "Public" && fs::is_directory(e.path() / "Temp"))
      return "C:\\users\\" + name + "\\Temp\\";
  }
  throw std::runtime_error("no user folder with a Temp directory in " + prefix_);
}

namespace {

// The values of a "reg query" listing: lines "    NAME    TYPE    DATA",
// four blanks before and between the fields (names may hold single blanks).
std::map<std::string, Prefix::RegValue> ParseRegQuery(const std::string& output) {
  std::map<std::string, Prefix::RegValue> values;
  std::istringstream lines(output);
  std::string line;
  const std::string sep = "    ";
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind(sep, 0) != 0) continue;
    std::string rest = line.substr(sep.size());
    size_t a = rest.find(sep + "REG_");
    if (a == std::string::npos) continue;
    std::string name = rest.substr(0, a);
    rest = rest.substr(a + sep.size());
    size_t b = rest.find(sep);
    Prefix::RegValue v;
    v.type = rest.substr(0, b);
    v.data = b == std::string::npos ? "" : rest.substr(b + sep.size());
    values[name == "(Default)" ? "" : name] = v;
  }
  return values;
}

}  // namespace

std::optional<Prefix::RegValue> Prefix::Query(const std::string& key, const std::string& value) {
  RunResult r = Run({"reg", "query", key, "/v", value});
  if (r.exitCode != 0) return std::nullopt;
  std::map<std::string, RegValue> values = ParseRegQuery(r.output);
  auto it = values.find(value);
  if (it == values.end()) return std::nullopt;
  return it->second;
}

std::map<std::string, Prefix::RegValue> Prefix::Values(const std::string& key) {
  RunResult r = Run({"reg", "query", key});
  if (r.exitCode != 0) return {};
  return ParseRegQuery(r.output);
}

namespace {
const char kSharedDlls[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
}

std::optional<unsigned> Prefix::SharedDllCount(const std::string& path) {
  std::optional<RegValue> v = Query(kSharedDlls, path);
  if (!v || v->type != "REG_DWORD") return std::nullopt;
  return (unsigned)std::stoul(v->data, nullptr, 16);
}

void Prefix::SetSharedDllCount(const std::string& path, unsigned count) {
  RunResult r = Run({"reg", "add", kSharedDlls, "/v", path, "/t", "REG_DWORD", "/d",
                     std::to_string(count), "/f"});
  if (r.exitCode != 0) throw std::runtime_error("reg add failed: " + r.trace);
}

std::vector<std::string> Prefix::PendingRenames() {
  std::vector<std::string> out;
  std::optional<RegValue> v =
      Query("HKLM\\System\\CurrentControlSet\\Control\\Session Manager",
            "PendingFileRenameOperations");
  if (!v) return out;
  // "reg query" joins the strings with the two characters \0.
  std::string data = v->data;
  size_t start = 0;
  for (;;) {
    size_t at = data.find("\\0", start);
    std::string s = data.substr(start, at == std::string::npos ? std::string::npos : at - start);
    if (at == std::string::npos) {
      if (!s.empty()) out.push_back(s);
      break;
    }
    out.push_back(s);
    start = at + 2;
  }
  return out;
}

std::optional<Prefix::FileFacts> Prefix::Facts(const std::string& windowsPath) {
  RunResult r = Run({ProgramPath("file_facts.exe"), windowsPath});
  if (r.exitCode != 0) return std::nullopt;
  FileFacts f;
  std::istringstream in(r.output);
  in >> std::hex >> f.attributes >> std::dec >> f.created >> f.written;
  if (!in) return std::nullopt;
  return f;
}

std::string StubPath() { return SFX_WINE_STUB; }
std::string ProgramPath(const std::string& name) {
  return std::string(SFX_WINE_PROGRAMS) + "/" + name;
}

void Prefix::WaitForPrograms(pid_t except, int timeoutMs) {
  // The programs a run started are Windows processes with no channel back
  // to this one: a bounded wait until no process of the prefix is left but
  // the server and Wine's own (from system32).
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    bool running = false;
    for (pid_t p : ProcessesOfPrefix(prefix_)) {
      if (p == except) continue;
      std::string cmd = ReadFileIfPresent("/proc/" + std::to_string(p) + "/cmdline");
      for (char& c : cmd) c = (char)std::tolower((unsigned char)c);
      if (cmd.empty() || cmd.find("wineserver") != std::string::npos ||
          cmd.find("c:\\windows\\system32\\") != std::string::npos)
        continue;
      running = true;
    }
    if (!running || std::chrono::steady_clock::now() > end) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace sfx::wine
