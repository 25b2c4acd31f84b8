#include "tool/depfile.h"

#include <filesystem>

#include "pack/atomic_output.h"
#include "tool/tool_error.h"

namespace sfx::tool {
namespace {

std::string Absolute(const std::string& base, const std::string& path) {
  std::filesystem::path p = path;
  if (p.is_relative() && !base.empty()) p = std::filesystem::path(base) / p;
  std::error_code ec;
  std::filesystem::path full = std::filesystem::absolute(p, ec);
  return (ec ? p : full.lexically_normal()).string();
}

std::string Quote(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '\n' || c == '\r') throw ToolError("depfile: the name " + path + " holds a line break");
    if (c == ' ' || c == '\t' || c == '#') out += '\\';
    if (c == '$') out += '$';
    out += c;
  }
  return out;
}

}  // namespace

std::vector<std::string> PackInputs(const pack::Manifest& m, const std::string& manifestPath,
                                    const std::string& stubPath) {
  std::vector<std::string> inputs = {Absolute("", manifestPath)};
  for (const pack::ManifestFile& f : m.files) inputs.push_back(Absolute(m.baseDir, f.source));
  if (m.block1File) inputs.push_back(Absolute(m.baseDir, *m.block1File));
  if (m.block2File) inputs.push_back(Absolute(m.baseDir, *m.block2File));
  inputs.push_back(Absolute("", stubPath));
  return inputs;
}

std::string DepfileText(const std::string& target, const std::vector<std::string>& inputs) {
  std::string text = Quote(Absolute("", target)) + ":";
  for (const std::string& input : inputs) text += " \\\n  " + Quote(input);
  return text + "\n";
}

void WriteDepfile(const std::string& path, const std::string& target, const std::vector<std::string>& inputs) {
  std::string text = DepfileText(target, inputs);
  pack::WriteAtomically(path, (const uint8_t*)text.data(), text.size());
}

}  // namespace sfx::tool
