// The registry database: connections, schema, keys and values.
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

#include "platform/host/prefix.h"
#include "platform/host/registry_db.h"
#include "platform/host/win32_api.h"

namespace sfx::host::reg {

struct Connection {
  sqlite3* db = nullptr;
  std::string path;
  pid_t pid = 0;
  int refs = 0;
  int writers = 0;  // handles (or calls) that hold the write transaction
};

namespace {

// Another process holding the write lock makes us wait this long at most.
constexpr int kBusyTimeoutMs = 30000;

// SQLite's own busy timeout sleeps up to 100 ms between tries, which makes
// writers that take turns quickly (setup runs raising counts) crawl. Poll
// every millisecond at first, then back off to 10 ms; give up after the
// timeout. `count` restarts at 0 for every lock that is waited for.
int BusyWait(void*, int count) {
  int delayMs = count < 100 ? 1 : 10;
  int waitedMs = count < 100 ? count : 100 + (count - 100) * 10;
  if (waitedMs >= kBusyTimeoutMs) return 0;
  usleep((useconds_t)delayMs * 1000);
  return 1;
}

std::mutex g_mutex;
std::vector<Connection*> g_connections;

long MapError(int rc) {
  switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return ERROR_SUCCESS;
    case SQLITE_CORRUPT:
      return ERROR_REGISTRY_CORRUPT;
    case SQLITE_NOTADB:
    case SQLITE_ERROR:  // missing tables: not a registry database
    case SQLITE_SCHEMA:
    case SQLITE_MISMATCH:
    case SQLITE_CONSTRAINT:
      return ERROR_BADDB;
    case SQLITE_CANTOPEN:
      return ERROR_CANTOPEN;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_BUSY;
    case SQLITE_NOMEM:
      return ERROR_OUTOFMEMORY;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    case SQLITE_FULL:
      return ERROR_DISK_FULL;
    case SQLITE_TOOBIG:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_CANTREAD;
  }
}

// A prepared statement, finalized at scope end.
class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql) { rc_ = sqlite3_prepare_v2(db, sql, -1, &s_, nullptr); }
  ~Stmt() { sqlite3_finalize(s_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  bool ok() const { return rc_ == SQLITE_OK; }
  int prepareError() const { return rc_; }
  sqlite3_stmt* get() const { return s_; }
  void Int(int i, int64_t v) { sqlite3_bind_int64(s_, i, v); }
  void Text(int i, const char* v) { sqlite3_bind_text(s_, i, v ? v : "", -1, SQLITE_TRANSIENT); }
  void Text(int i, const std::string& v) {
    sqlite3_bind_text(s_, i, v.data(), (int)v.size(), SQLITE_TRANSIENT);
  }
  // A zero-length blob needs a non-null pointer, or SQLite binds NULL.
  void Blob(int i, const uint8_t* p, uint32_t n) {
    sqlite3_bind_blob(s_, i, n ? (const void*)p : (const void*)"", (int)n, SQLITE_TRANSIENT);
  }
  int Step() { return sqlite3_step(s_); }

 private:
  sqlite3_stmt* s_ = nullptr;
  int rc_;
};

long Exec(sqlite3* db, const char* sql) {
  return MapError(sqlite3_exec(db, sql, nullptr, nullptr, nullptr));
}

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY,"
    "  parent INTEGER NOT NULL,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  UNIQUE(parent, name));"
    "CREATE TABLE IF NOT EXISTS vals("
    "  key INTEGER NOT NULL,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  PRIMARY KEY(key, name)) WITHOUT ROWID;"
    "INSERT OR IGNORE INTO keys(id, parent, name) VALUES"
    "  (1, 0, 'HKEY_CLASSES_ROOT'), (2, 0, 'HKEY_CURRENT_USER'),"
    "  (3, 0, 'HKEY_LOCAL_MACHINE'), (4, 0, 'HKEY_USERS');";

const char* const kStandardKeys[][2] = {
    {"3", "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs"},
    {"3", "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts"},
    {"3", "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"},
    {"3", "System\\CurrentControlSet\\Control\\Session Manager"},
    {"2", "Software"},
};

long OpenDb(const std::string& path, int flags, sqlite3** out) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close(db);
    return rc == SQLITE_CANTOPEN ? ERROR_CANTOPEN : MapError(rc);
  }
  sqlite3_busy_handler(db, BusyWait, nullptr);
  *out = db;
  return ERROR_SUCCESS;
}

