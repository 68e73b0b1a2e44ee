#pragma once

// Lets GoogleTest print optional record fields in failure messages.

#include <boost/optional.hpp>
#include <gtest/gtest-printers.h>

#include <ostream>

namespace boost {
template <typename T> void PrintTo(const optional<T>& value, std::ostream* os) {
    if (!value) {
        *os << "(none)";
        return;
    }
    *os << "(";
    ::testing::internal::UniversalPrint(*value, os);
    *os << ")";
}
} // namespace boost
