// Whether the stub can install into a catalogue's directory strings: a
// file's destination and a program's folder must start with one of the path
// variables exactly as the stub spells them, or be a full Windows path; no
// character that no Windows path may hold; and no two files of one run may
// land on the same Windows path. The packer refuses such a manifest and
// verify reports such a setup, with the same wording.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pack/manifest.h"
#include "pack/payload_writer.h"

namespace sfx::pack {

// Empty when the stub can install into this directory string, else why not
// (one sentence, without the value).
std::string DirectoryProblem(const std::string& dir);

// A file as one run of the stub would install it.
struct Landing {
  std::string label;  // how messages name it: "files[2]", "item 2 (\"a.txt\")"
  std::string dest;
  std::string name;
  std::vector<uint32_t> components;  // the components that install it
  bool installable = true;           // false: the stub never installs it (win16, or not in platform list 1)
};

// One line for each file that lands on the path of an earlier one in some
// component, names compared as Windows compares them (ignoring case).
std::vector<std::string> CollidingLandings(const std::vector<Landing>& files);

// The manifest's destinations, program folders and landing paths; the first
// problem is thrown as a ManifestError naming the key and the value.
void CheckManifestDestinations(const Manifest& m);

// The same checks on a loaded catalogue, one line per problem.
void CheckProjectDestinations(const Project& project, std::vector<std::string>& problems);

}  // namespace sfx::pack
