#include "inflate/inflate_alloc.h"

#include <cstdlib>

namespace {
InflateAllocHook g_pfnAllocHook = nullptr;
}

InflateAllocHook SetInflateAllocHook(InflateAllocHook pfnHook) {
  InflateAllocHook pfnOld = g_pfnAllocHook;
  g_pfnAllocHook = pfnHook;
  return pfnOld;
}

void* InflateAlloc(size_t nBytes) {
  if (g_pfnAllocHook != nullptr && !g_pfnAllocHook(nBytes)) return nullptr;
  return calloc(1, nBytes);
}

void* InflateAllocUncleared(size_t nBytes) {
  if (g_pfnAllocHook != nullptr && !g_pfnAllocHook(nBytes)) return nullptr;
  return malloc(nBytes);
}

void InflateFree(void* p) { free(p); }
