// sfx decode: one stream, decoded with the stub's decoder; the exit status
// is the decoder's result.
#include <cstdio>
#include <string>

#include "pack/atomic_output.h"
#include "pack/setup_reader.h"
#include "pack/stream_decode.h"
#include "tool/commands.h"
#include "tool/tool_error.h"

namespace sfx::tool {
namespace {

// Failures of the command itself, apart from the decoder's results 0-3.
const int kDecodeError = 4;

struct DecodeOptions {
  std::string file;
  std::string out;
  std::string offset = "0";
};

uint64_t ParseOffset(const std::string& text) {
  size_t used = 0;
  unsigned long long v = 0;
  try {
    v = std::stoull(text, &used, 0);  // decimal, or 0x... hex
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || text[0] == '-')
    throw ToolError("--offset: \"" + text + "\" is not a byte offset", kDecodeError);
  return v;
}

int RunDecode(const DecodeOptions& o) {
  uint64_t offset = ParseOffset(o.offset);
  pack::Bytes input;
  try {
    input = pack::ReadHostFile(o.file);
  } catch (const pack::ReadError& e) {
    throw ToolError(e.what(), kDecodeError);
  }
  if (offset > input.size())
    throw ToolError("--offset " + std::to_string(offset) + " lies beyond the end of " + o.file + " (" +
                        std::to_string(input.size()) + " bytes)",
                    kDecodeError);
  try {
    // Whatever the decoder wrote stays, as the stub would leave it: on a
    // failure, the whole 32,768-byte windows before it.
    pack::AtomicOutput out(o.out);
    pack::DecodeOutcome r = pack::DecodeStream(input.data(), input.size(), (size_t)offset,
                                               [&](const uint8_t* p, size_t n) { out.Write(p, n); });
    out.Commit();
    fprintf(stderr, "result: %d\n", r.result);
    return r.result;
  } catch (const pack::OutputError& e) {
    throw ToolError(e.what(), kDecodeError);
  }
}

}  // namespace

void AddDecodeCommand(CLI::App& app, int* status) {
  auto o = std::make_shared<DecodeOptions>();
  CLI::App* cmd = app.add_subcommand(
      "decode", "Decode one stream at --offset of FILE; exit status = decoder result (0 ok, 1 bad data, "
                "2 bad block or over-subscribed code, 3 no memory; 4 for other failures)");
  cmd->add_option("FILE", o->file, "File holding the stream")->required();
  cmd->add_option("-o,--output", o->out, "File to write the decoded bytes to")->required();
  cmd->add_option("--offset", o->offset, "Byte offset of the stream in FILE (decimal or 0x hex; default 0)");
  HelpFooter(cmd, "sfx decode app-setup -o stream.out --offset 0x1f404", "");
  cmd->callback([o, status] { *status = RunDecode(*o); });
}

}  // namespace sfx::tool
