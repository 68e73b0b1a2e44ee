#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace OrvCrypt {

using Bytes = std::vector<uint8_t>;

// HMAC-SHA256 of message under key into output (32 bytes). Returns true.
bool HmacSha256(const Bytes& key, const Bytes& message, Bytes& output);

// HMAC-SHA256 under one key (raw bytes), prepared once for any number of messages: a client
// signs its request and checks the answer's signature with the same key. Not for use by two
// threads at once.
class HmacSha256Key {
public:
    explicit HmacSha256Key(const std::string& key);
    ~HmacSha256Key();
    HmacSha256Key(const HmacSha256Key&) = delete;
    HmacSha256Key& operator=(const HmacSha256Key&) = delete;

    // Base64encode of the HMAC of message, without copying it.
    std::string SignBase64(const std::string& message);
    void Sign(const uint8_t* message, std::size_t length, Bytes& output);

private:
    struct Mac;
    std::unique_ptr<Mac> mac_;
};

// Standard padded Base64 (RFC 4648) on one line.
std::string Base64encode(const Bytes& bytes);
std::string Base64encode(const std::string& bytes);

// The bytes a Base64 text stands for. Characters outside the alphabet are skipped; a
// malformed tail is dropped. Never throws.
std::string Base64decode(const std::string& text);

// Fills output with exactly count bytes from a cryptographically secure source. Returns false
// (output untouched) when the source fails or count is negative.
bool SecureRandom(int count, Bytes& output);

// Test hook: replaces the random source (nullptr restores the system source). The source
// fills the buffer and returns false on failure.
using RandomSource = std::function<bool(uint8_t* buffer, std::size_t count)>;
void SetRandomSourceForTesting(RandomSource source);

} // namespace OrvCrypt
