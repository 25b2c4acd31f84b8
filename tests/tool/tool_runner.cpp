#include "tool/tool_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "pack/setup_writer.h"

extern char** environ;

namespace fs = std::filesystem;

namespace sfx::tooltest {
namespace {

std::vector<std::string> Environment(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    bool replaced = std::any_of(extra.begin(), extra.end(),
                                [&](const std::string& x) { return x.compare(0, name.size() + 1, name + "=") == 0; });
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::vector<std::string>& env, int timeoutMs) {
  sfx::test::TempDir scratch;
  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> envv = Environment(env);
  std::vector<char*> argp = Pointers(argv), envp = Pointers(envv);
  std::string outPath = scratch / "out", errPath = scratch / "err";

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + program + ": " + strerror(rc));

  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  bool killed = false;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      killed = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  RunResult result;
  result.status = (!killed && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
  result.out = sfx::test::ReadFile(outPath);
  result.err = sfx::test::ReadFile(errPath);
  return result;
}

RunResult Sfx(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  return Run(ToolPath(), args, env);
}

std::string ToolPath() { return SFX_TOOL_PATH; }
std::string StubPath() { return SFX_STUB_PATH; }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

std::vector<std::string> Tree(const std::string& dir) {
  std::vector<std::string> out;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
    std::string rel = fs::relative(it->path(), dir).string();
    out.push_back(it->is_directory() && !it->is_symlink() ? rel + "/" : rel);
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string WriteSetup(const pack::Bytes& payload, const std::string& dir, const std::string& name) {
  std::string path = dir + "/" + name;
  pack::WriteSetupExecutable(StubPath(), payload, path);
  return path;
}

}  // namespace sfx::tooltest
