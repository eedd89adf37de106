#pragma once

#include <exception>
#include <string>

namespace flenn {

// The core's one error: a finished sentence for the user, shown unchanged by the front ends.
class CodecError : public std::exception {
  public:
    explicit CodecError(std::string message) : message_(std::move(message)) {}
    const std::string &message() const { return message_; }
    const char *what() const noexcept override { return message_.c_str(); }

  private:
    std::string message_;
};

} // namespace flenn
