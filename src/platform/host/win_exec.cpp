// WinExec: starts a program and returns without waiting for it.
//
// The command line is split as Windows splits an unquoted one: the longest
// prefix ending at a blank that names an existing file is the program (a
// quoted program path works too); the rest is split on blanks (double
// quotes group) into its arguments. A name without a folder is looked for
// in the module's folder, the working folder, the system folder and the
// Windows folder, also with ".exe" added. Host executables and "#!"
// scripts start directly (a script through its interpreter, so an
// installed script needs no execute bit); PE files ("MZ") start through
// the program named by SFX_WIN32_RUNNER and fail without one.
//
// The program is started detached: a double fork whose middle process is
// reaped at once, so no zombie is ever left and the caller never waits for
// the program. A close-on-exec pipe tells whether the exec itself worked.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/host/prefix.h"
#include "platform/host/win_error.h"

extern char** environ;

using namespace sfx::host;

namespace {

constexpr UINT kStarted = 33;  // any value above 31 means success

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsRegularFile(const std::string& hostPath) {
  struct stat st;
  return stat(hostPath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool HasExtension(const std::string& name) {
  size_t dot = name.rfind('.');
  size_t sep = name.find_last_of("\\/");
  return dot != std::string::npos && (sep == std::string::npos || dot > sep);
}

// Host path of an existing file named name (Windows syntax), as is or with
// ".exe"; empty when there is none.
std::string TryFile(const std::string& windowsName) {
  std::string host = MapToHost(windowsName.c_str());
  if (IsRegularFile(host)) return host;
  if (!HasExtension(windowsName)) {
    host = MapToHost((windowsName + ".exe").c_str());
    if (IsRegularFile(host)) return host;
  }
  return std::string();
}

std::string ModuleDirectory() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  buf[n] = '\0';
  std::string win = MapToWindows(buf);
  size_t sep = win.rfind('\\');
  return sep == std::string::npos ? std::string() : win.substr(0, sep + 1);
}

std::string FindProgram(const std::string& name) {
  if (name.empty()) return std::string();
  if (name.find_first_of("\\/:") != std::string::npos) return TryFile(name);
  char cwd[4096];
  std::string dirs[] = {
      ModuleDirectory(),
      getcwd(cwd, sizeof cwd) != nullptr ? MapToWindows(cwd) + "\\" : std::string(),
      CurrentFamily() == Family::NT ? "C:\\WINDOWS\\SYSTEM32\\" : "C:\\WINDOWS\\SYSTEM\\",
      "C:\\WINDOWS\\",
  };
  for (const std::string& dir : dirs) {
    if (dir.empty()) continue;
    std::string found = TryFile(dir + name);
    if (!found.empty()) return found;
  }
  return std::string();
}

std::vector<std::string> SplitArguments(const std::string& text) {
  std::vector<std::string> args;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i >= text.size()) break;
    std::string arg;
    bool quoted = false;
    for (; i < text.size() && (quoted || !IsBlank(text[i])); ++i) {
      if (text[i] == '"')
        quoted = !quoted;
      else
        arg += text[i];
    }
    args.push_back(arg);
  }
  return args;
}

// Finds the program at the start of the command line; the text after it
// goes to rest.
std::string SplitProgram(const std::string& line, std::string& rest) {
  size_t start = 0;
  while (start < line.size() && IsBlank(line[start])) ++start;
  if (start < line.size() && line[start] == '"') {
    size_t close = line.find('"', start + 1);
    if (close == std::string::npos) close = line.size();
    rest = close < line.size() ? line.substr(close + 1) : std::string();
    return FindProgram(line.substr(start + 1, close - start - 1));
  }
  // Longest first: the whole line, then shorter prefixes ending at blanks.
  for (size_t end = line.size(); end > start; --end) {
    if (end != line.size() && !IsBlank(line[end])) continue;
    if (IsBlank(line[end - 1])) continue;
    std::string found = FindProgram(line.substr(start, end - start));
    if (!found.empty()) {
      rest = line.substr(end);
      return found;
    }
  }
  return std::string();
}

