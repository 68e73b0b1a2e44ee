#pragma once

#include "UTF8String.h"

#include <array>
#include <cstdint>
#include <ostream>
#include <string_view>

namespace OrvelUtility {

// A UUID held as its 16 bytes; all zero is the null Uuid (the default). Being a plain value it
// copies without allocating, which matters for sessions of many lines.
//  - ToString():          "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", lower case; "" when null.
//  - ToFormattedString(): "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case; "" when null.
//  - Construction from text accepts both forms in any letter case (surrounding braces optional)
//    and gives a null Uuid for anything else, including the all-zero UUID.
class Uuid {
public:
    Uuid() = default;
    explicit Uuid(std::string_view text);

    // A new random version-4 UUID from the secure random source.
    static Uuid Create();

    bool IsNull() const { return bytes_ == std::array<uint8_t, 16>{}; }
    UTF8String ToString() const;
    UTF8String ToFormattedString() const;

    friend bool operator==(const Uuid& a, const Uuid& b) { return a.bytes_ == b.bytes_; }
    friend bool operator!=(const Uuid& a, const Uuid& b) { return !(a == b); }
    // The order of the texts: hex digits sort as the bytes they stand for.
    friend bool operator<(const Uuid& a, const Uuid& b) { return a.bytes_ < b.bytes_; }

private:
    // The canonical text with the given hex digits, "" when null.
    UTF8String Text(const char* digits) const;

    std::array<uint8_t, 16> bytes_{};
};

inline void PrintTo(const Uuid& id, std::ostream* os) {
    *os << (id.IsNull() ? "<null uuid>" : id.ToString());
}

} // namespace OrvelUtility
