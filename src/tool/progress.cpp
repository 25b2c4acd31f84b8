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
  std::string shortItem = item.size() > 40 ? item.substr(0, 37) + "..." : item;
  line_ = std::to_string(index + 1) + "/" + std::to_string(count) + " " + shortItem;
  Draw();
}

void Progress::AddBytes(uint64_t n) {
  doneBytes_ += n;
  if (enabled_) Draw();
}

void Progress::Draw() {
  auto now = std::chrono::steady_clock::now();
  if (now - start_ < kDelay || (shown_ && now - last_ < kInterval)) return;
  last_ = now;
  shown_ = true;
  if (totalBytes_ > 0)
    fprintf(stderr, "\r\033[K%s %.1f of %.1f MB (%d%%), file %s", what_.c_str(), doneBytes_ / 1e6, totalBytes_ / 1e6,
            (int)(100.0 * (double)doneBytes_ / (double)totalBytes_), line_.c_str());
  else
    fprintf(stderr, "\r\033[K%s %s", what_.c_str(), line_.c_str());
  fflush(stderr);
}

}  // namespace sfx::tool
