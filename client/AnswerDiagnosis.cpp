#include "AnswerDiagnosis.h"

#include "OrvCrypt.h"
#include "ToJSON.h"

#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <json/writer.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <set>

namespace Tarn {
namespace Webhooks {

namespace {

using Findings = std::vector<SignatureFinding>;

const std::string kBom = "\xEF\xBB\xBF";
const char kSignExactBytes[] = "sign the exact bytes you send.";

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Text that shows every byte: control characters and bytes beyond ASCII as escapes.
std::string Visible(const std::string& text) {
    std::string shown;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\n')
            shown += "\\n";
        else if (c == '\r')
            shown += "\\r";
        else if (c == '\t')
            shown += "\\t";
        else if (c < 0x20 || c >= 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(c));
            shown += escape;
        } else {
            shown += ch;
        }
    }
    return shown;
}

std::string Hex(const OrvCrypt::Bytes& bytes) {
    std::string hex;
    CryptoPP::StringSource(bytes.data(), bytes.size(), true,
                           new CryptoPP::HexEncoder(new CryptoPP::StringSink(hex), false));
    return hex;
}

// One way of writing a digest, and the mistakes it stands for.
struct Encoding {
    std::string text;
    Findings findings;
    bool anyCase = false; // hex says the same in either case; Base64 does not
};

std::vector<Encoding> Encodings(const OrvCrypt::Bytes& digest) {
    const std::string base64 = OrvCrypt::Base64encode(digest);
    std::string unpadded = base64;
    unpadded.erase(unpadded.find_last_not_of('=') + 1);
    auto urlSafe = [](std::string text) {
        std::replace(text.begin(), text.end(), '+', '-');
        std::replace(text.begin(), text.end(), '/', '_');
        return text;
    };
    const SignatureFinding noPadding{SignatureMistake::NoPadding,
                                     "The Base64 digest lacks its padding: keep the final \"=\"."};
    const SignatureFinding urlAlphabet{
        SignatureMistake::UrlSafeAlphabet,
        "The digest uses the URL-safe Base64 alphabet (\"-\" and \"_\"): use the "
        "standard alphabet, with \"+\" and \"/\"."};
    return {
        {base64, {}},
        {unpadded, {noPadding}},
        {urlSafe(base64), {urlAlphabet}},
        {urlSafe(unpadded), {urlAlphabet, noPadding}},
        {Hex(digest),
         {{SignatureMistake::HexDigest,
           "The digest is written in hex: write its 32 bytes in Base64 instead (44 characters)."}},
         true},
    };
}

// The mistakes by which the received text is this encoding; none when it is not.
std::optional<Findings> MatchEncoding(const std::string& received, const Encoding& encoding) {
    Findings findings = encoding.findings;
    if (received == encoding.text)
        return findings;
    if (EqualIgnoringCase(received, encoding.text)) {
        if (!encoding.anyCase)
            findings.push_back({SignatureMistake::CaseChanged,
                                "The signature's letters changed case: Base64 is "
                                "case-sensitive, send it exactly as encoded."});
        return findings;
    }
    if (received.size() > encoding.text.size() &&
        (encoding.anyCase
             ? EqualIgnoringCase(received.substr(received.size() - encoding.text.size()), encoding.text)
             : EndsWith(received, encoding.text))) {
        const std::string prefix = received.substr(0, received.size() - encoding.text.size());
        findings.push_back({SignatureMistake::Prefix, "The signature starts with the prefix \"" +
                                                          Visible(prefix) + "\": send the digest alone."});
        return findings;
    }
    return std::nullopt;
}

// Everything outside strings that is no blank.
std::string WithoutBlanks(const std::string& json) {
    std::string kept;
    bool inString = false, escaped = false;
    for (const char c : json) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            continue;
        }
        kept += c;
    }
    return kept;
}

