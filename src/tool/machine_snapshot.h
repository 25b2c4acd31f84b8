// What an emulated machine holds, taken before and after a setup runs, so
// that `sfx run` can say what the run changed: the files below the prefix
// and every registry value.
#pragma once

#include <sys/types.h>

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/host/registry_view.h"

namespace sfx::tool {

struct FileFacts {
  uint64_t size = 0;
  int64_t mtimeNs = 0;
  ino_t inode = 0;
};

struct MachineSnapshot {
  std::map<std::string, FileFacts> files;                  // host path -> facts
  std::map<std::string, host::RegistryValue> registry;     // "KEY\\" + value name -> value
};

// Walks the current prefix (host::PrefixRoot()): its files, and every key
// below the registry's roots.
MachineSnapshot TakeSnapshot();

struct FileChange {
  std::string hostPath;
  uint64_t size = 0;
  bool added = false;  // else changed
};
struct ValueChange {
  std::string key;
  host::RegistryValue value;
  bool added = false;  // else changed
};

std::vector<FileChange> ChangedFiles(const MachineSnapshot& before, const MachineSnapshot& after);
std::vector<ValueChange> ChangedValues(const MachineSnapshot& before, const MachineSnapshot& after);

// A registry value's data as JSON (number, string, list of strings or hex)
// and as one line of text.
nlohmann::json RegistryValueJson(const host::RegistryValue& v);
std::string RegistryValueText(const host::RegistryValue& v);

// The delayed renames the machine's restart would perform, one line each
// (PendingFileRenameOperations, then WININIT.INI's [rename] lines).
std::vector<std::string> PendingRenameLines();

// Keeps the Windows family ("nt" or "95") in the prefix, for runs without
// SFX_WINVER. Throws ToolError when it cannot be written.
void WritePrefixFamily(const std::string& family);

}  // namespace sfx::tool
