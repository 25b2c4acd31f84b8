// An output file that appears whole or not at all: written to a temporary
// file in the same folder and renamed over the target on Commit. Dropped
// without Commit (an error, an exception), the temporary file is removed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace sfx::pack {

class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class AtomicOutput {
 public:
  // mode: the permission bits the finished file gets (before the umask).
  explicit AtomicOutput(const std::string& target, unsigned mode = 0644);
  ~AtomicOutput();
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  void Write(const uint8_t* data, size_t size);
  // Flushes, closes and renames over the target. Throws OutputError.
  void Commit();

 private:
  void Discard();
  std::string target_;
  std::string temp_;
  unsigned mode_;
  int fd_ = -1;
};

// Writes a file whole from bytes in memory, as AtomicOutput does.
void WriteAtomically(const std::string& target, const uint8_t* data, size_t size, unsigned mode = 0644);

}  // namespace sfx::pack
