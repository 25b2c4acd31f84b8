// What verify checks beyond the catalogue: the integrity record against the
// payload, and that whatever follows the payload in a setup executable is
// that record and, at most, a signature's certificate table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pack/setup_reader.h"

namespace sfx::pack {

enum class IntegrityState { Absent, Intact, Damaged };

struct IntegrityOutcome {
  IntegrityState state = IntegrityState::Absent;
  std::vector<std::string> problems;  // one per damaged region (or the damaged record)
};

// Checks the setup's integrity record, if it has one; entries are named by
// entryNames where given.
IntegrityOutcome CheckIntegrityRecord(const SetupFile& setup, const std::vector<std::string>& entryNames);

// Where a PE image's certificate table lies (its security directory): file
// offset and size; nothing for a file that is no PE or is not signed.
struct CertificateTable {
  uint32_t offset = 0;
  uint32_t size = 0;
};
std::optional<CertificateTable> FindCertificateTable(const Bytes& image);

// For a setup executable: bytes after the payload and its record that are
// not a signature's certificate table (with the zero padding before it).
void CheckAfterPayload(const SetupFile& setup, std::vector<std::string>& problems);

}  // namespace sfx::pack
