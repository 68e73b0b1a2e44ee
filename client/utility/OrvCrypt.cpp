#include "OrvCrypt.h"

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
#include <cryptopp/hmac.h>
#include <cryptopp/osrng.h>
#include <cryptopp/sha.h>

#include <exception>
#include <mutex>
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

std::string Encode(const uint8_t* data, std::size_t size) {
    std::string text;
    CryptoPP::Base64Encoder encoder(new CryptoPP::StringSink(text), false);
    encoder.Put(data, size);
    encoder.MessageEnd();
    return text;
}

} // namespace

bool HmacSha256(const Bytes& key, const Bytes& message, Bytes& output) {
    // An empty key is a valid HMAC key; give Crypto++ a real pointer all the same.
    static const uint8_t noKey = 0;
    CryptoPP::HMAC<CryptoPP::SHA256> hmac(key.empty() ? &noKey : key.data(), key.size());
    output.assign(CryptoPP::HMAC<CryptoPP::SHA256>::DIGESTSIZE, 0);
    hmac.Update(message.data(), message.size());
    hmac.Final(output.data());
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
