#include "tool/tool_runner.h"

namespace sfx::tooltest {

RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::vector<std::string>& env, int timeoutMs) {
  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), args.begin(), args.end());
  return sfx::test::RunProgram(argv, sfx::test::EnvironmentWith(env), timeoutMs);
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
