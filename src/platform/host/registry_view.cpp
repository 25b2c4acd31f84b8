// The registry view over the database layer.
#include "platform/host/registry_view.h"

#include <strings.h>

#include "platform/host/registry_db.h"
#include "platform/host/win32_api.h"

namespace sfx::host {
namespace {

// A connection held for the length of one listing.
class Session {
 public:
  Session() { err_ = reg::Acquire(&conn_); }
  ~Session() {
    if (err_ == ERROR_SUCCESS) reg::Release(conn_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  long error() const { return err_; }
  reg::Connection* conn() const { return conn_; }

 private:
  reg::Connection* conn_ = nullptr;
  long err_;
};

long OpenPath(const Session& s, const std::string& keyPath, int64_t& id) {
  int root;
  std::string subkey;
  if (!SplitRegistryPath(keyPath, root, subkey)) return ERROR_FILE_NOT_FOUND;
  return reg::FindKey(s.conn(), reg::kClassesRootId + root, subkey.c_str(), &id);
}

}  // namespace

bool SplitRegistryPath(const std::string& keyPath, int& root, std::string& subkey) {
  static const char* const kNames[][2] = {{"HKCR", "HKEY_CLASSES_ROOT"},
                                          {"HKCU", "HKEY_CURRENT_USER"},
                                          {"HKLM", "HKEY_LOCAL_MACHINE"},
                                          {"HKU", "HKEY_USERS"}};
  size_t cut = keyPath.find('\\');
  std::string first = keyPath.substr(0, cut);
  subkey = cut == std::string::npos ? std::string() : keyPath.substr(cut + 1);
  for (int i = 0; i < 4; ++i) {
    if (strcasecmp(first.c_str(), kNames[i][0]) == 0 ||
        strcasecmp(first.c_str(), kNames[i][1]) == 0) {
      root = i;
      return true;
    }
  }
  return false;
}

long ListRegistryKey(const std::string& keyPath, RegistryKeyContents& out) {
  Session s;
  if (s.error() != ERROR_SUCCESS) return s.error();
  int64_t id = 0;
  long err = OpenPath(s, keyPath, id);
  if (err != ERROR_SUCCESS) return err;
  std::vector<reg::Value> values;
  out = RegistryKeyContents();
  err = reg::ListSubkeys(s.conn(), id, &out.subkeys);
  if (err == ERROR_SUCCESS) err = reg::ListValues(s.conn(), id, &values);
  for (reg::Value& v : values) out.values.push_back({std::move(v.name), v.type, std::move(v.data)});
  return err;
}

long ReadRegistryValue(const std::string& keyPath, const std::string& valueName,
                       RegistryValue& out) {
  Session s;
  if (s.error() != ERROR_SUCCESS) return s.error();
  int64_t id = 0;
  long err = OpenPath(s, keyPath, id);
  if (err != ERROR_SUCCESS) return err;
  reg::Value v;
  err = reg::GetValue(s.conn(), id, valueName.c_str(), &v);
  if (err == ERROR_SUCCESS) out = {std::move(v.name), v.type, std::move(v.data)};
  return err;
}

}  // namespace sfx::host
