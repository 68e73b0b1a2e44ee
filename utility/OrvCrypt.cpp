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

// Base64 on one line, padded. Written out rather than through a Crypto++ filter chain, whose
// set-up costs every send (each signs its request and checks the answer's signature) more than
// the encoding itself.
std::string Encode(const uint8_t* data, std::size_t size) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((size + 2) / 3 * 4);
    for (std::size_t i = 0; i < size; i += 3) {
        const std::size_t left = size - i;
        const uint32_t group = uint32_t{data[i]} << 16 | (left > 1 ? uint32_t{data[i + 1]} << 8 : 0) |
                               (left > 2 ? uint32_t{data[i + 2]} : 0);
        text += kDigits[group >> 18];
        text += kDigits[group >> 12 & 63];
        text += left > 1 ? kDigits[group >> 6 & 63] : '=';
        text += left > 2 ? kDigits[group & 63] : '=';
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
