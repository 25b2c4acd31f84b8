// Catalogue contents as text and JSON, shared by `list` and `dump`.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "pack/setup_reader.h"

namespace sfx::tool {

// Catalogue strings may hold any byte: control bytes are shown as \xNN so
// that one entry stays on one line.
std::string Printable(const std::string& s);

// The code page catalogue text is read in by `list` and `dump`: --codepage,
// else the emulated machine's (SFX_CODEPAGE, the prefix's, else 1252).
// ToolError for a code page the tool does not know.
void UseCatalogueCodePage(const std::string& option);
// Catalogue text in UTF-8; bytes that form no character of the code page
// become \xNN, so the result is always UTF-8.
std::string Utf8Text(const std::string& s);
// Utf8Text, and control bytes as \xNN (one entry stays on one line).
std::string CatalogueText(const std::string& s);
std::string VersionText(uint32_t ms, uint32_t ls);
std::string TimeText(uint32_t seconds);  // "2001-01-01 00:00:00 UTC", "0" for none
std::string Hex(const std::vector<uint8_t>& bytes);

// What the stub does with item i: "shared", "font", "platform-specific",
// "win16", "main".
std::vector<std::string> ItemFlags(const pack::Project& project, size_t i);
// The components whose lists hold item i.
std::vector<uint32_t> ComponentsOf(const pack::Project& project, size_t i);
// The items' sizes added up: the bytes decoding every stream should give.
uint64_t TotalItemSize(const pack::Project& project);

nlohmann::json EntryJson(const pack::TableEntry& e);
nlohmann::json ItemJson(const pack::Item& item);
nlohmann::json ProjectJson(const pack::Project& project);
nlohmann::json LayoutJson(const pack::LoadedLayout& layout);
nlohmann::json LocatorJson(const pack::SetupFile& setup);
// Whether the payload carries an integrity record, and where (file offset).
nlohmann::json IntegrityJson(const pack::SetupFile& setup);

// Prints JSON on standard output; bytes that are not UTF-8 become U+FFFD so
// that the output always parses.
void PrintJson(const nlohmann::json& j);

// Reads a setup for the inspecting commands (ToolError on failure).
pack::SetupFile OpenSetup(const std::string& path, bool payloadOnly);
pack::LoadedPayload LoadCatalogue(const pack::SetupFile& setup);
// After a catalogue failed to load: a file with neither a locator nor an
// integrity record is refused in one line, as most likely no setup at all.
void RefuseUnlessSetup(const pack::SetupFile& setup);

}  // namespace sfx::tool
