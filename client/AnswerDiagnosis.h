#pragma once

// Why a consumer's answer was refused, in plain words with the fix: which of the usual signing
// mistakes its signature matches, what is wrong with its Content-Type, where its JSON breaks.
// Pure functions of what crossed; the window calls them only for a check that failed.

#include <string>
#include <vector>

namespace Tarn {
namespace Webhooks {

enum class SignatureMistake {
    Missing,          // no signature header, or an empty one
    SecretTextAsKey,  // the secret's Base64 text used as the key instead of its decoded bytes
    HexDigest,        // the digest in hex instead of Base64
    UrlSafeAlphabet,  // "-" and "_" instead of "+" and "/"
    NoPadding,        // the final "=" left off
    Prefix,           // something such as "sha256=" in front of the digest
    CaseChanged,      // the letters' case changed
    RequestBody,      // the event received signed instead of the answer
    PrettyPrinted,    // a pretty-printed form of the answer signed, the compact one sent
    Compact,          // a compact form signed, a pretty-printed one sent
    KeyOrder,         // the same JSON with its keys in another order signed
    OtherSerialisation, // the same JSON written otherwise (numbers, escapes)
    TrailingNewline,  // a "\n" at the end in one of signed and sent, not the other
    TrailingCrLf,     // the same with "\r\n"
    ByteOrderMark,    // a byte order mark in front in one of signed and sent, not the other
    EmptyBody,        // the signature of an empty body
    PreviousAnswer,   // the signature of the consumer's previous answer
    NoMatch,          // none of the above: what was expected against what came
};

struct SignatureFinding {
    SignatureMistake mistake;
    std::string text; // what was done and how to put it right
};

// What the diagnosis looks at, as it crossed.
struct SignatureEvidence {
    std::string secret;             // as the user entered it (Base64)
    std::string requestBody;        // the event the consumer received
    std::string responseBody;       // the answer, byte for byte as received
    std::string receivedSignature;  // the answer's X-Orvel-Signature, empty when absent
    std::string previousAnswerBody; // the consumer's answer before this one
};

// The mistakes that explain the received signature: the smallest set of them that reproduces
// it, one finding each; a single Missing or NoMatch finding when none does.
std::vector<SignatureFinding> DiagnoseSignature(const SignatureEvidence& evidence);

// The Content-Type received (empty when absent) and why exactly "application/json" is wanted.
std::string DescribeContentType(const std::string& received);

// Where and why a body is no valid JSON: the reader's message, line and column, the text around
// the fault; a byte order mark or a byte that is no UTF-8 named with its offset.
std::string DescribeJsonFault(const std::string& body);

} // namespace Webhooks
} // namespace Tarn
