// Allocation of the decoder's buffers (input buffer, window, code tables).
//
// Every allocation of the decoder goes through InflateAlloc, so a test can
// install a hook that sees each request and may make it fail. Allocation is
// never on the decoding hot path, so the hook costs nothing there.
#pragma once

#include <cstddef>

// Asked before each allocation with its size in bytes; returning false makes
// that allocation fail as if memory had run out.
typedef bool (*InflateAllocHook)(size_t nBytes);

// Installs the hook (null removes it) and returns the previous one.
InflateAllocHook SetInflateAllocHook(InflateAllocHook pfnHook);

// nBytes of zeros, or null when memory (or the hook) says no.
void* InflateAlloc(size_t nBytes);
// The same without the zeros, for a buffer whose user writes (or clears)
// every byte before reading it.
void* InflateAllocUncleared(size_t nBytes);
// Releases a block from InflateAlloc; null is ignored.
void InflateFree(void* p);
