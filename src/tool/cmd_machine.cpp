// The emulated Windows machine: sfx prefix init|show, sfx reg query,
// sfx reboot.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "platform/byte_order.h"
#include "platform/host/code_page.h"
#include "platform/host/prefix.h"
#include "platform/host/registry_view.h"
#include "tool/catalogue_view.h"
#include "tool/commands.h"
#include "tool/machine_snapshot.h"
#include "tool/tool_error.h"

namespace sfx::tool {
namespace {

using nlohmann::json;

const char kSessionManager[] = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager";
const char kPendingValue[] = "PendingFileRenameOperations";

struct MachineOptions {
  std::string family;
  std::string codePage;
  bool json = false;
  std::string key;
  std::string value;
};

// What the machine commands read, for their --help.
const char kMachineEnvironment[] =
    "SFX_PREFIX (the prefix; else $XDG_DATA_HOME or $HOME/.local/share/sfxkit/prefix), SFX_WINVER, SFX_CODEPAGE";

const char* FamilyName(host::Family f) { return f == host::Family::Win95 ? "95" : "nt"; }

std::string FamilySource() {
  const char* env = getenv("SFX_WINVER");
  if (env != nullptr && env[0] != '\0') return "SFX_WINVER";
  struct stat st;
  return stat((host::PrefixRoot() + "/family").c_str(), &st) == 0 ? "prefix family file" : "default";
}

// The code page in force; ToolError when the setting names an unknown one.
unsigned CodePageInForce(std::string& source) {
  unsigned codePage = 0;
  std::string error;
  if (!host::ReadCodePageSetting(codePage, source, error)) throw ToolError(error);
  return codePage;
}

void RunPrefixInit(const MachineOptions& o) {
  unsigned codePage = 0;
  if (!o.codePage.empty() && !host::ParseCodePage(o.codePage, codePage))
    throw ToolError("unknown code page " + o.codePage + " (known: " + host::KnownCodePagesText() + ")");
  host::EnsurePrefix();
  std::string root = host::PrefixRoot();
  if (!o.family.empty()) WritePrefixFamily(o.family);
  if (codePage != 0 && !host::WritePrefixCodePage(root, codePage)) throw ToolError("cannot write " + root + "/codepage");
  std::string source;
  unsigned inForce = CodePageInForce(source);
  printf("prefix %s ready (family %s, code page %u)\n", root.c_str(), FamilyName(host::CurrentFamily()), inForce);
}

void RunPrefixShow(const MachineOptions& o) {
  std::string root = host::PrefixRoot();
  host::Family family = host::CurrentFamily();
  std::string windows = host::MapToHost("C:\\WINDOWS");
  std::string system = host::MapToHost(family == host::Family::Win95 ? "C:\\WINDOWS\\SYSTEM" : "C:\\WINDOWS\\SYSTEM32");
  std::string temp = host::MapToHost("C:\\TEMP");
  std::string codePageSource;
  unsigned codePage = CodePageInForce(codePageSource);
  if (o.json) {
    PrintJson({{"root", root}, {"family", FamilyName(family)}, {"familySource", FamilySource()},
               {"codePage", codePage}, {"codePageSource", codePageSource},
               {"windowsDir", windows}, {"systemDir", system}, {"tempDir", temp},
               {"registry", root + "/registry.db"}});
    return;
  }
  printf("root        %s\nfamily      %s (%s)\ncode page   %u (%s)\nC:\\WINDOWS  %s\nsystem dir  %s\nC:\\TEMP     %s\nregistry    %s/registry.db\n",
         root.c_str(), FamilyName(family), FamilySource().c_str(), codePage, codePageSource.c_str(), windows.c_str(),
         system.c_str(), temp.c_str(), root.c_str());
}

const char* TypeName(uint32_t type) {
  switch (type) {
    case 0: return "REG_NONE";
    case 1: return "REG_SZ";
    case 2: return "REG_EXPAND_SZ";
    case 3: return "REG_BINARY";
    case 4: return "REG_DWORD";
    case 5: return "REG_DWORD_BIG_ENDIAN";
    case 7: return "REG_MULTI_SZ";
    default: return "REG_UNKNOWN";
  }
}

// The strings of a REG_MULTI_SZ (or the one string of a REG_SZ), bounded by
// the data's size.
std::vector<std::string> Strings(const std::vector<uint8_t>& data) {
  std::vector<std::string> out;
  std::string cur;
  for (uint8_t b : data) {
    if (b == 0) {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += (char)b;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  while (!out.empty() && out.back().empty()) out.pop_back();  // the list's terminator
  return out;
}

json ValueData(const host::RegistryValue& v) {
  if ((v.type == 4 || v.type == 5) && v.data.size() == 4) {
    return v.type == 4 ? LoadLe32(v.data.data()) : LoadBe32(v.data.data());
  }
  if (v.type == 1 || v.type == 2) {
    std::vector<std::string> s = Strings(v.data);
    return s.empty() ? std::string() : s.front();
  }
  if (v.type == 7) return Strings(v.data);
  return Hex(v.data);
}

}  // namespace

std::string RegistryValueText(const host::RegistryValue& v) {
  json d = ValueData(v);
  if (d.is_number()) {
    char buf[48];
    snprintf(buf, sizeof buf, "0x%08x (%u)", d.get<uint32_t>(), d.get<uint32_t>());
    return buf;
  }
  if (d.is_array()) {
    std::string out;
    for (const auto& s : d) out += (out.empty() ? "" : " | ") + Printable(s.get<std::string>());
    return out;
  }
  return Printable(d.get<std::string>());
}

json RegistryValueJson(const host::RegistryValue& v) {
  return {{"name", v.name}, {"type", TypeName(v.type)}, {"typeCode", v.type}, {"data", ValueData(v)}};
}

namespace {

void RunRegQuery(const MachineOptions& o) {
  int root = 0;
  std::string sub;
  if (!host::SplitRegistryPath(o.key, root, sub)) throw ToolError("unknown registry root in " + o.key);
  if (!o.value.empty()) {
    host::RegistryValue v;
    long rc = host::ReadRegistryValue(o.key, o.value, v);
    if (rc != 0) throw ToolError("no value \"" + o.value + "\" in " + o.key + " (error " + std::to_string(rc) + ")");
    if (o.json)
      PrintJson(RegistryValueJson(v));
    else
      printf("%s  %s  %s\n", Printable(v.name).c_str(), TypeName(v.type), RegistryValueText(v).c_str());
    return;
  }
  host::RegistryKeyContents contents;
  long rc = host::ListRegistryKey(o.key, contents);
  if (rc != 0) throw ToolError("no key " + o.key + " (error " + std::to_string(rc) + ")");
  if (o.json) {
    json values = json::array();
    for (const auto& v : contents.values) values.push_back(RegistryValueJson(v));
    PrintJson({{"key", o.key}, {"subkeys", contents.subkeys}, {"values", values}});
    return;
  }
  printf("%s\n", o.key.c_str());
  for (const auto& v : contents.values)
    printf("  %s  %s  %s\n", v.name.empty() ? "(default)" : Printable(v.name).c_str(), TypeName(v.type),
           RegistryValueText(v).c_str());
  for (const auto& s : contents.subkeys) printf("  %s\\\n", Printable(s).c_str());
}

}  // namespace

void WritePrefixFamily(const std::string& family) {
  std::string root = host::PrefixRoot();
  if (!host::WritePrefixSetting(root, "family", family)) throw ToolError("cannot write " + root + "/family");
}

// What the restart will do, read before it runs: the registry's pairs and
// the [rename] lines of WININIT.INI.
std::vector<std::string> PendingRenameLines() {
  std::vector<std::string> lines;
  host::RegistryValue v;
  if (host::ReadRegistryValue(kSessionManager, kPendingValue, v) == 0) {
    std::vector<uint8_t> data = v.data;
    // Pairs include empty targets (deletions), so split on every NUL.
    std::vector<std::string> parts;
    std::string cur;
    for (uint8_t b : data) {
      if (b == 0) {
        parts.push_back(cur);
        cur.clear();
      } else {
        cur += (char)b;
      }
    }
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
      if (parts[i].empty()) break;
      lines.push_back(parts[i + 1].empty() ? "delete " + parts[i] : "rename " + parts[i] + " -> " + parts[i + 1]);
    }
  }
  std::ifstream ini(host::MapToHost("C:\\WINDOWS\\WININIT.INI"));
  std::string line;
  bool inRename = false;
  while (std::getline(ini, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inRename = strcasecmp(line.c_str(), "[rename]") == 0;
      continue;
    }
    size_t eq = line.find('=');
    if (inRename && eq != std::string::npos)
      lines.push_back("WININIT.INI: " + line.substr(eq + 1) + " -> " + line.substr(0, eq));
  }
  return lines;
}

namespace {

void RunReboot() {
  std::vector<std::string> work = PendingRenameLines();
  int done = host::PerformPendingRenames();
  for (const std::string& line : work) printf("%s\n", Printable(line).c_str());
  printf("%d pending renames performed; PendingFileRenameOperations and WININIT.INI [rename] cleared\n", done);
}

}  // namespace

void AddPrefixCommand(CLI::App& app, int* status) {
  auto o = std::make_shared<MachineOptions>();
  CLI::App* cmd = app.add_subcommand("prefix", "The emulated Windows machine ($SFX_PREFIX or the default folder)");
  cmd->require_subcommand(1);
  HelpFooter(cmd, "SFX_PREFIX=/tmp/pfx sfx prefix init --family 95", kMachineEnvironment);
  CLI::App* init = cmd->add_subcommand("init", "Create the prefix (if missing) and optionally set its Windows family and code page");
  init->add_option("--family", o->family, "nt or 95; kept in <prefix>/family, used when SFX_WINVER is unset")
      ->check(CLI::IsMember({"nt", "95"}));
  init->add_option("--codepage", o->codePage,
                   "The machine's ANSI code page: 1252 (default), 932, 936, 949 or 950; kept in <prefix>/codepage, "
                   "used when SFX_CODEPAGE is unset");
  HelpFooter(init, "SFX_PREFIX=/tmp/pfx sfx prefix init --family 95 --codepage 932", kMachineEnvironment);
  init->callback([o, status] {
    RunPrefixInit(*o);
    *status = 0;
  });
  CLI::App* show = cmd->add_subcommand("show", "Show where the prefix is, its family and its code page");
  show->add_flag("--json", o->json, "Print JSON");
  HelpFooter(show, "sfx prefix show --json", kMachineEnvironment);
  show->callback([o, status] {
    RunPrefixShow(*o);
    *status = 0;
  });
}

void AddRegCommand(CLI::App& app, int* status) {
  auto o = std::make_shared<MachineOptions>();
  CLI::App* cmd = app.add_subcommand("reg", "Read the emulated registry");
  cmd->require_subcommand(1);
  HelpFooter(cmd, "sfx reg query 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs'", kMachineEnvironment);
  CLI::App* query = cmd->add_subcommand("query", "A key's values and subkeys, or one value");
  query->add_option("KEY", o->key, "Key, e.g. HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs")
      ->required();
  query->add_option("VALUE", o->value, "Value name (omit for the whole key)");
  query->add_flag("--json", o->json, "Print JSON");
  HelpFooter(query, "sfx reg query 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs' --json", kMachineEnvironment);
  query->callback([o, status] {
    RunRegQuery(*o);
    *status = 0;
  });
}

void AddRebootCommand(CLI::App& app, int* status) {
  CLI::App* cmd = app.add_subcommand("reboot", "Restart the emulated machine: perform and clear the pending renames");
  HelpFooter(cmd, "SFX_PREFIX=/tmp/pfx sfx reboot", kMachineEnvironment);
  cmd->callback([status] {
    RunReboot();
    *status = 0;
  });
}

}  // namespace sfx::tool
