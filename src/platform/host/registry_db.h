// The emulated registry's database (host only): <prefix>/registry.db.
//
// Keys form a tree in the table "keys" (the four roots have fixed ids);
// values live in "vals". Names compare case-insensitively (ASCII) and keep
// the case they were first written with. All open handles of one process on
// one database share a connection, so they see each other's writes at once;
// while any of them was opened for writing, that connection holds a write
// transaction (BEGIN IMMEDIATE), which makes open-query-set-close sequences
// of several processes run one after the other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sfx::host {

// Creates the registry database of a prefix with the keys every Windows
// machine has (among them the SharedDLLs and Fonts keys below
// HKLM\Software\Microsoft\Windows\CurrentVersion, and the Session Manager key).
// Idempotent. Called when a prefix is created. Never throws: a database that
// cannot be made or is corrupt is left alone, and later opens report it.
void EnsureRegistry(const std::string& prefixRoot);

namespace reg {

// Fixed ids of the root keys, in the order of the predefined handles
// HKEY_CLASSES_ROOT (0x80000000) .. HKEY_USERS (0x80000003).
constexpr int64_t kClassesRootId = 1;
constexpr int64_t kUsersId = 4;

// One shared connection of this process to one registry database.
struct Connection;

// Opens (or shares) the connection to the current prefix's database.
// Returns a Win32 error code; on success *out holds a reference that
// Release() gives back.
long Acquire(Connection** out);
void AddRef(Connection* conn);
void Release(Connection* conn);

// Write transactions: Begin takes the database's write lock (waiting while
// another process holds it) unless this connection holds it already; End
// commits when the last writer ends. Both return Win32 error codes.
long BeginWrite(Connection* conn);
long EndWrite(Connection* conn);

// Looks up (or, for CreateKey, makes) the key below parent reached by a
// backslash-separated path; empty components are skipped.
long FindKey(Connection* conn, int64_t parent, const char* path, int64_t* id);
long CreateKey(Connection* conn, int64_t parent, const char* path, int64_t* id, bool* created);

struct Value {
  std::string name;
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

long GetValue(Connection* conn, int64_t key, const char* name, Value* out);
long SetValue(Connection* conn, int64_t key, const char* name, uint32_t type,
              const uint8_t* data, uint32_t size);
long DeleteValue(Connection* conn, int64_t key, const char* name);
long ListValues(Connection* conn, int64_t key, std::vector<Value>* out);
long ListSubkeys(Connection* conn, int64_t key, std::vector<std::string>* out);

}  // namespace reg
}  // namespace sfx::host
