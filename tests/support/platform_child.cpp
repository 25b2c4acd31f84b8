#include "support/platform_child.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace sfx::test {

std::vector<int> RunInChildren(const std::vector<std::function<int()>>& fns) {
  std::vector<pid_t> pids;
  for (const auto& fn : fns) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) _exit(fn() & 0xFF);
    pids.push_back(pid);
  }
  std::vector<int> results;
  for (pid_t pid : pids) {
    int status = 0;
    while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    results.push_back(pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  }
  return results;
}

int RunInChild(const std::function<int()>& fn) { return RunInChildren({fn})[0]; }

HeldChild::HeldChild(const std::function<bool()>& hold) {
  int up[2], down[2];
  if (pipe(up) != 0) return;
  if (pipe(down) != 0) {
    close(up[0]);
    close(up[1]);
    return;
  }
  fflush(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    close(up[0]);
    close(down[1]);
    char result = hold() ? 1 : 0;
    if (write(up[1], &result, 1) != 1) _exit(1);
    char c;
    while (read(down[0], &c, 1) < 0) {
    }
    _exit(0);
  }
  close(up[1]);
  close(down[0]);
  toChild_ = down[1];
  char result = 0;
  ok_ = read(up[0], &result, 1) == 1 && result == 1;
  close(up[0]);
}

void HeldChild::Release() {
  if (pid_ <= 0) return;
  close(toChild_);
  int status;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

HeldChild::~HeldChild() { Release(); }

std::string WaitForFileLine(const std::string& hostPath, int timeoutMs) {
  for (int waited = 0; waited <= timeoutMs; waited += 20) {
    std::ifstream in(hostPath, std::ios::binary);
    if (in) {
      std::ostringstream s;
      s << in.rdbuf();
      std::string text = s.str();
      if (!text.empty() && text.back() == '\n') return text;
    }
    usleep(20 * 1000);
  }
  return std::string();
}

}  // namespace sfx::test
