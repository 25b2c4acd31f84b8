// Replays every committed seed and every regression input of the fuzz
// targets through the same harness code, in this build's sanitizers. A
// regression input is one a fuzzer once failed on; its fix keeps it here.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "support/temp_dir.h"

int SfxFuzz_inflate(const uint8_t* data, size_t size);
int SfxFuzz_file_table(const uint8_t* data, size_t size);
int SfxFuzz_project(const uint8_t* data, size_t size);
int SfxFuzz_open_payload(const uint8_t* data, size_t size);
int SfxFuzz_font_name(const uint8_t* data, size_t size);
int SfxFuzz_pe_version(const uint8_t* data, size_t size);
int SfxFuzz_manifest(const uint8_t* data, size_t size);
int SfxFuzz_setup(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

struct Target {
  const char* name;
  int (*run)(const uint8_t*, size_t);
};
void PrintTo(const Target& t, std::ostream* os) { *os << t.name; }

const Target kTargets[] = {
    {"inflate", SfxFuzz_inflate},         {"file_table", SfxFuzz_file_table},
    {"project", SfxFuzz_project},         {"open_payload", SfxFuzz_open_payload},
    {"font_name", SfxFuzz_font_name},     {"pe_version", SfxFuzz_pe_version},
    {"manifest", SfxFuzz_manifest},       {"setup", SfxFuzz_setup},
};

std::vector<fs::path> Inputs(const std::string& target, const char* kind) {
  std::vector<fs::path> files;
  fs::path dir = fs::path(SFX_FUZZ_DIR) / kind / target;
  if (!fs::is_directory(dir)) return files;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.is_regular_file() && e.path().filename().string()[0] != '.') files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

class Replay : public ::testing::TestWithParam<Target> {};

TEST_P(Replay, SeedsAndRegressionInputsPass) {
  const Target& t = GetParam();
  sfx::test::ScopedPrefix prefix;  // the harnesses that run the engine use it
  std::vector<fs::path> seeds = Inputs(t.name, "corpus");
  EXPECT_FALSE(seeds.empty()) << "no seeds for " << t.name;
  std::vector<fs::path> all = seeds;
  for (const fs::path& p : Inputs(t.name, "regressions")) all.push_back(p);
  for (const fs::path& p : all) {
    SCOPED_TRACE(p.string());
    std::ifstream f(p, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    try {
      t.run(bytes.data(), bytes.size());
    } catch (const sfx::fuzz::FuzzFailure& e) {
      ADD_FAILURE() << e.what();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Fuzz, Replay, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<Target>& info) { return std::string(info.param.name); });

}  // namespace
