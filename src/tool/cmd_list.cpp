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

void RunList(const ListOptions& o) {
  pack::SetupFile setup = OpenSetup(o.setup, o.payloadOnly);
  pack::LoadedPayload p = LoadCatalogue(setup);
  size_t rows = std::max(p.files.size(), p.project.items.size());
  json out = json::array();
  TextTable table({">#", "name", ">size", ">packed", ">ratio", "destination", "components", "flags"});
  for (size_t i = 0; i < rows; ++i) {
    const pack::TableEntry* e = i < p.files.size() ? &p.files[i] : nullptr;
    const pack::Item* item = i < p.project.items.size() ? &p.project.items[i] : nullptr;
    std::string name = e ? e->name : item->name;
    uint64_t size = item ? item->size : 0, packed = e ? PackedSize(*e) : 0;
    std::string dest = item ? item->destDir : "";
    std::vector<uint32_t> comps = ComponentsOf(p.project, i);
    std::vector<std::string> flags = ItemFlags(p.project, i);
    std::vector<std::string> compText;
    for (uint32_t c : comps) compText.push_back(std::to_string(c));
    if (o.json) {
      out.push_back({{"index", i}, {"name", name}, {"size", size}, {"packedSize", packed},
                     {"destination", item ? item->destDir : ""}, {"platformDir", item ? item->platformDir : ""},
                     {"components", comps}, {"flags", flags}, {"hasItem", item != nullptr},
                     {"hasEntry", e != nullptr}});
    } else {
      table.Add({std::to_string(i), Printable(name), std::to_string(size), std::to_string(packed),
                 RatioText(packed, size), Printable(dest), Joined(compText, ","), Joined(flags, ",")});
    }
  }
  if (o.json)
    PrintJson(out);
  else
    std::cout << table.Render();
}

}  // namespace

void AddListCommand(CLI::App& app, int* status) {
  auto o = std::make_shared<ListOptions>();
  CLI::App* cmd = app.add_subcommand("list", "List the files of a setup: sizes, destinations, components, flags");
  cmd->add_option("SETUP", o->setup, "Setup executable, bare payload or Data.bin")->required();
  cmd->add_flag("--json", o->json, "Print a JSON array instead of a table");
  cmd->add_flag("--payload", o->payloadOnly, "Take the whole file as a payload, even if it holds a locator");
  cmd->callback([o, status] {
    RunList(*o);
    *status = 0;
  });
}

}  // namespace sfx::tool
