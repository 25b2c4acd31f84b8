// Helpers shared by the installation tests: the removal log's new lines,
// registry values read back through the Win32 calls, and Windows paths of a
// test prefix.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "install/installer.h"
#include "platform/platform.h"

namespace sfx::test {

// Marks the removal log's current end; Since() gives what was written after.
class LogMark {
 public:
  LogMark() : mark_(RemovalLog().GetLength()) {}
  std::string Since() const { return std::string(RemovalLog().GetText() + mark_); }

 private:
  int mark_;
};

struct RegValue {
  bool found = false;
  DWORD type = 0;
  std::string data;
};

// Reads one value below HKEY_LOCAL_MACHINE with RegOpenKeyExA/RegQueryValueExA.
inline RegValue QueryHklmValue(const char* key, const char* name) {
  RegValue v;
  HKEY hKey = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &hKey) != ERROR_SUCCESS) return v;
  char buf[4096];
  DWORD cb = sizeof buf;
  if (RegQueryValueExA(hKey, name, nullptr, &v.type, (LPBYTE)buf, &cb) == ERROR_SUCCESS) {
    v.found = true;
    v.data.assign(buf, cb);
  }
  RegCloseKey(hKey);
  return v;
}

inline void SetHklmValue(const char* key, const char* name, DWORD type, const std::string& data) {
  HKEY hKey = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS, &hKey), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(hKey, name, 0, type, (const BYTE*)data.data(), (DWORD)data.size()),
            ERROR_SUCCESS);
  RegCloseKey(hKey);
}

inline std::string Dword(DWORD v) { return std::string((const char*)&v, sizeof v); }

inline std::string WindowsDirectory() {
  char buf[MAX_PATH + 1] = {};
  GetWindowsDirectoryA(buf, MAX_PATH);
  return buf;
}

inline std::string SystemDirectory() {
  char buf[MAX_PATH + 1] = {};
  GetSystemDirectoryA(buf, MAX_PATH);
  return buf;
}

}  // namespace sfx::test
