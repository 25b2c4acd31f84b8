// Writes the seed corpora of the fuzz targets: real, valid inputs made by the
// project's own writers (the stream encoder, the payload and setup writers),
// plus small fonts laid out as the font reader expects, the test DLLs and
// manifests. Deterministic, so the committed corpora can be made again:
//
//   fuzz_make_seeds OUTDIR SOURCE_ROOT
//
// OUTDIR/<target>/<seed> for every target; existing seeds are overwritten.
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "pack/encoder.h"
#include "pack/payload_writer.h"
#include "pack/setup_writer.h"
#include "support/font_builder.h"

namespace {

using sfx::pack::Bytes;
using sfx::pack::Catalogue;

std::string g_out;

void Save(const std::string& target, const std::string& name, const Bytes& bytes) {
  std::string dir = g_out + "/" + target;
  mkdir(g_out.c_str(), 0755);
  mkdir(dir.c_str(), 0755);
  std::ofstream f(dir + "/" + name, std::ios::binary);
  f.write((const char*)bytes.data(), (std::streamsize)bytes.size());
  if (!f) {
    fprintf(stderr, "cannot write %s/%s\n", dir.c_str(), name.c_str());
    exit(1);
  }
}

void Save(const std::string& target, const std::string& name, const std::string& text) {
  Save(target, name, Bytes(text.begin(), text.end()));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    fprintf(stderr, "cannot read %s\n", path.c_str());
    exit(1);
  }
  std::stringstream ss;
  ss << f.rdbuf();
  std::string s = ss.str();
  return Bytes(s.begin(), s.end());
}

