#pragma once

#include <optional>
#include <string>

namespace orvelconsumer {

// Signs and checks bodies with the shared secret: Base64(HMAC-SHA256(key, body)), where key is
// the Base64-decoded secret. Built on OpenSSL, apart from the tester's own crypto code, so that
// the two sides check each other.
class Signer {
public:
    explicit Signer(std::string key) : key_(std::move(key)) {}

    // The secret as the user passes it (standard Base64; blanks and line breaks are ignored,
    // padding may be left off). Empty when the text is no Base64.
    static std::optional<Signer> FromSecret(const std::string& secret);

    std::string Sign(const std::string& body) const;
    bool Matches(const std::string& body, const std::string& signature) const;

    // A signature of the same form (44 characters) that does not belong to body.
    std::string WrongSignature(const std::string& body) const;
    // The mistakes of a consumer that keys the HMAC with the secret's Base64 text, or writes the
    // digest in hex.
    std::string SignWithSecretText(const std::string& body) const;
    std::string SignHex(const std::string& body) const;

    static std::string Base64Encode(const std::string& bytes);
    static std::optional<std::string> Base64Decode(const std::string& text);

private:
    std::string key_;
};

} // namespace orvelconsumer
