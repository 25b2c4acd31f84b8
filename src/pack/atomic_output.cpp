#include "pack/atomic_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sfx::pack {
namespace {

std::string Error(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + strerror(errno);
}

mode_t Umask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

}  // namespace

AtomicOutput::AtomicOutput(const std::string& target, unsigned mode) : target_(target), mode_(mode) {
  if (target.empty()) throw OutputError("no output file given");
  // The temporary file lies beside the target so that the rename stays on
  // one file system and never leaves the target's folder.
  temp_ = target + ".tmp-XXXXXX";
  fd_ = mkostemp(temp_.data(), O_CLOEXEC);
  if (fd_ < 0) throw OutputError(Error("cannot write beside", target));
}

AtomicOutput::~AtomicOutput() { Discard(); }

void AtomicOutput::Discard() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
    unlink(temp_.c_str());
  }
}

void AtomicOutput::Write(const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd_, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      throw OutputError(Error("cannot write", temp_));
    }
    data += n;
    size -= (size_t)n;
  }
}

void AtomicOutput::Commit() {
  if (fchmod(fd_, mode_ & ~Umask()) != 0 || fsync(fd_) != 0) throw OutputError(Error("cannot write", temp_));
  int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) {
    unlink(temp_.c_str());
    throw OutputError(Error("cannot write", temp_));
  }
  if (rename(temp_.c_str(), target_.c_str()) != 0) {
    std::string message = Error("cannot write", target_);
    unlink(temp_.c_str());
    throw OutputError(message);
  }
}

void WriteAtomically(const std::string& target, const uint8_t* data, size_t size, unsigned mode) {
  AtomicOutput out(target, mode);
  out.Write(data, size);
  out.Commit();
}

}  // namespace sfx::pack
