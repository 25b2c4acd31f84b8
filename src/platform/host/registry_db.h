// The emulated registry's database (host only): <prefix>/registry.db.
#pragma once

#include <string>

namespace sfx::host {

// Creates the registry database of a prefix with the keys every Windows
// machine has (among them HKLM\Software\Microsoft\Windows\CurrentVersion\
// SharedDLLs and ...\CurrentVersion\Fonts, and the Session Manager key).
// Idempotent. Called when a prefix is created.
void EnsureRegistry(const std::string& prefixRoot);

}  // namespace sfx::host
