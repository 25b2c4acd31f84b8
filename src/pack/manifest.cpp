#include "pack/manifest.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>

#include "pack/destination_check.h"
#include "pack/path_variables.h"
#include "pack/setup_reader.h"
#include "pack/source_glob.h"

namespace sfx::pack {
namespace {

using nlohmann::json;

const size_t kMaxManifest = 16u << 20;

// One JSON object of the manifest: typed reads by key, and a check that no
// other key is present. `where` names the object in messages ("files[2]").
class ObjectReader {
 public:
  ObjectReader(const json& j, std::string where) : j_(j), where_(std::move(where)) {
    if (!j_.is_object()) Fail(where_, "must be an object");
  }

  bool Has(const char* key) {
    seen_.insert(key);
    return j_.contains(key);
  }

  std::string String(const char* key) { return AsString(At(key), Key(key)); }
  bool Bool(const char* key) {
    const json& v = At(key);
    if (!v.is_boolean()) Fail(Key(key), "must be true or false");
    return v.get<bool>();
  }
  uint64_t Number(const char* key, uint64_t max) { return AsNumber(At(key), Key(key), max); }

  std::vector<uint32_t> Indices(const char* key) {
    const json& v = At(key);
    if (!v.is_array()) Fail(Key(key), "must be a list of numbers");
    std::vector<uint32_t> out;
    for (size_t i = 0; i < v.size(); ++i)
      out.push_back((uint32_t)AsNumber(v[i], Key(key) + "[" + std::to_string(i) + "]", kMaxListIndex));
    return out;
  }

  std::vector<std::string> Strings(const char* key) {
    const json& v = At(key);
    if (!v.is_array()) Fail(Key(key), "must be a list of strings");
    std::vector<std::string> out;
    for (size_t i = 0; i < v.size(); ++i) out.push_back(AsString(v[i], Key(key) + "[" + std::to_string(i) + "]"));
    return out;
  }

  const json& Array(const char* key) {
    const json& v = At(key);
    if (!v.is_array()) Fail(Key(key), "must be a list");
    return v;
  }

  // Refuses keys that nothing asked for (a misspelt key must not be ignored).
  void Finish() const {
    for (auto it = j_.begin(); it != j_.end(); ++it)
      if (!seen_.count(it.key())) Fail(Key(it.key().c_str()), "unknown key");
  }

  std::string Key(const char* key) const { return where_.empty() ? key : where_ + "." + key; }

  [[noreturn]] static void Fail(const std::string& key, const std::string& what) {
    throw ManifestError("manifest: " + key + ": " + what);
  }

 private:
  const json& At(const char* key) {
    seen_.insert(key);
    return j_.at(key);
  }
  static std::string AsString(const json& v, const std::string& key) {
    if (!v.is_string()) Fail(key, "must be a string");
    return v.get<std::string>();
  }
  static uint64_t AsNumber(const json& v, const std::string& key, uint64_t max) {
    if (!v.is_number_unsigned() && !(v.is_number_integer() && v.get<int64_t>() >= 0))
      Fail(key, "must be a whole number from 0 to " + std::to_string(max));
    uint64_t n = v.get<uint64_t>();
    if (n > max) Fail(key, std::to_string(n) + " is out of range (0 to " + std::to_string(max) + ")");
    return n;
  }

