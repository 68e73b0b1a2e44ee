#include "Uuid.h"

#include <cryptopp/osrng.h>

#include <array>
#include <cstdint>

namespace OrvelUtility {

namespace {

constexpr std::size_t kCanonicalLength = 36;

bool IsDashPosition(std::size_t i) {
    return i == 8 || i == 13 || i == 18 || i == 23;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The canonical lower-case text of a 36-character candidate, or "" when it is not one.
UTF8String Canonicalise(const char* text) {
    UTF8String result(kCanonicalLength, '-');
    bool allZero = true;
    for (std::size_t i = 0; i < kCanonicalLength; ++i) {
        const char c = text[i];
        if (IsDashPosition(i)) {
            if (c != '-')
                return {};
            continue;
        }
        const int v = HexValue(c);
        if (v < 0)
            return {};
        if (v != 0)
            allZero = false;
        result[i] = "0123456789abcdef"[v];
    }
    // The nil UUID identifies nothing; treat it like absent text.
    if (allZero)
        return {};
    return result;
}

} // namespace

Uuid::Uuid(const UTF8String& text) {
    if (text.size() == kCanonicalLength)
        text_ = Canonicalise(text.data());
    else if (text.size() == kCanonicalLength + 2 && text.front() == '{' && text.back() == '}')
        text_ = Canonicalise(text.data() + 1);
}

Uuid Uuid::Create() {
    std::array<uint8_t, 16> bytes{};
    CryptoPP::OS_GenerateRandomBlock(false, bytes.data(), bytes.size());
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant

    static const char digits[] = "0123456789abcdef";
    Uuid id;
    id.text_.reserve(kCanonicalLength);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            id.text_.push_back('-');
        id.text_.push_back(digits[bytes[i] >> 4]);
        id.text_.push_back(digits[bytes[i] & 0x0F]);
    }
    return id;
}

UTF8String Uuid::ToFormattedString() const {
    if (IsNull())
        return {};
    UTF8String result;
    result.reserve(text_.size() + 2);
    result.push_back('{');
    for (char c : text_)
        result.push_back((c >= 'a' && c <= 'f') ? static_cast<char>(c - 'a' + 'A') : c);
    result.push_back('}');
    return result;
}

} // namespace OrvelUtility
