#include "platform/host/made_folders.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <deque>
#include <mutex>
#include <unordered_map>

namespace sfx::host {
namespace {

// Beyond this many names in all (each listing counting as one more), no
// more folders are listed: the memory stays bounded however many files and
// folders a process makes.
constexpr size_t kMaxNames = 1u << 20;

// The most recently made folders keep a descriptor (see FolderFd); the
// number is bounded to leave the process its descriptors.
constexpr size_t kMaxFolderFds = 64;

#ifdef O_PATH
constexpr int kFolderFdFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#else
constexpr int kFolderFdFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#endif

struct Stamp {
  dev_t dev;
  ino_t ino;
  struct timespec mtime;
  struct timespec ctime;
};

struct Listing {
  Stamp stamp;
  FolderRef dir;  // the folder itself, or none
  std::unordered_map<std::string, std::string> names;  // lower case -> on disk
};

std::mutex g_mutex;
std::unordered_map<std::string, Listing> g_listings;  // by host path
size_t g_names = 0;
std::deque<std::string> g_withFd;  // listings holding a descriptor, oldest first

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

void CloseFolderFd(Listing& listing, const std::string& folder) {
  if (!listing.dir) return;
  listing.dir.reset();  // closed once no mapping in progress holds it
  auto pos = std::find(g_withFd.begin(), g_withFd.end(), folder);
  if (pos != g_withFd.end()) g_withFd.erase(pos);
}

void Drop(std::unordered_map<std::string, Listing>::iterator it) {
  CloseFolderFd(it->second, it->first);
  g_names -= it->second.names.size() + 1;
  g_listings.erase(it);
}

// The folder's status now: through its descriptor when it has one.
int StatusNow(const Listing& listing, const std::string& folder, struct stat* pNow) {
  return listing.dir ? fstat(listing.dir->fd(), pNow) : lstat(folder.c_str(), pNow);
}

}  // namespace

void NoteFolderMade(const std::string& hostPath) {
  int fd = open(hostPath.c_str(), kFolderFdFlags);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
    if (fd >= 0) close(fd);
    return;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_listings.find(hostPath);
  if (it != g_listings.end()) Drop(it);
  if (g_names >= kMaxNames) {
    close(fd);
    return;
  }
  if (g_withFd.size() >= kMaxFolderFds) {
    auto oldest = g_listings.find(g_withFd.front());
    if (oldest != g_listings.end()) CloseFolderFd(oldest->second, oldest->first);
    else g_withFd.pop_front();
  }
  Listing& listing = g_listings[hostPath];
  listing.stamp = StampOf(st);
  listing.dir = std::make_shared<const FolderFd>(fd);
  g_withFd.push_back(hostPath);
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
  if (g_names >= kMaxNames || StatusNow(it->second, folder, &now) != 0) {
    Drop(it);
    return;
  }
  // An empty from or to: an entry made, or one gone.
  if (!from.empty() && it->second.names.erase(Lower(from)) != 0) --g_names;
  if (!to.empty() && it->second.names.emplace(Lower(to), to).second) ++g_names;
  it->second.stamp = StampOf(now);
}

bool LookUpMadeFolder(const std::string& folder, const struct stat& folderNow, const std::string& name,
                      std::string& match, FolderRef* pDir) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_listings.find(folder);
  if (it == g_listings.end()) return false;
  if (!Matches(it->second.stamp, folderNow)) {
    Drop(it);
    return false;
  }
  auto found = it->second.names.find(Lower(name));
  match = found == it->second.names.end() ? std::string() : found->second;
  if (pDir != nullptr) *pDir = it->second.dir;
  return true;
}

Listed ListedName(const std::string& folder, const std::string& name) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_listings.find(folder);
  if (it == g_listings.end()) return Listed::kNoListing;
  if (it->second.names.count(Lower(name)) == 0) return Listed::kLacks;
  return it->second.dir ? Listed::kHolds : Listed::kNoListing;
}

FolderFd::~FolderFd() { close(m_fd); }

void ForgetMadeFolders() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_withFd.clear();
  g_listings.clear();
  g_names = 0;
}

}  // namespace sfx::host
