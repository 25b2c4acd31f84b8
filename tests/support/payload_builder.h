// Payloads for tests: a catalogue described in a few lines, written by the
// packer's payload writer, and placed where a stub finds it (appended to a
// copy of a built executable, or as "Data.bin").
//
//   CatalogueBuilder b;
//   b.File({"a.txt", "hello"}).File({"b.dat", big});
//   pack::Payload payload = b.Write();
//   std::string exe = WriteSetupExe(stubPath, payload.bytes, dir.path());
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pack/payload_writer.h"

namespace sfx::test {

// One file of the catalogue: its file-table entry and its item.
struct TestFile {
  TestFile(std::string n, std::string b) : name(std::move(n)), bytes(std::move(b)) {}
  TestFile(std::string n, std::string b, uint32_t c, uint32_t m, uint8_t attr)
      : name(std::move(n)), bytes(std::move(b)), ctime(c), mtime(m), attribute(attr) {}

  std::string name;
  std::string bytes;
  uint32_t ctime = 946684800;  // 2000-01-01 00:00:00 UTC
  uint32_t mtime = 978307200;  // 2001-01-01 00:00:00 UTC
  uint8_t attribute = 0x20;    // archive
  std::string destDir = "%inst%";
  std::string platformDir;
  std::string sourcePath = "D:\\proj\\";
  uint32_t platformSpecific = 0;
  uint32_t versionMS = 0;
  uint32_t versionLS = 0;
  // Written into the stream area as is (see pack::FileEntry::stream).
  std::optional<pack::Bytes> stream;
};

// A file with its destination directory and source path; the rest as in
// TestFile.
TestFile Plain(const std::string& name, const std::string& bytes, const std::string& dest = "%inst%",
               const std::string& source = "D:\\proj\\");
// A shared DLL of the "win32\" platform folder, bound for the system
// directory, with the file version the catalogue gives it.
TestFile SharedDll(const std::string& name, uint32_t versionMS, uint32_t versionLS,
                   const std::string& bytes);

// Builds a usable catalogue: every file goes into component 0 in the order
// added; platform-specific files go into platform list 1; there are three
// platform lists and one component list unless the lists are replaced.
class CatalogueBuilder {
 public:
  CatalogueBuilder();

  CatalogueBuilder& Project(const std::string& name);
  CatalogueBuilder& MainProgram(const std::string& name);
  CatalogueBuilder& File(const TestFile& file);
  CatalogueBuilder& Program(const std::string& name, const std::string& dir, uint32_t component);
  CatalogueBuilder& Components(const std::vector<std::vector<uint32_t>>& lists);
  CatalogueBuilder& Platforms(const std::vector<std::vector<uint32_t>>& lists);

  // The description so far, to adjust beyond what the builder offers.
  pack::Catalogue& catalogue() { return catalogue_; }
  const pack::Catalogue& catalogue() const { return catalogue_; }

  pack::Payload Write(const pack::PayloadOptions& options = {}) const;

 private:
  pack::Catalogue catalogue_;
  bool ownComponents_ = false;
  bool ownPlatforms_ = false;
};

// Bytes of a string and back.
pack::Bytes ToBytes(const std::string& s);
std::string ToString(const pack::Bytes& b);

// Writes a setup executable: the stub at stubPath with the payload appended
// and its locator patched. Returns the host path of the new file.
std::string WriteSetupExe(const std::string& stubPath, const pack::Bytes& payload,
                          const std::string& hostDir, const std::string& name = "setup.exe");

// Writes the payload as "Data.bin" in hostDir; returns its host path.
std::string WriteDataBin(const std::string& hostDir, const pack::Bytes& payload);

// The Windows form of a host directory, with a trailing "\" (for example
// "Z:\tmp\sfxkit-test-x\"), as the engine's m_strModuleDir holds it.
std::string WindowsDir(const std::string& hostDir);

}  // namespace sfx::test