// A usable registry has the root keys; anything else (an empty file, a file
// of another kind, a damaged one) is reported before the first handle.
long CheckSchema(sqlite3* db) {
  Stmt s(db, "SELECT count(*) FROM keys WHERE id BETWEEN 1 AND 4");
  if (!s.ok()) return MapError(s.prepareError());
  int rc = s.Step();
  if (rc != SQLITE_ROW) return MapError(rc);
  return sqlite3_column_int(s.get(), 0) == 4 ? ERROR_SUCCESS : ERROR_BADDB;
}

bool MissingOrEmpty(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) != 0 || st.st_size == 0;
}

// Splits at backslashes, skipping empty components.
std::vector<std::string> SplitPath(const char* path) {
  std::vector<std::string> parts;
  std::string cur;
  for (const char* p = path ? path : ""; *p; ++p) {
    if (*p == '\\') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += *p;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

long FindChild(sqlite3* db, int64_t parent, const std::string& name, int64_t* id) {
  Stmt s(db, "SELECT id FROM keys WHERE parent = ?1 AND name = ?2");
  if (!s.ok()) return MapError(s.prepareError());
  s.Int(1, parent);
  s.Text(2, name);
  int rc = s.Step();
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return MapError(rc);
  *id = sqlite3_column_int64(s.get(), 0);
  return ERROR_SUCCESS;
}

long InsertChild(sqlite3* db, int64_t parent, const std::string& name, int64_t* id) {
  Stmt s(db, "INSERT INTO keys(parent, name) VALUES(?1, ?2)");
  if (!s.ok()) return MapError(s.prepareError());
  s.Int(1, parent);
  s.Text(2, name);
  int rc = s.Step();
  if (rc != SQLITE_DONE) return MapError(rc);
  *id = sqlite3_last_insert_rowid(db);
  return ERROR_SUCCESS;
}

long CreateKeyIn(sqlite3* db, int64_t parent, const char* path, int64_t* id, bool* created) {
  int64_t cur = parent;
  bool made = false;
  for (const std::string& part : SplitPath(path)) {
    int64_t next = 0;
    long err = FindChild(db, cur, part, &next);
    made = err == ERROR_FILE_NOT_FOUND;
    if (made) err = InsertChild(db, cur, part, &next);
    if (err != ERROR_SUCCESS) return err;
    cur = next;
  }
  *id = cur;
  if (created) *created = made;
  return ERROR_SUCCESS;
}

}  // namespace

long Acquire(Connection** out) {
  std::string root = PrefixRoot();
  std::string path = root + "/registry.db";
  std::lock_guard<std::mutex> lock(g_mutex);
  // A connection made before a fork belongs to the parent: never reuse it.
  pid_t pid = getpid();
  for (Connection* c : g_connections) {
    if (c->path == path && c->pid == pid) {
      ++c->refs;
      *out = c;
      return ERROR_SUCCESS;
    }
  }
  if (MissingOrEmpty(path)) EnsureRegistry(root);
  sqlite3* db = nullptr;
  long err = OpenDb(path, SQLITE_OPEN_READWRITE, &db);
  if (err == ERROR_SUCCESS) err = CheckSchema(db);
  if (err != ERROR_SUCCESS) {
    sqlite3_close(db);
    return err;
  }
  Connection* c = new Connection;
  c->db = db;
  c->path = path;
  c->pid = pid;
  c->refs = 1;
  g_connections.push_back(c);
  *out = c;
  return ERROR_SUCCESS;
}

void AddRef(Connection* conn) {
  std::lock_guard<std::mutex> lock(g_mutex);
  ++conn->refs;
}

void Release(Connection* conn) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (--conn->refs > 0) return;
  if (conn->writers > 0) Exec(conn->db, "ROLLBACK");
  sqlite3_close(conn->db);
  g_connections.erase(std::find(g_connections.begin(), g_connections.end(), conn));
  delete conn;
}

long BeginWrite(Connection* conn) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (conn->writers == 0) {
    long err = Exec(conn->db, "BEGIN IMMEDIATE");
    if (err != ERROR_SUCCESS) return err;
  }
  ++conn->writers;
  return ERROR_SUCCESS;
}

long EndWrite(Connection* conn) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (conn->writers == 0) return ERROR_SUCCESS;
  if (--conn->writers > 0) return ERROR_SUCCESS;
  long err = Exec(conn->db, "COMMIT");
  // A failed commit must not leave the transaction (and its lock) behind.
  if (err != ERROR_SUCCESS && !sqlite3_get_autocommit(conn->db)) Exec(conn->db, "ROLLBACK");
  return err;
}

