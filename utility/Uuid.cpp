#include "Uuid.h"

#include <cryptopp/osrng.h>

namespace OrvelUtility {

namespace {

// The value of each byte as a hex digit, 0xFF for anything else. A table, because the digits of
// a random id would defeat any branch on the kind of character.
struct HexTable {
    uint8_t value[256];
    constexpr HexTable() : value() {
        for (int c = 0; c < 256; ++c)
            value[c] = 0xFF;
        for (int c = '0'; c <= '9'; ++c)
            value[c] = static_cast<uint8_t>(c - '0');
        for (int c = 'a'; c <= 'f'; ++c)
            value[c] = static_cast<uint8_t>(c - 'a' + 10);
        for (int c = 'A'; c <= 'F'; ++c)
            value[c] = static_cast<uint8_t>(c - 'A' + 10);
    }
};
constexpr HexTable kHex;

// Where the two digits of each byte stand in the 36-character text.
constexpr std::size_t kDigitAt[16] = {0, 2, 4, 6, 9, 11, 14, 16, 19, 21, 24, 26, 28, 30, 32, 34};

// The bytes of a 36-character candidate; false when it is not one.
bool ParseCanonical(const char* text, std::array<uint8_t, 16>& bytes) {
    if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
        return false;
    unsigned bad = 0;
    for (std::size_t i = 0; i < 16; ++i) {
        const uint8_t high = kHex.value[static_cast<unsigned char>(text[kDigitAt[i]])];
        const uint8_t low = kHex.value[static_cast<unsigned char>(text[kDigitAt[i] + 1])];
        bad |= (high | low) & 0xF0u;
        bytes[i] = static_cast<uint8_t>((high << 4) | (low & 0x0F));
    }
    return bad == 0;
}

void WriteDigits(const std::array<uint8_t, 16>& bytes, const char* digits, char* out) {
    for (std::size_t i = 0; i < 16; ++i) {
        out[kDigitAt[i]] = digits[bytes[i] >> 4];
        out[kDigitAt[i] + 1] = digits[bytes[i] & 0x0F];
    }
    out[8] = out[13] = out[18] = out[23] = '-';
}

} // namespace

Uuid::Uuid(std::string_view text) {
    const char* canonical = nullptr;
    if (text.size() == kTextLength)
        canonical = text.data();
    else if (text.size() == kTextLength + 2 && text.front() == '{' && text.back() == '}')
        canonical = text.data() + 1;
    // The nil UUID identifies nothing: it stays null, like absent text.
    if (canonical && !ParseCanonical(canonical, bytes_))
        bytes_ = {};
}

Uuid Uuid::Create() {
    Uuid id;
    CryptoPP::OS_GenerateRandomBlock(false, id.bytes_.data(), id.bytes_.size());
    id.bytes_[6] = static_cast<uint8_t>((id.bytes_[6] & 0x0F) | 0x40); // version 4
    id.bytes_[8] = static_cast<uint8_t>((id.bytes_[8] & 0x3F) | 0x80); // RFC 4122 variant
    return id;
}

std::size_t Uuid::WriteString(char* out) const {
    if (IsNull())
        return 0;
    WriteDigits(bytes_, "0123456789abcdef", out);
    return kTextLength;
}

std::size_t Uuid::WriteFormattedString(char* out) const {
    if (IsNull())
        return 0;
    out[0] = '{';
    WriteDigits(bytes_, "0123456789ABCDEF", out + 1);
    out[kFormattedLength - 1] = '}';
    return kFormattedLength;
}

UTF8String Uuid::ToString() const {
    char text[kTextLength];
    return UTF8String(text, WriteString(text));
}

UTF8String Uuid::ToFormattedString() const {
    char text[kFormattedLength];
    return UTF8String(text, WriteFormattedString(text));
}

} // namespace OrvelUtility
