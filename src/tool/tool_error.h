// How commands end: a ToolError carries the one line shown on standard
// error and the exit status.
#pragma once

#include <stdexcept>
#include <string>

namespace sfx::tool {

class ToolError : public std::runtime_error {
 public:
  explicit ToolError(const std::string& message, int status = 1)
      : std::runtime_error(message), status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

}  // namespace sfx::tool
