// The shell's special folders, the message box and the cursor.
//
// An ITEMIDLIST here is one item holding the folder's Windows path, then
// the terminating zero-length item; it is allocated with malloc, which is
// what CoTaskMemFree releases. The message box is one line on standard
// error, "TITLE: MESSAGE"; nobody is there to press OK, so it returns IDOK.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/host/prefix.h"
#include "platform/host/win_error.h"

namespace {

const char* FolderPath(int csidl) {
  switch (csidl) {
    case CSIDL_FONTS: return "C:\\WINDOWS\\FONTS";
    case CSIDL_WINDOWS: return "C:\\WINDOWS";
    case CSIDL_SYSTEM:
      return sfx::host::CurrentFamily() == sfx::host::Family::NT ? "C:\\WINDOWS\\SYSTEM32"
                                                                  : "C:\\WINDOWS\\SYSTEM";
    default: return nullptr;
  }
}

HCURSOR g_cursor = nullptr;

}  // namespace

HRESULT SHGetSpecialFolderLocation(HWND, int csidl, LPITEMIDLIST* ppidl) {
  if (ppidl == nullptr) return E_INVALIDARG;
  *ppidl = nullptr;
  const char* path = FolderPath(csidl);
  if (path == nullptr) return E_INVALIDARG;
  size_t len = strlen(path) + 1;                 // the text with its NUL
  size_t itemSize = sizeof(WORD) + len;          // cb covers itself
  BYTE* block = static_cast<BYTE*>(calloc(1, itemSize + sizeof(WORD)));  // + terminator
  if (block == nullptr) return E_FAIL;
  WORD cb = (WORD)itemSize;
  memcpy(block, &cb, sizeof cb);
  memcpy(block + sizeof(WORD), path, len);
  *ppidl = reinterpret_cast<LPITEMIDLIST>(block);
  return S_OK;
}

BOOL SHGetPathFromIDListA(LPCITEMIDLIST pidl, LPSTR pszPath) {
  if (pidl == nullptr || pszPath == nullptr) return FALSE;
  const BYTE* p = reinterpret_cast<const BYTE*>(pidl);
  WORD cb;
  memcpy(&cb, p, sizeof cb);
  pszPath[0] = '\0';
  if (cb <= sizeof(WORD)) return FALSE;  // the empty list: the desktop, no path
  size_t textMax = cb - sizeof(WORD);
  const char* text = reinterpret_cast<const char*>(p + sizeof(WORD));
  size_t len = strnlen(text, textMax);
  if (len == textMax || len >= MAX_PATH) return FALSE;  // not one of ours
  memcpy(pszPath, text, len + 1);
  return TRUE;
}

void CoTaskMemFree(LPVOID pv) { free(pv); }

int MessageBoxA(HWND, LPCSTR lpText, LPCSTR lpCaption, UINT) {
  // One line, whatever line breaks the message holds.
  std::string line = std::string(lpCaption != nullptr ? lpCaption : "Error") + ": " +
                     (lpText != nullptr ? lpText : "");
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  line += '\n';
  fwrite(line.data(), 1, line.size(), stderr);
  fflush(stderr);
  return IDOK;
}

HCURSOR LoadCursorA(HINSTANCE, LPCSTR lpCursorName) {
  // A distinct non-null value per cursor resource, nothing behind it.
  return reinterpret_cast<HCURSOR>(const_cast<char*>(lpCursorName));
}

HCURSOR SetCursor(HCURSOR hCursor) {
  HCURSOR previous = g_cursor;
  g_cursor = hCursor;
  return previous;
}

LRESULT SendMessageA(HWND, UINT, WPARAM, LPARAM) {
  // No windows exist to answer; WM_FONTCHANGE and anything else is
  // accepted and has no effect.
  return 0;
}
