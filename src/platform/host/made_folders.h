// Listings of the folders this process made, for the look-ups that ignore
// letter case.
//
// Finding "b01.so" in a folder that may hold "B01.SO" takes a read of the
// whole folder whenever the name is not there as written; an installation
// that fills a new folder with a hundred files would read it a hundred
// times. For a folder this process made itself, the names are kept instead:
// the folder starts empty, and the process adds its own new entries as it
// makes them. A listing is trusted only while the folder's inode and its
// modification and change times are those recorded after the process's own
// last change, so any other change (a file made, renamed or removed by
// anyone, this process included, other than through NoteEntryMade) makes
// the folder be read again as before. What that check cannot see is
// a change by another process between this process's look-up and its own
// next entry in the same folder, or within the clock tick after it: a
// folder made moments ago by this process is not where other programs put
// files, and the listing is kept for such folders only.
#pragma once

#include <sys/stat.h>

#include <memory>
#include <string>

namespace sfx::host {

// The folder at hostPath was made just now by this process (mkdir
// succeeded): it starts an empty listing.
void NoteFolderMade(const std::string& hostPath);

// This process made the entry name (a file or folder) in folder just now.
// A listing of the folder takes the name and the folder's new times.
void NoteEntryMade(const std::string& folder, const std::string& name);

// This process removed the entry name from folder, or renamed it away,
// just now. A listing of the folder drops the name and takes the folder's
// new times.
void NoteEntryGone(const std::string& folder, const std::string& name);

// This process renamed the entry from to to within folder just now: the
// two notes above with one look at the folder.
void NoteEntryRenamed(const std::string& folder, const std::string& from, const std::string& to);

// A descriptor of a listed folder. The listing shares it with the mappings
// it answers: the call that follows acts on the folder the listing
// describes through it (openat, renameat), with no second walk of the path,
// and the status taken after the process's own change is that folder's even
// when its path has come to lead elsewhere (the next look by path then sees
// another inode). It stays open while a mapping holds it.
class FolderFd {
 public:
  explicit FolderFd(int fd) : m_fd(fd) {}
  ~FolderFd();
  FolderFd(const FolderFd&) = delete;
  FolderFd& operator=(const FolderFd&) = delete;
  int fd() const { return m_fd; }

 private:
  int m_fd;
};
using FolderRef = std::shared_ptr<const FolderFd>;

// Looks name up, ignoring ASCII case, in the listing of folder, whose
// current status is folderNow. True when a listing answered: match is then
// the name on disk, or empty when there is none, and *pDir (when given) the
// folder's descriptor, if the listing keeps one. False when the folder has
// no listing that still holds; the caller reads the folder itself.
bool LookUpMadeFolder(const std::string& folder, const struct stat& folderNow, const std::string& name,
                      std::string& match, FolderRef* pDir = nullptr);

// What a listing of folder, not yet checked against the folder's current
// status, says of name in any case: a caller about to look for name learns
// by LookUpMadeFolder, with one look at the folder, whether it is there.
// kHolds only where the listing keeps the folder's descriptor, through which
// the name can then be looked at; a listing without one answers kNoListing
// for a name it holds, which is looked at by its path as before.
enum class Listed { kNoListing, kLacks, kHolds };
Listed ListedName(const std::string& folder, const std::string& name);

// Drops every listing (a new prefix, or a test's clean slate).
void ForgetMadeFolders();

}  // namespace sfx::host
