// sfx pack: a setup executable from a manifest.
#include <cstdio>
#include <string>

#include "pack/atomic_output.h"
#include "pack/manifest.h"
#include "pack/manifest_catalogue.h"
#include "pack/payload_writer.h"
#include "pack/setup_reader.h"
#include "pack/setup_writer.h"
#include "tool/commands.h"
#include "tool/depfile.h"
#include "tool/progress.h"
#include "tool/signing.h"
#include "tool/stub_lookup.h"
#include "tool/tool_error.h"

namespace sfx::tool {
namespace {

struct PackOptions {
  std::string manifest;
  std::string out;
  std::string target = "host";
  std::string stub;
  int level = 6;
  bool dataBin = false;
  std::string depfile;
  SignOptions sign;
};

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

pack::Bytes ReadStub(const std::string& path) {
  try {
    return pack::ReadHostFile(path);
  } catch (const pack::ReadError& e) {
    throw ToolError(std::string("stub: ") + e.what());
  }
}

// Everything is built in memory and checked first; the outputs appear at
// the very end, each written aside and renamed, so a failure leaves none.
void WriteOutputs(const PackOptions& o, const pack::Bytes& stub, const pack::Bytes& payload) {
  if (o.dataBin) {
    // The stub goes out unchanged: a locator without an offset makes it read
    // "Data.bin" beside itself.
    if (pack::ReadPayloadLocator(stub, pack::FindPayloadLocator(stub)).offset != 0)
      throw ToolError("the stub already carries a payload");
    pack::AtomicOutput data(FolderOf(o.out) + "/" + pack::kDataFileName);
    pack::AtomicOutput exe(o.out, 0755);
    data.Write(payload.data(), payload.size());
    exe.Write(stub.data(), stub.size());
    data.Commit();
    exe.Commit();
    return;
  }
  pack::Bytes image = pack::MakeSetupImage(stub, payload);
  if (o.sign.Requested()) image = SignImage(image, o.sign);
  pack::AtomicOutput exe(o.out, 0755);
  exe.Write(image.data(), image.size());
  exe.Commit();
}

void RunPack(const PackOptions& o) {
  pack::Manifest manifest = pack::ReadManifest(o.manifest);
  std::string stubPath = FindStub(o.target, o.stub);
  if (o.sign.Requested()) {  // refused before the long work
    if (o.target != "win32" || o.dataBin)
      throw ToolError("signing needs --target win32 and a setup with its payload inside (no --data-bin)");
    FindSigner();
  }
  pack::Bytes stub = ReadStub(stubPath);
  pack::FindPayloadLocator(stub);  // refuse a stub without exactly one locator before the long work
  pack::Catalogue catalogue;
  {
    Progress progress("compressing");
    catalogue = pack::BuildCatalogue(manifest, o.level, [&](size_t i, size_t n, const std::string& name) {
      progress.Update(i, n, name);
    });
  }
  pack::Payload payload = pack::WritePayload(catalogue, {o.level, std::nullopt});
  WriteOutputs(o, stub, payload.bytes);
  if (!o.depfile.empty()) {
    std::vector<std::string> inputs = PackInputs(manifest, o.manifest, stubPath);
    if (o.sign.Requested()) inputs.insert(inputs.end(), {o.sign.cert, o.sign.key});
    WriteDepfile(o.depfile, o.out, inputs);
  }
  printf("%s: %zu files, payload %zu bytes (streams %u bytes), stub %s\n", o.out.c_str(), catalogue.files.size(),
         payload.bytes.size(), payload.layout.dataLength, stubPath.c_str());
}

}  // namespace

void AddPackCommand(CLI::App& app, int* status) {
  auto o = std::make_shared<PackOptions>();
  CLI::App* cmd = app.add_subcommand("pack", "Build a setup executable from a JSON manifest");
  cmd->add_option("MANIFEST", o->manifest, "Manifest file (JSON); relative paths in it start at its folder")
      ->required();
  cmd->add_option("-o,--output", o->out, "Setup executable to write")->required();
  cmd->add_option("--target", o->target, "Stub to use: host (default) or win32")
      ->check(CLI::IsMember({"host", "win32"}));
  cmd->add_option("--stub", o->stub, "Stub executable to use instead of the default one");
  cmd->add_option("--level", o->level, "Compression level, 0 (stored) to 12 (smallest); default 6")
      ->check(CLI::Range(0, 12));
  cmd->add_flag("--data-bin", o->dataBin, "Write the payload as Data.bin beside an unchanged stub");
  cmd->add_option("--depfile", o->depfile, "Also write a make-style depfile: the setup and every file packing read");
  cmd->add_option("--sign-cert", o->sign.cert, "Sign the Win32 setup with osslsigncode: the certificate (PEM or DER)");
  cmd->add_option("--sign-key", o->sign.key, "The signing certificate's private key (PEM or DER)");
  cmd->add_option("--sign-pass", o->sign.pass, "The private key's password");
  cmd->add_option("--timestamp", o->sign.timestamp, "Timestamp the signature with this RFC 3161 server (URL)");
  cmd->callback([o, status] {
    try {
      RunPack(*o);
    } catch (const pack::ManifestError& e) {
      throw ToolError(e.what());
    }
    *status = 0;
  });
}

}  // namespace sfx::tool
