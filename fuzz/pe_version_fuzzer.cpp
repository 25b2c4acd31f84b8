// The PE version-resource reader on arbitrary bytes, as GetFileVersionInfo
// and the packer use it. A block it returns must be bytes of the file, and
// the fixed info it finds must lie inside that block with its signature.
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "platform/host/pe_version.h"

SFX_FUZZ_TARGET(pe_version) {
  using namespace sfx::host;
  std::vector<uint8_t> block;
  bool hasBlock = ReadVersionResource(data, size, block);
  VS_FIXEDFILEINFO info;
  memset(&info, 0, sizeof info);
  bool hasInfo = ReadFixedFileInfo(data, size, info);
  if (hasBlock) {
    FUZZ_CHECK(!block.empty() && memmem(data, size, block.data(), block.size()) != nullptr,
               "version block is not a piece of the file");
    size_t at = FixedFileInfoOffset(block.data(), block.size());
    FUZZ_CHECK(at == 0 || at + sizeof(VS_FIXEDFILEINFO) <= block.size(), "fixed info runs past its block");
  }
  if (hasInfo) {
    FUZZ_CHECK(hasBlock, "fixed info without a version block");
    FUZZ_CHECK(info.dwSignature == 0xFEEF04BD, "fixed info without its signature");
  }
  // The block alone, as VerQueryValueA sees what GetFileVersionInfoA copied.
  size_t at = FixedFileInfoOffset(data, size);
  FUZZ_CHECK(at == 0 || at + sizeof(VS_FIXEDFILEINFO) <= size, "fixed info runs past the input");
  return 0;
}
