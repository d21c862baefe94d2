#pragma once
#include <stdexcept>
#include <string>

namespace pek {

// Base of every failure the system raises; the message is a CP932 byte string.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }

private:
    std::string message_;
};

}  // namespace pek
