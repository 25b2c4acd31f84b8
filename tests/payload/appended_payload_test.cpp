// Payloads appended to real executables. Copies of payload_probe (a program
// built from the engine's libraries that opens the payload as the stub
// does) get a payload appended and their PayloadLocator patched by the setup
// writer, and run as child processes: the offset is read from the copy's
// own locator and the payload from the copy's own file.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "support/catalogue_text.h"
#include "support/engine_test_util.h"
#include "pack/setup_writer.h"
#include "support/payload_builder.h"
#include "support/temp_dir.h"

namespace sfx::test {
namespace {

struct ChildRun {
  int status = -1;
  std::string out;
};

// Runs a program with arguments (single-quoted for the shell) and collects
// its standard output.
ChildRun RunProgram(const std::string& path, const std::string& args = "") {
  ChildRun r;
  std::string command = "'" + path + "' " + args + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return r;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  int status = pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// The probe's exit status and output after loading this catalogue from a
// setup in hostDir.
std::string Loaded(const std::string& hostDir, const CatalogueBuilder& b, const pack::PayloadLayout& layout) {
  return "0: module-dir: " + WindowsDir(hostDir) + "\n" + DescribeCatalogue(b.catalogue(), layout);
}

std::string Outcome(const ChildRun& r) { return std::to_string(r.status) + ": " + r.out; }

class AppendedPayloadTest : public ::testing::Test {
 protected:
  ScopedPrefix prefix_;
  TempDir dir_;
};

TEST_F(AppendedPayloadTest, SetupExecutableLoadsItsOwnPayload) {
  CatalogueBuilder b;
  b.Project("Appended").MainProgram("App.exe");
  b.File({"App.exe", "main program"}).File({"Lib.dll", std::string(100000, 'L'), 5, 6, 0x01});
  b.Program("Post.exe", "%inst%", 0);
  b.catalogue().project.block2 = ToBytes("second block");
  pack::Payload payload = b.Write();
  std::string exe = WriteSetupExe(SFX_PROBE_PATH, payload.bytes, dir_.path());

  EXPECT_EQ(Outcome(RunProgram(exe)), Loaded(dir_.path(), b, payload.layout));
}

// The example geometry behind an executable: every entry is read from the
// locator's offset plus its start, and extracts byte for byte.
TEST_F(AppendedPayloadTest, ExampleGeometryExtractsFromTheLocatorOffset) {
  CatalogueBuilder b = ExampleGeometry();
  pack::Payload payload = b.Write();
  std::string exe = WriteSetupExe(SFX_PROBE_PATH, payload.bytes, dir_.path());
  std::string image = ReadFile(exe);
  pack::Bytes imageBytes = ToBytes(image);
  pack::LocatorFields fields = pack::ReadPayloadLocator(imageBytes, pack::FindPayloadLocator(imageBytes));
  ASSERT_EQ((uint64_t)fields.offset + fields.size, image.size());
  ASSERT_EQ(fields.size, payload.bytes.size());
  // The stream of the entry with start 4 begins at the locator's offset + 4.
  EXPECT_EQ((uint8_t)image[fields.offset + 4], payload.bytes[4]);
  EXPECT_EQ(image.substr(fields.offset), ToString(payload.bytes));

  std::string out = dir_ / "out";
  ASSERT_EQ(system(("mkdir '" + out + "'").c_str()), 0);
  std::string outDir = WindowsDir(out);
  ChildRun r = RunProgram(exe, "extract '" + outDir + "'");
  ASSERT_EQ(r.status, 0) << r.out;
  std::string log;
  for (const pack::FileEntry& f : b.catalogue().files) {
    EXPECT_EQ(ReadFile(out + "/" + f.name), ToString(f.data)) << f.name;
    log += "file:" + outDir + f.name + "\n";
  }
  EXPECT_NE(r.out.find(log), std::string::npos) << r.out;
}

// Both the probe and the real stub carry exactly one PayloadLocator, so the
// setup writer can patch either.
TEST_F(AppendedPayloadTest, BuiltExecutablesHoldOneLocator) {
  for (const char* path : {SFX_PROBE_PATH, SFX_STUB_PATH}) {
    SCOPED_TRACE(path);
    pack::Bytes image = ToBytes(ReadFile(path));
    size_t at = 0;
    EXPECT_NO_THROW(at = pack::FindPayloadLocator(image));
    pack::LocatorFields fields = pack::ReadPayloadLocator(image, at);
    EXPECT_EQ(fields.offset, 0u);
    EXPECT_EQ(fields.size, 0u);
  }
}

}  // namespace
}  // namespace sfx::test
