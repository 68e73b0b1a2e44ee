#pragma once

#include <stdexcept>
#include <string>

// The program's exception: a handler that cannot go on throws one with a fixed message.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};
