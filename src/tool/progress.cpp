#include "tool/progress.h"

#include <unistd.h>

#include <cstdio>

namespace sfx::tool {
namespace {

// Quick work shows nothing; longer work is redrawn a few times a second.
const auto kDelay = std::chrono::milliseconds(400);
const auto kInterval = std::chrono::milliseconds(100);

}  // namespace

Progress::Progress(std::string what)
    : what_(std::move(what)), enabled_(isatty(STDERR_FILENO) != 0), start_(std::chrono::steady_clock::now()) {}

Progress::~Progress() {
  if (shown_) fprintf(stderr, "\r\033[K");
}

void Progress::Update(size_t index, size_t count, const std::string& item) {
  if (!enabled_) return;
  auto now = std::chrono::steady_clock::now();
  if (now - start_ < kDelay || (shown_ && now - last_ < kInterval)) return;
  last_ = now;
  shown_ = true;
  std::string shortItem = item.size() > 40 ? item.substr(0, 37) + "..." : item;
  fprintf(stderr, "\r\033[K%s %zu/%zu %s", what_.c_str(), index + 1, count, shortItem.c_str());
  fflush(stderr);
}

}  // namespace sfx::tool
