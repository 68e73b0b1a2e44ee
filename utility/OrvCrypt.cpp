#include "OrvCrypt.h"

#include <cryptopp/hmac.h>
#include <cryptopp/osrng.h>
#include <cryptopp/sha.h>

#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <utility>

namespace OrvCrypt {

namespace {

std::mutex g_sourceMutex;
RandomSource g_testSource;

bool SystemRandom(uint8_t* buffer, std::size_t count) {
    try {
        CryptoPP::OS_GenerateRandomBlock(false, buffer, count);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

constexpr char kBase64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int DigitValue(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    return c == '+' ? 62 : c == '/' ? 63 : -1;
}

// Base64 on one line, padded. Base64 is written out here rather than run through Crypto++'s
// filter chains, whose set-up cost every send (each decodes its secret, signs its request and
// checks the answer's signature) more than the coding itself.
std::string Encode(const uint8_t* data, std::size_t size) {
    std::string text;
    text.reserve((size + 2) / 3 * 4);
    for (std::size_t i = 0; i < size; i += 3) {
        const std::size_t left = size - i;
        const uint32_t group = uint32_t{data[i]} << 16 | (left > 1 ? uint32_t{data[i + 1]} << 8 : 0) |
                               (left > 2 ? uint32_t{data[i + 2]} : 0);
        text += kBase64Digits[group >> 18];
        text += kBase64Digits[group >> 12 & 63];
        text += left > 1 ? kBase64Digits[group >> 6 & 63] : '=';
        text += left > 2 ? kBase64Digits[group & 63] : '=';
    }
    return text;
}

} // namespace

struct HmacSha256Key::Mac {
    CryptoPP::HMAC<CryptoPP::SHA256> hmac;
};

HmacSha256Key::HmacSha256Key(const std::string& key) : mac_(std::make_unique<Mac>()) {
    // An empty key is a valid HMAC key; give Crypto++ a real pointer all the same.
    static const uint8_t noKey = 0;
    mac_->hmac.SetKey(key.empty() ? &noKey : reinterpret_cast<const uint8_t*>(key.data()), key.size());
}

HmacSha256Key::~HmacSha256Key() = default;

std::string HmacSha256Key::SignBase64(const std::string& message) {
    uint8_t mac[CryptoPP::HMAC<CryptoPP::SHA256>::DIGESTSIZE];
    mac_->hmac.CalculateDigest(mac, reinterpret_cast<const uint8_t*>(message.data()), message.size());
    return Encode(mac, sizeof mac);
}

void HmacSha256Key::Sign(const uint8_t* message, std::size_t length, Bytes& output) {
    output.resize(CryptoPP::HMAC<CryptoPP::SHA256>::DIGESTSIZE);
    mac_->hmac.CalculateDigest(output.data(), message, length);
}

bool HmacSha256(const Bytes& key, const Bytes& message, Bytes& output) {
    HmacSha256Key(std::string(key.begin(), key.end())).Sign(message.data(), message.size(), output);
    return true;
}

std::string Base64encode(const Bytes& bytes) {
    return Encode(bytes.data(), bytes.size());
}

std::string Base64encode(const std::string& bytes) {
    return Encode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string Base64decode(const std::string& text) {
    // Characters outside the alphabet (line breaks, spaces, padding, junk) are skipped; bits
    // that do not make a whole byte at the end are dropped.
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3 + 2);
    uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        const int digit = DigitValue(c);
        if (digit < 0)
            continue;
        bits = (bits << 6 | static_cast<uint32_t>(digit)) & 0xFFFFFF;
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes += static_cast<char>(bits >> count & 0xFF);
        }
    }
    return bytes;
}

bool SecureRandom(int count, Bytes& output) {
    if (count < 0)
        return false;
    RandomSource source;
    {
        std::lock_guard<std::mutex> lock(g_sourceMutex);
        source = g_testSource;
    }
    try {
        Bytes buffer(static_cast<std::size_t>(count));
        const bool filled =
            source ? source(buffer.data(), buffer.size()) : SystemRandom(buffer.data(), buffer.size());
        if (!filled)
            return false;
        output = std::move(buffer);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void SetRandomSourceForTesting(RandomSource source) {
    std::lock_guard<std::mutex> lock(g_sourceMutex);
    g_testSource = std::move(source);
}

} // namespace OrvCrypt
