#include "pack/integrity_check.h"

#include "pack/integrity_record.h"

namespace sfx::pack {

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

void CheckAfterPayload(const SetupFile& setup, std::vector<std::string>& problems) {
  if (!setup.locator.present || setup.locator.offset == 0) return;
  const size_t after = setup.payloadEnd + setup.recordLength;
  // A signature's certificate table (and the zero bytes aligning it) may follow.
  if (after >= setup.bytes.size() || setup.bytes.size() - after == setup.signatureBytes) return;
  problems.push_back("layout: " + std::to_string(setup.bytes.size() - after - setup.signatureBytes) +
                     " bytes follow the payload" + (setup.recordLength ? " and its integrity record" : "") +
                     " that are no signature's certificate table");
}

}  // namespace sfx::pack
