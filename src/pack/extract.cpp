#include "pack/extract.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pack/extract_paths.h"
#include "pack/stream_decode.h"

namespace sfx::pack {
namespace {

const uint64_t kEpochTicks = 116444736000000000ull;  // 1970-01-01 in FILETIME ticks
const uint8_t kStoredAttributes = 0x01 | 0x02 | 0x04 | 0x20;

// A refused entry: the reason travels up as this exception.
struct Refused {
  std::string reason;
};

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(-1); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  void Reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string Join(const std::vector<std::string>& parts, const std::string& name) {
  std::string out;
  for (const std::string& p : parts) out += p + "/";
  return out + name;
}

// Opens (making it if missing) each folder below root in turn, never
// following a link.
Fd OpenFolders(int root, const std::vector<std::string>& folders) {
  Fd current(dup(root));
  std::string walked;
  for (const std::string& f : folders) {
    walked += f + "/";
    if (mkdirat(current.get(), f.c_str(), 0777) != 0 && errno != EEXIST)
      throw Refused{"cannot make folder " + walked + ": " + strerror(errno)};
    int next = openat(current.get(), f.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      if (errno == ELOOP || errno == ENOTDIR)
        throw Refused{walked + " is a link or not a folder"};
      throw Refused{"cannot open folder " + walked + ": " + strerror(errno)};
    }
    current.Reset(next);
  }
  return current;
}

// Creates the file fresh; an existing one is replaced only with --force and
// only when it is a plain file or a link (the link itself goes, not its
// target).
Fd CreateFile(int dir, const std::string& name, const std::string& shown, bool force) {
  struct stat st;
  if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!force) throw Refused{shown + " exists (--force replaces it)"};
    if (S_ISDIR(st.st_mode)) throw Refused{shown + " exists and is a folder"};
    if (unlinkat(dir, name.c_str(), 0) != 0) throw Refused{"cannot replace " + shown + ": " + strerror(errno)};
  }
  int fd = openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) throw Refused{"cannot create " + shown + ": " + strerror(errno)};
  return Fd(fd);
}

void WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw Refused{std::string("write failed: ") + strerror(n < 0 ? errno : EIO)};
    data += n;
    size -= (size_t)n;
  }
}

bool SetXattrNumber(int fd, const char* name, uint64_t value) {
  std::string text = std::to_string(value);
  return fsetxattr(fd, name, text.data(), text.size(), 0) == 0;
}

// Times and attribute, in the order that lets a read-only file keep them.
void Stamp(int fd, const TableEntry& e, bool& metadataKept) {
  if (e.mtime != 0) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = (time_t)e.mtime;
    times[1].tv_nsec = 0;
    if (futimens(fd, times) != 0) throw Refused{std::string("cannot set the time: ") + strerror(errno)};
    if (e.ctime != 0 && !SetXattrNumber(fd, "user.sfxkit.ctime", kEpochTicks + (uint64_t)e.ctime * 10000000u))
      metadataKept = false;
  }
  if (!SetXattrNumber(fd, "user.sfxkit.attr", e.attribute & kStoredAttributes)) metadataKept = false;
  if (e.attribute & 0x01) {
    struct stat st;
    if (fstat(fd, &st) != 0 || fchmod(fd, st.st_mode & ~(mode_t)0222) != 0)
      throw Refused{std::string("cannot make it read-only: ") + strerror(errno)};
  }
}

uint64_t Unpack(const SetupFile& setup, const LoadedPayload& payload, const TableEntry& e, int fd,
                const std::function<void(uint64_t)>& decoded) {
  if (e.start == e.end) return 0;  // an entry without a stream is an empty file
  if (e.start > e.end || e.end > 4 + (uint64_t)payload.layout.dataLength)
    throw Refused{"stream [" + std::to_string(e.start) + ", " + std::to_string(e.end) + ") lies outside the stream area"};
  DecodeOutcome out = DecodeStream(setup.payload(), setup.payloadSize(), e.start,
                                   [fd, &decoded](const uint8_t* p, size_t n) {
                                     WriteAll(fd, p, n);
                                     if (decoded) decoded(n);
                                   });
  if (out.result != 0) throw Refused{"stream fails to decode (result " + std::to_string(out.result) + ")"};
  return out.written;
}

class Extractor {
 public:
  Extractor(const SetupFile& setup, const LoadedPayload& payload, int root, const ExtractOptions& options,
            const std::function<void(uint64_t)>& decoded)
      : setup_(setup), payload_(payload), root_(root), options_(options), decoded_(decoded) {}

  void Entry(size_t i, ExtractReport& report) {
    const TableEntry& e = payload_.files[i];
    std::string shown = e.name;
    try {
      std::string why = CheckEntryName(e.name);
      if (!why.empty()) throw Refused{why};
      std::vector<std::string> folders;
      std::string name = e.name;
      if (options_.flat) {
        name = UniqueName(e.name, used_);
      } else {
        std::string dest = i < payload_.project.items.size() ? payload_.project.items[i].destDir : "";
        MappedFolders mapped = MapDestination(dest);
        if (!mapped.refusal.empty()) throw Refused{mapped.refusal};
        folders = mapped.folders;
      }
      shown = Join(folders, name);
      Fd dir = OpenFolders(root_, folders);
      Fd file = CreateFile(dir.get(), name, shown, options_.force);
      uint64_t size = 0;
      try {
        size = Unpack(setup_, payload_, e, file.get(), decoded_);
        Stamp(file.get(), e, report.metadataKept);
      } catch (const Refused&) {
        unlinkat(dir.get(), name.c_str(), 0);  // no half-written file stays
        throw;
      }
      report.files.push_back({i, shown, size});
    } catch (const Refused& r) {
      report.refusals.push_back("entry " + std::to_string(i) + " (" + shown + "): " + r.reason);
    }
  }

 private:
  const SetupFile& setup_;
  const LoadedPayload& payload_;
  int root_;
  ExtractOptions options_;
  std::function<void(uint64_t)> decoded_;
  std::vector<std::string> used_;
};

Fd OpenTarget(const std::string& dir) {
  if (dir.empty()) throw ExtractError("no target folder given");
  if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST)
    throw ExtractError("cannot make " + dir + ": " + strerror(errno));
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw ExtractError("cannot open " + dir + ": " + strerror(errno));
  return Fd(fd);
}

}  // namespace

ExtractReport ExtractSetup(const SetupFile& setup, const LoadedPayload& payload, const std::string& dir,
                           const ExtractOptions& options, const ExtractProgress& progress,
                           const std::function<void(uint64_t)>& decoded) {
  Fd root = OpenTarget(dir);
  ExtractReport report;
  Extractor extractor(setup, payload, root.get(), options, decoded);
  for (size_t i = 0; i < payload.files.size(); ++i) {
    if (progress) progress(i, payload.files.size());
    extractor.Entry(i, report);
  }
  return report;
}

}  // namespace sfx::pack
