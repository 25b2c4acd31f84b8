#include "install/font.h"

#include <cstring>

#include "framework/cstring.h"
#include "platform/byte_order.h"

namespace {

using sfx::Fits;
using sfx::LoadBe16;
using sfx::LoadBe32;

const int kMaxTableRecords = 40;

// Reads exactly nCount bytes at dwOffset, or returns FALSE when they do not
// all lie inside the file.
BOOL ReadAt(CFile& file, DWORD dwLength, ULONGLONG qwOffset, void* pBuf, UINT nCount) {
  if (!Fits(qwOffset, nCount, dwLength)) return FALSE;
  file.Seek((LONG)(DWORD)qwOffset, CFile::begin);
  return file.Read(pBuf, nCount) == nCount;
}

// Offset of the first "name" table among the first 40 records, or FALSE.
// The tag is compared byte for byte: "NAME" and "Name" are other tables.
BOOL FindNameTable(CFile& file, DWORD dwLength, DWORD& dwTableOffset) {
  BYTE header[12];
  if (!ReadAt(file, dwLength, 0, header, sizeof header)) return FALSE;
  DWORD nTables = LoadBe16(header + 4);
  for (DWORD i = 0; i < nTables && i < kMaxTableRecords; ++i) {
    BYTE record[16];
    if (!ReadAt(file, dwLength, 12 + 16 * (ULONGLONG)i, record, sizeof record)) return FALSE;
    if (memcmp(record, "name", 4) == 0) {
      dwTableOffset = LoadBe32(record + 8);
      return TRUE;
    }
  }
  return FALSE;
}

// One Macintosh full-name record: its string goes into pszName (or empties
// it when it is too long to register). FALSE when the string lies outside
// the file, which ends the parsing.
BOOL TakeName(CFile& file, DWORD dwLength, ULONGLONG qwString, DWORD nBytes, char* pszName) {
  if (nBytes > (DWORD)kMaxFontNameLength) {
    if (!Fits(qwString, nBytes, dwLength)) return FALSE;
    pszName[0] = 0;
    return TRUE;
  }
  char szRead[kFontNameBufferSize];
  if (!ReadAt(file, dwLength, qwString, szRead, nBytes)) return FALSE;
  szRead[nBytes] = 0;
  // Copied only once complete, so a failure leaves the previous name whole.
  memcpy(pszName, szRead, nBytes + 1);
  return TRUE;
}

}  // namespace

BOOL ReadFontFullName(CFile& file, char* pszName) {
  pszName[0] = 0;
  DWORD dwLength = file.GetLength();
  DWORD dwTable = 0;
  if (!FindNameTable(file, dwLength, dwTable)) return FALSE;

  BYTE header[6];
  if (!ReadAt(file, dwLength, dwTable, header, sizeof header)) return FALSE;
  DWORD nRecords = LoadBe16(header + 2);
  ULONGLONG qwStorage = (ULONGLONG)dwTable + LoadBe16(header + 4);

  for (DWORD i = 0; i < nRecords; ++i) {
    BYTE record[12];
    if (!ReadAt(file, dwLength, (ULONGLONG)dwTable + 6 + 12 * (ULONGLONG)i, record, sizeof record))
      break;
    if (LoadBe16(record) != 1 || LoadBe16(record + 6) != 4) continue;
    ULONGLONG qwString = qwStorage + LoadBe16(record + 10);
    if (!TakeName(file, dwLength, qwString, LoadBe16(record + 8), pszName)) break;
  }
  return pszName[0] != 0;
}

namespace {

const char kFontsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";

// Reads the full name into szName; any file error just ends the reading.
void ReadNameOf(const char* pszPath, char* pszName) {
  try {
    CFile file;
    if (!file.Open(pszPath, CFile::modeRead | CFile::shareDenyNone)) return;
    ReadFontFullName(file, pszName);
    file.Close();
  } catch (CException* e) {
    e->Delete();
  }
}

void RegisterFontName(char* pszName, const char* pszPath) {
  // The value's data is the file name: the text after the last "\".
  const char* pszFile = pszPath + CString(pszPath).ReverseFind('\\') + 1;
  lstrcatA(pszName, " (TrueType)");
  HKEY hKey = nullptr;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kFontsKey, &hKey) != ERROR_SUCCESS) return;
  RegSetValueExA(hKey, pszName, 0, REG_SZ, (const BYTE*)pszFile, (DWORD)strlen(pszFile));
  RegCloseKey(hKey);
}

}  // namespace

void InstallFont(const char* pszPath) {
  // Room for the longest accepted name and the " (TrueType)" suffix.
  char szName[kFontNameBufferSize] = {};
  ReadNameOf(pszPath, szName);

  if (AddFontResourceA(pszPath) != 0) SendMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);

  if (szName[0] == 0) return;
  RegisterFontName(szName, pszPath);
}
