#include "bench_corpus.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace sfx::bench {
namespace {

std::vector<std::string> SortedFiles(const std::string& root, bool (*accept)(const fs::path&)) {
  std::vector<std::string> files;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end;
       it != end; it.increment(ec)) {
    if (ec) break;
    if (it->is_symlink(ec) || !it->is_regular_file(ec)) continue;
    if (accept(it->path())) files.push_back(it->path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Concatenates files up to quota bytes.
std::vector<uint8_t> Gather(const std::vector<std::string>& files, size_t quota) {
  std::vector<uint8_t> out;
  for (const std::string& f : files) {
    if (out.size() >= quota) break;
    std::ifstream in(f, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  if (out.size() > quota) out.resize(quota);
  return out;
}

void Split(const std::string& kind, const std::vector<uint8_t>& data, size_t piece,
           std::vector<CorpusPart>& parts) {
  for (size_t at = 0; at < data.size(); at += piece) {
    size_t n = std::min(piece, data.size() - at);
    parts.push_back({kind, std::vector<uint8_t>(data.begin() + at, data.begin() + at + n)});
  }
}

}  // namespace

std::vector<CorpusPart> BuildCorpus(size_t textBytes, size_t exeBytes, size_t gzBytes,
                                    size_t pieceBytes) {
  std::vector<CorpusPart> parts;
  Split("text", Gather(SortedFiles("/usr/share/doc", [](const fs::path& p) {
                         return p.extension() != ".gz";
                       }), textBytes), pieceBytes, parts);
  Split("exe", Gather(SortedFiles("/usr/bin", [](const fs::path&) { return true; }), exeBytes),
        pieceBytes, parts);
  Split("gz", Gather(SortedFiles("/usr/share", [](const fs::path& p) {
                       return p.extension() == ".gz";
                     }), gzBytes), pieceBytes, parts);
  return parts;
}

}  // namespace sfx::bench
