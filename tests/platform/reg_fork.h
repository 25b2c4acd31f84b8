// Second processes for tests that need them (locks, concurrent writers).
// A child reports through its exit code, never through test assertions.
//
// A forked child must not touch a database connection its parent had open
// at the fork (SQLite keeps per-process lock state in memory); when the
// parent holds one, start the test binary afresh with the (test, action) constructor.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <chrono>
#include <functional>
#include <thread>

namespace sfx::test {

class Child {
 public:
  // Starts `body` in a child; its return value becomes the exit code.
  explicit Child(const std::function<int()>& body) {
    pid_ = fork();
    if (pid_ == 0) _exit(body());
  }
  ~Child() {
    if (pid_ > 0 && !done_) Wait();
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Runs this test binary again with only `test` selected and the variable
  // SFX_TEST_CHILD set to `action`; that test performs the action and exits
  // with its result (see ChildAction).
  Child(const char* test, const std::string& action) {
    std::string filter = std::string("--gtest_filter=") + test;
    pid_ = fork();
    if (pid_ == 0) {
      setenv("SFX_TEST_CHILD", action.c_str(), 1);
      if (freopen("/dev/null", "w", stdout) == nullptr) _exit(126);
      execl("/proc/self/exe", "/proc/self/exe", filter.c_str(), (char*)nullptr);
      _exit(127);
    }
  }

  bool started() const { return pid_ > 0; }

  // The child's exit code, or -1 when it did not exit normally.
  int Wait() {
    if (!done_) {
      while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
      }
      done_ = true;
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }

  // Whether the child is still running after `ms` milliseconds.
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

// The action a child started with the (test, action) constructor is to perform, or null in the
// ordinary test run.
inline const char* ChildAction() { return getenv("SFX_TEST_CHILD"); }

}  // namespace sfx::test