Bytes FromText(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Sample file contents: text, repeats at many distances, noise, and runs.
std::vector<Bytes> Samples() {
  std::mt19937 rng(12345);
  std::vector<Bytes> out;
  out.push_back(Bytes());
  out.push_back(FromText("a"));
  out.push_back(FromText("Hello, world! Hello, world! Hello, world!\r\n"));
  std::string text;
  const char* words[] = {"setup ", "file ", "install ", "component ", "%sysdir%", "\\", "the ", "DLL "};
  while (text.size() < 6000) text += words[rng() % 8];
  out.push_back(FromText(text));
  Bytes noise(3000);
  for (auto& b : noise) b = (uint8_t)rng();
  out.push_back(noise);
  Bytes runs;
  while (runs.size() < 40000) runs.insert(runs.end(), 1 + rng() % 300, (uint8_t)(rng() % 4));
  out.push_back(runs);
  Bytes mixed;
  while (mixed.size() < 5000) {
    if (mixed.size() > 8 && rng() % 3) {
      size_t dist = 1 + rng() % mixed.size(), len = 3 + rng() % 40;
      for (size_t i = 0; i < len; ++i) mixed.push_back(mixed[mixed.size() - dist]);
    } else {
      mixed.push_back((uint8_t)('a' + rng() % 12));
    }
  }
  out.push_back(mixed);
  return out;
}

void InflateSeeds() {
  std::vector<Bytes> samples = Samples();
  const int levels[] = {0, 1, 6, 12};
  for (size_t i = 0; i < samples.size(); ++i)
    for (int level : levels) {
      if (samples[i].size() > 20000 && level != 12) continue;
      Bytes stream = sfx::pack::EncodeStream(samples[i].data(), samples[i].size(), level);
      Save("inflate", "sample" + std::to_string(i) + "-level" + std::to_string(level), stream);
    }
}

// Catalogues of several shapes: one file, the four-file example with a
// stream-less entry and platform lists, programs and data blocks, shared
// files and fonts, long strings.
std::vector<Catalogue> Catalogues() {
  std::vector<Catalogue> out;
  std::vector<Bytes> samples = Samples();

  Catalogue one;
  one.files.push_back({"readme.txt", samples[2], 946684800, 978307200, 0x20, 0, 0, std::nullopt});
  one.project.project = "One";
  one.project.mainProgram = "readme.txt";
  one.project.installDirs = {"", "One\\", ""};
  one.project.items.push_back({"readme.txt", "%inst%", "", "D:\\proj\\", 0, 0, 0, (uint32_t)samples[2].size()});
  one.project.components = {{0}};
  one.project.platforms = {{}, {}, {}};
  out.push_back(one);

  Catalogue four;
  four.project.project = "Four files";
  four.project.mainProgram = "App.exe";
  four.project.installDirs = {"", "C:\\Program Files\\Four\\", ""};
  const char* names[] = {"Readme.txt", "App.exe", "Lib.dll", "Data.dat"};
  for (int i = 0; i < 4; ++i) {
    sfx::pack::FileEntry f{names[i], samples[3 + i % 3], (uint32_t)(1000 + i), (uint32_t)(2000 + i),
                           (uint8_t)(i == 2 ? 0x21 : 0x20), 0, 0, std::nullopt};
    if (i == 0) f.stream = Bytes();  // an entry without a stream
    if (i == 2) {
      f.versionMS = 0x00010002;
      f.versionLS = 0x00030004;
    }
    four.files.push_back(f);
    four.project.items.push_back({names[i], i == 2 ? "%sysdir%" : "%inst%", i == 3 ? "win32\\" : "",
                                  "D:\\proj\\", 1, f.versionMS, f.versionLS, (uint32_t)f.data.size()});
  }
  four.project.components = {{1, 2, 3}, {}, {}};
  four.project.platforms = {{}, {1, 2, 3}, {}};
  four.project.programs = {{"Tool.exe", "%inst%", 0, 0}, {"Late.exe", "", 7, 1}};
  four.project.block1 = FromText("first block");
  four.project.extra = "third string";
  out.push_back(four);

  Catalogue rich;
  rich.project.project = std::string(300, 'P');  // a string with the 3-byte prefix
  rich.project.mainProgram = "setup.sh";
  rich.project.mainInWindowsDir = 1;
  rich.project.installDirs = {"", "%programfiles%\\Rich\\", "", "x"};
  const char* dests[] = {"%font%", "%prefs%", "%sysdir%\\sub", "%inst%\\a\\b", "D:\\abs\\", "%data%", "%temp%"};
  for (int i = 0; i < 7; ++i) {
    std::string name = "f" + std::to_string(i) + (i == 0 ? ".ttf" : ".bin");
    rich.files.push_back({name, samples[i % samples.size()], 0, (uint32_t)(i ? 1234567 : 0), (uint8_t)(1 << (i % 6)),
                          0, 0, std::nullopt});
    rich.project.items.push_back({name, dests[i], i % 2 ? "win32\\" : "win16\\", "E:\\src\\", (uint32_t)(i % 2), 0, 0, 1});
  }
  rich.project.components = {{0, 1, 2, 3, 4, 5, 6}, {6, 5}};
  rich.project.platforms = {{0}, {1, 3, 5}, {2}};
  rich.project.programs = {{"a.exe", "%inst%", 0, 0}, {"b.exe", "%sysdir%", 0, 0}, {"c.exe", "", 0, 1}};
  rich.project.block1 = Bytes(64, 0xAB);
  rich.project.block2 = FromText("second block");
  out.push_back(rich);
  return out;
}

void CatalogueSeeds() {
  std::vector<Catalogue> cats = Catalogues();
  for (size_t c = 0; c < cats.size(); ++c) {
    std::string tag = "catalogue" + std::to_string(c);
    sfx::pack::Payload payload = sfx::pack::WritePayload(cats[c], sfx::pack::PayloadOptions{6, std::nullopt});
    const sfx::pack::PayloadLayout& l = payload.layout;
    Save("open_payload", tag, payload.bytes);
    Save("file_table", tag, Bytes(payload.bytes.begin() + l.fileTableOffset,
                                  payload.bytes.begin() + l.fileTableOffset + l.fileTableLength));
    Save("project", tag, Bytes(payload.bytes.begin() + l.projectOffset, payload.bytes.end()));
    Save("setup", tag + "-payload", payload.bytes);
    // A setup executable: a small stand-in for the stub that carries the
    // locator block, with the payload appended by the setup writer.
    Bytes stub(512, 0);
    const char mz[] = "MZ this stands in for the stub's code";
    std::copy(mz, mz + sizeof mz, stub.begin());
    Bytes magic = sfx::pack::PayloadLocatorMagic();
    std::copy(magic.begin(), magic.end(), stub.begin() + 200);
    Save("setup", tag + "-exe", sfx::pack::MakeSetupImage(stub, payload.bytes));
  }
}

// Fonts laid out as in the naming-table reader; names of both platforms.
using sfx::test::FontFile;
using sfx::test::NameTable;
using sfx::test::WindowsName;

void FontSeeds() {
  std::string head(54, '\0');
  Save("font_name", "mac-full-name",
       FontFile({{"head", head}, {"name", NameTable({{1, 1, "Abc"}, {1, 4, "Abc Regular"}})}}));
  Save("font_name", "mac-and-windows",
       FontFile({{"OS/2", std::string(96, '\x01')}, {"cmap", std::string(20, '\0')}, {"head", head},
                 {"name", NameTable({WindowsName(4, "Win Name"), {1, 4, "First"}, {1, 4, "Last Wins"}})}}));
  Save("font_name", "windows-only",
       FontFile({{"name", NameTable({WindowsName(1, "Fam"), WindowsName(4, "Fam Bold")})}}));
  std::vector<std::pair<std::string, std::string>> many;
  for (int i = 0; i < 41; ++i) many.push_back({"t" + std::to_string(100 + i).substr(0, 3), std::string(4, (char)i)});
  many.push_back({"name", NameTable({{1, 4, "Too Late"}})});
  Save("font_name", "name-after-forty", FontFile(many));
  Save("font_name", "long-name", FontFile({{"name", NameTable({{1, 4, std::string(260, 'L')}, {1, 4, "Short"}})}}));
}

void PeSeeds(const std::string& root) {
  const char* dlls[] = {"tests/platform/data/ver32.dll", "tests/platform/data/ver64.dll",
                        "tests/platform/data/noversion32.dll", "tests/platform/data/nores32.dll",
                        "examples/hello/files/hello.dll"};
  for (const char* rel : dlls) {
    std::string name = rel;
    name = name.substr(name.rfind('/') + 1);
    Save("pe_version", name, ReadFile(root + "/" + rel));
  }
}

void ManifestSeeds(const std::string& root) {
  Save("manifest", "hello.json", ReadFile(root + "/examples/hello/manifest.json"));
  Save("manifest", "minimal.json", std::string(R"({"files":[{"source":"a.txt"}]})"));
  Save("manifest", "every-key.json", std::string(R"({
  "project": "Every key",
  "mainProgram": "app.exe",
  "mainInWindowsDir": false,
  "installDirs": ["", "Every\\", ""],
  "extra": "x",
  "block1File": "b1.bin",
  "block2File": "b2.bin",
  "files": [
    {"source": "bin/app.exe", "name": "app.exe", "dest": "%inst%", "platformDir": "win32\\",
     "sourcePath": "D:\\src\\", "platformSpecific": true, "components": [0, 1], "platforms": [1, 2],
     "version": "1.2.3.4", "attribute": 33, "readOnly": true, "ctime": 946684800, "mtime": 978307200},
    {"source": "shared.dll", "dest": "%sysdir%"},
    {"source": "f.ttf", "dest": "%font%"}
  ],
  "programs": [
    {"name": "post.exe", "dir": "%inst%", "component": 0, "reserved": 7}
  ]
})"));
  Save("manifest", "windows-main.json",
       std::string(R"({"project":"W","mainProgram":"notepad.exe","mainInWindowsDir":true,)"
                   R"("files":[{"source":"x/y/z.txt","dest":"%prefs%\\sub"}]})"));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s OUTDIR SOURCE_ROOT\n", argv[0]);
    return 2;
  }
  g_out = argv[1];
  std::string root = argv[2];
  InflateSeeds();
  CatalogueSeeds();
  FontSeeds();
  PeSeeds(root);
  ManifestSeeds(root);
  return 0;
}
