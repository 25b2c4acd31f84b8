// What verify checks beyond the catalogue: the integrity record against the
// payload, and that whatever follows the payload in a setup executable is
// that record and, at most, a signature's certificate table.
#pragma once

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

// For a setup executable: bytes after the payload and its record that are
// not a signature's certificate table (with the zero padding before it).
void CheckAfterPayload(const SetupFile& setup, std::vector<std::string>& problems);

}  // namespace sfx::pack
