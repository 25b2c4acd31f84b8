// The PayloadLocator: a 14-byte block in the stub's initialised data that
// records where an appended payload begins.
//
//   offset 0  4 bytes  magic (four letters; the packer finds the block by it)
//   offset 4  2 bytes  16-bit word 0x5498
//   offset 6  4 bytes  payload offset in the executable; 0: use "Data.bin"
//   offset 10 4 bytes  payload size
//
// All little-endian, no padding. The stub is built with offset and size 0;
// the packer patches both in the executable file after appending a payload.
// The stub only ever reads the offset.
#pragma once

#include "platform/platform.h"

// Byte positions and size of the block, shared with the packer.
enum {
  kLocatorSize = 14,
  kLocatorMagicSize = 6,  // the four letters and the 16-bit word
  kLocatorOffsetField = 6,
  kLocatorSizeField = 10,
};

// The block itself. Volatile, so the compiler neither folds the offset read
// into the 0 it was built with nor drops the block as unused.
extern volatile const unsigned char g_PayloadLocator[kLocatorSize];

// The payload offset, read afresh from the block on every call.
DWORD GetPayloadOffset();
