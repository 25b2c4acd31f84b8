// Private temporary folders below $TMPDIR (else /tmp), for work the tool
// does aside: signing a copy, running a setup.
#pragma once

#include <string>

namespace sfx::tool {

// A new folder only this process uses, "<tmp>/<stem>-XXXXXX"; kept.
// Throws ToolError when it cannot be made.
std::string MakeTempFolder(const char* stem);

// A temporary folder removed with everything in it when this goes.
class ScratchFolder {
 public:
  explicit ScratchFolder(const char* stem) : path_(MakeTempFolder(stem)) {}
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace sfx::tool
