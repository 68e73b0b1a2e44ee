#pragma once

#include "UTF8String.h"

#include <ostream>

namespace OrvelUtility {

// A UUID held as its canonical lower-case text. A default Uuid is null (empty text).
//  - ToString():          "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", lower case; "" when null.
//  - ToFormattedString(): "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case; "" when null.
//  - Construction from text accepts both forms in any letter case (surrounding braces optional)
//    and gives a null Uuid for anything else, including the all-zero UUID.
class Uuid {
public:
    Uuid() = default;
    explicit Uuid(const UTF8String& text);

    // A new random version-4 UUID from the secure random source.
    static Uuid Create();

    bool IsNull() const { return text_.empty(); }
    const UTF8String& ToString() const { return text_; }
    UTF8String ToFormattedString() const;

    friend bool operator==(const Uuid& a, const Uuid& b) { return a.text_ == b.text_; }
    friend bool operator!=(const Uuid& a, const Uuid& b) { return !(a == b); }
    friend bool operator<(const Uuid& a, const Uuid& b) { return a.text_ < b.text_; }

private:
    UTF8String text_;
};

inline void PrintTo(const Uuid& id, std::ostream* os) { *os << (id.IsNull() ? "<null uuid>" : id.ToString()); }

} // namespace OrvelUtility
