#include "support/payload_builder.h"

#include "pack/setup_writer.h"
#include "platform/host/prefix.h"

namespace sfx::test {

TestFile Plain(const std::string& name, const std::string& bytes, const std::string& dest,
               const std::string& source) {
  TestFile f{name, bytes};
  f.destDir = dest;
  f.sourcePath = source;
  return f;
}

TestFile SharedDll(const std::string& name, uint32_t versionMS, uint32_t versionLS,
                   const std::string& bytes) {
  TestFile f{name, bytes};
  f.destDir = "%sysdir%";
  f.platformDir = "win32\\";
  f.sourcePath = "D:\\proj\\win32\\";
  f.versionMS = versionMS;
  f.versionLS = versionLS;
  return f;
}

CatalogueBuilder::CatalogueBuilder() {
  catalogue_.project.project = "Test project";
  catalogue_.project.components = {{}};
  catalogue_.project.platforms = {{}, {}, {}};
  catalogue_.project.installDirs = {"", "C:\\Program Files\\Test\\", ""};
}

CatalogueBuilder& CatalogueBuilder::Project(const std::string& name) {
  catalogue_.project.project = name;
  return *this;
}

CatalogueBuilder& CatalogueBuilder::MainProgram(const std::string& name) {
  catalogue_.project.mainProgram = name;
  return *this;
}

CatalogueBuilder& CatalogueBuilder::File(const TestFile& file) {
  pack::FileEntry entry;
  entry.name = file.name;
  entry.data = ToBytes(file.bytes);
  entry.ctime = file.ctime;
  entry.mtime = file.mtime;
  entry.attribute = file.attribute;
  entry.versionMS = file.versionMS;
  entry.versionLS = file.versionLS;
  entry.stream = file.stream;
  catalogue_.files.push_back(entry);

  pack::Item item;
  item.name = file.name;
  item.destDir = file.destDir;
  item.platformDir = file.platformDir;
  item.sourcePath = file.sourcePath;
  item.platformSpecific = file.platformSpecific;
  item.versionMS = file.versionMS;
  item.versionLS = file.versionLS;
  item.size = (uint32_t)file.bytes.size();
  catalogue_.project.items.push_back(item);

  uint32_t index = (uint32_t)catalogue_.project.items.size() - 1;
  if (!ownComponents_) catalogue_.project.components[0].push_back(index);
  if (!ownPlatforms_ && file.platformSpecific != 0) catalogue_.project.platforms[1].push_back(index);
  return *this;
}

CatalogueBuilder& CatalogueBuilder::Program(const std::string& name, const std::string& dir,
                                            uint32_t component) {
  catalogue_.project.programs.push_back({name, dir, 0, component});
  return *this;
}

CatalogueBuilder& CatalogueBuilder::Components(const std::vector<std::vector<uint32_t>>& lists) {
  catalogue_.project.components = lists;
  ownComponents_ = true;
  return *this;
}

CatalogueBuilder& CatalogueBuilder::Platforms(const std::vector<std::vector<uint32_t>>& lists) {
  catalogue_.project.platforms = lists;
  ownPlatforms_ = true;
  return *this;
}

pack::Payload CatalogueBuilder::Write(const pack::PayloadOptions& options) const {
  return pack::WritePayload(catalogue_, options);
}

pack::Bytes ToBytes(const std::string& s) { return pack::Bytes(s.begin(), s.end()); }

std::string ToString(const pack::Bytes& b) { return std::string(b.begin(), b.end()); }

std::string WriteSetupExe(const std::string& stubPath, const pack::Bytes& payload,
                          const std::string& hostDir, const std::string& name) {
  std::string path = hostDir + "/" + name;
  pack::WriteSetupExecutable(stubPath, payload, path);
  return path;
}

std::string WriteDataBin(const std::string& hostDir, const pack::Bytes& payload) {
  return pack::WriteDataFile(hostDir, payload);
}

std::string WindowsDir(const std::string& hostDir) {
  std::string dir = sfx::host::MapToWindows(hostDir);
  if (dir.empty() || dir.back() != '\\') dir += '\\';
  return dir;
}

}  // namespace sfx::test
