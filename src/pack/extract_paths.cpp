#include "pack/extract_paths.h"

#include <algorithm>
#include <cctype>

#include "pack/path_variables.h"

namespace sfx::pack {
namespace {

const size_t kMaxComponent = 255;  // NAME_MAX of the usual file systems
const size_t kMaxDepth = 64;       // deeper than any real destination

std::string Quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) out += (c == '\0') ? std::string("\\0") : std::string(1, c);
  return out + "\"";
}

// Splits on both separators, dropping empty and "." components.
std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : path) {
    if (c == '\\' || c == '/') {
      if (!current.empty() && current != ".") parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty() && current != ".") parts.push_back(current);
  return parts;
}

bool StartsWithDrive(const std::string& s) {
  return s.size() >= 2 && isalpha((unsigned char)s[0]) && s[1] == ':';
}

std::string CheckComponent(const std::string& c) {
  if (c == "..") return "destination climbs with \"..\"";
  if (c.find('\0') != std::string::npos) return "destination holds a NUL byte";
  if (c.find(':') != std::string::npos) return "destination component " + Quoted(c) + " holds \":\"";
  if (c.size() > kMaxComponent) return "destination component longer than 255 bytes";
  return std::string();
}

}  // namespace

MappedFolders MapDestination(const std::string& destDir) {
  MappedFolders out;
  std::string rest = destDir;
  if (auto parts = SplitDestination(destDir)) {
    out.folders.push_back(parts->variable.name);
    rest = parts->rest;
  } else {
    out.folders.push_back("other");
    if (rest.compare(0, 2, "\\\\") == 0 || rest.compare(0, 2, "//") == 0) {
      out.folders.push_back("unc");
    } else if (StartsWithDrive(rest)) {
      out.folders.push_back(std::string(1, (char)toupper((unsigned char)rest[0])));
      rest = rest.substr(2);
    }
  }
  for (const std::string& c : Components(rest)) {
    std::string why = CheckComponent(c);
    if (!why.empty()) return {{}, why};
    out.folders.push_back(c);
  }
  if (out.folders.size() > kMaxDepth) return {{}, "destination nested more than 64 folders deep"};
  return out;
}

std::string CheckEntryName(const std::string& name) {
  if (name.find('\0') != std::string::npos) return "name holds a NUL byte";
  if (!IsPlainName(name)) return "name " + Quoted(name) + " is not a plain file name";
  if (name.size() > kMaxComponent) return "name longer than 255 bytes";
  return std::string();
}

std::string UniqueName(const std::string& name, std::vector<std::string>& used) {
  auto taken = [&](const std::string& n) { return std::find(used.begin(), used.end(), n) != used.end(); };
  std::string candidate = name;
  size_t dot = name.rfind('.');
  if (dot == 0 || dot == std::string::npos) dot = name.size();
  for (unsigned n = 2; taken(candidate); ++n) {
    // Stay within the name limit: shorten the stem, then drop the suffix.
    std::string tag = "~" + std::to_string(n);
    std::string stem = name.substr(0, dot), ext = name.substr(dot);
    if (tag.size() + ext.size() > kMaxComponent) ext.clear();
    stem.resize(std::min(stem.size(), kMaxComponent - tag.size() - ext.size()));
    candidate = stem + tag + ext;
  }
  used.push_back(candidate);
  return candidate;
}

}  // namespace sfx::pack
