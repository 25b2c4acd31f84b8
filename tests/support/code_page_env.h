// Sets the emulated machine's code page (SFX_CODEPAGE) for one scope of a
// test and restores what was there.
#pragma once

#include <cstdlib>
#include <string>

namespace sfx::test {

class ScopedCodePage {
 public:
  explicit ScopedCodePage(unsigned codePage) {
    const char* old = getenv("SFX_CODEPAGE");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("SFX_CODEPAGE", std::to_string(codePage).c_str(), 1);
  }
  ~ScopedCodePage() {
    if (had_) setenv("SFX_CODEPAGE", old_.c_str(), 1);
    else unsetenv("SFX_CODEPAGE");
  }
  ScopedCodePage(const ScopedCodePage&) = delete;
  ScopedCodePage& operator=(const ScopedCodePage&) = delete;

 private:
  bool had_ = false;
  std::string old_;
};

}  // namespace sfx::test
