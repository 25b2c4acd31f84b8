// Child processes for platform tests: a function run in a forked copy of
// the test process (a second "process" for share locks, temp names and the
// Windows family), and a bounded wait for a file that a started program
// writes.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace sfx::test {

// Runs fn in a forked child and returns its result as the child's exit
// status (0..255), or -1 when the child died otherwise.
int RunInChild(const std::function<int()>& fn);
// The same for several functions at once, each in a child of its own: all
// are started before any is waited for.
std::vector<int> RunInChildren(const std::vector<std::function<int()>>& fns);

// A child that runs `hold` with a pipe pair: it calls hold(), signals the
// parent, then waits until Release() before exiting.
class HeldChild {
 public:
  // hold returns true when the child got what it wanted (e.g. a lock).
  explicit HeldChild(const std::function<bool()>& hold);
  ~HeldChild();
  bool ok() const { return ok_; }  // what hold() returned
  void Release();                  // lets the child end, and reaps it

 private:
  int pid_ = -1;
  int toChild_ = -1;
  bool ok_ = false;
};

// Polls for hostPath to exist with content ending in a line feed, for at
// most timeoutMs; returns its content ("" on timeout).
std::string WaitForFileLine(const std::string& hostPath, int timeoutMs = 10000);

}  // namespace sfx::test
