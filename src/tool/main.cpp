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

// Usage errors: one line with a hint, status 2.
int UsageError(const std::string& message, const std::string& command) {
  ReportFailure(message + " (see sfx " + (command.empty() ? "" : command + " ") + "--help)");
  return 2;
}

// The names of the commands, for "unknown command" and "sfx help".
std::string CommandNames(CLI::App& app) {
  std::string names;
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
    names += (names.empty() ? "" : ", ") + sub->get_name();
  return names;
}

// sfx help [COMMAND [SUBCOMMAND]]: the --help of that command.
int Help(CLI::App& app, int argc, char** argv) {
  CLI::App* target = &app;
  std::string path, parents;  // parents: the usage line's prefix ("sfx prefix")
  for (int i = 2; i < argc; ++i) {
    CLI::App* sub = nullptr;
    try {
      sub = target->get_subcommand(argv[i]);
    } catch (const CLI::OptionNotFound&) {
    }
    if (sub == nullptr) return UsageError("unknown command '" + path + (path.empty() ? "" : " ") + argv[i] + "'", "");
    parents += (parents.empty() ? "" : " ") + target->get_name();
    target = sub;
    path += (path.empty() ? "" : " ") + std::string(argv[i]);
  }
  printf("%s", target->help(target == &app ? "" : parents).c_str());
  return 0;
}

// The name of the (sub)command a parse error belongs to, for its hint.
std::string FailedCommand(CLI::App& app) {
  std::string path;
  for (CLI::App* at = &app;;) {
    std::vector<CLI::App*> used = at->get_subcommands();
    if (used.empty()) return path;
    at = used.front();
    path += (path.empty() ? "" : " ") + at->get_name();
  }
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
  sfx::tool::AddRunCommand(app, &status);
  app.footer("\nsfx help COMMAND (or sfx COMMAND --help) shows a command's options, an example and the environment "
             "variables it reads. Usage errors exit with 2, other failures with 1.");
  if (argc >= 2 && std::string(argv[1]) == "help") return Help(app, argc, argv);
  if (argc < 2) return UsageError("a command is required: " + CommandNames(app), "");
  if (argv[1][0] != '-') {
    bool known = false;
    for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) known = known || sub->get_name() == argv[1];
    if (!known) return UsageError(std::string("unknown command '") + argv[1] + "'; commands: " + CommandNames(app), "");
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);  // --help, --version
  } catch (const CLI::ParseError& e) {
    return UsageError(e.what(), FailedCommand(app));
  } catch (const sfx::tool::ToolError& e) {
    if (e.status() == 2) return UsageError(e.what(), FailedCommand(app));
    ReportFailure(e.what());
    return e.status();
  } catch (const std::exception& e) {
    ReportFailure(e.what());
    return 1;
  }
  return status;
}
