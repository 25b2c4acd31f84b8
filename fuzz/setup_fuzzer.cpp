// The tool's reading of a setup file from outside: locating the payload,
// `verify`, the `list`/`dump` views and `extract`, through the library
// functions the commands call. Checks:
// - verify never throws and reports every payload the reader refuses;
// - a setup that verifies clean is one the stub itself opens;
// - listings keep every catalogue string on one line;
// - extraction creates nothing outside the folder it is given, and only
//   plain files and folders inside it.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/exceptions.h"
#include "fuzz_support.h"
#include "install/installer.h"
#include "pack/extract.h"
#include "pack/setup_reader.h"
#include "pack/verify.h"
#include "platform/host/prefix.h"
#include "tool/catalogue_view.h"

namespace {

using namespace sfx;

const uint64_t kMaxExtracted = 8u << 20;

struct Dirs {
  std::string setup;    // holds the setup file
  std::string module;   // the stub's directory for the cross-check
  std::string sandbox;  // holds only the extraction folder and a marker
};

const Dirs& Folders() {
  static const Dirs dirs = [] {
    fuzz::EnsurePrefix();
    Dirs d{fuzz::ScratchDir() + "/setup", fuzz::ScratchDir() + "/module", fuzz::ScratchDir() + "/sandbox"};
    mkdir(d.setup.c_str(), 0755);
    mkdir(d.module.c_str(), 0755);
    mkdir(d.sandbox.c_str(), 0755);
    static const uint8_t marker[] = "marker";
    fuzz::WriteHostFile(d.sandbox + "/marker", marker, sizeof marker);
    return d;
  }();
  return dirs;
}

bool StubOpens(const uint8_t* payload, size_t size) {
  fuzz::WriteHostFile(Folders().module + "/Data.bin", payload, size);
  CInstaller engine;
  engine.m_strModuleDir = (host::MapToWindows(Folders().module) + "\\").c_str();
  try {
    engine.OpenPayload();
    return true;
  } catch (CException* e) {
    e->Delete();
    return false;
  }
}

void CheckLine(const std::string& text) {
  for (unsigned char c : text) FUZZ_CHECK(c >= 0x20 && c != 0x7F, "a listed string breaks its line");
}

// The `list` and `dump` views of a loaded catalogue.
void List(const pack::SetupFile& setup, const pack::LoadedPayload& p) {
  nlohmann::json all = nlohmann::json::array();
  size_t rows = std::max(p.files.size(), p.project.items.size());
  for (size_t i = 0; i < rows; ++i) {
    if (i < p.files.size()) {
      CheckLine(tool::Printable(p.files[i].name));
      all.push_back(tool::EntryJson(p.files[i]));
    }
    if (i < p.project.items.size()) {
      CheckLine(tool::Printable(p.project.items[i].destDir));
      all.push_back(tool::ItemJson(p.project.items[i]));
    }
    for (const std::string& flag : tool::ItemFlags(p.project, i)) CheckLine(flag);
    tool::ComponentsOf(p.project, i);
  }
  all.push_back(tool::ProjectJson(p.project));
  all.push_back(tool::LayoutJson(p.layout));
  all.push_back(tool::LocatorJson(setup));
  std::string text = all.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  FUZZ_CHECK(nlohmann::json::accept(text), "dump output does not parse as JSON");
}

// Every name below dir, checked to be a plain file or folder.
void Walk(const std::string& dir, size_t& count) {
  DIR* d = opendir(dir.c_str());
  FUZZ_CHECK(d != nullptr, "extraction folder cannot be read");
  while (struct dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = dir + "/" + name;
    struct stat st;
    FUZZ_CHECK(lstat(path.c_str(), &st) == 0, "entry vanished");
    FUZZ_CHECK(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode), "extraction made something other than files and folders");
    ++count;
    if (S_ISDIR(st.st_mode)) Walk(path, count);
  }
  closedir(d);
}

void Extract(const pack::SetupFile& setup, const pack::LoadedPayload& p) {
  const Dirs& dirs = Folders();
  std::string out = dirs.sandbox + "/out";
  pack::ExtractReport report = pack::ExtractSetup(setup, p, out, pack::ExtractOptions{});
  // The sandbox holds the marker and the folder, nothing more.
  size_t inSandbox = 0;
  DIR* d = opendir(dirs.sandbox.c_str());
  while (struct dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    FUZZ_CHECK(name == "marker" || name == "out", "extraction wrote beside its folder: " + name);
    ++inSandbox;
  }
  closedir(d);
  FUZZ_CHECK(inSandbox == 2, "extraction folder or marker missing");
  size_t made = 0;
  Walk(out, made);
  FUZZ_CHECK(made >= report.files.size(), "reported files are missing");
  for (const pack::ExtractedFile& f : report.files) {
    FUZZ_CHECK(!f.path.empty() && f.path[0] != '/', "extracted path is not relative");
    FUZZ_CHECK(("/" + f.path + "/").find("/../") == std::string::npos, "extracted path climbs out");
  }
  fuzz::RemoveTree(out);
}

}  // namespace

SFX_FUZZ_TARGET(setup) {
  const Dirs& dirs = Folders();
  std::string path = dirs.setup + "/setup.exe";
  fuzz::WriteHostFile(path, data, size);
  pack::SetupFile setup;
  try {
    setup = pack::ReadSetupFile(path);
  } catch (const pack::ReadError&) {
    return 0;
  }

  pack::VerifyReport report = pack::VerifySetup(setup);
  pack::LoadedPayload loaded;
  try {
    loaded = pack::LoadPayload(setup.payload(), setup.payloadSize());
  } catch (const pack::ReadError&) {
    FUZZ_CHECK(!report.problems.empty(), "verify passed a payload the reader refuses");
    return 0;
  }
  if (report.problems.empty())
    FUZZ_CHECK(StubOpens(setup.payload(), setup.payloadSize()), "verify passed a setup the stub refuses");
  List(setup, loaded);
  if (report.decodedBytes <= kMaxExtracted) Extract(setup, loaded);
  return 0;
}
