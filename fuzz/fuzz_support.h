// Shared pieces of the fuzz harnesses.
//
// Each harness defines its entry with SFX_FUZZ_TARGET(name). Built for
// libFuzzer it is LLVMFuzzerTestOneInput; built with SFX_FUZZ_REPLAY (the
// replay test of tests/hardening) it is SfxFuzz_<name>, so that all the
// harnesses fit in one program. FUZZ_CHECK aborts under libFuzzer, which
// saves the input; in replay it throws FuzzFailure for the test to report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#ifdef SFX_FUZZ_REPLAY
#define SFX_FUZZ_TARGET(name) int SfxFuzz_##name(const uint8_t* data, size_t size)
#else
#define SFX_FUZZ_TARGET(name) extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
#endif

namespace sfx::fuzz {

class FuzzFailure : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

[[noreturn]] void Fail(const char* file, int line, const std::string& what);

#define FUZZ_CHECK(cond, what)                                   \
  do {                                                           \
    if (!(cond)) ::sfx::fuzz::Fail(__FILE__, __LINE__, (what));  \
  } while (0)

// A folder of this process, made on first use and removed at exit.
const std::string& ScratchDir();

// Points SFX_PREFIX at an emulated machine in the scratch folder. In replay
// a prefix already set is kept (the test makes its own); a fuzzer always
// uses its own, never the developer's.
void EnsurePrefix();

// Writes the bytes as a host file; aborts the process if it cannot (the
// harness would test nothing).
void WriteHostFile(const std::string& path, const uint8_t* data, size_t size);

// Removes a folder and everything in it (links are removed, not followed).
void RemoveTree(const std::string& path);

}  // namespace sfx::fuzz
