// Archive 1, the file table, loaded as OpenPayload loads it. A table that
// loads must store to bytes that load again to the same table.
#include "archive_roundtrip.h"
#include "payload/catalogue.h"

namespace {

struct Table {
  CObArray arr;
  ~Table() { DeleteFileTable(arr); }
};

}  // namespace

SFX_FUZZ_TARGET(file_table) {
  using namespace sfx::fuzz;
  Table table;
  DWORD consumed = 0;
  if (!LoadArchive(data, size, [&](CArchive& ar) { SerializeFileTable(ar, table.arr); }, &consumed))
    return 0;
  for (int i = 0; i < table.arr.GetSize(); ++i)
    FUZZ_CHECK(table.arr[i] != nullptr && table.arr[i]->IsKindOf(RUNTIME_CLASS(CCompFileInfo)),
               "loaded file table holds something other than entries");

  std::vector<uint8_t> stored = StoreArchive([&](CArchive& ar) { SerializeFileTable(ar, table.arr); });
  FUZZ_CHECK(stored.size() <= consumed, "canonical form is longer than the input it came from");
  Table again;
  DWORD consumedAgain = 0;
  FUZZ_CHECK(LoadArchive(stored.data(), stored.size(),
                         [&](CArchive& ar) { SerializeFileTable(ar, again.arr); }, &consumedAgain),
             "stored file table does not load");
  FUZZ_CHECK(consumedAgain == stored.size(), "stored file table is not read to its end");
  FUZZ_CHECK(again.arr.GetSize() == table.arr.GetSize(), "entry count changed");
  std::vector<uint8_t> storedAgain = StoreArchive([&](CArchive& ar) { SerializeFileTable(ar, again.arr); });
  FUZZ_CHECK(storedAgain == stored, "file table changed in a load/store round trip");
  return 0;
}
