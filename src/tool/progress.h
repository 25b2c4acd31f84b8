// A progress line on a terminal: shown on standard error only when it is a
// terminal and the work has run for a moment, rewritten in place, erased
// when done.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace sfx::tool {

class Progress {
 public:
  explicit Progress(std::string what);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Update(size_t index, size_t count, const std::string& item = std::string());
  // Byte counting: the total to expect, and bytes done since the last call,
  // so that one large file shows progress too.
  void SetTotalBytes(uint64_t total) { totalBytes_ = total; }
  void AddBytes(uint64_t n);

 private:
  void Draw();

  std::string what_;
  std::string line_;  // "3/40 name"
  uint64_t totalBytes_ = 0;
  uint64_t doneBytes_ = 0;
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_;
};

}  // namespace sfx::tool
