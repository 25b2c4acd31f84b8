// sfx verify: decodes every stream and checks the setup's structure.
#include <cstdio>

#include "pack/verify.h"
#include "tool/catalogue_view.h"
#include "tool/commands.h"
#include "tool/progress.h"

namespace sfx::tool {
namespace {

struct VerifyOptions {
  std::string setup;
  bool payloadOnly = false;
};

int RunVerify(const VerifyOptions& o) {
  pack::SetupFile setup = OpenSetup(o.setup, o.payloadOnly);
  pack::VerifyReport report;
  bool loaded = false;
  {
    Progress progress("verifying");
    report = pack::VerifySetup(setup, {[&](const pack::LoadedPayload& p) {
                                         loaded = true;
                                         progress.SetTotalBytes(TotalItemSize(p.project));
                                       },
                                       [&](size_t i, size_t n) { progress.Update(i, n); },
                                       [&](uint64_t bytes) { progress.AddBytes(bytes); }});
  }
  if (!loaded) RefuseUnlessSetup(setup);
  if (!report.signature.empty()) printf("signature: %s\n", Printable(report.signature).c_str());
  for (const std::string& problem : report.problems) fprintf(stderr, "%s: %s\n", o.setup.c_str(), Printable(problem).c_str());
  if (!report.problems.empty()) return 1;
  printf("OK: %s: %zu entries, %zu streams decoded to %llu bytes, catalogue and layout consistent%s\n",
         o.setup.c_str(), report.entries, report.streams, (unsigned long long)report.decodedBytes,
         report.integrity == pack::IntegrityState::Intact ? ", integrity record matches (SHA-256)" : "");
  if (report.integrity == pack::IntegrityState::Absent)
    printf("%s: the payload carries no integrity record; damage that still decodes cannot be seen\n",
           o.setup.c_str());
  return 0;
}

}  // namespace

void AddVerifyCommand(CLI::App& app, int* status) {
  auto o = std::make_shared<VerifyOptions>();
  CLI::App* cmd = app.add_subcommand(
      "verify", "Decode every stream and check offsets, tiling, indices, names and the payload's end");
  cmd->add_option("SETUP", o->setup, "Setup executable, bare payload or Data.bin")->required();
  HelpFooter(cmd, "sfx verify app-setup", "");
  cmd->add_flag("--payload", o->payloadOnly, "Take the whole file as a payload, even if it holds a locator");
  cmd->callback([o, status] { *status = RunVerify(*o); });
}

}  // namespace sfx::tool
