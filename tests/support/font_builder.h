// Font files laid out as the font name reader expects, for tests and for the
// fuzz seeds: an offset table, the table records, then each table's bytes;
// the naming table with its records and then the strings in record order.
// Numbers are big-endian, as in the file format.
//
// Plain C++ without the test framework, so that the fuzz seed maker can
// compile it too.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace sfx::test {

// Appends a big-endian 16-bit or 32-bit number.
void Put16(std::string& s, unsigned v);
void Put32(std::string& s, unsigned v);

// One record of the naming table; text is stored as given.
struct NameRecord {
  NameRecord(unsigned platformId, unsigned name, std::string bytes, unsigned encodingId = 0,
             unsigned languageId = 0)
      : platform(platformId), nameId(name), text(std::move(bytes)), encoding(encodingId),
        language(languageId) {}

  unsigned platform, nameId;
  std::string text;
  unsigned encoding, language;
};

// A Windows record (platform 3, Unicode, US English) holding ascii as UTF-16BE.
NameRecord WindowsName(unsigned nameId, const std::string& ascii);

// The naming table: header, records, then the strings.
std::string NameTable(const std::vector<NameRecord>& records);

// A font file of the given (tag, bytes) tables, in that order.
std::string FontFile(const std::vector<std::pair<std::string, std::string>>& tables);

}  // namespace sfx::test
