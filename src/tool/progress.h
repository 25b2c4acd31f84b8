// A progress line on a terminal: shown on standard error only when it is a
// terminal and the work has run for a moment, rewritten in place, erased
// when done.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace sfx::tool {

class Progress {
 public:
  explicit Progress(std::string what);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Update(size_t index, size_t count, const std::string& item = std::string());

 private:
  std::string what_;
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_;
};

}  // namespace sfx::tool
