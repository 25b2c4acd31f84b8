#include "tool/catalogue_view.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iostream>

#include "pack/path_variables.h"
#include "platform/host/code_page.h"
#include "tool/tool_error.h"

namespace sfx::tool {

using nlohmann::json;

std::string Printable(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x20 || c == 0x7F) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += (char)c;
    }
  }
  return out;
}

namespace {
unsigned g_catalogueCodePage = host::kDefaultCodePage;
}

void UseCatalogueCodePage(const std::string& option) {
  if (!option.empty()) {
    if (!host::ParseCodePage(option, g_catalogueCodePage))
      throw ToolError("unknown code page " + option + " (known: " + host::KnownCodePagesText() + ")");
    return;
  }
  std::string source, error;
  if (!host::ReadCodePageSetting(g_catalogueCodePage, source, error)) throw ToolError(error);
}

std::string Utf8Text(const std::string& s) {
  return host::CodePageToUtf8(g_catalogueCodePage, s, host::BadBytes::Escape);
}

std::string CatalogueText(const std::string& s) { return Printable(Utf8Text(s)); }

std::string VersionText(uint32_t ms, uint32_t ls) {
  char buf[32];
  snprintf(buf, sizeof buf, "%u.%u.%u.%u", ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF);
  return buf;
}

std::string TimeText(uint32_t seconds) {
  if (seconds == 0) return "0";
  time_t t = (time_t)seconds;
  struct tm tm;
  gmtime_r(&t, &tm);
  char buf[64];
  strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return buf;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::vector<uint32_t> ComponentsOf(const pack::Project& project, size_t i) {
  std::vector<uint32_t> out;
  for (size_t c = 0; c < project.components.size(); ++c) {
    const auto& list = project.components[c];
    if (std::find(list.begin(), list.end(), (uint32_t)i) != list.end()) out.push_back((uint32_t)c);
  }
  return out;
}

uint64_t TotalItemSize(const pack::Project& project) {
  uint64_t total = 0;
  for (const pack::Item& item : project.items) total += item.size;
  return total;
}

std::vector<std::string> ItemFlags(const pack::Project& project, size_t i) {
  std::vector<std::string> flags;
  if (i < project.items.size()) {
    const pack::Item& item = project.items[i];
    auto parts = pack::SplitDestination(item.destDir);
    if (parts && parts->variable.shared) flags.push_back("shared");
    if (pack::IsFontDestination(item.destDir)) flags.push_back("font");
    if (item.platformSpecific != 0) flags.push_back("platform-specific");
    if (pack::IsWin16PlatformDir(item.platformDir)) flags.push_back("win16");
    if (item.name == project.mainProgram) flags.push_back("main");
  }
  return flags;
}

json EntryJson(const pack::TableEntry& e) {
  return {{"ctime", e.ctime},         {"mtime", e.mtime},         {"attribute", e.attribute},
          {"name", Utf8Text(e.name)},           {"versionMS", e.versionMS}, {"versionLS", e.versionLS},
          {"version", VersionText(e.versionMS, e.versionLS)},     {"start", e.start},
          {"end", e.end}};
}

json ItemJson(const pack::Item& item) {
  return {{"name", Utf8Text(item.name)},
          {"destDir", Utf8Text(item.destDir)},
          {"platformDir", Utf8Text(item.platformDir)},
          {"sourcePath", Utf8Text(item.sourcePath)},
          {"platformSpecific", item.platformSpecific},
          {"versionMS", item.versionMS},
          {"versionLS", item.versionLS},
          {"version", VersionText(item.versionMS, item.versionLS)},
          {"size", item.size}};
}

json ProjectJson(const pack::Project& p) {
  json programs = json::array(), items = json::array();
  for (const pack::Program& prog : p.programs)
    programs.push_back({{"name", Utf8Text(prog.name)}, {"dir", Utf8Text(prog.dir)}, {"reserved", prog.reserved},
                        {"component", prog.component}});
  for (const pack::Item& item : p.items) items.push_back(ItemJson(item));
  json installDirs = json::array();
  for (const std::string& d : p.installDirs) installDirs.push_back(Utf8Text(d));
  return {{"project", Utf8Text(p.project)},
          {"mainProgram", Utf8Text(p.mainProgram)},
          {"installDirs", installDirs},
          {"mainInWindowsDir", p.mainInWindowsDir},
          {"programs", programs},
          {"items", items},
          {"components", p.components},
          {"platforms", p.platforms},
          {"extra", Utf8Text(p.extra)},
          {"block1", {{"size", p.block1.size()}, {"hex", Hex(p.block1)}}},
          {"block2", {{"size", p.block2.size()}, {"hex", Hex(p.block2)}}}};
}

json LayoutJson(const pack::LoadedLayout& l) {
  return {{"payloadSize", l.payloadSize},         {"dataLength", l.dataLength},
          {"streamArea", {4, 4 + (uint64_t)l.dataLength}},
          {"fileTableLengthField", l.fileTableField}, {"fileTableOffset", l.fileTableOffset},
          {"fileTableLength", l.fileTableLength},  {"projectOffset", l.projectOffset},
          {"projectLength", l.projectLength}};
}

json LocatorJson(const pack::SetupFile& setup) {
  const pack::LocatorInfo& loc = setup.locator;
  json j = {{"present", loc.present}, {"payloadFile", setup.payloadPath},
            {"payloadStart", setup.payloadStart}};
  if (loc.present) {
    j["position"] = loc.position;
    j["word"] = loc.word;
    j["offset"] = loc.offset;
    j["size"] = loc.size;
  }
  return j;
}

json IntegrityJson(const pack::SetupFile& setup) {
  json j = {{"present", setup.recordLength != 0}};
  if (setup.recordLength != 0) {
    j["offset"] = setup.payloadEnd;
    j["length"] = setup.recordLength;
  }
  return j;
}

void PrintJson(const json& j) {
  std::cout << j.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
}

pack::SetupFile OpenSetup(const std::string& path, bool payloadOnly) {
  try {
    return pack::ReadSetupFile(path, payloadOnly ? pack::PayloadSource::Payload : pack::PayloadSource::Auto);
  } catch (const pack::ReadError& e) {
    throw ToolError(e.what());
  }
}

pack::LoadedPayload LoadCatalogue(const pack::SetupFile& setup) {
  try {
    return pack::LoadPayload(setup.payload(), setup.payloadSize());
  } catch (const pack::ReadError& e) {
    RefuseUnlessSetup(setup);
    throw ToolError(setup.payloadPath + ": " + e.what());
  }
}

void RefuseUnlessSetup(const pack::SetupFile& setup) {
  // Without a locator or an integrity record nothing says the file is a
  // payload: the loader's arithmetic would only confuse.
  if (!setup.locator.present && setup.recordLength == 0) throw ToolError("no setup payload found in " + setup.path);
}

}  // namespace sfx::tool