// How a second serialisation of the same document differs from the one sent.
Findings SerialisationFindings(const std::string& sent, const std::string& signedText) {
    Findings findings;
    const std::string sentCore = WithoutBlanks(sent);
    const std::string signedCore = WithoutBlanks(signedText);
    const bool sentPretty = sent.find('\n') != std::string::npos;
    const bool signedPretty = signedText.find('\n') != std::string::npos;
    if (sentCore != signedCore) {
        std::string a = sentCore, b = signedCore;
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        if (a == b)
            findings.push_back(
                {SignatureMistake::KeyOrder,
                 "The signature covers the same JSON with its keys in another order: serialise the "
                 "answer once and " +
                     std::string(kSignExactBytes)});
        else
            findings.push_back(
                {SignatureMistake::OtherSerialisation,
                 "The signature covers the same JSON written otherwise (numbers or escapes): " +
                     std::string(kSignExactBytes)});
    }
    if (signedPretty && !sentPretty)
        findings.push_back(
            {SignatureMistake::PrettyPrinted,
             "The signature covers a pretty-printed form of the JSON, but the compact form was "
             "sent: " +
                 std::string(kSignExactBytes)});
    else if (sentPretty && !signedPretty)
        findings.push_back(
            {SignatureMistake::Compact,
             "The signature covers a compact form of the JSON, but a pretty-printed form was sent: " +
                 std::string(kSignExactBytes)});
    else if (sentCore == signedCore)
        findings.push_back({SignatureMistake::PrettyPrinted,
                            "The signature covers the JSON laid out with other blanks than the bytes sent: " +
                                std::string(kSignExactBytes)});
    return findings;
}

// A body the consumer may have signed in place of its answer, and the mistakes it stands for.
struct SignedBody {
    std::string body;
    Findings findings;
};

// Beyond this size only the other bodies are tried, not the variants of the answer: a runaway
// answer must not keep the window busy hashing copies of it.
constexpr std::size_t kVariantsLimit = 1u << 20;

std::vector<SignedBody> CandidateBodies(const SignatureEvidence& evidence) {
    const std::string& answer = evidence.responseBody;
    std::vector<SignedBody> bodies = {
        {answer, {}},
        {evidence.requestBody,
         {{SignatureMistake::RequestBody,
           "The signature is that of the request (the event you received): sign the "
           "body of your answer."}}},
        {"",
         {{SignatureMistake::EmptyBody,
           "The signature is that of an empty body: sign the answer's body once it "
           "is written."}}},
        {evidence.previousAnswerBody,
         {{SignatureMistake::PreviousAnswer,
           "The signature is that of your previous answer: sign each answer's own body."}}},
    };
    if (answer.size() > kVariantsLimit)
        return bodies;
    bodies.insert(
        bodies.end(),
        {
            {answer + "\n",
             {{SignatureMistake::TrailingNewline, "The signature covers the answer followed by \"\\n\", "
                                                  "which was not sent: " +
                                                      std::string(kSignExactBytes)}}},
            {answer + "\r\n",
             {{SignatureMistake::TrailingCrLf,
               "The signature covers the answer followed by \"\\r\\n\", which was not "
               "sent: " +
                   std::string(kSignExactBytes)}}},
            {kBom + answer,
             {{SignatureMistake::ByteOrderMark,
               "The signature covers the answer with a byte order mark (EF BB BF) in front, which was "
               "not sent: " +
                   std::string(kSignExactBytes)}}},
        });
    if (EndsWith(answer, "\r\n"))
        bodies.push_back({answer.substr(0, answer.size() - 2),
                          {{SignatureMistake::TrailingCrLf,
                            "The answer ends in \"\\r\\n\", which the signature does not cover: " +
                                std::string(kSignExactBytes)}}});
    else if (EndsWith(answer, "\n"))
        bodies.push_back(
            {answer.substr(0, answer.size() - 1),
             {{SignatureMistake::TrailingNewline, "The answer ends in \"\\n\", which the signature does "
                                                  "not cover: " +
                                                      std::string(kSignExactBytes)}}});
    if (answer.compare(0, kBom.size(), kBom) == 0)
        bodies.push_back(
            {answer.substr(kBom.size()),
             {{SignatureMistake::ByteOrderMark,
               "The answer starts with a byte order mark (EF BB BF at offset 0), which the signature "
               "does not cover: send JSON without one."}}});

    // The same document written again, as a consumer that serialises twice would.
    Json::Value document;
    if (ToJSON(answer, document)) {
        // The layouts consumers' JSON libraries commonly write: compact, or indented by 2, 3
        // (jsoncpp's own) or 4 blanks or a tab.
        static const std::vector<Json::StreamWriterBuilder> writers = [] {
            std::vector<Json::StreamWriterBuilder> made;
            for (const char* indentation : {"", "  ", "   ", "    ", "\t"}) {
                Json::StreamWriterBuilder writer;
                writer["indentation"] = indentation;
                writer["emitUTF8"] = true;
                writer["precision"] = 15;
                writer["precisionType"] = "significant";
                made.push_back(writer);
            }
            return made;
        }();
        for (const Json::StreamWriterBuilder& writer : writers) {
            std::string text = Json::writeString(writer, document);
            if (text != answer)
                bodies.push_back({text, SerialisationFindings(answer, text)});
        }
    }
    return bodies;
}

} // namespace

