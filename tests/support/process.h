// Child processes for tests: started with posix_spawn (standard input from
// /dev/null, the output where asked) and waited for within a time limit.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace sfx::test {

// This process's environment without the variables whose names begin with
// one of `drop`, and with the "NAME=value" entries of `set` (replacing any
// of the same name).
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& set,
                                         const std::vector<std::string>& drop = {});

// Starts argv[0] with argv and env; standard output goes to the file `out`
// (or to the descriptor outFd when it is >= 0), standard error to `err`.
// Throws when the program cannot be started.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& out, const std::string& err, int outFd = -1);

// A program run to its end: its exit status (-1 when killed after the time
// limit or not exited normally), standard output and standard error.
struct Finished {
  int status = -1;
  std::string out;
  std::string err;
};
// Runs argv[0] with argv and env and waits for it, at most timeoutMs.
Finished RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env, int timeoutMs);

// The exit status of a started process, or -1 when it did not exit normally
// or was still running after timeoutMs (it is then killed).
int WaitExit(pid_t pid, int timeoutMs);

// Whether a started process ends within ms milliseconds (it is left to
// WaitExit). That a process waits, for a lock say, takes a time to tell.
bool EndsWithin(pid_t pid, int ms);

}  // namespace sfx::test
