#include "OrvCrypt.h"

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
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

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Every message and answer is signed and its signature encoded: a filter chain per call costs
// more than the encoding itself.
std::string Encode(const uint8_t* data, std::size_t size) {
    std::string text((size + 2) / 3 * 4, '=');
    char* out = &text[0];
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const uint32_t group = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
        *out++ = kAlphabet[group >> 18];
        *out++ = kAlphabet[(group >> 12) & 0x3F];
        *out++ = kAlphabet[(group >> 6) & 0x3F];
        *out++ = kAlphabet[group & 0x3F];
    }
    if (i < size) {
        const bool two = i + 1 < size;
        const uint32_t group = (uint32_t{data[i]} << 16) | (two ? uint32_t{data[i + 1]} << 8 : 0u);
        *out++ = kAlphabet[group >> 18];
        *out++ = kAlphabet[(group >> 12) & 0x3F];
        if (two)
            *out = kAlphabet[(group >> 6) & 0x3F];
    }
    return text;
}

int DecodedValue(char ch) {
    if (ch >= 'A' && ch <= 'Z')
        return ch - 'A';
    if (ch >= 'a' && ch <= 'z')
        return ch - 'a' + 26;
    if (ch >= '0' && ch <= '9')
        return ch - '0' + 52;
    if (ch == '+')
        return 62;
    if (ch == '/')
        return 63;
    return -1;
}

// The usual case, a secret as Base64 writes it (whole groups of four, padding only at the end,
// no stray bits), decoded directly. Anything else is left to the general decoder, which
// knows how to skip and drop.
bool DecodeCanonical(const std::string& text, std::string& bytes) {
    const std::size_t size = text.size();
    if (size % 4 != 0)
        return false;
    std::size_t padding = 0;
    if (size > 0 && text[size - 1] == '=')
        padding = size > 1 && text[size - 2] == '=' ? 2 : 1;
    bytes.clear();
    bytes.reserve(size / 4 * 3);
    for (std::size_t i = 0; i < size; i += 4) {
        const bool last = i + 4 == size;
        const std::size_t digits = last ? 4 - padding : 4;
        uint32_t group = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            int value = 0;
            if (k < digits) {
                value = DecodedValue(text[i + k]);
                if (value < 0)
                    return false;
            }
            group = (group << 6) | static_cast<uint32_t>(value);
        }
        if (digits == 2 && (group & 0xFFFF) != 0)
            return false;
        if (digits == 3 && (group & 0xFF) != 0)
            return false;
        bytes.push_back(static_cast<char>(group >> 16));
        if (digits >= 3)
            bytes.push_back(static_cast<char>((group >> 8) & 0xFF));
        if (digits == 4)
            bytes.push_back(static_cast<char>(group & 0xFF));
    }
    return true;
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
    std::string canonical;
    if (DecodeCanonical(text, canonical))
        return canonical;
    try {
        std::string bytes;
        CryptoPP::Base64Decoder decoder(new CryptoPP::StringSink(bytes));
        decoder.Put(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        decoder.MessageEnd();
        return bytes;
    } catch (const std::exception&) {
        return {};
    }
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
