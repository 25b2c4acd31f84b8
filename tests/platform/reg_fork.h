// A second process for tests that need one (locks, concurrent writers); it
// reports through its exit code.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <chrono>
#include <thread>

namespace sfx::test {

class Child {
 public:
  // Starts a program (argv[0]: its path) as a second process; a program
  // rather than a fork, so that it shares no database connection with this
  // one (SQLite keeps per-process lock state in memory).
  explicit Child(const std::vector<std::string>& argv) {
    pid_ = fork();
    if (pid_ == 0) {
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
  }
  ~Child() {
    if (pid_ > 0 && !done_) Wait();
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The child's exit code, or -1 when it did not exit normally.
  int Wait() {
    if (!done_) {
      while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
      }
      done_ = true;
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }

  // Whether the child is still running after `ms` milliseconds. Telling
  // that a process waits for a lock takes a time: nothing else shows it.
  bool StillRunningAfter(int ms) {
    for (int waited = 0; !done_; waited += 10) {
      if (waitpid(pid_, &status_, WNOHANG) != 0) {
        done_ = true;
        break;
      }
      if (waited >= ms) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

 private:
  pid_t pid_ = -1;
  bool done_ = false;
  int status_ = 0;
};

}  // namespace sfx::test