// The words that start the file: a script's interpreter (and its one
// optional argument), the runner for a PE file, nothing for a host
// executable. False when the file cannot be started.
bool LauncherFor(const std::string& path, std::vector<std::string>& launcher, UINT& error) {
  char head[256];
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    return false;
  }
  ssize_t n = read(fd, head, sizeof head - 1);
  close(fd);
  if (n < 2) {
    error = ERROR_BAD_FORMAT;
    return false;
  }
  head[n] = '\0';
  if (head[0] == '#' && head[1] == '!') {
    std::string line(head + 2, strcspn(head + 2, "\n"));
    std::vector<std::string> words = SplitArguments(line);
    if (words.empty()) {
      error = ERROR_BAD_FORMAT;
      return false;
    }
    launcher.push_back(words[0]);
    size_t argStart = line.find(words[0]) + words[0].size();
    size_t b = line.find_first_not_of(" \t", argStart);
    if (b != std::string::npos) {
      size_t e = line.find_last_not_of(" \t\r");
      launcher.push_back(line.substr(b, e - b + 1));  // the kernel's rule: one argument
    }
    return true;
  }
  if (head[0] == 'M' && head[1] == 'Z') {
    const char* runner = getenv("SFX_WIN32_RUNNER");
    if (runner == nullptr || runner[0] == '\0') {
      error = ERROR_BAD_FORMAT;
      return false;
    }
    launcher.push_back(runner);
    return true;
  }
  if (n >= 4 && memcmp(head, "\x7f" "ELF", 4) == 0) return true;
  error = ERROR_BAD_FORMAT;
  return false;
}

// The environment of the started program: ours, with SFX_PREFIX naming the
// prefix this process uses, so the program works in the same machine.
std::vector<std::string> ChildEnvironment() {
  std::vector<std::string> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e)
    if (strncmp(*e, "SFX_PREFIX=", 11) != 0) env.push_back(*e);
  env.push_back("SFX_PREFIX=" + PrefixRoot());
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(&s[0]);
  out.push_back(nullptr);
  return out;
}

UINT Win32ForExecErrno(int err) {
  switch (err) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENOEXEC: return ERROR_BAD_FORMAT;
    default: return 0;  // out of resources
  }
}

// Double fork; returns 0 when the program was executed, else the errno of
// the failure.
int SpawnDetached(std::vector<std::string> argv) {
  std::vector<std::string> env = ChildEnvironment();
  std::vector<char*> argp = Pointers(argv);
  std::vector<char*> envp = Pointers(env);
  int pipefd[2];
  if (pipe2(pipefd, O_CLOEXEC) != 0) return errno;
  pid_t middle = fork();
  if (middle < 0) {
    int err = errno;
    close(pipefd[0]);
    close(pipefd[1]);
    return err;
  }
  if (middle == 0) {
    // Only async-signal-safe calls from here on.
    close(pipefd[0]);
    setsid();
    pid_t child = fork();
    if (child == 0) {
      int devnull = open("/dev/null", O_RDONLY);
      if (devnull >= 0) {
        dup2(devnull, 0);
        if (devnull != 0) close(devnull);
      }
      execvpe(argp[0], argp.data(), envp.data());
      int err = errno;
      ssize_t w = write(pipefd[1], &err, sizeof err);
      (void)w;
      _exit(127);
    }
    if (child < 0) {
      int err = errno;
      ssize_t w = write(pipefd[1], &err, sizeof err);
      (void)w;
    }
    _exit(0);
  }
  close(pipefd[1]);
  int status;
  while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  int err = 0;
  ssize_t n;
  do {
    n = read(pipefd[0], &err, sizeof err);
  } while (n < 0 && errno == EINTR);
  close(pipefd[0]);
  return n == (ssize_t)sizeof err ? err : 0;
}

}  // namespace

UINT WinExec(LPCSTR lpCmdLine, UINT) {
  if (lpCmdLine == nullptr) return ERROR_FILE_NOT_FOUND;
  std::string rest;
  std::string program = SplitProgram(lpCmdLine, rest);
  if (program.empty()) return ERROR_FILE_NOT_FOUND;
  std::vector<std::string> argv;
  UINT error = 0;
  if (!LauncherFor(program, argv, error)) return error;
  argv.push_back(program);
  for (const std::string& arg : SplitArguments(rest)) argv.push_back(arg);
  int err = SpawnDetached(argv);
  return err == 0 ? kStarted : Win32ForExecErrno(err);
}
