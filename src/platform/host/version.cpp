// GetFileVersionInfo*, VerQueryValueA: version resources of files in the
// prefix, read through the bounded PE reader.
//
// The file is read whatever locks other processes hold on it: reading a
// version is like mapping an image, which a DLL in use still allows.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "platform/host/pe_version.h"
#include "platform/host/prefix.h"
#include "platform/host/win32_api.h"

namespace {

// Maps the file read-only and extracts its version block. Sets the last
// error on failure.
bool LoadVersionBlock(LPCSTR windowsPath, std::vector<uint8_t>& block) {
  if (windowsPath == nullptr || *windowsPath == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::string host = sfx::host::MapToHost(windowsPath);
  int fd = open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
    return false;
  }
  struct stat st;
  bool found = false;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    size_t size = (size_t)st.st_size;
    void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map != MAP_FAILED) {
      found = sfx::host::ReadVersionResource((const uint8_t*)map, size, block);
      munmap(map, size);
    }
  }
  close(fd);
  if (!found) SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return found;
}

}  // namespace

DWORD GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle) {
  if (lpdwHandle != nullptr) *lpdwHandle = 0;
  std::vector<uint8_t> block;
  if (!LoadVersionBlock(lptstrFilename, block)) return 0;
  return (DWORD)block.size();
}

// Copies the block, cut to dwLen bytes when the buffer is shorter; the
// copy's own length field is then cut too, so that VerQueryValueA never
// looks past the caller's buffer.
BOOL GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD /*dwHandle*/, DWORD dwLen, LPVOID lpData) {
  if (lpData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<uint8_t> block;
  if (!LoadVersionBlock(lptstrFilename, block)) return FALSE;
  size_t n = block.size() < dwLen ? block.size() : dwLen;
  memcpy(lpData, block.data(), n);
  if (n < block.size() && n >= 2) sfx::StoreLe16(lpData, (uint16_t)n);
  return TRUE;
}

// Only the root "\" (the VS_FIXEDFILEINFO) is answered.
BOOL VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, PUINT puLen) {
  if (pBlock == nullptr || lpSubBlock == nullptr || lplpBuffer == nullptr) return FALSE;
  if (strcmp(lpSubBlock, "\\") != 0) return FALSE;
  const uint8_t* block = (const uint8_t*)pBlock;
  // The block's own length bounds every read.
  size_t length = sfx::LoadLe16(block);
  size_t offset = sfx::host::FixedFileInfoOffset(block, length);
  if (offset == 0) return FALSE;
  *lplpBuffer = (LPVOID)(block + offset);
  if (puLen != nullptr) *puLen = (UINT)sizeof(VS_FIXEDFILEINFO);
  return TRUE;
}
