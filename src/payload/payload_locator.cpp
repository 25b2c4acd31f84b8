#include "payload/payload_locator.h"

#include "platform/byte_order.h"

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
  // Copied out of the volatile block first: each byte is read from memory.
  unsigned char field[4];
  for (int i = 0; i < 4; ++i) field[i] = g_PayloadLocator[kLocatorOffsetField + i];
  return sfx::LoadLe32(field);
}
