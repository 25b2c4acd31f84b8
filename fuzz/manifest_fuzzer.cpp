// The packer's manifest reader on arbitrary text. It either refuses with a
// ManifestError or gives a manifest whose names, lists and folders the stub
// can use.
#include <string>

#include "fuzz_support.h"
#include "pack/destination_check.h"
#include "pack/manifest.h"
#include "pack/path_variables.h"

SFX_FUZZ_TARGET(manifest) {
  using namespace sfx::pack;
  Manifest m;
  try {
    m = ParseManifest(std::string((const char*)data, size), "/nonexistent/base");
  } catch (const ManifestError&) {
    return 0;
  }
  FUZZ_CHECK(!m.files.empty(), "accepted a manifest without files");
  for (const ManifestFile& f : m.files) {
    FUZZ_CHECK(!f.source.empty(), "accepted a file without a source");
    FUZZ_CHECK(IsPlainName(f.name) && f.name.size() <= 255 && f.name.find('\0') == std::string::npos,
               "accepted a file name the stub refuses");
    FUZZ_CHECK(DirectoryProblem(f.dest).empty(), "accepted a destination the stub cannot install into");
    for (uint32_t c : f.components) FUZZ_CHECK(c <= kMaxListIndex, "component number out of range");
    for (uint32_t p : f.platforms) FUZZ_CHECK(p <= kMaxListIndex, "platform number out of range");
  }
  for (const ManifestProgram& p : m.programs) {
    FUZZ_CHECK(IsPlainName(p.name), "accepted a program name that is not a plain name");
    FUZZ_CHECK(DirectoryProblem(p.dir).empty(), "accepted a program folder the stub cannot start from");
    FUZZ_CHECK(p.component <= kMaxListIndex, "program component out of range");
  }
  if (m.mainProgram) FUZZ_CHECK(IsPlainName(*m.mainProgram), "accepted a main program that is not a plain name");
  return 0;
}
