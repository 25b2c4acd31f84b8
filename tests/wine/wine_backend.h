// How the Wine suite starts Wine: the host's wine64 for the x86-64 stub, or
// the 32-bit Wine of the i686 emulation (scripts/i686-env.sh), entered with
// chroot into its i386 root, where qemu-user runs every program.
#pragma once

#include <string>
#include <vector>

namespace sfx::wine {

struct Backend {
  std::vector<std::string> wine;    // the command that runs a Windows program
  std::vector<std::string> server;  // the command that runs wineserver
  std::string templateDir;          // host path of the template prefix
  std::string casesDir;             // host folder of the cases' prefixes ("": temporary folder)
  std::string root;                 // host path of the folder Wine sees as "/" ("": "/")
  std::vector<std::string> env;     // environment added to every Wine command
};

// The backend this test program was built for.
const Backend& TheBackend();

// The path Wine sees for a host path below the backend's root.
std::string GuestPath(const std::string& hostPath);

}  // namespace sfx::wine
