// sfx pack: a setup executable from a manifest.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "pack/atomic_output.h"
#include "pack/integrity_record.h"
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
  std::string mainProgram;
  bool quiet = false;
  bool verbose = false;
  std::string depfile;
  SignOptions sign;
};

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// SOURCE_DATE_EPOCH, the reproducible-builds convention: the latest time a
// setup records.
std::optional<uint32_t> SourceDateEpoch() {
  const char* text = getenv("SOURCE_DATE_EPOCH");
  if (text == nullptr || *text == 0) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = strtoull(text, &end, 10);
  if (*end != 0 || errno != 0 || text[0] == '-' || v > 0xFFFFFFFFull)
    throw ToolError(std::string("SOURCE_DATE_EPOCH: \"") + text + "\" is not a time in seconds from 1970 to 2106");
  return (uint32_t)v;
}

// A manifest file, or a folder packed whole.
pack::Manifest LoadManifest(const PackOptions& o) {
  if (IsFolder(o.manifest))
    return pack::FolderManifest(o.manifest, o.mainProgram.empty() ? std::nullopt
                                                                  : std::optional<std::string>(o.mainProgram));
  if (!o.mainProgram.empty()) throw ToolError("--main goes with a folder; a manifest names its mainProgram", 2);
  return pack::ReadManifest(o.manifest);
}

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
void WriteOutputs(const PackOptions& o, const pack::Bytes& stub, const pack::Payload& packed) {
  // The integrity record follows the payload; the locator's size leaves it out.
  pack::Bytes payload = packed.bytes;
  pack::Bytes record = pack::MakeIntegrityRecord(payload, packed.layout);
  if (o.dataBin) {
    // The stub goes out unchanged: a locator without an offset makes it read
    // "Data.bin" beside itself.
    if (pack::ReadPayloadLocator(stub, pack::FindPayloadLocator(stub)).offset != 0)
      throw ToolError("the stub already carries a payload");
    pack::AtomicOutput data(FolderOf(o.out) + "/" + pack::kDataFileName);
    pack::AtomicOutput exe(o.out, 0755);
    data.Write(payload.data(), payload.size());
    data.Write(record.data(), record.size());
    exe.Write(stub.data(), stub.size());
    data.Commit();
    exe.Commit();
    return;
  }
  pack::Bytes image = pack::MakeSetupImage(stub, payload);
  if ((uint64_t)image.size() + record.size() > 0xFFFFFFFFull) throw ToolError("setup executable of 4 GiB or more");
  image.insert(image.end(), record.begin(), record.end());
  // Signing appends its certificate table after the record, which is found
  // again at the payload's end.
  if (o.sign.Requested()) image = SignImage(image, o.sign);
  pack::AtomicOutput exe(o.out, 0755);
  exe.Write(image.data(), image.size());
  exe.Commit();
}

void RunPack(const PackOptions& o) {
  pack::Manifest manifest = LoadManifest(o);
  manifest.latestTime = SourceDateEpoch();
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
    // Bytes counted file by file: the encoder takes each file whole.
    Progress progress("compressing");
    std::vector<uint64_t> sizes;
    for (const pack::ManifestFile& f : manifest.files) {
      struct stat st;
      sizes.push_back(stat(pack::HostPathOf(manifest, f.source).c_str(), &st) == 0 ? (uint64_t)st.st_size : 0);
    }
    uint64_t total = 0;
    for (uint64_t size : sizes) total += size;
    progress.SetTotalBytes(total);
    catalogue = pack::BuildCatalogue(manifest, o.level, [&](size_t i, size_t n, const std::string& name) {
      if (i > 0) progress.AddBytes(sizes[i - 1]);
      progress.Update(i, n, name);
    });
  }
  pack::Payload payload = pack::WritePayload(catalogue, {o.level, std::nullopt});
  WriteOutputs(o, stub, payload);
  if (!o.depfile.empty()) {
    std::vector<std::string> inputs = PackInputs(manifest, o.manifest, stubPath);
    if (o.sign.Requested()) inputs.insert(inputs.end(), {o.sign.cert, o.sign.key});
    WriteDepfile(o.depfile, o.out, inputs);
  }
  if (o.quiet) return;
  if (o.verbose)
    for (size_t i = 0; i < catalogue.files.size(); ++i)
      printf("%s -> %s (%u bytes, packed %u)\n", manifest.files[i].source.c_str(),
             (catalogue.project.items[i].destDir + catalogue.files[i].name).c_str(), catalogue.project.items[i].size,
             payload.layout.ends[i] - payload.layout.starts[i]);
  printf("%s: %zu files, payload %zu bytes (streams %u bytes), stub %s\n", o.out.c_str(), catalogue.files.size(),
         payload.bytes.size(), payload.layout.dataLength, stubPath.c_str());
}

}  // namespace

void AddPackCommand(CLI::App& app, int* status) {
  auto o = std::make_shared<PackOptions>();
  CLI::App* cmd = app.add_subcommand("pack", "Build a setup executable from a JSON manifest");
  cmd->add_option("MANIFEST", o->manifest,
                  "Manifest file (JSON; relative paths in it start at its folder), or a folder to pack whole")
      ->required();
  cmd->add_option("--main", o->mainProgram, "With a folder: the main program (default: the first file)");
  cmd->add_option("-o,--output", o->out, "Setup executable to write")->required();
  cmd->add_option("--target", o->target, "Stub to use: host (default) or win32")
      ->check(CLI::IsMember({"host", "win32"}));
  cmd->add_option("--stub", o->stub, "Stub executable to use instead of the default one");
  cmd->add_option("--level", o->level, "Compression level, 0 (stored) to 12 (smallest); default 6")
      ->check(CLI::Range(0, 12));
  cmd->add_flag("-q,--quiet", o->quiet, "Print nothing on success");
  cmd->add_flag("-v,--verbose", o->verbose, "Print each file packed: source, destination, sizes");
  HelpFooter(cmd, "sfx pack app.json -o app-setup      sfx pack build/app -o app-setup --main app.exe",
             "SFX_STUB, SFX_STUB_WIN32 (the stub to use), SOURCE_DATE_EPOCH (latest time recorded)");
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
