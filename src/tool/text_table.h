// A plain text table: columns padded to their widest cell, numbers right-aligned.
#pragma once

#include <string>
#include <vector>

namespace sfx::tool {

class TextTable {
 public:
  // A header starting with '>' is right-aligned (the '>' is not shown).
  explicit TextTable(std::vector<std::string> headers);
  void Add(std::vector<std::string> row);
  std::string Render() const;

 private:
  std::vector<std::string> headers_;
  std::vector<bool> right_;
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace sfx::tool
