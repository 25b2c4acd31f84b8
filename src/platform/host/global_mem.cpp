// GlobalAlloc and friends over malloc.
//
// A fixed block's handle is its pointer; a moveable block has a separate
// handle that GlobalLock turns into the pointer. Every handle is kept in a
// table, so an unknown handle is an error rather than a wild access. Blocks
// never actually move.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/host/win_error.h"

namespace {

struct Block {
  void* data = nullptr;
  size_t size = 0;
  unsigned locks = 0;
  bool moveable = false;
};

constexpr size_t kMaxBlock = 0x7FFFFFFF;

std::mutex g_mutex;
// handle -> block, and data pointer -> handle for GlobalHandle.
std::unordered_map<void*, Block>& Blocks() {
  static auto* blocks = new std::unordered_map<void*, Block>();
  return *blocks;
}
std::unordered_map<const void*, void*>& Owners() {
  static auto* owners = new std::unordered_map<const void*, void*>();
  return *owners;
}

Block* Find(HGLOBAL h) {
  auto it = Blocks().find(h);
  if (it == Blocks().end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return &it->second;
}

}  // namespace

HGLOBAL GlobalAlloc(UINT uFlags, size_t dwBytes) {
  // A 32-bit process never gets more than 2 GB; refusing larger requests
  // here keeps a bogus size from reaching the allocator.
  if (dwBytes > kMaxBlock) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  Block block;
  block.size = dwBytes;
  block.moveable = (uFlags & GMEM_MOVEABLE) != 0;
  // At least one byte, so every block has a distinct address.
  block.data = (uFlags & GMEM_ZEROINIT) ? calloc(1, dwBytes ? dwBytes : 1) : malloc(dwBytes ? dwBytes : 1);
  if (block.data == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  void* handle = block.data;
  if (block.moveable) {
    handle = malloc(1);  // a unique token
    if (handle == nullptr) {
      free(block.data);
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  Blocks()[handle] = block;
  Owners()[block.data] = handle;
  return handle;
}

LPVOID GlobalLock(HGLOBAL hMem) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Block* block = Find(hMem);
  if (block == nullptr) return nullptr;
  if (block->moveable) ++block->locks;
  return block->data;
}

HGLOBAL GlobalHandle(LPCVOID pMem) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = Owners().find(pMem);
  if (it == Owners().end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return it->second;
}

BOOL GlobalUnlock(HGLOBAL hMem) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Block* block = Find(hMem);
  if (block == nullptr) return FALSE;
  if (block->locks > 0) --block->locks;
  // TRUE while still locked; FALSE with no error once unlocked.
  SetLastError(ERROR_SUCCESS);
  return block->locks > 0 ? TRUE : FALSE;
}

HGLOBAL GlobalFree(HGLOBAL hMem) {
  if (hMem == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(g_mutex);
  Block* block = Find(hMem);
  if (block == nullptr) return hMem;  // failure returns the handle
  Owners().erase(block->data);
  free(block->data);
  bool moveable = block->moveable;
  Blocks().erase(hMem);
  if (moveable) free(hMem);
  return nullptr;
}

size_t GlobalSize(HGLOBAL hMem) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Block* block = Find(hMem);
  return block == nullptr ? 0 : block->size;
}
