// sfx: the command line around the setup stub.
#include <cstdio>
#include <exception>
#include <string>

#include "tool/commands.h"
#include "tool/tool_error.h"

namespace {

// Failures are one line: newlines inside a message become spaces.
void ReportFailure(const std::string& message) {
  std::string line = message;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  fprintf(stderr, "sfx: %s\n", line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app("sfx: builds, inspects, checks and unpacks self-extracting setups", "sfx");
  app.set_version_flag("--version", std::string("sfx ") + SFX_VERSION);
  app.require_subcommand(1);
  int status = 0;
  sfx::tool::AddPackCommand(app, &status);
  sfx::tool::AddListCommand(app, &status);
  sfx::tool::AddDumpCommand(app, &status);
  sfx::tool::AddVerifyCommand(app, &status);
  sfx::tool::AddExtractCommand(app, &status);
  sfx::tool::AddDecodeCommand(app, &status);
  sfx::tool::AddPrefixCommand(app, &status);
  sfx::tool::AddRegCommand(app, &status);
  sfx::tool::AddRebootCommand(app, &status);
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);  // --help, --version
  } catch (const CLI::ParseError& e) {
    ReportFailure(std::string(e.what()) + " (see sfx --help)");
    return e.get_exit_code() != 0 ? e.get_exit_code() : 2;
  } catch (const sfx::tool::ToolError& e) {
    ReportFailure(e.what());
    return e.status();
  } catch (const std::exception& e) {
    ReportFailure(e.what());
    return 1;
  }
  return status;
}
