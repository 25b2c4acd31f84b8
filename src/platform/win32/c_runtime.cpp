// The C library functions the stub and the C++ runtime call, on KERNEL32.
//
// The stub is linked without the C runtime DLL (startup.cpp). What the code
// and the static C++ runtime (operator new, exception handling, the unwinder)
// need of it is here: the heap on the process heap, errno, the directory and
// file calls of the engine, abort. The memory and string functions are in
// c_memory.cpp.
// Declared as this file defines them, not as imported from a DLL.
#define _CRTBLD
#include <windows.h>
#include <direct.h>
#include <errno.h>
#include <io.h>
#include <stdlib.h>

namespace {

int g_nErrno = 0;

HANDLE ProcessHeap() {
  static HANDLE s_hHeap = nullptr;
  if (s_hHeap == nullptr) s_hHeap = GetProcessHeap();
  return s_hHeap;
}

// The errno value of a system error, as the C runtime sets it after a
// failed file call.
int ErrnoOf(DWORD dwError) {
  switch (dwError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_NO_MORE_FILES:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_CURRENT_DIRECTORY:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_DISK_FULL:
      return ENOSPC;
    default:
      return EINVAL;
  }
}

}  // namespace

extern "C" {

int* __cdecl _errno() { return &g_nErrno; }

void* __cdecl malloc(size_t cb) {
  void* p = HeapAlloc(ProcessHeap(), 0, cb);
  if (p == nullptr) g_nErrno = ENOMEM;
  return p;
}

void* __cdecl calloc(size_t count, size_t cb) {
  if (cb != 0 && count > (size_t)-1 / cb) {
    g_nErrno = ENOMEM;
    return nullptr;
  }
  void* p = HeapAlloc(ProcessHeap(), HEAP_ZERO_MEMORY, count * cb);
  if (p == nullptr) g_nErrno = ENOMEM;
  return p;
}

void __cdecl free(void* p) {
  if (p != nullptr) HeapFree(ProcessHeap(), 0, p);
}

// As the system's C runtime does: a null block is allocated, a size of zero
// frees the block, and a block that cannot grow stays as it was.
void* __cdecl realloc(void* p, size_t cb) {
  if (p == nullptr) return malloc(cb);
  if (cb == 0) {
    free(p);
    return nullptr;
  }
  void* pNew = HeapReAlloc(ProcessHeap(), 0, p, cb);
  if (pNew == nullptr) g_nErrno = ENOMEM;
  return pNew;
}

// Failures leave the system's error for GetLastError as well as errno.
int __cdecl _mkdir(const char* pszPath) {
  if (CreateDirectoryA(pszPath, nullptr)) return 0;
  g_nErrno = ErrnoOf(GetLastError());
  return -1;
}

int __cdecl _unlink(const char* pszPath) {
  if (DeleteFileA(pszPath)) return 0;
  g_nErrno = ErrnoOf(GetLastError());
  return -1;
}

// The end of a run that cannot go on (std::terminate comes here): the
// process ends at once, with the exit code of the C runtime's abort, and
// without the functions registered with atexit.
void __cdecl abort() { ExitProcess(3); }

// The headers declare these three as imported from the C runtime DLL, so
// callers call them through a pointer of the import's name.
int*(__cdecl* __MINGW_IMP_SYMBOL(_errno))() = _errno;
int(__cdecl* __MINGW_IMP_SYMBOL(_mkdir))(const char*) = _mkdir;
int(__cdecl* __MINGW_IMP_SYMBOL(_unlink))(const char*) = _unlink;

}  // extern "C"
