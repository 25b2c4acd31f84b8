#include "tool/text_table.h"

#include <algorithm>

namespace sfx::tool {

TextTable::TextTable(std::vector<std::string> headers) {
  for (std::string& h : headers) {
    bool right = !h.empty() && h[0] == '>';
    right_.push_back(right);
    headers_.push_back(right ? h.substr(1) : h);
  }
}

void TextTable::Add(std::vector<std::string> row) {
  row.resize(headers_.size());
  rows_.push_back(std::move(row));
}

std::string TextTable::Render() const {
  std::vector<size_t> width(headers_.size());
  for (size_t c = 0; c < headers_.size(); ++c) width[c] = headers_[c].size();
  for (const auto& row : rows_)
    for (size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
  auto line = [&](const std::vector<std::string>& cells) {
    std::string out;
    for (size_t c = 0; c < cells.size(); ++c) {
      std::string pad(width[c] - cells[c].size(), ' ');
      bool last = c + 1 == cells.size();
      out += right_[c] ? pad + cells[c] : (last ? cells[c] : cells[c] + pad);
      if (!last) out += "  ";
    }
    return out + "\n";
  };
  std::string out = line(headers_);
  for (const auto& row : rows_) out += line(row);
  return out;
}

}  // namespace sfx::tool
