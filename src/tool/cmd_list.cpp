// sfx list: one line per file of a setup.
#include <cstdio>
#include <iostream>

#include "tool/catalogue_view.h"
#include "tool/commands.h"
#include "tool/text_table.h"

namespace sfx::tool {
namespace {

using nlohmann::json;

struct ListOptions {
  std::string setup;
  bool json = false;
  bool payloadOnly = false;
  std::string codePage;
};

std::string Joined(const std::vector<std::string>& parts, const char* sep) {
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : sep) + p;
  return out;
}

std::string RatioText(uint64_t packed, uint64_t size) {
  if (size == 0) return "-";
  char buf[32];
  snprintf(buf, sizeof buf, "%.1f%%", 100.0 * (double)packed / (double)size);
  return buf;
}

// Packed size from the entry's offsets; 0 for offsets that make no sense
// (verify reports those).
uint64_t PackedSize(const pack::TableEntry& e) { return e.end >= e.start ? e.end - e.start : 0; }

// "2001-01-01 00:00"; "-" for no time.
std::string DateText(uint32_t seconds) {
  std::string t = TimeText(seconds);
  return t.size() >= 16 && seconds != 0 ? t.substr(0, 16) : "-";
}

void RunList(const ListOptions& o) {
  UseCatalogueCodePage(o.codePage);
  pack::SetupFile setup = OpenSetup(o.setup, o.payloadOnly);
  pack::LoadedPayload p = LoadCatalogue(setup);
  size_t rows = std::max(p.files.size(), p.project.items.size());
  json files = json::array();
  uint64_t totalSize = 0, totalPacked = 0;
  TextTable table({">#", "name", ">size", ">packed", ">ratio", "modified", "destination", "components", "flags"});
  for (size_t i = 0; i < rows; ++i) {
    const pack::TableEntry* e = i < p.files.size() ? &p.files[i] : nullptr;
    const pack::Item* item = i < p.project.items.size() ? &p.project.items[i] : nullptr;
    std::string name = e ? e->name : item->name;
    uint64_t size = item ? item->size : 0, packed = e ? PackedSize(*e) : 0;
    uint32_t mtime = e ? e->mtime : 0;
    totalSize += size;
    totalPacked += packed;
    std::string dest = item ? item->destDir : "";
    std::vector<uint32_t> comps = ComponentsOf(p.project, i);
    std::vector<std::string> flags = ItemFlags(p.project, i);
    std::vector<std::string> compText;
    for (uint32_t c : comps) compText.push_back(std::to_string(c));
    files.push_back({{"index", i}, {"name", Utf8Text(name)}, {"size", size}, {"packedSize", packed},
                     {"ratio", RatioText(packed, size)}, {"mtime", mtime}, {"modified", DateText(mtime)},
                     {"destination", Utf8Text(dest)}, {"platformDir", Utf8Text(item ? item->platformDir : "")},
                     {"components", comps}, {"flags", flags}, {"hasItem", item != nullptr},
                     {"hasEntry", e != nullptr}});
    table.Add({std::to_string(i), CatalogueText(name), std::to_string(size), std::to_string(packed),
               RatioText(packed, size), DateText(mtime), CatalogueText(dest), Joined(compText, ","), Joined(flags, ",")});
  }
  if (o.json) {
    PrintJson({{"files", files},
               {"totals", {{"files", rows}, {"size", totalSize}, {"packedSize", totalPacked},
                           {"ratio", RatioText(totalPacked, totalSize)}}},
               {"integrityRecord", IntegrityJson(setup)}});
    return;
  }
  std::cout << table.Render();
  std::cout << rows << (rows == 1 ? " file, " : " files, ") << totalSize << " bytes, packed " << totalPacked
            << " bytes (" << RatioText(totalPacked, totalSize) << ")"
            << (setup.recordLength ? ", integrity record" : ", no integrity record") << "\n";
}

}  // namespace

void AddListCommand(CLI::App& app, int* status) {
  auto o = std::make_shared<ListOptions>();
  CLI::App* cmd = app.add_subcommand("list", "List the files of a setup: sizes, destinations, components, flags");
  cmd->add_option("SETUP", o->setup, "Setup executable, bare payload or Data.bin")->required();
  cmd->add_flag("--json", o->json, "Print JSON: the files (every column of the table), the totals, the integrity record");
  HelpFooter(cmd, "sfx list app-setup --json", "");
  cmd->add_flag("--payload", o->payloadOnly, "Take the whole file as a payload, even if it holds a locator");
  AddCodePageOption(cmd, o->codePage);
  cmd->callback([o, status] {
    RunList(*o);
    *status = 0;
  });
}

}  // namespace sfx::tool
