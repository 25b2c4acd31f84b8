#include "platform/host/made_folders.h"

#include <cctype>
#include <mutex>
#include <unordered_map>

namespace sfx::host {
namespace {

// Beyond this many names in all (each listing counting as one more), no
// more folders are listed: the memory stays bounded however many files and
// folders a process makes.
constexpr size_t kMaxNames = 1u << 20;

struct Stamp {
  dev_t dev;
  ino_t ino;
  struct timespec mtime;
  struct timespec ctime;
};

struct Listing {
  Stamp stamp;
  std::unordered_map<std::string, std::string> names;  // lower case -> on disk
};

std::mutex g_mutex;
std::unordered_map<std::string, Listing> g_listings;  // by host path
size_t g_names = 0;

Stamp StampOf(const struct stat& st) { return Stamp{st.st_dev, st.st_ino, st.st_mtim, st.st_ctim}; }

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool Matches(const Stamp& s, const struct stat& st) {
  return s.dev == st.st_dev && s.ino == st.st_ino && SameTime(s.mtime, st.st_mtim) &&
         SameTime(s.ctime, st.st_ctim);
}

std::string Lower(const std::string& name) {
  std::string out = name;
  for (char& c : out) c = (char)tolower((unsigned char)c);
  return out;
}

void Drop(std::unordered_map<std::string, Listing>::iterator it) {
  g_names -= it->second.names.size() + 1;
  g_listings.erase(it);
}

}  // namespace

void NoteFolderMade(const std::string& hostPath) {
  struct stat st;
  if (lstat(hostPath.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_listings.find(hostPath);
  if (it != g_listings.end()) Drop(it);
  if (g_names >= kMaxNames) return;
  g_listings[hostPath].stamp = StampOf(st);
  ++g_names;
}

void NoteEntryMade(const std::string& folder, const std::string& name) {
  NoteEntryRenamed(folder, std::string(), name);
}

void NoteEntryGone(const std::string& folder, const std::string& name) {
  NoteEntryRenamed(folder, name, std::string());
}

void NoteEntryRenamed(const std::string& folder, const std::string& from, const std::string& to) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_listings.find(folder);
  if (it == g_listings.end()) return;
  struct stat now;
  if (g_names >= kMaxNames || lstat(folder.c_str(), &now) != 0) {
    Drop(it);
    return;
  }
  // An empty from or to: an entry made, or one gone.
  if (!from.empty() && it->second.names.erase(Lower(from)) != 0) --g_names;
  if (!to.empty() && it->second.names.emplace(Lower(to), to).second) ++g_names;
  it->second.stamp = StampOf(now);
}

bool LookUpMadeFolder(const std::string& folder, const struct stat& folderNow, const std::string& name,
                      std::string& match) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_listings.find(folder);
  if (it == g_listings.end()) return false;
  if (!Matches(it->second.stamp, folderNow)) {
    Drop(it);
    return false;
  }
  auto found = it->second.names.find(Lower(name));
  match = found == it->second.names.end() ? std::string() : found->second;
  return true;
}

bool ListingLacks(const std::string& folder, const std::string& name) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_listings.find(folder);
  return it != g_listings.end() && it->second.names.count(Lower(name)) == 0;
}

void ForgetMadeFolders() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_listings.clear();
  g_names = 0;
}

}  // namespace sfx::host
