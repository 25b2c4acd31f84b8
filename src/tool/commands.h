// The subcommands of `sfx`. Each adds itself to the application; its
// callback runs the command and stores the exit status in *status, or
// throws (ToolError or any std::exception) for a one-line failure.
#pragma once

#include <CLI/CLI.hpp>

namespace sfx::tool {

void AddPackCommand(CLI::App& app, int* status);
void AddListCommand(CLI::App& app, int* status);
void AddDumpCommand(CLI::App& app, int* status);
void AddVerifyCommand(CLI::App& app, int* status);
void AddExtractCommand(CLI::App& app, int* status);
void AddDecodeCommand(CLI::App& app, int* status);
void AddPrefixCommand(CLI::App& app, int* status);
void AddRegCommand(CLI::App& app, int* status);
void AddRebootCommand(CLI::App& app, int* status);
void AddRunCommand(CLI::App& app, int* status);

// The close of a command's --help: an example and the environment variables
// the command reads ("" for none).
// --codepage of the commands that show catalogue text.
inline void AddCodePageOption(CLI::App* cmd, std::string& codePage) {
  cmd->add_option("--codepage", codePage,
                  "Code page the catalogue's names are written in, shown in UTF-8: 1252, 932, 936, 949 or 950 "
                  "(default: the emulated machine's: SFX_CODEPAGE, the prefix's, else 1252)");
}

inline void HelpFooter(CLI::App* cmd, const std::string& example, const std::string& environment) {
  cmd->footer("\nExample:\n  " + example + "\n\nEnvironment: " + (environment.empty() ? "none" : environment));
}

}  // namespace sfx::tool