  const json& j_;
  std::string where_;
  std::set<std::string> seen_;
};

void CheckName(const std::string& name, const std::string& key) {
  if (!IsPlainName(name) || name.size() > 255 || name.find('\0') != std::string::npos)
    ObjectReader::Fail(key, "\"" + name + "\" is not a plain file name (no \\, / or :, not . or ..)");
}

std::string LastComponent(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

ManifestFile ReadFile(const json& j, size_t index) {
  ObjectReader r(j, "files[" + std::to_string(index) + "]");
  ManifestFile f;
  if (!r.Has("source")) ObjectReader::Fail(r.Key("source"), "missing");
  f.source = r.String("source");
  if (f.source.empty()) ObjectReader::Fail(r.Key("source"), "empty");
  f.nameGiven = r.Has("name");
  f.name = f.nameGiven ? r.String("name") : LastComponent(f.source);
  if (r.Has("exclude")) f.exclude = r.Strings("exclude");
  if (r.Has("dest")) f.dest = r.String("dest");
  if (r.Has("platformDir")) f.platformDir = r.String("platformDir");
  if (r.Has("sourcePath")) f.sourcePath = r.String("sourcePath");
  if (r.Has("platformSpecific")) f.platformSpecific = r.Bool("platformSpecific");
  if (r.Has("components")) f.components = r.Indices("components");
  if (r.Has("platforms"))
    f.platforms = r.Indices("platforms");
  else if (f.platformSpecific)
    f.platforms = {1};
  if (r.Has("version")) {
    f.version = ParseVersion(r.String("version"));
    if (!f.version) ObjectReader::Fail(r.Key("version"), "must look like \"1.2.3.4\" (each part 0 to 65535)");
  }
  if (r.Has("attribute")) f.attribute = (uint8_t)r.Number("attribute", 255);
  if (r.Has("readOnly")) f.readOnly = r.Bool("readOnly");
  if (r.Has("ctime")) f.ctime = (uint32_t)r.Number("ctime", 0xFFFFFFFFu);
  if (r.Has("mtime")) f.mtime = (uint32_t)r.Number("mtime", 0xFFFFFFFFu);
  r.Finish();
  return f;
}

ManifestProgram ReadProgram(const json& j, size_t index) {
  ObjectReader r(j, "programs[" + std::to_string(index) + "]");
  ManifestProgram p;
  if (!r.Has("name")) ObjectReader::Fail(r.Key("name"), "missing");
  p.name = r.String("name");
  CheckName(p.name, r.Key("name"));
  if (r.Has("dir")) p.dir = r.String("dir");
  if (r.Has("component")) p.component = (uint32_t)r.Number("component", kMaxListIndex);
  if (r.Has("reserved")) p.reserved = (uint32_t)r.Number("reserved", 0xFFFFFFFFu);
  r.Finish();
  return p;
}

void CheckMainProgram(const Manifest& m) {
  if (!m.mainProgram) {
    if (m.files.size() > 1)
      ObjectReader::Fail("mainProgram", "missing: the setup has " + std::to_string(m.files.size()) +
                                            " files, so name the one that is the main program (started last, "
                                            "with no \"path:\" line in the removal log)");
    return;
  }
  CheckName(*m.mainProgram, "mainProgram");
  if (m.mainInWindowsDir) return;
  for (const ManifestFile& f : m.files)
    if (f.name == *m.mainProgram) return;
  ObjectReader::Fail("mainProgram", "\"" + *m.mainProgram +
                                        "\" is none of the files (set mainInWindowsDir for a program there)");
}

// Appends a file entry, a folder or pattern source as one entry per file it
// finds, and checks each name.
void AddFileEntry(const std::string& baseDir, const ManifestFile& entry, size_t index, std::vector<ManifestFile>& files) {
  size_t first = files.size();
  AppendFileSources(baseDir, entry, index, files);
  for (size_t k = first; k < files.size(); ++k) CheckName(files[k].name, "files[" + std::to_string(index) + "].name");
}

// The checks that look at the manifest as a whole, whoever made it.
void CheckWholeManifest(const Manifest& m) {
  CheckMainProgram(m);
  CheckManifestDestinations(m);
}

}  // namespace

std::string HostPathOf(const Manifest& m, const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  return m.baseDir + "/" + path;
}

std::optional<uint64_t> ParseVersion(const std::string& text) {
  uint64_t parts[4] = {};
  size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    size_t start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 6)
      parts[i] = parts[i] * 10 + (uint64_t)(text[at++] - '0');
    if (at == start || parts[i] > 0xFFFF) return std::nullopt;
    if (i < 3 && (at >= text.size() || text[at++] != '.')) return std::nullopt;
  }
  if (at != text.size()) return std::nullopt;
  return (parts[0] << 48) | (parts[1] << 32) | (parts[2] << 16) | parts[3];
}

Manifest ParseManifest(const std::string& text, const std::string& baseDir) {
  json j;
  try {
    j = json::parse(text);
  } catch (const json::exception& e) {
    throw ManifestError(std::string("manifest is not JSON: ") + e.what());
  }
  ObjectReader r(j, "");
  Manifest m;
  m.baseDir = baseDir;
  if (r.Has("project")) m.project = r.String("project");
  if (r.Has("mainProgram")) m.mainProgram = r.String("mainProgram");
  if (r.Has("mainInWindowsDir")) m.mainInWindowsDir = r.Bool("mainInWindowsDir");
  if (r.Has("installDirs")) m.installDirs = r.Strings("installDirs");
  if (r.Has("extra")) m.extra = r.String("extra");
  if (r.Has("block1File")) m.block1File = r.String("block1File");
  if (r.Has("block2File")) m.block2File = r.String("block2File");
  if (!r.Has("files")) ObjectReader::Fail("files", "missing");
  const json& files = r.Array("files");
  if (files.empty()) ObjectReader::Fail("files", "empty: a setup needs at least one file");
  for (size_t i = 0; i < files.size(); ++i) AddFileEntry(baseDir, ReadFile(files[i], i), i, m.files);
  if (r.Has("programs")) {
    const json& programs = r.Array("programs");
    for (size_t i = 0; i < programs.size(); ++i) m.programs.push_back(ReadProgram(programs[i], i));
  }
  r.Finish();
  CheckWholeManifest(m);
  return m;
}

Manifest FolderManifest(const std::string& dir, const std::optional<std::string>& mainProgram) {
  Manifest m;
  m.baseDir = dir;
  std::string trimmed = dir;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  m.project = LastComponent(trimmed);
  if (m.project.empty() || m.project == "." || m.project == "..") m.project = "setup";
  m.mainProgram = mainProgram;
  ManifestFile all;
  all.source = ".";
  AddFileEntry(dir, all, 0, m.files);
  CheckWholeManifest(m);
  return m;
}

Manifest ReadManifest(const std::string& path) {
  Bytes bytes;
  try {
    bytes = ReadHostFile(path);
  } catch (const ReadError& e) {
    throw ManifestError(e.what());
  }
  if (bytes.size() > kMaxManifest) throw ManifestError("manifest " + path + " is larger than 16 MiB");
  size_t slash = path.find_last_of('/');
  std::string base = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  Manifest m = ParseManifest(std::string(bytes.begin(), bytes.end()), base);
  if (m.project.empty()) {
    std::string stem = LastComponent(path);
    m.project = stem.substr(0, stem.rfind('.'));
  }
  return m;
}

}  // namespace sfx::pack
