#include "pack/destination_check.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "pack/path_variables.h"

namespace sfx::pack {
namespace {

const char kVariableList[] = "%sysdir%, %font%, %prefs%, %data%, %win16%, %win32%, %macppc%, %inst%, %root%";

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
  return s;
}

// The %word% that starts at text[at], or "" when none does (a word holds at
// least one character and no backslash).
std::string PercentWord(const std::string& text, size_t at) {
  if (at >= text.size() || text[at] != '%') return std::string();
  size_t close = text.find_first_of("%\\", at + 1);
  if (close == std::string::npos || text[close] != '%' || close == at + 1) return std::string();
  return text.substr(at, close - at + 1);
}

std::string UnknownVariable(const std::string& word) {
  std::string why = "starts with " + word + ", which is not a path variable (the stub knows " + kVariableList +
                    ", spelled exactly so)";
  if (SplitDestination(Lower(word))) why += "; variables match case and all: write " + Lower(word);
  return why;
}

// The text after the variable, or after the drive or UNC start of a full path.
std::string CharacterProblem(const std::string& rest) {
  for (size_t i = 0; i < rest.size(); ++i) {
    unsigned char c = (unsigned char)rest[i];
    if (c < 32 || std::string("<>:\"|?*").find((char)c) != std::string::npos) {
      char shown[16];
      if (c < 32)
        snprintf(shown, sizeof shown, "0x%02X", c);
      else
        snprintf(shown, sizeof shown, "'%c'", c);
      return std::string("holds the character ") + shown + ", which no Windows path may hold";
    }
    std::string word = PercentWord(rest, i);
    if (!word.empty())
      return "holds " + word + " after its start: the stub expands a path variable only at the very start and "
                               "would make a folder of that name";
  }
  return std::string();
}

bool IsFullPath(const std::string& dir) {
  bool letter = !dir.empty() && ((dir[0] >= 'A' && dir[0] <= 'Z') || (dir[0] >= 'a' && dir[0] <= 'z'));
  if (letter && dir.size() >= 3 && dir[1] == ':' && dir[2] == '\\') return true;
  if (dir.compare(0, 2, "\\\\") != 0) return false;
  size_t share = dir.find('\\', 2);
  return share != std::string::npos && share > 2 && share + 1 < dir.size() && dir[share + 1] != '\\';
}

// Where a file lands, as text that is equal for two files exactly when the
// stub writes them to the same Windows path: the variable's folder named by
// what it expands to, runs of backslashes as one, letters in one case.
std::string LandingKey(const std::string& dest, const std::string& name) {
  std::string path;
  if (auto parts = SplitDestination(dest)) {
    const std::string& v = parts->variable.name;
    // Shared files go where the platform's version service puts them, which
    // does not depend on the rest of the destination.
    if (parts->variable.shared) return Lower("<shared>\\" + name);
    if (v == "font") path = "<fonts>";
    else if (v == "prefs") path = "<windows>";
    else if (v == "data") path = "<inst>\\data";
    else path = "<inst>";  // inst and root
    path += parts->rest;
    if (path.back() != '\\') path += '\\';
  } else {
    path = dest;  // a full path: the name is joined to it as it stands
  }
  path += name;
  std::string key;
  for (size_t i = 0; i < path.size(); ++i)
    if (!(path[i] == '\\' && i > 1 && path[i - 1] == '\\')) key += path[i];
  return Lower(key);
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

bool Contains(const std::vector<uint32_t>& list, uint32_t value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace

std::string DirectoryProblem(const std::string& dir) {
  std::string rest;
  if (auto parts = SplitDestination(dir)) {
    rest = parts->rest;
  } else {
    std::string word = PercentWord(dir, 0);
    if (!word.empty()) return UnknownVariable(word);
    if (!IsFullPath(dir))
      return "is a relative path: the stub would write below whatever folder it runs in; start it with a path "
             "variable such as %inst%, or give a full path (C:\\... or \\\\server\\share\\...)";
    rest = dir.substr(2);
  }
  return CharacterProblem(rest);
}

std::vector<std::string> CollidingLandings(const std::vector<Landing>& files) {
  std::vector<std::string> lines;
  // Per component, the first file to land on each path.
  std::unordered_map<uint32_t, std::unordered_map<std::string, size_t>> first;
  for (size_t i = 0; i < files.size(); ++i) {
    const Landing& f = files[i];
    if (!f.installable) continue;
    std::string key = LandingKey(f.dest, f.name);
    for (uint32_t c : f.components) {
      auto inserted = first[c].emplace(key, i);
      if (inserted.second || inserted.first->second == i) continue;
      const Landing& earlier = files[inserted.first->second];
      lines.push_back(f.label + ": " + Quoted(f.dest) + " + " + Quoted(f.name) +
                      " lands on the same Windows path as " + earlier.label + " (" + Quoted(earlier.dest) + " + " +
                      Quoted(earlier.name) + "); Windows compares names ignoring case");
      break;
    }
  }
  return lines;
}

void CheckManifestDestinations(const Manifest& m) {
  auto fail = [](const std::string& key, const std::string& value, const std::string& why) {
    throw ManifestError("manifest: " + key + ": " + Quoted(value) + " " + why);
  };
  std::vector<Landing> landings;
  for (size_t i = 0; i < m.files.size(); ++i) {
    const ManifestFile& f = m.files[i];
    std::string key = "files[" + std::to_string(i) + "]";
    std::string why = DirectoryProblem(f.dest);
    if (!why.empty()) fail(key + ".dest", f.dest, why);
    bool listed = !f.platformSpecific || Contains(f.platforms, 1);
    landings.push_back({key, f.dest, f.name, f.components, listed && !IsWin16PlatformDir(f.platformDir)});
  }
  for (size_t i = 0; i < m.programs.size(); ++i) {
    std::string why = DirectoryProblem(m.programs[i].dir);
    if (!why.empty()) fail("programs[" + std::to_string(i) + "].dir", m.programs[i].dir, why);
  }
  std::vector<std::string> collisions = CollidingLandings(landings);
  if (!collisions.empty()) throw ManifestError("manifest: " + collisions.front());
}

void CheckProjectDestinations(const Project& project, std::vector<std::string>& problems) {
  const size_t n = project.items.size();
  std::vector<Landing> landings(n);
  for (size_t c = 0; c < project.components.size(); ++c)
    for (uint32_t i : project.components[c])
      if (i < n && !Contains(landings[i].components, (uint32_t)c)) landings[i].components.push_back((uint32_t)c);
  std::vector<bool> inPlatform1(n, false);
  if (project.platforms.size() > 1)
    for (uint32_t i : project.platforms[1])
      if (i < n) inPlatform1[i] = true;
  for (size_t i = 0; i < n; ++i) {
    const Item& item = project.items[i];
    Landing& l = landings[i];
    l.label = "item " + std::to_string(i) + " (" + Quoted(item.name) + ")";
    l.dest = item.destDir;
    l.name = item.name;
    l.installable = !IsWin16PlatformDir(item.platformDir) && (item.platformSpecific == 0 || inPlatform1[i]);
    std::string why = DirectoryProblem(item.destDir);
    if (!why.empty()) problems.push_back(l.label + ": destination " + Quoted(item.destDir) + " " + why);
  }
  for (size_t i = 0; i < project.programs.size(); ++i) {
    const Program& p = project.programs[i];
    std::string why = DirectoryProblem(p.dir);
    if (!why.empty())
      problems.push_back("program " + std::to_string(i) + " (" + Quoted(p.name) + "): dir " + Quoted(p.dir) + " " + why);
  }
  for (std::string& line : CollidingLandings(landings)) problems.push_back(std::move(line));
}

}  // namespace sfx::pack