long FindKey(Connection* conn, int64_t parent, const char* path, int64_t* id) {
  int64_t cur = parent;
  for (const std::string& part : SplitPath(path)) {
    long err = FindChild(conn->db, cur, part, &cur);
    if (err != ERROR_SUCCESS) return err;
  }
  *id = cur;
  return ERROR_SUCCESS;
}

long CreateKey(Connection* conn, int64_t parent, const char* path, int64_t* id, bool* created) {
  return CreateKeyIn(conn->db, parent, path, id, created);
}

long GetValue(Connection* conn, int64_t key, const char* name, Value* out) {
  Stmt s(conn->db, "SELECT name, type, data FROM vals WHERE key = ?1 AND name = ?2");
  if (!s.ok()) return MapError(s.prepareError());
  s.Int(1, key);
  s.Text(2, name);
  int rc = s.Step();
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return MapError(rc);
  const char* n = (const char*)sqlite3_column_text(s.get(), 0);
  out->name.assign(n ? n : "", (size_t)sqlite3_column_bytes(s.get(), 0));
  out->type = (uint32_t)sqlite3_column_int64(s.get(), 1);
  const uint8_t* p = (const uint8_t*)sqlite3_column_blob(s.get(), 2);
  int size = sqlite3_column_bytes(s.get(), 2);
  out->data.assign(p, p ? p + size : p);
  return ERROR_SUCCESS;
}

long SetValue(Connection* conn, int64_t key, const char* name, uint32_t type,
              const uint8_t* data, uint32_t size) {
  // An existing value keeps the letter case of its name.
  Stmt s(conn->db,
         "INSERT INTO vals(key, name, type, data) VALUES(?1, ?2, ?3, ?4) "
         "ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, data = excluded.data");
  if (!s.ok()) return MapError(s.prepareError());
  s.Int(1, key);
  s.Text(2, name);
  s.Int(3, type);
  s.Blob(4, data, size);
  return MapError(s.Step());
}

long DeleteValue(Connection* conn, int64_t key, const char* name) {
  Stmt s(conn->db, "DELETE FROM vals WHERE key = ?1 AND name = ?2");
  if (!s.ok()) return MapError(s.prepareError());
  s.Int(1, key);
  s.Text(2, name);
  int rc = s.Step();
  if (rc != SQLITE_DONE) return MapError(rc);
  return sqlite3_changes(conn->db) > 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

long ListValues(Connection* conn, int64_t key, std::vector<Value>* out) {
  Stmt s(conn->db, "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY name");
  if (!s.ok()) return MapError(s.prepareError());
  s.Int(1, key);
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW) {
    Value v;
    const char* n = (const char*)sqlite3_column_text(s.get(), 0);
    v.name.assign(n ? n : "", (size_t)sqlite3_column_bytes(s.get(), 0));
    v.type = (uint32_t)sqlite3_column_int64(s.get(), 1);
    const uint8_t* p = (const uint8_t*)sqlite3_column_blob(s.get(), 2);
    int size = sqlite3_column_bytes(s.get(), 2);
    v.data.assign(p, p ? p + size : p);
    out->push_back(std::move(v));
  }
  return rc == SQLITE_DONE ? ERROR_SUCCESS : MapError(rc);
}

long ListSubkeys(Connection* conn, int64_t key, std::vector<std::string>* out) {
  Stmt s(conn->db, "SELECT name FROM keys WHERE parent = ?1 ORDER BY name");
  if (!s.ok()) return MapError(s.prepareError());
  s.Int(1, key);
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW) {
    const char* n = (const char*)sqlite3_column_text(s.get(), 0);
    out->emplace_back(n ? n : "", (size_t)sqlite3_column_bytes(s.get(), 0));
  }
  return rc == SQLITE_DONE ? ERROR_SUCCESS : MapError(rc);
}

}  // namespace sfx::host::reg

namespace sfx::host {

void EnsureRegistry(const std::string& prefixRoot) {
  using namespace reg;
  sqlite3* db = nullptr;
  if (OpenDb(prefixRoot + "/registry.db", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, &db) !=
      ERROR_SUCCESS)
    return;
  if (Exec(db, "BEGIN IMMEDIATE") == ERROR_SUCCESS) {
    bool ok = Exec(db, kSchema) == ERROR_SUCCESS;
    for (const auto& key : kStandardKeys) {
      int64_t id = 0;
      if (ok) ok = CreateKeyIn(db, key[0][0] - '0', key[1], &id, nullptr) == ERROR_SUCCESS;
    }
    Exec(db, ok ? "COMMIT" : "ROLLBACK");
  }
  sqlite3_close(db);
}

}  // namespace sfx::host
