// Catalogues that cannot be read, for whole runs on any platform: how the
// written payload is damaged and the text of the box the run ends with.
#pragma once

#include <string>
#include <vector>

#include "pack/payload_writer.h"

namespace sfx::test {

struct CatalogueDamage {
  const char* what;
  void (*damage)(pack::Payload&);
  const char* message;  // %s: the setup executable's Windows path
};

// The project archive cut short, and an unknown class in the file table.
const std::vector<CatalogueDamage>& CatalogueDamages();

// The payload of a catalogue with one plain file ("a.txt"), written and
// then damaged.
pack::Payload DamagedPayload(const CatalogueDamage& damage);

// A box message with its "%s" (if any) replaced by the setup executable's
// Windows path.
std::string WithSetupPath(const std::string& message, const std::string& setupWindowsPath);

}  // namespace sfx::test
