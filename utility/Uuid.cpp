#include "Uuid.h"

#include <cryptopp/osrng.h>

#include <cstddef>

namespace OrvelUtility {

namespace {

// Where the two digits of each byte stand in the 36-character text.
constexpr std::size_t kDigitAt[16] = {0, 2, 4, 6, 9, 11, 14, 16, 19, 21, 24, 26, 28, 30, 32, 34};

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

Uuid::Uuid(std::string_view text) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}')
        text = text.substr(1, 36);
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
        return;
    std::array<uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < 16; ++i) {
        const int high = HexValue(text[kDigitAt[i]]);
        const int low = HexValue(text[kDigitAt[i] + 1]);
        if (high < 0 || low < 0)
            return;
        bytes[i] = static_cast<uint8_t>(high * 16 + low);
    }
    // The nil UUID identifies nothing: it stays null, like absent text.
    bytes_ = bytes;
}

Uuid Uuid::Create() {
    Uuid id;
    CryptoPP::OS_GenerateRandomBlock(false, id.bytes_.data(), id.bytes_.size());
    id.bytes_[6] = static_cast<uint8_t>((id.bytes_[6] & 0x0F) | 0x40); // version 4
    id.bytes_[8] = static_cast<uint8_t>((id.bytes_[8] & 0x3F) | 0x80); // RFC 4122 variant
    return id;
}

UTF8String Uuid::Text(const char* digits) const {
    if (IsNull())
        return {};
    UTF8String text(36, '-');
    for (std::size_t i = 0; i < 16; ++i) {
        text[kDigitAt[i]] = digits[bytes_[i] >> 4];
        text[kDigitAt[i] + 1] = digits[bytes_[i] & 0x0F];
    }
    return text;
}

UTF8String Uuid::ToString() const {
    return Text("0123456789abcdef");
}

UTF8String Uuid::ToFormattedString() const {
    return IsNull() ? UTF8String() : "{" + Text("0123456789ABCDEF") + "}";
}

} // namespace OrvelUtility
