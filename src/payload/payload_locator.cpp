#include "payload/payload_locator.h"

// Spelled byte by byte rather than as a string literal: the magic must
// occur exactly once in the executable, here, or the packer cannot tell
// which occurrence to patch. "used" keeps the block through the linker's
// garbage collection even where no read of it survives optimisation.
__attribute__((used)) extern volatile const unsigned char g_PayloadLocator[kLocatorSize] = {
    'w', 'w', 'e', 'W',      // magic
    0x98, 0x54,              // 16-bit word 0x5498
    0x00, 0x00, 0x00, 0x00,  // payload offset: patched by the packer
    0x00, 0x00, 0x00, 0x00,  // payload size: patched by the packer
};

DWORD GetPayloadOffset() {
  const volatile unsigned char* p = g_PayloadLocator + kLocatorOffsetField;
  return (DWORD)p[0] | ((DWORD)p[1] << 8) | ((DWORD)p[2] << 16) | ((DWORD)p[3] << 24);
}
