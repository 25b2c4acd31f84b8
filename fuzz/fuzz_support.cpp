#include "fuzz_support.h"

#include <fcntl.h>
#include <ftw.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace sfx::fuzz {

void Fail(const char* file, int line, const std::string& what) {
  std::string message = std::string(file) + ":" + std::to_string(line) + ": " + what;
#ifdef SFX_FUZZ_REPLAY
  throw FuzzFailure(message);
#else
  fprintf(stderr, "FUZZ_CHECK failed: %s\n", message.c_str());
  abort();
#endif
}

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);
  return 0;
}

std::string MakeScratch() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/sfxkit-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    perror("mkdtemp");
    abort();
  }
  return pattern;
}

// Held for the whole process (never destroyed), so that the exit handler
// that removes the folder still has its name.
std::string* g_scratch = nullptr;

void RemoveScratch() { RemoveTree(*g_scratch); }

}  // namespace

const std::string& ScratchDir() {
  if (g_scratch == nullptr) {
    g_scratch = new std::string(MakeScratch());
    atexit(RemoveScratch);
  }
  return *g_scratch;
}

void EnsurePrefix() {
#ifdef SFX_FUZZ_REPLAY
  const char* prefix = getenv("SFX_PREFIX");
  if (prefix != nullptr && *prefix) return;
#endif
  setenv("SFX_PREFIX", (ScratchDir() + "/prefix").c_str(), 1);
}

void WriteHostFile(const std::string& path, const uint8_t* data, size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    perror(path.c_str());
    abort();
  }
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) {
      perror(path.c_str());
      abort();
    }
    done += (size_t)n;
  }
  close(fd);
}

void RemoveTree(const std::string& path) {
  nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace sfx::fuzz
