// The registry functions of advapi32 over the prefix's registry database.
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "platform/host/registry_db.h"
#include "platform/host/win32_api.h"

namespace reg = sfx::host::reg;

// An open key: a reference to its process's connection and the key's id.
struct HKEY__ {
  reg::Connection* conn;
  int64_t id;
  bool canRead;
  bool canWrite;  // holds the connection's write transaction until closed
};

namespace {

constexpr DWORD kMaximumAllowed = 0x02000000;
constexpr DWORD kReadAccess = KEY_QUERY_VALUE | GENERIC_READ | GENERIC_ALL | kMaximumAllowed;
constexpr DWORD kWriteAccess =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | GENERIC_WRITE | GENERIC_ALL | kMaximumAllowed;

// Live handles, so that a stale or foreign HKEY is refused instead of read.
std::mutex g_handlesMutex;
std::unordered_set<HKEY> g_handles;

bool IsPredefined(HKEY h) {
  ULONG_PTR v = (ULONG_PTR)h;
  return v >= (ULONG_PTR)HKEY_CLASSES_ROOT && v <= (ULONG_PTR)HKEY_USERS;
}

bool IsLive(HKEY h) {
  std::lock_guard<std::mutex> lock(g_handlesMutex);
  return g_handles.count(h) != 0;
}

// The key a call works on. A predefined root borrows a connection to the
// current prefix's database for the length of the call; it has full access.
class KeyRef {
 public:
  explicit KeyRef(HKEY h) {
    if (IsPredefined(h)) {
      err_ = reg::Acquire(&conn_);
      borrowed_ = err_ == ERROR_SUCCESS;
      id_ = reg::kClassesRootId + (int64_t)((ULONG_PTR)h - (ULONG_PTR)HKEY_CLASSES_ROOT);
      canRead_ = canWrite_ = true;
    } else if (h != nullptr && IsLive(h)) {
      conn_ = h->conn;
      id_ = h->id;
      canRead_ = h->canRead;
      canWrite_ = h->canWrite;
    } else {
      err_ = ERROR_INVALID_HANDLE;
    }
  }
  ~KeyRef() {
    if (borrowed_) reg::Release(conn_);
  }
  KeyRef(const KeyRef&) = delete;
  KeyRef& operator=(const KeyRef&) = delete;

  long error() const { return err_; }
  reg::Connection* conn() const { return conn_; }
  int64_t id() const { return id_; }
  bool canRead() const { return canRead_; }
  bool canWrite() const { return canWrite_; }

 private:
  long err_ = ERROR_SUCCESS;
  reg::Connection* conn_ = nullptr;
  int64_t id_ = 0;
  bool borrowed_ = false;
  bool canRead_ = false;
  bool canWrite_ = false;
};

// Makes a handle on `id`; a writing handle takes the write transaction.
LONG NewHandle(reg::Connection* conn, int64_t id, REGSAM sam, PHKEY out) {
  bool write = (sam & kWriteAccess) != 0;
  if (write) {
    long err = reg::BeginWrite(conn);
    if (err != ERROR_SUCCESS) return err;
  }
  reg::AddRef(conn);
  HKEY h = new HKEY__{conn, id, (sam & kReadAccess) != 0, write};
  {
    std::lock_guard<std::mutex> lock(g_handlesMutex);
    g_handles.insert(h);
  }
  *out = h;
  return ERROR_SUCCESS;
}

// Runs a change inside the write transaction (joining the one a writing
// handle holds already).
template <typename F>
long Write(reg::Connection* conn, F change) {
  long err = reg::BeginWrite(conn);
  if (err != ERROR_SUCCESS) return err;
  long changeErr = change();
  err = reg::EndWrite(conn);
  return changeErr != ERROR_SUCCESS ? changeErr : err;
}

}  // namespace

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                   PHKEY phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  KeyRef parent(hKey);
  if (parent.error() != ERROR_SUCCESS) return parent.error();
  int64_t id = 0;
  long err = reg::FindKey(parent.conn(), parent.id(), lpSubKey, &id);
  if (err != ERROR_SUCCESS) return err;
  return NewHandle(parent.conn(), id, samDesired, phkResult);
}

// RegOpenKey never creates a key; with no subkey it opens the key itself.
// The access is the most a caller may have: read and write.
LONG RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  if ((lpSubKey == nullptr || *lpSubKey == 0) && IsPredefined(hKey)) {
    *phkResult = hKey;
    return ERROR_SUCCESS;
  }
  return RegOpenKeyExA(hKey, lpSubKey, 0, kMaximumAllowed, phkResult);
}

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/, LPSTR /*lpClass*/,
                     DWORD /*dwOptions*/, REGSAM samDesired,
                     LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, PHKEY phkResult,
                     LPDWORD lpdwDisposition) {
  if (phkResult == nullptr || lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  KeyRef parent(hKey);
  if (parent.error() != ERROR_SUCCESS) return parent.error();
  if (!parent.canWrite()) return ERROR_ACCESS_DENIED;
  int64_t id = 0;
  bool created = false;
  long err = Write(parent.conn(), [&] {
    return reg::CreateKey(parent.conn(), parent.id(), lpSubKey, &id, &created);
  });
  if (err != ERROR_SUCCESS) return err;
  err = NewHandle(parent.conn(), id, samDesired, phkResult);
  if (err == ERROR_SUCCESS && lpdwDisposition != nullptr)
    *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return err;
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData) {
  if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr))
    return ERROR_INVALID_PARAMETER;
  KeyRef key(hKey);
  if (key.error() != ERROR_SUCCESS) return key.error();
  if (!key.canRead()) return ERROR_ACCESS_DENIED;
  reg::Value value;
  long err = reg::GetValue(key.conn(), key.id(), lpValueName, &value);
  if (err != ERROR_SUCCESS) return err;
  if (lpType != nullptr) *lpType = value.type;
  DWORD size = (DWORD)value.data.size();
  if (lpcbData == nullptr) return ERROR_SUCCESS;
  if (lpData != nullptr && *lpcbData < size) {
    *lpcbData = size;
    return ERROR_MORE_DATA;
  }
  if (lpData != nullptr && size != 0) memcpy(lpData, value.data.data(), size);
  *lpcbData = size;
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/, DWORD dwType,
                    const BYTE* lpData, DWORD cbData) {
  if (lpData == nullptr && cbData != 0) return ERROR_INVALID_PARAMETER;
  KeyRef key(hKey);
  if (key.error() != ERROR_SUCCESS) return key.error();
  if (!key.canWrite()) return ERROR_ACCESS_DENIED;
  return Write(key.conn(), [&] {
    return reg::SetValue(key.conn(), key.id(), lpValueName, dwType, lpData, cbData);
  });
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  KeyRef key(hKey);
  if (key.error() != ERROR_SUCCESS) return key.error();
  if (!key.canWrite()) return ERROR_ACCESS_DENIED;
  return Write(key.conn(), [&] { return reg::DeleteValue(key.conn(), key.id(), lpValueName); });
}

// Closing a writing handle commits its changes; a failed commit is reported.
LONG RegCloseKey(HKEY hKey) {
  if (IsPredefined(hKey)) return ERROR_SUCCESS;
  {
    std::lock_guard<std::mutex> lock(g_handlesMutex);
    if (hKey == nullptr || g_handles.erase(hKey) == 0) return ERROR_INVALID_HANDLE;
  }
  long err = hKey->canWrite ? reg::EndWrite(hKey->conn) : ERROR_SUCCESS;
  reg::Release(hKey->conn);
  delete hKey;
  return err;
}
