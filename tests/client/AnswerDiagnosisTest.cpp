// The diagnosis of a refused answer on its own: mistakes made together are named together, the
// serialisation and line-break mistakes either way round, and where a body stops being JSON.

#include "AnswerDiagnosis.h"
#include "OrvCrypt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using namespace Tarn::Webhooks;

namespace {

const std::string kSecret = "dGhlIGNvbnN1bWVyJ3Mgc2hhcmVkIHNlY3JldA==";

OrvCrypt::Bytes Hmac(const std::string& key, const std::string& body) {
    OrvCrypt::Bytes digest;
    OrvCrypt::HmacSha256(OrvCrypt::Bytes(key.begin(), key.end()), OrvCrypt::Bytes(body.begin(), body.end()), digest);
    return digest;
}

std::string Hex(const OrvCrypt::Bytes& bytes, const char* digits) {
    std::string hex;
    for (const uint8_t b : bytes)
        hex += std::string{digits[b >> 4], digits[b & 15]};
    return hex;
}

std::vector<SignatureMistake> Mistakes(const std::vector<SignatureFinding>& findings) {
    std::vector<SignatureMistake> mistakes;
    for (const SignatureFinding& finding : findings)
        mistakes.push_back(finding.mistake);
    return mistakes;
}

} // namespace

TEST(AnswerDiagnosisTest, TheSmallestSetOfMistakesThatGivesTheSignatureIsNamed) {
    const std::string key = OrvCrypt::Base64decode(kSecret);
    const std::string compact = R"({"lineChanges":[],"n":1})";
    const std::string pretty = "{\n  \"lineChanges\" : [],\n  \"n\" : 1\n}";
    auto base64 = [](const OrvCrypt::Bytes& d) { return OrvCrypt::Base64encode(d); };
    struct Case {
        const char* what;
        std::string sent;
        std::string signature;
        std::vector<SignatureMistake> mistakes;
    };
    std::string urlSafe = base64(Hmac(key, compact));
    std::replace(urlSafe.begin(), urlSafe.end(), '+', '-');
    std::replace(urlSafe.begin(), urlSafe.end(), '/', '_');
    urlSafe.erase(urlSafe.find('='));
    ASSERT_NE(urlSafe.find_first_of("-_"), std::string::npos); // else it reads as standard Base64
    const std::vector<Case> cases = {
        {"prefixed hex keyed with the secret's text", compact,
         "sha256=" + Hex(Hmac(kSecret, compact), "0123456789abcdef"),
         {SignatureMistake::SecretTextAsKey, SignatureMistake::HexDigest, SignatureMistake::Prefix}},
        {"upper-case hex", compact, Hex(Hmac(key, compact), "0123456789ABCDEF"), {SignatureMistake::HexDigest}},
        {"base64url without padding", compact, urlSafe,
         {SignatureMistake::UrlSafeAlphabet, SignatureMistake::NoPadding}},
        {"pretty sent, compact signed", pretty, base64(Hmac(key, compact)), {SignatureMistake::Compact}},
        {"a final line break sent, not signed", compact + "\n", base64(Hmac(key, compact)),
         {SignatureMistake::TrailingNewline}},
        {"a byte order mark sent, not signed", "\xEF\xBB\xBF" + compact, base64(Hmac(key, compact)),
         {SignatureMistake::ByteOrderMark}},
        {"the right signature of another text", compact, base64(Hmac(key, "[]")), {SignatureMistake::NoMatch}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto findings = DiagnoseSignature({kSecret, "{\"header\":{}}", c.sent, c.signature, "{}"});
        EXPECT_EQ(Mistakes(findings), c.mistakes);
        for (const SignatureFinding& finding : findings)
            EXPECT_FALSE(finding.text.empty());
    }
}

TEST(AnswerDiagnosisTest, ContentTypeAndJsonFaultsAreNamedWithTheirPlace) {
    const std::vector<std::pair<std::string, std::string>> contentTypes = {
        {"Application/JSON", "write it in lower case"},
        {" application/json", "leave out the blanks"},
        {"text/plain", "the answer is JSON and must say so"},
    };
    for (const auto& [received, fix] : contentTypes)
        EXPECT_NE(DescribeContentType(received).find(fix), std::string::npos) << DescribeContentType(received);

    const std::vector<std::pair<std::string, std::string>> bodies = {
        {"{\"text\":\"caf\xE9\"}", "Byte 0xE9 is no UTF-8 (JSON travels as UTF-8) at line 1, column 13 (offset 12)"},
        {"{\"text\":\"a\tb\"}", "Control character U+0009"},
        {"{\"a\":1}\n{\"b\":2}", "at line 2, column 1 (offset 8), here: {\"a\":1}\\n >>{\"b\":2}"},
        {"", "at line 1, column 1 (offset 0)"},
    };
    for (const auto& [body, part] : bodies)
        EXPECT_NE(DescribeJsonFault(body).find(part), std::string::npos) << DescribeJsonFault(body);
    EXPECT_EQ(DescribeJsonFault("{}"), "");
}
