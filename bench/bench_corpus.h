// A mixed benchmark corpus built from files every Debian system has: text
// from /usr/share/doc, executables from /usr/bin, already-compressed .gz
// files from /usr/share. Files are taken in sorted path order up to each
// kind's quota, so the same machine always gives the same corpus.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sfx::bench {

struct CorpusPart {
  std::string kind;
  std::vector<uint8_t> data;
};

// Each kind's bytes, split into pieces of at most pieceBytes.
std::vector<CorpusPart> BuildCorpus(size_t textBytes, size_t exeBytes, size_t gzBytes,
                                    size_t pieceBytes);

}  // namespace sfx::bench