std::vector<SignatureFinding> DiagnoseSignature(const SignatureEvidence& evidence) {
    const std::string key = OrvCrypt::Base64decode(evidence.secret);
    const std::string& received = evidence.receivedSignature;
    OrvCrypt::HmacSha256Key rightKey(key);
    if (received.empty())
        return {{SignatureMistake::Missing,
                 "No X-Orvel-Signature header (or an empty one) came with the answer: add it, the Base64 of "
                 "HMAC-SHA256 over the exact body keyed with the Base64-decoded secret; for this answer \"" +
                     rightKey.SignBase64(evidence.responseBody) + "\"."}};

    struct Key {
        std::string bytes;
        Findings findings;
    };
    const Key keys[] = {
        {key, {}},
        {evidence.secret,
         {{SignatureMistake::SecretTextAsKey,
           "The key is the secret's Base64 text: Base64-decode the secret and key "
           "the HMAC with the decoded bytes."}}},
    };
    const std::vector<SignedBody> bodies = CandidateBodies(evidence);

    std::optional<Findings> best;
    for (const Key& candidateKey : keys) {
        OrvCrypt::HmacSha256Key mac(candidateKey.bytes);
        std::set<std::string> tried;
        for (const SignedBody& body : bodies) {
            if (!tried.insert(body.body).second)
                continue;
            OrvCrypt::Bytes digest;
            mac.Sign(reinterpret_cast<const uint8_t*>(body.body.data()), body.body.size(), digest);
            for (const Encoding& encoding : Encodings(digest)) {
                std::optional<Findings> match = MatchEncoding(received, encoding);
                if (!match)
                    continue;
                Findings findings = candidateKey.findings;
                findings.insert(findings.end(), body.findings.begin(), body.findings.end());
                findings.insert(findings.end(), match->begin(), match->end());
                if (!best || findings.size() < best->size())
                    best = std::move(findings);
                // No explanation is simpler than a single mistake.
                if (best->size() == 1)
                    return *best;
            }
        }
    }
    if (best && !best->empty())
        return *best;
    return {{SignatureMistake::NoMatch,
             "expected " + rightKey.SignBase64(evidence.responseBody) + ", received " + Visible(received)}};
}

std::string DescribeContentType(const std::string& received) {
    if (received.empty())
        return "No Content-Type header came with the answer: send \"Content-Type: application/json\".";
    std::string fix;
    const std::size_t semicolon = received.find(';');
    std::string type = received.substr(0, semicolon);
    const std::size_t first = type.find_first_not_of(" \t");
    type = first == std::string::npos ? std::string()
                                      : type.substr(first, type.find_last_not_of(" \t") - first + 1);
    if (!EqualIgnoringCase(type, "application/json"))
        fix = "the answer is JSON and must say so";
    else if (semicolon != std::string::npos)
        fix = "leave out the parameter (JSON is always UTF-8, so a charset adds nothing)";
    else if (type != received)
        fix = "leave out the blanks around it";
    else
        fix = "write it in lower case";
    return "Received \"" + Visible(received) +
           "\"; the tester wants exactly \"application/json\", as a till "
           "compares the header byte for byte: " +
           fix + ".";
}

std::string DescribeJsonFault(const std::string& body) {
    if (body.compare(0, kBom.size(), kBom) == 0)
        return "The body starts with a byte order mark (EF BB BF at offset 0): JSON travels without one, "
               "remove it.";
    const JsonTextFault fault = FindJsonFault(body);
    if (fault.message.empty())
        return {};
    int line = 1, column = 1;
    for (std::size_t i = 0; i < fault.offset && i < body.size(); ++i) {
        if (body[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    constexpr std::size_t kAround = 20;
    const std::size_t from = fault.offset > kAround ? fault.offset - kAround : 0;
    const std::string before = body.substr(from, fault.offset - from);
    const std::string after = body.substr(std::min(fault.offset, body.size()), kAround);
    return fault.message + " at line " + std::to_string(line) + ", column " + std::to_string(column) +
           " (offset " + std::to_string(fault.offset) + "), here: " + (from > 0 ? "..." : "") +
           Visible(before) + " >>" + Visible(after) + (fault.offset + kAround < body.size() ? "..." : "");
}

} // namespace Webhooks
} // namespace Tarn
