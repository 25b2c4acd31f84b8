// sfx extract: unpacks a setup's files into a folder without installing.
#include <cstdio>

#include "pack/extract.h"
#include "tool/catalogue_view.h"
#include "tool/commands.h"
#include "tool/progress.h"
#include "tool/tool_error.h"

namespace sfx::tool {
namespace {

struct ExtractCmdOptions {
  std::string setup;
  std::string dir;
  bool flat = false;
  bool force = false;
  bool payloadOnly = false;
  bool quiet = false;
};

int RunExtract(const ExtractCmdOptions& o) {
  pack::SetupFile setup = OpenSetup(o.setup, o.payloadOnly);
  pack::LoadedPayload payload = LoadCatalogue(setup);
  pack::ExtractReport report;
  try {
    Progress progress("extracting");
    progress.SetTotalBytes(TotalItemSize(payload.project));
    report = pack::ExtractSetup(setup, payload, o.dir, {o.flat, o.force},
                                [&](size_t i, size_t n) { progress.Update(i, n, payload.files[i].name); },
                                [&](uint64_t bytes) { progress.AddBytes(bytes); });
  } catch (const pack::ExtractError& e) {
    throw ToolError(e.what());
  }
  if (!o.quiet)
    for (const pack::ExtractedFile& f : report.files)
      printf("%s (%llu bytes)\n", Printable(f.path).c_str(), (unsigned long long)f.size);
  if (!report.metadataKept)
    fprintf(stderr, "sfx: note: %s keeps no extended attributes; creation times and attribute bytes were not kept\n",
            o.dir.c_str());
  for (const std::string& r : report.refusals) fprintf(stderr, "sfx: refused %s\n", Printable(r).c_str());
  if (!o.quiet) printf("%zu of %zu files extracted into %s\n", report.files.size(), payload.files.size(), o.dir.c_str());
  return report.refusals.empty() ? 0 : 1;
}

}  // namespace

void AddExtractCommand(CLI::App& app, int* status) {
  auto o = std::make_shared<ExtractCmdOptions>();
  CLI::App* cmd = app.add_subcommand(
      "extract", "Unpack every file into DIR/<variable>/<path>/<name> (e.g. DIR/inst/readme.txt), never outside DIR");
  cmd->add_option("SETUP", o->setup, "Setup executable, bare payload or Data.bin")->required();
  cmd->add_option("-d,--dir", o->dir, "Folder to unpack into (made if missing)")->required();
  cmd->add_flag("-q,--quiet", o->quiet, "Print only problems: no line per file, no summary");
  HelpFooter(cmd, "sfx extract app-setup -d unpacked", "");
  cmd->add_flag("--flat", o->flat, "Put every file directly in DIR; repeated names get ~2, ~3, ...");
  cmd->add_flag("--force", o->force, "Replace existing files");
  cmd->add_flag("--payload", o->payloadOnly, "Take the whole file as a payload, even if it holds a locator");
  cmd->callback([o, status] { *status = RunExtract(*o); });
}

}  // namespace sfx::tool
