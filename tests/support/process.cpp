#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "support/temp_dir.h"

extern char** environ;

namespace sfx::test {

std::vector<std::string> EnvironmentWith(const std::vector<std::string>& set,
                                         const std::vector<std::string>& drop) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    bool keep = true;
    for (const std::string& d : drop) keep = keep && name.compare(0, d.size(), d) != 0;
    for (const std::string& s : set) keep = keep && s.compare(0, name.size() + 1, name + "=") != 0;
    if (keep) env.push_back(entry);
  }
  env.insert(env.end(), set.begin(), set.end());
  return env;
}

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& out, const std::string& err, int outFd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (outFd >= 0)
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
  else
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> a, e;
  for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
  a.push_back(nullptr);
  for (const auto& s : env) e.push_back(const_cast<char*>(s.c_str()));
  e.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, a[0], &actions, nullptr, a.data(), e.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + strerror(rc));
  return pid;
}

int WaitExit(pid_t pid, int timeoutMs) {
  // A descriptor of the process becomes readable when it ends: no polling.
  int fd = (int)syscall(SYS_pidfd_open, pid, 0);
  bool ended = true;
  if (fd >= 0) {
    pollfd p = {fd, POLLIN, 0};
    int n;
    while ((n = poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    ended = n > 0;
    close(fd);
  }
  if (!ended) kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Finished RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env, int timeoutMs) {
  TempDir scratch;
  pid_t pid = Spawn(argv, env, scratch / "out", scratch / "err");
  Finished f;
  f.status = WaitExit(pid, timeoutMs);
  f.out = ReadFileIfPresent(scratch / "out");
  f.err = ReadFileIfPresent(scratch / "err");
  return f;
}

bool EndsWithin(pid_t pid, int ms) {
  for (int waited = 0;; waited += 10) {
    siginfo_t info = {};
    if (waitid(P_PID, (id_t)pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid) return true;
    if (waited >= ms) return false;
    usleep(10 * 1000);
  }
}

}  // namespace sfx::test
