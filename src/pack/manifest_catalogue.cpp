#include "pack/manifest_catalogue.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "pack/encoder.h"
#include "pack/setup_reader.h"
#include "platform/host/pe_version.h"

namespace fs = std::filesystem;

namespace sfx::pack {
namespace {

const uint8_t kReadOnly = 0x01;
const uint8_t kArchive = 0x20;

struct HostFacts {
  uint32_t ctime = 0;
  uint32_t mtime = 0;
  bool writable = true;
};

uint32_t Seconds(int64_t t, const std::string& path) {
  if (t < 0 || t > (int64_t)0xFFFFFFFFu)
    throw ManifestError(path + ": time stamp outside 1970-2106; give ctime/mtime in the manifest");
  return (uint32_t)t;
}

HostFacts StatFile(const std::string& path) {
  struct statx sx;
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
    throw ManifestError("cannot read " + path + ": " + strerror(errno));
  HostFacts facts;
  facts.mtime = Seconds(sx.stx_mtime.tv_sec, path);
  // Linux keeps no settable creation time; the birth time is the nearest,
  // and without one the last-write time stands in.
  bool hasBirth = (sx.stx_mask & STATX_BTIME) && sx.stx_btime.tv_sec > 0;
  facts.ctime = hasBirth ? Seconds(sx.stx_btime.tv_sec, path) : facts.mtime;
  facts.writable = (sx.stx_mode & 0222) != 0;
  return facts;
}

Bytes ReadInput(const std::string& path, const std::string& key) {
  try {
    return ReadHostFile(path);
  } catch (const ReadError& e) {
    throw ManifestError("manifest: " + key + ": " + e.what());
  }
}

uint64_t PeVersion(const Bytes& data) {
  VS_FIXEDFILEINFO info{};
  if (data.empty() || !sfx::host::ReadFixedFileInfo(data.data(), data.size(), info)) return 0;
  return ((uint64_t)info.dwFileVersionMS << 32) | info.dwFileVersionLS;
}

// The stream, made here rather than by the payload writer so that progress
// can be shown file by file; it is checked by decoding it back.
Bytes Compress(const Bytes& data, int level, const std::string& name) {
  static const uint8_t kNoBytes[1] = {0};
  const uint8_t* p = data.empty() ? kNoBytes : data.data();
  Bytes stream;
  try {
    stream = EncodeStream(p, data.size(), level);
  } catch (const std::exception& e) {
    throw PayloadError("compressing " + name + ": " + e.what());
  }
  if (!VerifyStream(stream, p, data.size()))
    throw PayloadError("the stream of " + name + " does not decode back to it");
  return stream;
}

uint32_t Clamped(uint32_t t, const std::optional<uint32_t>& latest) { return latest && t > *latest ? *latest : t; }

// Where the file lay, as the removal log records it: for a relative source
// its folder relative to the manifest (".\\docs\\"), so that the setup does
// not depend on where the project lies; an absolute source keeps its folder,
// seen from Windows (Z:\\...).
std::string DefaultSourceFolder(const std::string& source) {
  fs::path parent = fs::path(source).parent_path();
  if (fs::path(source).is_absolute()) return HostFolderAsWindows(parent.lexically_normal().string());
  std::string rel = parent.lexically_normal().generic_string();
  std::string out = ".\\";
  if (rel.empty() || rel == ".") return out;
  for (char c : rel) out += c == '/' ? '\\' : c;
  if (out.back() != '\\') out += '\\';
  return out;
}

void AddToLists(std::vector<std::vector<uint32_t>>& lists, const std::vector<uint32_t>& which, uint32_t item) {
  for (uint32_t list : which) {
    if (lists.size() <= list) lists.resize(list + 1);
    lists[list].push_back(item);
  }
}

void AddFile(const Manifest& m, size_t i, int level, Catalogue& out) {
  const ManifestFile& f = m.files[i];
  const std::string key = "files[" + std::to_string(i) + "].source";
  std::string path = HostPathOf(m, f.source);
  Bytes data = ReadInput(path, key);
  HostFacts facts = StatFile(path);
  uint64_t version = f.version ? *f.version : PeVersion(data);

  FileEntry entry;
  entry.name = f.name;
  entry.ctime = Clamped(f.ctime.value_or(facts.ctime), m.latestTime);
  entry.mtime = Clamped(f.mtime.value_or(facts.mtime), m.latestTime);
  entry.attribute = f.attribute.value_or(kArchive | (facts.writable ? 0 : kReadOnly));
  if (f.readOnly) entry.attribute = (uint8_t)((entry.attribute & ~kReadOnly) | (*f.readOnly ? kReadOnly : 0));
  entry.versionMS = (uint32_t)(version >> 32);
  entry.versionLS = (uint32_t)version;

  Item item;
  item.name = f.name;
  item.destDir = f.dest;
  item.platformDir = f.platformDir;
  std::string folder = DefaultSourceFolder(f.source);
  bool isMain = m.mainProgram ? *m.mainProgram == f.name : i == 0;
  item.sourcePath = f.sourcePath ? *f.sourcePath : (isMain ? folder + f.name : folder);
  item.platformSpecific = f.platformSpecific ? 1 : 0;
  item.versionMS = entry.versionMS;
  item.versionLS = entry.versionLS;
  item.size = (uint32_t)data.size();

  entry.stream = Compress(data, level, f.name);
  AddToLists(out.project.components, f.components, (uint32_t)i);
  AddToLists(out.project.platforms, f.platforms, (uint32_t)i);
  out.files.push_back(std::move(entry));
  out.project.items.push_back(std::move(item));
}

void FillProject(const Manifest& m, Project& p) {
  p.project = m.project;
  p.mainProgram = m.mainProgram ? *m.mainProgram : m.files.front().name;
  p.mainInWindowsDir = m.mainInWindowsDir ? 1 : 0;
  p.extra = m.extra;
  // The stub needs component list 0 and platform list 1; three platform
  // lists is what catalogues usually hold.
  if (p.components.empty()) p.components.resize(1);
  for (const ManifestProgram& prog : m.programs)
    if (p.components.size() <= prog.component) p.components.resize(prog.component + 1);
  if (p.platforms.size() < 3) p.platforms.resize(3);
  if (m.installDirs) {
    p.installDirs = *m.installDirs;
  } else {
    p.installDirs.assign(p.platforms.size(), "");
    p.installDirs[1] = m.project + "\\";
  }
  // The stub starts a component's programs from the front of the list and
  // stops at the first of another component, so they go in component order.
  std::vector<ManifestProgram> programs = m.programs;
  std::stable_sort(programs.begin(), programs.end(),
                   [](const ManifestProgram& a, const ManifestProgram& b) { return a.component < b.component; });
  for (const ManifestProgram& prog : programs)
    p.programs.push_back({prog.name, prog.dir, prog.reserved, prog.component});
  if (m.block1File) p.block1 = ReadInput(HostPathOf(m, *m.block1File), "block1File");
  if (m.block2File) p.block2 = ReadInput(HostPathOf(m, *m.block2File), "block2File");
}

}  // namespace

std::string HostFolderAsWindows(const std::string& hostDir) {
  std::string out = "Z:";
  for (char c : hostDir) out += (c == '/') ? '\\' : c;
  if (out.back() != '\\') out += '\\';
  return out;
}

Catalogue BuildCatalogue(const Manifest& manifest, int level, const PackProgress& progress) {
  if (level < 0 || level > 12) throw PayloadError("compression level must be 0 to 12");
  Catalogue out;
  for (size_t i = 0; i < manifest.files.size(); ++i) {
    if (progress) progress(i, manifest.files.size(), manifest.files[i].name);
    AddFile(manifest, i, level, out);
  }
  FillProject(manifest, out.project);
  return out;
}

}  // namespace sfx::pack
