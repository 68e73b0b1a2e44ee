#include "Signer.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdint>

namespace orvelconsumer {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int SextetOf(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string Hmac(const std::string& key, const std::string& body) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    // HMAC() wants a non-null key pointer even for an empty key.
    static const unsigned char kNoKey = 0;
    const void* keyData = key.empty() ? static_cast<const void*>(&kNoKey) : key.data();
    if (!HMAC(EVP_sha256(), keyData, static_cast<int>(key.size()),
              reinterpret_cast<const unsigned char*>(body.data()), body.size(), digest, &length))
        return std::string();
    return std::string(reinterpret_cast<const char*>(digest), length);
}

} // namespace

std::optional<Signer> Signer::FromSecret(const std::string& secret) {
    std::optional<std::string> key = Base64Decode(secret);
    if (!key)
        return std::nullopt;
    return Signer(std::move(*key));
}

std::string Signer::Sign(const std::string& body) const {
    return Base64Encode(Hmac(key_, body));
}

bool Signer::Matches(const std::string& body, const std::string& signature) const {
    const std::string expected = Sign(body);
    if (expected.size() != signature.size())
        return false;
    // Compare without an early exit, as a consumer in production should.
    unsigned char difference = 0;
    for (std::size_t i = 0; i < expected.size(); ++i)
        difference |= static_cast<unsigned char>(expected[i] ^ signature[i]);
    return difference == 0;
}

std::string Signer::WrongSignature(const std::string& body) const {
    return Base64Encode(Hmac(key_ + "#", body));
}

std::string Signer::SignWithSecretText(const std::string& body) const {
    return Base64Encode(Hmac(Base64Encode(key_), body));
}

std::string Signer::SignHex(const std::string& body) const {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : Hmac(key_, body)) {
        hex += kDigits[static_cast<uint8_t>(c) >> 4];
        hex += kDigits[static_cast<uint8_t>(c) & 15];
    }
    return hex;
}

std::string Signer::Base64Encode(const std::string& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t n = (static_cast<uint8_t>(bytes[i]) << 16) |
                           (static_cast<uint8_t>(bytes[i + 1]) << 8) | static_cast<uint8_t>(bytes[i + 2]);
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += kAlphabet[(n >> 6) & 63];
        out += kAlphabet[n & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest == 1) {
        const uint32_t n = static_cast<uint8_t>(bytes[i]) << 16;
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += "==";
    } else if (rest == 2) {
        const uint32_t n = (static_cast<uint8_t>(bytes[i]) << 16) | (static_cast<uint8_t>(bytes[i + 1]) << 8);
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += kAlphabet[(n >> 6) & 63];
        out += '=';
    }
    return out;
}

std::optional<std::string> Signer::Base64Decode(const std::string& text) {
    std::string out;
    uint32_t bits = 0;
    int bitCount = 0;
    int sextets = 0;
    int padding = 0;
    for (const char c : text) {
        if (IsBlank(c))
            continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        const int value = SextetOf(c);
        if (value < 0 || padding > 0)
            return std::nullopt; // not Base64, or data after the padding
        ++sextets;
        bits = (bits << 6) | static_cast<uint32_t>(value);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            out += static_cast<char>((bits >> bitCount) & 0xFF);
        }
    }
    // One sextet alone cannot make a byte; more padding than a group can hold is no Base64.
    if (sextets % 4 == 1 || padding > 2 || (padding > 0 && (sextets + padding) % 4 != 0))
        return std::nullopt;
    return out;
}

} // namespace orvelconsumer
