#pragma once

#include <json/value.h>

#include <cstddef>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvelconsumer {

// How an answer departs from a correct one.
struct Faults {
    // Wrong: a signature of the right form that fits nothing. The ones after it each make one of
    // the mistakes consumers make when signing (the tester names them).
    enum class Signature {
        Correct,
        Missing,
        Empty,
        Wrong,
        OtherCase,       // the letters' case swapped
        SecretText,      // keyed with the secret's Base64 text instead of its decoded bytes
        Hex,             // the digest in hex
        UrlSafe,         // the URL-safe Base64 alphabet ("-" and "_"), padding kept
        NoPadding,       // the final "=" left off
        Prefix,          // "sha256=" in front
        RequestBody,     // the request's body signed
        PrettyPrinted,   // a pretty-printed form of the answer signed, the compact one sent
        KeyOrder,        // the answer sent with its keys in reverse order, the sorted form signed
        TrailingNewline, // the answer followed by "\n" signed
        TrailingCrLf,    // the answer followed by "\r\n" signed
        ByteOrderMark,   // the answer with a byte order mark in front signed
        EmptyBody,       // an empty body signed
        PreviousAnswer,  // the consumer's previous answer signed
    };

    Signature signature = Signature::Correct;
    bool omitContentType = false;
    std::string contentType = "application/json"; // used unless omitContentType
    int delayMs = 0;
    bool closeMidAnswer = false;
    std::optional<std::size_t> bodyBytes;
};

// One answer as the scenario describes it; body may hold placeholders.
struct ScriptedAnswer {
    int status = 200;
    std::optional<Json::Value> body;
    std::optional<std::string> rawBody;
    Faults faults;
    bool repeat = false;
    std::vector<std::string> resets;
};

// An answer ready to go out: the exact body bytes, still to be signed.
struct Answer {
    int status = 200;
    std::string body = "{}";
    Faults faults;
};

// A scenario that cannot be used; the message names the offending place, e.g.
// "events.scanCode[1].faults.delayMs: expected a whole number from 0 to 3600000".
class ScenarioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The answers the consumer gives, per event name, in order. Not thread-safe: the server
// guards it with its own lock.
class Scenario {
public:
    Scenario() = default; // no events: every answer is 200 {}

    // Throws ScenarioError for text that is no JSON or does not follow the format.
    static Scenario Parse(const std::string& jsonText);

    // The next answer for eventName, its placeholders filled from request (the parsed request
    // body, null when the body was no JSON). Moves on to the next answer unless this one repeats.
    Answer NextAnswer(const std::string& eventName, const Json::Value& request);

    // A copy of tmpl where every string that is exactly "{{path}}" became the value at path in
    // request (null when there is none).
    static Json::Value FillPlaceholders(const Json::Value& tmpl, const Json::Value& request);

    // The value at a path like "session.lines[0].lineId"; null when the path leads nowhere or
    // is malformed.
    static Json::Value ValueAt(const Json::Value& root, const std::string& path);
    static bool IsValidPath(const std::string& path);

    const std::map<std::string, std::vector<ScriptedAnswer>>& Events() const { return events_; }

private:
    std::map<std::string, std::vector<ScriptedAnswer>> events_;
    std::map<std::string, std::size_t> positions_;
};

} // namespace orvelconsumer
