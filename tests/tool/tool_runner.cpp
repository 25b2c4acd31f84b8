#include "tool/tool_runner.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "support/process.h"

namespace sfx::tooltest {

RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::vector<std::string>& env, int timeoutMs) {
  sfx::test::TempDir scratch;
  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string outPath = scratch / "out", errPath = scratch / "err";
  pid_t pid = sfx::test::Spawn(argv, sfx::test::EnvironmentWith(env), outPath, errPath);
  RunResult result;
  result.status = sfx::test::WaitExit(pid, timeoutMs);
  result.out = sfx::test::ReadFile(outPath);
  result.err = sfx::test::ReadFile(errPath);
  return result;
}

RunResult Sfx(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  return Run(ToolPath(), args, env);
}

std::string ToolPath() { return SFX_TOOL_PATH; }
std::string StubPath() { return SFX_STUB_PATH; }

std::string WriteSetup(const pack::Bytes& payload, const std::string& dir, const std::string& name) {
  return sfx::test::WriteSetupExe(StubPath(), payload, dir, name);
}

}  // namespace sfx::tooltest
