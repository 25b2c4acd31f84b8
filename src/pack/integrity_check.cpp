#include "pack/integrity_check.h"

#include "pack/integrity_record.h"

namespace sfx::pack {
namespace {

uint32_t Le32(const Bytes& b, size_t at) {
  return (uint32_t)b[at] | ((uint32_t)b[at + 1] << 8) | ((uint32_t)b[at + 2] << 16) | ((uint32_t)b[at + 3] << 24);
}
uint16_t Le16(const Bytes& b, size_t at) { return (uint16_t)(b[at] | (b[at + 1] << 8)); }

}  // namespace

IntegrityOutcome CheckIntegrityRecord(const SetupFile& setup, const std::vector<std::string>& entryNames) {
  IntegrityOutcome out;
  if (setup.recordLength == 0) return out;
  out.state = IntegrityState::Damaged;
  IntegrityRecord record;
  try {
    record = ParseIntegrityRecord(setup.record(), setup.recordLength, nullptr);
  } catch (const ReadError& e) {
    out.problems.push_back(e.what());
    return out;
  }
  out.problems = CheckIntegrity(record, setup.payload(), setup.payloadSize(), entryNames);
  if (out.problems.empty()) out.state = IntegrityState::Intact;
  return out;
}

std::optional<CertificateTable> FindCertificateTable(const Bytes& image) {
  if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') return std::nullopt;
  const uint64_t pe = Le32(image, 0x3C);
  if (pe + 24 > image.size() || Le32(image, (size_t)pe) != 0x00004550) return std::nullopt;
  const uint64_t optional = pe + 24;
  if (optional + 2 > image.size()) return std::nullopt;
  // The data directories start at 96 (PE32) or 112 (PE32+); the security
  // directory is the fifth, and holds a file offset, not an address.
  const uint16_t magic = Le16(image, (size_t)optional);
  const uint64_t directories = optional + (magic == 0x20B ? 112 : magic == 0x10B ? 96 : 0);
  if (directories == optional) return std::nullopt;
  const uint64_t count = directories <= image.size() ? Le32(image, (size_t)(directories - 4)) : 0;
  const uint64_t security = directories + 4 * 8;
  if (count < 5 || security + 8 > image.size()) return std::nullopt;
  CertificateTable table{Le32(image, (size_t)security), Le32(image, (size_t)security + 4)};
  if (table.offset == 0 || table.size == 0) return std::nullopt;
  return table;
}

void CheckAfterPayload(const SetupFile& setup, std::vector<std::string>& problems) {
  if (!setup.locator.present || setup.locator.offset == 0) return;
  const size_t after = setup.payloadEnd + setup.recordLength;
  if (after >= setup.bytes.size()) return;
  std::optional<CertificateTable> table = FindCertificateTable(setup.bytes);
  if (table && table->offset >= after && (uint64_t)table->offset + table->size == setup.bytes.size()) {
    bool padding = true;
    for (size_t i = after; i < table->offset; ++i) padding = padding && setup.bytes[i] == 0;
    if (padding) return;
  }
  problems.push_back("layout: " + std::to_string(setup.bytes.size() - after) + " bytes follow the payload" +
                     (setup.recordLength ? " and its integrity record" : "") +
                     " that are no signature's certificate table");
}

}  // namespace sfx::pack
