#include "support/font_builder.h"

namespace sfx::test {

void Put16(std::string& s, unsigned v) {
  s += (char)(v >> 8);
  s += (char)v;
}

void Put32(std::string& s, unsigned v) {
  Put16(s, v >> 16);
  Put16(s, v & 0xFFFF);
}

NameRecord WindowsName(unsigned nameId, const std::string& ascii) {
  std::string text;
  for (char c : ascii) {
    text += '\0';
    text += c;
  }
  return NameRecord(3, nameId, text, 1, 0x409);
}

std::string NameTable(const std::vector<NameRecord>& records) {
  std::string table, storage;
  Put16(table, 0);
  Put16(table, (unsigned)records.size());
  Put16(table, 6 + 12 * (unsigned)records.size());
  for (const NameRecord& r : records) {
    Put16(table, r.platform);
    Put16(table, r.encoding);
    Put16(table, r.language);
    Put16(table, r.nameId);
    Put16(table, (unsigned)r.text.size());
    Put16(table, (unsigned)storage.size());
    storage += r.text;
  }
  return table + storage;
}

std::string FontFile(const std::vector<std::pair<std::string, std::string>>& tables) {
  std::string head;
  Put32(head, 0x00010000);
  Put16(head, (unsigned)tables.size());
  Put16(head, 0);
  Put16(head, 0);
  Put16(head, 0);
  std::string body;
  unsigned offset = 12 + 16 * (unsigned)tables.size();
  for (const auto& t : tables) {
    head += t.first;
    Put32(head, 0);
    Put32(head, offset + (unsigned)body.size());
    Put32(head, (unsigned)t.second.size());
    body += t.second;
  }
  return head + body;
}

}  // namespace sfx::test
