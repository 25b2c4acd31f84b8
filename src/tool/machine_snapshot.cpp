#include "tool/machine_snapshot.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>

#include "platform/host/prefix.h"

namespace sfx::tool {
namespace {

// Bounds for a machine a setup has filled: deeper trees and more entries
// than any install makes are not walked further.
const int kMaxDepth = 64;
const size_t kMaxEntries = 1000000;

void WalkFiles(const std::string& dir, int depth, std::map<std::string, FileFacts>& out) {
  if (depth > kMaxDepth || out.size() >= kMaxEntries) return;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return;
  std::vector<std::string> names;
  while (dirent* e = readdir(d))
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  closedir(d);
  for (const std::string& name : names) {
    std::string path = dir + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode))
      WalkFiles(path, depth + 1, out);
    else if (S_ISREG(st.st_mode))
      out[path] = {(uint64_t)st.st_size, (int64_t)st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec, st.st_ino};
  }
}

void WalkKey(const std::string& key, int depth, std::map<std::string, host::RegistryValue>& out) {
  if (depth > kMaxDepth || out.size() >= kMaxEntries) return;
  host::RegistryKeyContents contents;
  if (host::ListRegistryKey(key, contents) != 0) return;
  for (const host::RegistryValue& v : contents.values) out[key + "\\" + v.name] = v;
  for (const std::string& sub : contents.subkeys) WalkKey(key + "\\" + sub, depth + 1, out);
}

bool SameValue(const host::RegistryValue& a, const host::RegistryValue& b) {
  return a.type == b.type && a.data == b.data;
}

}  // namespace

MachineSnapshot TakeSnapshot() {
  MachineSnapshot s;
  const std::string root = host::PrefixRoot();
  WalkFiles(root, 0, s.files);
  // The registry's own database is reported as values, not as a file.
  for (auto it = s.files.begin(); it != s.files.end();)
    it = it->first.rfind(root + "/registry", 0) == 0 ? s.files.erase(it) : std::next(it);
  for (const char* rootKey : {"HKLM", "HKCU", "HKU", "HKCR"}) WalkKey(rootKey, 0, s.registry);
  return s;
}

std::vector<FileChange> ChangedFiles(const MachineSnapshot& before, const MachineSnapshot& after) {
  std::vector<FileChange> out;
  for (const auto& [path, facts] : after.files) {
    auto old = before.files.find(path);
    if (old == before.files.end())
      out.push_back({path, facts.size, true});
    else if (old->second.size != facts.size || old->second.mtimeNs != facts.mtimeNs || old->second.inode != facts.inode)
      out.push_back({path, facts.size, false});
  }
  return out;
}

std::vector<ValueChange> ChangedValues(const MachineSnapshot& before, const MachineSnapshot& after) {
  std::vector<ValueChange> out;
  for (const auto& [where, value] : after.registry) {
    auto old = before.registry.find(where);
    if (old != before.registry.end() && SameValue(old->second, value)) continue;
    std::string key = where.substr(0, where.size() - value.name.size() - 1);
    out.push_back({key, value, old == before.registry.end()});
  }
  return out;
}

}  // namespace sfx::tool
