// A read-only view of the emulated registry for the tool and the tests:
// a key's values and subkeys in standard-library types.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sfx::host {

struct RegistryValue {
  std::string name;  // "" is the key's default value
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

struct RegistryKeyContents {
  std::vector<std::string> subkeys;    // names as first written, sorted ignoring case
  std::vector<RegistryValue> values;   // sorted by name ignoring case
};

// Splits "HKLM\Software\..." into the root handle's index (0 classes root,
// 1 current user, 2 local machine, 3 users) and the rest. Accepts the short
// (HKCR, HKCU, HKLM, HKU) and long (HKEY_LOCAL_MACHINE) root names in any
// letter case. False for an unknown root.
bool SplitRegistryPath(const std::string& keyPath, int& root, std::string& subkey);

// Lists a key of the current prefix's registry. Returns a Win32 error code:
// ERROR_SUCCESS, ERROR_FILE_NOT_FOUND for a missing key or an unknown root,
// or the database's error.
long ListRegistryKey(const std::string& keyPath, RegistryKeyContents& out);

// One value of a key; ERROR_FILE_NOT_FOUND when the key or value is missing.
long ReadRegistryValue(const std::string& keyPath, const std::string& valueName,
                       RegistryValue& out);

}  // namespace sfx::host
