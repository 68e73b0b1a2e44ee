#include "MainFormUnit.h"

#include "OrvCrypt.h"

#include <string>

namespace {

// Removes every character with a code of 32 or less from both ends. Bytes of multi-byte UTF-8
// sequences are all above 127, so only ASCII blanks and control characters go.
std::string TrimControls(const std::string& text) {
    auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

std::string CrLfToLf(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        result += text[i];
    }
    return result;
}

} // namespace

void TForm1::btnGenerateHMACClick() {
    // The secret is taken as typed: whatever it decodes to is the key, even nothing.
    const std::string keyText = OrvCrypt::Base64decode(edtSecret.Text());
    const OrvCrypt::Bytes key(keyText.begin(), keyText.end());

    const std::string message = TrimControls(CrLfToLf(mmMessage.Text()));
    const OrvCrypt::Bytes messageBytes(message.begin(), message.end());

    OrvCrypt::Bytes digest;
    OrvCrypt::HmacSha256(key, messageBytes, digest);
    edtSignature.SetText(OrvCrypt::Base64encode(digest));
}

void TForm1::btnCreateSecretClick() {
    OrvCrypt::Bytes bytes;
    if (OrvCrypt::SecureRandom(32, bytes))
        edtSecret.SetText(OrvCrypt::Base64encode(bytes));
}
