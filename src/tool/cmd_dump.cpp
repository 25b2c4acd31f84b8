// sfx dump: every member of every catalogue object, the locator and the
// payload's layout.
#include <iostream>
#include <sstream>

#include "tool/catalogue_view.h"
#include "tool/commands.h"

namespace sfx::tool {
namespace {

using nlohmann::json;

struct DumpOptions {
  std::string setup;
  bool json = false;
  bool payloadOnly = false;
  std::string codePage;
};

std::string Q(const std::string& s) { return "\"" + CatalogueText(s) + "\""; }

std::string Indices(const std::vector<uint32_t>& list) {
  std::string out;
  for (uint32_t v : list) out += " " + std::to_string(v);
  return out.empty() ? " (empty)" : out;
}

void DumpLocator(std::ostream& os, const pack::SetupFile& s) {
  const pack::LocatorInfo& loc = s.locator;
  if (!loc.present)
    os << "locator: none (the file is taken as a payload)\n";
  else
    os << "locator: at file offset " << loc.position << ", word 0x" << std::hex << loc.word << std::dec
       << ", payload offset " << loc.offset << ", payload size " << loc.size << "\n";
  os << "payload: " << s.payloadPath << " from file offset " << s.payloadStart << ", " << s.payloadSize()
     << " bytes\n";
  if (s.recordLength != 0)
    os << "integrity record: at file offset " << s.payloadEnd << ", " << s.recordLength << " bytes\n";
  else
    os << "integrity record: none\n";
}

void DumpLayout(std::ostream& os, const pack::LoadedLayout& l) {
  os << "layout:\n"
     << "  L (stream area length)  " << l.dataLength << "  stream area [4, " << 4 + (uint64_t)l.dataLength << ")\n"
     << "  A (file-table length)   " << l.fileTableField << "  at payload offset " << 4 + (uint64_t)l.dataLength << "\n"
     << "  archive 1 (file table)  offset " << l.fileTableOffset << ", " << l.fileTableLength << " bytes\n"
     << "  archive 2 (project)     offset " << l.projectOffset << ", " << l.projectLength << " bytes\n"
     << "  payload end             " << l.payloadSize << "\n";
}

void DumpFileTable(std::ostream& os, const std::vector<pack::TableEntry>& files) {
  os << "file table: " << files.size() << " entries\n";
  for (size_t i = 0; i < files.size(); ++i) {
    const pack::TableEntry& e = files[i];
    char attr[8];
    snprintf(attr, sizeof attr, "0x%02X", e.attribute);
    os << "  [" << i << "] m_strName " << Q(e.name) << "\n"
       << "      m_ctime " << e.ctime << " (" << TimeText(e.ctime) << ")  m_mtime " << e.mtime << " ("
       << TimeText(e.mtime) << ")  m_attribute " << attr << "\n"
       << "      m_dwVersionMS/LS 0x" << std::hex << e.versionMS << "/0x" << e.versionLS << std::dec << " ("
       << VersionText(e.versionMS, e.versionLS) << ")  m_dwStart " << e.start << "  m_dwEnd " << e.end << "\n";
  }
}

void DumpBlock(std::ostream& os, const char* name, const std::vector<uint8_t>& block) {
  os << "  " << name << " " << block.size() << " bytes";
  if (!block.empty()) os << ": " << Hex(block);
  os << "\n";
}

void DumpProject(std::ostream& os, const pack::Project& p) {
  os << "project:\n"
     << "  m_strProject " << Q(p.project) << "\n"
     << "  m_strMainProgram " << Q(p.mainProgram) << "\n"
     << "  m_wMainInWindowsDir " << p.mainInWindowsDir << "\n"
     << "  m_strExtra " << Q(p.extra) << "\n"
     << "  m_arrInstallDirs: " << p.installDirs.size() << "\n";
  for (size_t i = 0; i < p.installDirs.size(); ++i) os << "    [" << i << "] " << Q(p.installDirs[i]) << "\n";
  os << "  m_arrPrograms: " << p.programs.size() << "\n";
  for (size_t i = 0; i < p.programs.size(); ++i) {
    const pack::Program& g = p.programs[i];
    os << "    [" << i << "] m_strName " << Q(g.name) << "  m_strDir " << Q(g.dir) << "  m_dwReserved "
       << g.reserved << "  m_nComponent " << g.component << "\n";
  }
  os << "  m_arrItems: " << p.items.size() << "\n";
  for (size_t i = 0; i < p.items.size(); ++i) {
    const pack::Item& it = p.items[i];
    os << "    [" << i << "] m_strName " << Q(it.name) << "  m_strDestDir " << Q(it.destDir)
       << "  m_strPlatformDir " << Q(it.platformDir) << "\n"
       << "        m_strSourcePath " << Q(it.sourcePath) << "  m_bPlatformSpecific " << it.platformSpecific
       << "  version " << VersionText(it.versionMS, it.versionLS) << "  m_dwSize " << it.size << "\n";
  }
  os << "  m_arrComponents: " << p.components.size() << "\n";
  for (size_t i = 0; i < p.components.size(); ++i) os << "    [" << i << "]" << Indices(p.components[i]) << "\n";
  os << "  m_arrPlatforms: " << p.platforms.size() << "\n";
  for (size_t i = 0; i < p.platforms.size(); ++i) os << "    [" << i << "]" << Indices(p.platforms[i]) << "\n";
  DumpBlock(os, "block 1", p.block1);
  DumpBlock(os, "block 2", p.block2);
}

void RunDump(const DumpOptions& o) {
  UseCatalogueCodePage(o.codePage);
  pack::SetupFile setup = OpenSetup(o.setup, o.payloadOnly);
  pack::LoadedPayload p = LoadCatalogue(setup);
  if (o.json) {
    json files = json::array();
    for (const pack::TableEntry& e : p.files) files.push_back(EntryJson(e));
    PrintJson({{"file", setup.path}, {"locator", LocatorJson(setup)}, {"layout", LayoutJson(p.layout)},
               {"integrityRecord", IntegrityJson(setup)},
               {"fileTable", files}, {"project", ProjectJson(p.project)}});
    return;
  }
  std::ostringstream os;
  DumpLocator(os, setup);
  DumpLayout(os, p.layout);
  DumpFileTable(os, p.files);
  DumpProject(os, p.project);
  std::cout << os.str();
}

}  // namespace

void AddDumpCommand(CLI::App& app, int* status) {
  auto o = std::make_shared<DumpOptions>();
  CLI::App* cmd = app.add_subcommand("dump", "Show the whole catalogue, the locator and the payload's layout");
  cmd->add_option("SETUP", o->setup, "Setup executable, bare payload or Data.bin")->required();
  HelpFooter(cmd, "sfx dump app-setup --json", "");
  cmd->add_flag("--json", o->json, "Print JSON");
  cmd->add_flag("--payload", o->payloadOnly, "Take the whole file as a payload, even if it holds a locator");
  AddCodePageOption(cmd, o->codePage);
  cmd->callback([o, status] {
    RunDump(*o);
    *status = 0;
  });
}

}  // namespace sfx::tool
