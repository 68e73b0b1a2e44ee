// The sample consumer: its scenario format, signing and log on their own, then the running
// program over loopback HTTP and HTTPS, as the tester and the test scripts use it.

#include "SampleConsumer.h"
#include "DemoScenario.h"
#include "JsonText.h"
#include "RequestLog.h"
#include "Scenario.h"
#include "Signer.h"
#include "TestSupport.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <cctype>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <utility>
#include <vector>

using orvelconsumer::Answer;
using orvelconsumer::Faults;
using orvelconsumer::Scenario;
using orvelconsumer::ScenarioError;
using orvelconsumer::Signer;
using testsupport::ConsumerOptions;
using testsupport::SampleConsumer;
using testsupport::Sign;

namespace {

Json::Value ParseJson(const std::string& text) {
    Json::Value value;
    std::string error;
    if (!orvelconsumer::JsonText::Parse(text, value, error))
        ADD_FAILURE() << "not JSON (" << error << "): " << text;
    return value;
}

Json::Value Null() {
    return Json::Value();
}

std::string MessageOf(const std::string& scenarioJson) {
    try {
        Scenario::Parse(scenarioJson);
    } catch (const ScenarioError& error) {
        return error.what();
    }
    return "(accepted)";
}

// ---------------------------------------------------------------------------------------------
// Scenario on its own

TEST(ScenarioTest, AnswersComeInOrderPerEventThenEmptyObject) {
    Scenario scenario = Scenario::Parse(R"({"events": {
        "startSession": [{"status": 400, "body": {"error": {"errorCode": "E1", "message": "first"}}},
                         {"body": {"lineChanges": []}}],
        "scanCode": [{"body": {"recognized": true}}]}})");

    Answer first = scenario.NextAnswer("startSession", Null());
    EXPECT_EQ(400, first.status);
    EXPECT_EQ(R"({"error":{"errorCode":"E1","message":"first"}})", first.body);
    // Each event has its own position.
    EXPECT_EQ(R"({"recognized":true})", scenario.NextAnswer("scanCode", Null()).body);
    Answer second = scenario.NextAnswer("startSession", Null());
    EXPECT_EQ(200, second.status);
    EXPECT_EQ(R"({"lineChanges":[]})", second.body);
    for (const char* event : {"startSession", "scanCode", "neverScripted"}) {
        const Answer usedUp = scenario.NextAnswer(event, Null());
        EXPECT_EQ(200, usedUp.status) << event;
        EXPECT_EQ("{}", usedUp.body) << event;
        EXPECT_EQ(Faults::Signature::Correct, usedUp.faults.signature) << event;
        EXPECT_FALSE(usedUp.faults.omitContentType) << event;
    }
}

TEST(ScenarioTest, RepeatKeepsAnAnswerAndResetsStartOtherEventsOver) {
    Scenario scenario = Scenario::Parse(R"({"events": {
        "pollExternalPayment": [{"body": {"n": 1}}, {"body": {"n": 2}, "repeat": true}],
        "startExternalPayment": [{"body": {}, "resets": ["pollExternalPayment"], "repeat": true}]}})");

    EXPECT_EQ(R"({"n":1})", scenario.NextAnswer("pollExternalPayment", Null()).body);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(R"({"n":2})", scenario.NextAnswer("pollExternalPayment", Null()).body);
    scenario.NextAnswer("startExternalPayment", Null());
    EXPECT_EQ(R"({"n":1})", scenario.NextAnswer("pollExternalPayment", Null()).body);
    EXPECT_EQ(R"({"n":2})", scenario.NextAnswer("pollExternalPayment", Null()).body);
}

TEST(ScenarioTest, AnAnswerWithoutBodyIsAnEmptyObjectAndOtherJsonValuesAreWrittenCompact) {
    Scenario scenario = Scenario::Parse(R"({"events": {"e": [
        {"status": 500},
        {"body": null},
        {"body": [1, 2.5, "x"]},
        {"body": "just a string"},
        {"body": {"text": "Caf\u00e9 \u20ac", "amount": 0.1, "big": 9007199254740993}}]}})");

    const Answer noBody = scenario.NextAnswer("e", Null());
    EXPECT_EQ(500, noBody.status);
    EXPECT_EQ("{}", noBody.body);
    EXPECT_EQ("null", scenario.NextAnswer("e", Null()).body);
    EXPECT_EQ(R"([1,2.5,"x"])", scenario.NextAnswer("e", Null()).body);
    EXPECT_EQ(R"("just a string")", scenario.NextAnswer("e", Null()).body);
    // Raw UTF-8, 0.1 as 0.1, and a 64-bit integer kept exactly.
    EXPECT_EQ("{\"amount\":0.1,\"big\":9007199254740993,\"text\":\"Caf\xC3\xA9 \xE2\x82\xAC\"}",
              scenario.NextAnswer("e", Null()).body);
}

TEST(ScenarioTest, RawBodyGoesOutByteForByteAndBodyBytesPadsOrCuts) {
    Scenario scenario = Scenario::Parse(R"({"events": {"e": [
        {"rawBody": " { \"a\" : 1 }\r\n"},
        {"rawBody": ""},
        {"rawBody": "not json {{session.sessionId}}"},
        {"body": {"a": 1}, "faults": {"bodyBytes": 12}},
        {"body": {"abc": "defgh"}, "faults": {"bodyBytes": 4}},
        {"rawBody": "xyz", "faults": {"bodyBytes": 0}}]}})");
    const Json::Value request = ParseJson(R"({"session": {"sessionId": "s-1"}})");

    EXPECT_EQ(" { \"a\" : 1 }\r\n", scenario.NextAnswer("e", request).body);
    EXPECT_EQ("", scenario.NextAnswer("e", request).body);
    EXPECT_EQ("not json {{session.sessionId}}", scenario.NextAnswer("e", request).body);
    EXPECT_EQ("{\"a\":1}     ", scenario.NextAnswer("e", request).body); // still valid JSON
    EXPECT_EQ("{\"ab", scenario.NextAnswer("e", request).body);
    EXPECT_EQ("", scenario.NextAnswer("e", request).body);
}

TEST(ScenarioTest, PlaceholdersTakeTheValueWithItsTypeFromTheRequest) {
    Scenario scenario = Scenario::Parse(R"({"events": {"addSessionLine": [{"body": {
        "lineChanges": [{"lineId": "{{request.line.lineId}}", "quantity": "{{request.line.quantity}}"}],
        "first": "{{session.lines[0].lineId}}",
        "second": "{{session.lines[1].text}}",
        "line": "{{request.line}}",
        "lines": "{{session.lines}}",
        "flag": "{{header.blockingCall}}",
        "unknown": "{{request.nothing.here}}",
        "pastTheEnd": "{{session.lines[5].lineId}}",
        "intoAString": "{{session.sessionId.length}}",
        "notWhole": "id {{session.sessionId}}",
        "notAPlaceholder": "{{session.sessionId}",
        "list": ["{{session.sessionId}}", 7]}}]}})");
    const Json::Value request = ParseJson(R"({
        "header": {"eventCounter": 3, "blockingCall": true},
        "session": {"sessionId": "7d3c0f7e-5a4b-4c2d-9e1f-0a1b2c3d4e5f",
                    "lines": [{"lineId": "L-1", "text": "Cola"}, {"lineId": "L-2", "text": "Bread"}]},
        "request": {"line": {"lineId": "L-2", "quantity": 2.5, "text": "Bread"}}})");

    const Json::Value answer = ParseJson(scenario.NextAnswer("addSessionLine", request).body);

    EXPECT_EQ("L-2", answer["lineChanges"][0]["lineId"].asString());
    ASSERT_TRUE(answer["lineChanges"][0]["quantity"].isDouble());
    EXPECT_EQ(2.5, answer["lineChanges"][0]["quantity"].asDouble());
    EXPECT_EQ("L-1", answer["first"].asString());
    EXPECT_EQ("Bread", answer["second"].asString());
    EXPECT_EQ(request["request"]["line"], answer["line"]);
    EXPECT_EQ(request["session"]["lines"], answer["lines"]);
    EXPECT_TRUE(answer["flag"].isBool() && answer["flag"].asBool());
    for (const char* key : {"unknown", "pastTheEnd", "intoAString"}) {
        ASSERT_TRUE(answer.isMember(key)) << key;
        EXPECT_TRUE(answer[key].isNull()) << key;
    }
    EXPECT_EQ("id {{session.sessionId}}", answer["notWhole"].asString());
    EXPECT_EQ("{{session.sessionId}", answer["notAPlaceholder"].asString());
    EXPECT_EQ("7d3c0f7e-5a4b-4c2d-9e1f-0a1b2c3d4e5f", answer["list"][0].asString());
    EXPECT_EQ(7, answer["list"][1].asInt());
}

TEST(ScenarioTest, PlaceholdersGiveNullWhenTheRequestWasNoJson) {
    Scenario scenario = Scenario::Parse(R"({"events": {"e": [{"body": {"id": "{{session.sessionId}}"}}]}})");
    EXPECT_EQ(R"({"id":null})", scenario.NextAnswer("e", Null()).body);
}

TEST(ScenarioTest, PathsAreNamesJoinedByDotsWithIndexes) {
    const Json::Value root = ParseJson(R"({"a": {"b": [[10, 11], [20, {"c": "deep"}]]}, "x y": 1, "": 2})");
    EXPECT_EQ(11, Scenario::ValueAt(root, "a.b[0][1]").asInt());
    EXPECT_EQ("deep", Scenario::ValueAt(root, "a.b[1][1].c").asString());
    EXPECT_EQ(1, Scenario::ValueAt(root, "x y").asInt());
    EXPECT_EQ(root["a"], Scenario::ValueAt(root, "a"));

    for (const char* malformed :
         {"", ".a", "a.", "a..b", "a[", "a[]", "a[x]", "a[-1]", "[0]", "a]", "a[0]b", "a[1234567890]"}) {
        EXPECT_FALSE(Scenario::IsValidPath(malformed)) << malformed;
        EXPECT_TRUE(Scenario::ValueAt(root, malformed).isNull()) << malformed;
    }
    for (const char* valid : {"a", "a.b", "a.b[0]", "a.b[0][1].c", "x y", "request.line.lineId"})
        EXPECT_TRUE(Scenario::IsValidPath(valid)) << valid;
}

TEST(ScenarioTest, FaultsAreReadAsWritten) {
    Scenario scenario = Scenario::Parse(R"({"events": {"e": [
        {"faults": {"signature": "missing", "contentType": null}},
        {"faults": {"signature": "empty", "contentType": "application/json; charset=utf-8"}},
        {"faults": {"signature": "wrong", "contentType": "", "delayMs": 250}},
        {"faults": {"signature": "otherCase", "closeMidAnswer": true, "bodyBytes": 3}},
        {"faults": {}}]}})");

    const Answer a = scenario.NextAnswer("e", Null());
    EXPECT_EQ(Faults::Signature::Missing, a.faults.signature);
    EXPECT_TRUE(a.faults.omitContentType);
    const Answer b = scenario.NextAnswer("e", Null());
    EXPECT_EQ(Faults::Signature::Empty, b.faults.signature);
    EXPECT_FALSE(b.faults.omitContentType);
    EXPECT_EQ("application/json; charset=utf-8", b.faults.contentType);
    const Answer c = scenario.NextAnswer("e", Null());
    EXPECT_EQ(Faults::Signature::Wrong, c.faults.signature);
    EXPECT_EQ("", c.faults.contentType);
    EXPECT_FALSE(c.faults.omitContentType);
    EXPECT_EQ(250, c.faults.delayMs);
    const Answer d = scenario.NextAnswer("e", Null());
    EXPECT_EQ(Faults::Signature::OtherCase, d.faults.signature);
    EXPECT_TRUE(d.faults.closeMidAnswer);
    EXPECT_EQ("{} ", d.body);
    const Answer e = scenario.NextAnswer("e", Null());
    EXPECT_EQ(Faults::Signature::Correct, e.faults.signature);
    EXPECT_EQ("application/json", e.faults.contentType);
    EXPECT_EQ(0, e.faults.delayMs);
    EXPECT_FALSE(e.faults.closeMidAnswer);
    EXPECT_FALSE(e.faults.bodyBytes.has_value());
}

TEST(ScenarioTest, EmptyScenariosAreFine) {
    for (const char* text :
         {"{}", R"({"events": {}})", R"({"description": "nothing", "events": {"e": []}})"}) {
        Scenario scenario = Scenario::Parse(text);
        EXPECT_EQ("{}", scenario.NextAnswer("e", Null()).body) << text;
    }
}

TEST(ScenarioTest, AFaultyScenarioIsRefusedWithThePlaceNamed) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "not valid JSON"},
        {R"({"events": {}} trailing)", "not valid JSON"},
        {R"({"events": {}, "events": {}})", "not valid JSON"},
        {R"([])", "expected an object"},
        {R"({"event": {}})", R"(scenario: unknown key "event")"},
        {R"({"description": 5})", "description: expected a string"},
        {R"({"events": []})", "events: expected an object"},
        {R"({"events": {"startSession": {}}})", "events.startSession: expected a list of answers"},
        {R"({"events": {"error": []}})", "events.error: error reports are always answered"},
        {R"({"events": {"a/b": []}})", "events.a/b: an event name is one path segment"},
        {R"({"events": {"e": [5]}})", "events.e[0]: expected an answer object"},
        {R"({"events": {"e": [{}, {"stauts": 200}]}})", R"(events.e[1]: unknown key "stauts")"},
        {R"({"events": {"e": [{"status": 99}]}})",
         "events.e[0].status: expected a whole number from 200 to 599"},
        {R"({"events": {"e": [{"status": 600}]}})", "events.e[0].status"},
        {R"({"events": {"e": [{"status": 200.5}]}})", "events.e[0].status"},
        {R"({"events": {"e": [{"status": "200"}]}})", "events.e[0].status"},
        {R"({"events": {"e": [{"body": {}, "rawBody": ""}]}})",
         "events.e[0]: give either \"body\" or \"rawBody\""},
        {R"({"events": {"e": [{"rawBody": {}}]}})", "events.e[0].rawBody: expected a string"},
        {R"({"events": {"e": [{"faults": []}]}})", "events.e[0].faults: expected an object"},
        {R"({"events": {"e": [{"faults": {"signatur": "missing"}}]}})",
         R"(events.e[0].faults: unknown key "signatur")"},
        {R"({"events": {"e": [{"faults": {"signature": "absent"}}]}})",
         "events.e[0].faults.signature: expected"},
        {R"({"events": {"e": [{"faults": {"contentType": 1}}]}})",
         "events.e[0].faults.contentType: expected"},
        {R"({"events": {"e": [{"faults": {"contentType": "a\r\nX-Evil: 1"}}]}})",
         "events.e[0].faults.contentType: must not hold a line break"},
        {R"({"events": {"e": [{"faults": {"delayMs": -1}}]}})",
         "events.e[0].faults.delayMs: expected a whole number"},
        {R"({"events": {"e": [{"faults": {"delayMs": 3600001}}]}})", "events.e[0].faults.delayMs"},
        {R"({"events": {"e": [{"faults": {"bodyBytes": 67108865}}]}})", "events.e[0].faults.bodyBytes"},
        {R"({"events": {"e": [{"faults": {"closeMidAnswer": "yes"}}]}})",
         "events.e[0].faults.closeMidAnswer: expected true or false"},
        {R"({"events": {"e": [{"repeat": 1}]}})", "events.e[0].repeat: expected true or false"},
        {R"({"events": {"e": [{"resets": "poll"}]}})", "events.e[0].resets: expected a list"},
        {R"({"events": {"e": [{"resets": [1]}]}})", "events.e[0].resets[0]: expected an event name"},
        {R"({"events": {"e": [{"repeat": true}, {}]}})",
         "events.e[1]: comes after an answer with \"repeat\": true"},
        {R"({"events": {"e": [{"body": {"a": ["{{x..y}}"]}}]}})",
         "events.e[0].body.a[0]: placeholder \"{{x..y}}\""},
    };
    for (const auto& [scenario, expected] : cases) {
        const std::string message = MessageOf(scenario);
        EXPECT_NE(std::string::npos, message.find(expected)) << scenario << "\n  gave: " << message;
    }
}

// ---------------------------------------------------------------------------------------------
// The demo scenario

TEST(DemoScenarioTest, PlaysASaleWithDiscountDialogScanReceiptAndPayment) {
    Scenario demo = Scenario::Parse(orvelconsumer::DemoScenario::Text());
    const Json::Value lineEvent =
        ParseJson(R"({"request": {"line": {"lineId": "0a4e0c1e-1111-4222-8333-944455556666",
                                                                  "quantity": 3}}})");
    const Json::Value payment =
        ParseJson(R"({"externalPayment": {"externalPaymentId": "e0e0e0e0-1111-4222-8333-944455556666"}})");

    EXPECT_EQ("{}", demo.NextAnswer("startSession", Null()).body);
    for (int i = 0; i < 2; ++i) {
        const Json::Value discount = ParseJson(demo.NextAnswer("addSessionLine", lineEvent).body);
        const Json::Value& change = discount["lineChanges"][0];
        EXPECT_EQ("0a4e0c1e-1111-4222-8333-944455556666", change["lineId"].asString());
        EXPECT_EQ(1, change["externalDiscount"]["quantity"].asInt());
        EXPECT_FALSE(change["externalDiscount"]["discountId"].asString().empty());
    }

    const Json::Value dialog = ParseJson(demo.NextAnswer("startPayment", Null()).body)["dialog"];
    EXPECT_FALSE(dialog["dialogTitle"].asString().empty());
    EXPECT_TRUE(dialog["required"].isBool() && !dialog["required"].asBool());
    EXPECT_EQ(3u, dialog["options"].size());
    EXPECT_EQ("{}", demo.NextAnswer("startPayment", Null()).body); // the answer to the dialog

    // One answer makes a signing mistake for the Checks tab to name.
    EXPECT_EQ(demo.NextAnswer("pauseSession", Null()).faults.signature, Faults::Signature::SecretText);

    const Json::Value scan = ParseJson(demo.NextAnswer("scanCode", Null()).body);
    EXPECT_TRUE(scan["recognized"].asBool());
    EXPECT_TRUE(scan["relationNumber"].isIntegral());
    EXPECT_FALSE(scan["message"].asString().empty());

    const Json::Value footers = ParseJson(demo.NextAnswer("completeSession", Null()).body)["receiptFooters"];
    ASSERT_EQ(2u, footers.size());
    EXPECT_FALSE(footers[0]["text"].asString().empty());
    EXPECT_EQ("EAN13", footers[1]["barcode"]["barcodeType"].asString());
    EXPECT_EQ(13u, footers[1]["barcode"]["barcodeValue"].asString().size());

    const Json::Value started = ParseJson(demo.NextAnswer("startExternalPayment", payment).body);
    EXPECT_TRUE(started["started"].asBool());
    EXPECT_EQ("e0e0e0e0-1111-4222-8333-944455556666", started["externalPaymentId"].asString());
    for (int poll = 1; poll <= 2; ++poll) {
        const Answer open = demo.NextAnswer("pollExternalPayment", payment);
        const Json::Value body = ParseJson(open.body);
        // Still started: the tester keeps poll, request-cancel and cancel enabled meanwhile.
        EXPECT_TRUE(body["started"].asBool()) << poll;
        EXPECT_FALSE(body.isMember("confirmed")) << poll;
        EXPECT_FALSE(body.isMember("cancelled")) << poll;
        EXPECT_EQ("e0e0e0e0-1111-4222-8333-944455556666", body["externalPaymentId"].asString()) << poll;
    }
    const Json::Value confirmed = ParseJson(demo.NextAnswer("pollExternalPayment", payment).body);
    EXPECT_TRUE(confirmed["confirmed"].asBool());
    EXPECT_EQ("e0e0e0e0-1111-4222-8333-944455556666", confirmed["externalPaymentId"].asString());

    // A new session starts the dialog over, a new payment the polls.
    demo.NextAnswer("startSession", Null());
    EXPECT_TRUE(ParseJson(demo.NextAnswer("startPayment", Null()).body).isMember("dialog"));
    demo.NextAnswer("startExternalPayment", payment);
    EXPECT_FALSE(ParseJson(demo.NextAnswer("pollExternalPayment", payment).body).isMember("confirmed"));
}

// ---------------------------------------------------------------------------------------------
// Signing

TEST(SignerTest, SignsWithHmacSha256OfTheDecodedSecret) {
    // RFC 4231 test case 2 (key "Jefe"; digest 5bdcc146…ec3843 in Base64).
    const std::optional<Signer> jefe = Signer::FromSecret("SmVmZQ==");
    ASSERT_TRUE(jefe.has_value());
    EXPECT_EQ("W9zBRr9gdU5qBCQmCJV1x1oAPwidJzmDnexYuWTsOEM=", jefe->Sign("what do ya want for nothing?"));
    // RFC 4231 test case 1 (twenty bytes 0x0b; digest b0344c61…32cff7 in Base64).
    const std::optional<Signer> elevens = Signer::FromSecret("CwsLCwsLCwsLCwsLCwsLCwsLCws=");
    ASSERT_TRUE(elevens.has_value());
    EXPECT_EQ("sDRMYdjbOFNcqK/OrwvxK4gdwgDJgz2nJuk3bC4yz/c=", elevens->Sign("Hi There"));
}

TEST(SignerTest, AgreesWithTheTestersCryptoOnAnyBody) {
    const std::string secret = ConsumerOptions().secret;
    const Signer signer = *Signer::FromSecret(secret);
    std::string binary;
    for (int i = 0; i < 256; ++i)
        binary += static_cast<char>(i);
    for (const std::string& body : {std::string(), std::string("{}"), std::string(" {\"a\":1}\r\n"), binary,
                                    std::string(100000, 'x')}) {
        const std::string signature = signer.Sign(body);
        EXPECT_EQ(44u, signature.size());
        EXPECT_EQ(Sign(secret, body), signature) << body.size();
        EXPECT_TRUE(signer.Matches(body, signature));
        EXPECT_FALSE(signer.Matches(body + " ", signature));
        const std::string wrong = signer.WrongSignature(body);
        EXPECT_EQ(44u, wrong.size());
        EXPECT_FALSE(signer.Matches(body, wrong));
    }
}

TEST(SignerTest, SecretsAreStandardBase64) {
    EXPECT_EQ("secret-key-for-tests", Signer::Base64Decode("c2VjcmV0LWtleS1mb3ItdGVzdHM="));
    EXPECT_EQ("secret-key-for-tests", Signer::Base64Decode(" c2VjcmV0LWtl\r\neS1mb3It dGVzdHM= \n"));
    EXPECT_EQ("secret-key-for-tests", Signer::Base64Decode("c2VjcmV0LWtleS1mb3ItdGVzdHM"));
    EXPECT_EQ("f", Signer::Base64Decode("Zg=="));
    EXPECT_EQ("fo", Signer::Base64Decode("Zm8="));
    EXPECT_EQ("foo", Signer::Base64Decode("Zm9v"));
    EXPECT_EQ(std::string("\xFB\xFF", 2), Signer::Base64Decode("+/8="));
    EXPECT_EQ("", Signer::Base64Decode(""));
    for (const char* invalid : {"Zm9v!", "Zm9v_", "Z", "Zm9vY", "Zg=a", "Zg===", "Zg=", "-_8="})
        EXPECT_FALSE(Signer::Base64Decode(invalid).has_value()) << invalid;
    for (const std::string& bytes : {std::string(), std::string("a"), std::string("ab"), std::string("abc"),
                                     std::string("\0\xFF\x10", 3)})
        EXPECT_EQ(bytes, Signer::Base64Decode(Signer::Base64Encode(bytes)));
    EXPECT_FALSE(Signer::FromSecret("not base64!").has_value());
}

// ---------------------------------------------------------------------------------------------
// The request log

TEST(RequestLogTest, WritesOneCompactLineInAFixedKeyOrderAndKeepsTheEntries) {
    std::ostringstream out;
    orvelconsumer::RequestLog log(out);
    orvelconsumer::RequestLog::Request event;
    event.event = "startSession";
    event.path = "/startSession";
    event.signatureValid = true;
    event.status = 200;
    event.headers = {{"X-Orvel-Event", "startSession"}};
    event.body = R"({"session": {"sessionId": "s"}})";
    log.Add(event);
    orvelconsumer::RequestLog::Request report;
    report.event = "error";
    report.path = "/error";
    report.signatureValid = false;
    report.status = 401;
    report.errorCode = "INVALID_JSON";
    report.body = "no json";
    log.Add(report);

    EXPECT_EQ("{\"n\":1,\"event\":\"startSession\",\"path\":\"/startSession\",\"signatureValid\":true,"
              "\"status\":200,\"headers\":{\"X-Orvel-Event\":\"startSession\"},"
              "\"body\":{\"session\":{\"sessionId\":\"s\"}}}\n"
              "{\"n\":2,\"event\":\"error\",\"path\":\"/error\",\"signatureValid\":false,\"status\":401,"
              "\"errorCode\":\"INVALID_JSON\",\"headers\":{},\"body\":\"no json\"}\n",
              out.str());
    const Json::Value entries = log.Entries();
    ASSERT_EQ(2u, entries.size());
    EXPECT_FALSE(entries[0].isMember("errorCode"));
    EXPECT_EQ("s", entries[0]["body"]["session"]["sessionId"].asString());
    EXPECT_EQ("no json", entries[1]["body"].asString());

    // Numbers go on after a clear, so stdout lines stay unique.
    log.Clear();
    EXPECT_EQ(0u, log.Entries().size());
    log.Add(event);
    EXPECT_EQ(3, log.Entries()[0]["n"].asInt());
}

// ---------------------------------------------------------------------------------------------
// The running consumer

struct Reply {
    bool arrived = false;
    int status = 0;
    std::string body;
    httplib::Headers headers;

    bool Has(const std::string& name) const { return headers.find(name) != headers.end(); }
    std::string Header(const std::string& name) const {
        const auto found = headers.find(name);
        return found == headers.end() ? std::string() : found->second;
    }
};

// A libcurl client, like the tester's: one handle, so connections are kept alive between
// requests, and headers as they came over the wire (an empty header stays an empty header).
class CurlClient {
public:
    explicit CurlClient(std::string baseUrl) : baseUrl_(std::move(baseUrl)) {
        static std::once_flag initialised;
        std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
        handle_ = curl_easy_init();
        curl_easy_setopt(handle_, CURLOPT_CONNECTTIMEOUT, 5L);
        curl_easy_setopt(handle_, CURLOPT_TIMEOUT_MS, 30000L);
        curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
    }
    ~CurlClient() { curl_easy_cleanup(handle_); }
    CurlClient(const CurlClient&) = delete;
    CurlClient& operator=(const CurlClient&) = delete;

    void SetTimeoutMs(long milliseconds) { curl_easy_setopt(handle_, CURLOPT_TIMEOUT_MS, milliseconds); }
    void TrustOnly(const std::string& caFile) {
        curl_easy_setopt(handle_, CURLOPT_CAINFO, caFile.c_str());
        curl_easy_setopt(handle_, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(handle_, CURLOPT_SSL_VERIFYHOST, 2L);
    }

    Reply Post(const std::string& path, const std::string& body,
               const std::optional<std::string>& signature) {
        const std::string url = baseUrl_.substr(0, baseUrl_.size() - 1) + path;
        curl_slist* headers = nullptr;
        headers = curl_slist_append(headers, "Content-Type: application/json");
        headers = curl_slist_append(headers, "Expect:");
        if (signature)
            headers =
                curl_slist_append(headers, signature->empty() ? "X-Orvel-Signature;"
                                                              : ("X-Orvel-Signature: " + *signature).c_str());
        Reply reply;
        curl_easy_setopt(handle_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &CurlClient::OnBody);
        curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &reply);
        curl_easy_setopt(handle_, CURLOPT_HEADERFUNCTION, &CurlClient::OnHeader);
        curl_easy_setopt(handle_, CURLOPT_HEADERDATA, &reply);
        const CURLcode code = curl_easy_perform(handle_);
        curl_slist_free_all(headers);
        long status = 0;
        curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &status);
        reply.arrived = code == CURLE_OK;
        reply.status = static_cast<int>(status);
        return reply;
    }

private:
    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* target) {
        static_cast<Reply*>(target)->body.append(data, size * count);
        return size * count;
    }
    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* target) {
        Reply& reply = *static_cast<Reply*>(target);
        std::string line(data, size * count);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        const std::size_t colon = line.find(':');
        if (line.compare(0, 5, "HTTP/") == 0) {
            reply.headers.clear(); // a new status line, e.g. after "100 Continue"
        } else if (colon != std::string::npos) {
            std::string value = line.substr(colon + 1);
            while (!value.empty() && value.front() == ' ')
                value.erase(0, 1);
            while (!value.empty() && value.back() == ' ')
                value.pop_back();
            reply.headers.emplace(line.substr(0, colon), value);
        }
        return size * count;
    }

    std::string baseUrl_;
    CURL* handle_ = nullptr;
};

std::unique_ptr<CurlClient> ClientFor(const SampleConsumer& consumer) {
    return std::make_unique<CurlClient>(consumer.BaseUrl());
}

Reply Exchange(CurlClient& client, const std::string& path, const std::string& body,
               const std::optional<std::string>& signature) {
    return client.Post(path, body, signature);
}

// POSTs a body signed with the consumer's secret, as the tester does.
Reply Post(const SampleConsumer& consumer, const std::string& path, const std::string& body) {
    return Exchange(*ClientFor(consumer), path, body, Sign(consumer.Secret(), body));
}

// The checks the tester makes on every answer.
void ExpectCorrectAnswer(const SampleConsumer& consumer, const Reply& reply) {
    ASSERT_TRUE(reply.arrived);
    EXPECT_EQ("application/json", reply.Header("Content-Type"));
    EXPECT_EQ(Sign(consumer.Secret(), reply.body), reply.Header("X-Orvel-Signature")) << reply.body;
}

ConsumerOptions WithScenario(const std::string& scenarioJson) {
    ConsumerOptions options;
    options.scenarioJson = scenarioJson;
    return options;
}

const char kStartSession[] =
    R"({"header":{"eventCounter":1,"timestamp":"2026-12-08T15:39:14.123+01:00","blockingCall":true},)"
    R"("sender":{"branchNumber":1,"workplaceNumber":1,"senderId":"5b0e8c1a-2f3d-4e5f-8a9b-0c1d2e3f4a5b"},)"
    R"("session":{"sessionId":"9f8e7d6c-5b4a-4392-8170-6f5e4d3c2b1a","totalAmount":20.0,"lines":[]}})";

TEST(SampleConsumerTest, RefusesAWrongOrMissingSignatureWithASignedErrorAnswer) {
    SampleConsumer consumer(WithScenario(R"({"events": {"startSession": [{"body": {"scripted": 1}}]}})"));
    auto client = ClientFor(consumer);

    const Reply wrong = Exchange(*client, "/startSession", kStartSession, Sign(consumer.Secret(), "{}"));
    const Reply missing = Exchange(*client, "/startSession", kStartSession, std::nullopt);
    const Reply empty = Exchange(*client, "/startSession", kStartSession, std::string());
    const Reply otherSecret =
        Exchange(*client, "/startSession", kStartSession, Sign("b3RoZXI=", kStartSession));
    for (const Reply* reply : {&wrong, &missing, &empty, &otherSecret}) {
        ExpectCorrectAnswer(consumer, *reply);
        EXPECT_EQ(401, reply->status);
        const Json::Value body = ParseJson(reply->body);
        EXPECT_EQ("INVALID_SIGNATURE", body["error"]["errorCode"].asString());
        EXPECT_FALSE(body["error"]["message"].asString().empty());
    }

    // Refused events do not use up the scenario.
    const Reply signedReply = Post(consumer, "/startSession", kStartSession);
    ExpectCorrectAnswer(consumer, signedReply);
    EXPECT_EQ(200, signedReply.status);
    EXPECT_EQ(R"({"scripted":1})", signedReply.body);

    const std::vector<Json::Value> log = consumer.Log();
    ASSERT_EQ(5u, log.size());
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_FALSE(log[i]["signatureValid"].asBool()) << i;
        EXPECT_EQ(401, log[i]["status"].asInt()) << i;
    }
    EXPECT_TRUE(log[4]["signatureValid"].asBool());
    EXPECT_EQ(200, log[4]["status"].asInt());
}

TEST(SampleConsumerTest, AnswersInOrderSignedThenEmptyObjects) {
    SampleConsumer consumer(WithScenario(R"({"events": {
        "startSession": [{"status": 400, "body": {"error": {"errorCode": "CLOSED", "message": "Shop closed"}}},
                         {"rawBody": ""},
                         {"body": {"text": "Gr\u00fc\u00dfe"}}],
        "pauseSession": [{"body": {"paused": true}, "repeat": true}]}})"));

    const Reply first = Post(consumer, "/startSession", kStartSession);
    ExpectCorrectAnswer(consumer, first);
    EXPECT_EQ(400, first.status);
    EXPECT_EQ("CLOSED", ParseJson(first.body)["error"]["errorCode"].asString());

    const Reply emptyBody = Post(consumer, "/startSession", kStartSession);
    ExpectCorrectAnswer(consumer, emptyBody); // an empty body is signed too
    EXPECT_EQ(200, emptyBody.status);
    EXPECT_EQ("", emptyBody.body);
    EXPECT_EQ(Sign(consumer.Secret(), ""), emptyBody.Header("X-Orvel-Signature"));

    const Reply utf8 = Post(consumer, "/startSession", kStartSession);
    ExpectCorrectAnswer(consumer, utf8);
    EXPECT_EQ("{\"text\":\"Gr\xC3\xBC\xC3\x9F"
              "e\"}",
              utf8.body);

    for (int i = 0; i < 2; ++i) {
        const Reply usedUp = Post(consumer, "/startSession", kStartSession);
        ExpectCorrectAnswer(consumer, usedUp);
        EXPECT_EQ(200, usedUp.status);
        EXPECT_EQ("{}", usedUp.body);
    }
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(R"({"paused":true})", Post(consumer, "/pauseSession", kStartSession).body);
    // An event nobody scripted, and a base URL with a path of its own.
    EXPECT_EQ("{}", Post(consumer, "/cancelSession", kStartSession).body);
    EXPECT_EQ(R"({"paused":true})", Post(consumer, "/hooks/v1/pauseSession", kStartSession).body);
    EXPECT_EQ("pauseSession", consumer.Log().back()["event"].asString());
    EXPECT_EQ("/hooks/v1/pauseSession", consumer.Log().back()["path"].asString());
}

TEST(SampleConsumerTest, SignatureFaults) {
    SampleConsumer consumer(WithScenario(R"({"events": {"e": [
        {"body": {"k": 1}, "faults": {"signature": "missing"}},
        {"body": {"k": 2}, "faults": {"signature": "empty"}},
        {"body": {"k": 3}, "faults": {"signature": "wrong"}},
        {"body": {"k": 4}, "faults": {"signature": "otherCase"}}]}})"));

    const Reply missing = Post(consumer, "/e", "{}");
    EXPECT_EQ(R"({"k":1})", missing.body);
    EXPECT_FALSE(missing.Has("X-Orvel-Signature"));
    EXPECT_EQ("application/json", missing.Header("Content-Type"));

    const Reply empty = Post(consumer, "/e", "{}");
    EXPECT_EQ(R"({"k":2})", empty.body);
    EXPECT_TRUE(empty.Has("X-Orvel-Signature"));
    EXPECT_EQ("", empty.Header("X-Orvel-Signature"));

    const Reply wrong = Post(consumer, "/e", "{}");
    EXPECT_EQ(R"({"k":3})", wrong.body);
    EXPECT_EQ(44u, wrong.Header("X-Orvel-Signature").size());
    EXPECT_NE(Sign(consumer.Secret(), wrong.body), wrong.Header("X-Orvel-Signature"));

    const Reply otherCase = Post(consumer, "/e", "{}");
    const std::string right = Sign(consumer.Secret(), otherCase.body);
    const std::string got = otherCase.Header("X-Orvel-Signature");
    EXPECT_NE(right, got);
    ASSERT_EQ(right.size(), got.size());
    for (std::size_t i = 0; i < right.size(); ++i)
        EXPECT_EQ(std::tolower(static_cast<unsigned char>(right[i])),
                  std::tolower(static_cast<unsigned char>(got[i])));
}

TEST(SampleConsumerTest, ContentTypeFaults) {
    SampleConsumer consumer(WithScenario(R"({"events": {"e": [
        {"body": {"k": 1}, "faults": {"contentType": null}},
        {"rawBody": "", "faults": {"contentType": null}},
        {"body": {"k": 3}, "faults": {"contentType": "application/json; charset=utf-8"}},
        {"body": {"k": 4}, "faults": {"contentType": ""}},
        {"body": {"k": 5}}]}})"));

    const Reply omitted = Post(consumer, "/e", "{}");
    ASSERT_TRUE(omitted.arrived);
    EXPECT_EQ(200, omitted.status);
    EXPECT_EQ(R"({"k":1})", omitted.body);
    EXPECT_FALSE(omitted.Has("Content-Type"));
    EXPECT_EQ(Sign(consumer.Secret(), omitted.body), omitted.Header("X-Orvel-Signature"));

    const Reply omittedEmpty = Post(consumer, "/e", "{}");
    ASSERT_TRUE(omittedEmpty.arrived);
    EXPECT_EQ("", omittedEmpty.body);
    EXPECT_FALSE(omittedEmpty.Has("Content-Type"));
    EXPECT_EQ(Sign(consumer.Secret(), ""), omittedEmpty.Header("X-Orvel-Signature"));

    const Reply charset = Post(consumer, "/e", "{}");
    EXPECT_EQ("application/json; charset=utf-8", charset.Header("Content-Type"));
    EXPECT_EQ(Sign(consumer.Secret(), charset.body), charset.Header("X-Orvel-Signature"));

    const Reply blank = Post(consumer, "/e", "{}");
    EXPECT_TRUE(blank.Has("Content-Type"));
    EXPECT_EQ("", blank.Header("Content-Type"));
    EXPECT_EQ(R"({"k":4})", blank.body);

    // The connection closed after the answers without a type; the next one is ordinary again.
    ExpectCorrectAnswer(consumer, Post(consumer, "/e", "{}"));
}

TEST(SampleConsumerTest, ClosesMidAnswerAndSendsOversizedBodies) {
    SampleConsumer consumer(WithScenario(R"({"events": {"e": [
        {"body": {"lineChanges": []}, "faults": {"closeMidAnswer": true}},
        {"rawBody": "", "faults": {"closeMidAnswer": true}},
        {"body": {"big": true}, "faults": {"bodyBytes": 17000000}},
        {"body": {"after": true}}]}})"));

    EXPECT_FALSE(Post(consumer, "/e", "{}").arrived);
    EXPECT_FALSE(Post(consumer, "/e", "{}").arrived);

    const Reply big = Post(consumer, "/e", "{}");
    ExpectCorrectAnswer(consumer, big);
    EXPECT_EQ(17000000u, big.body.size());
    EXPECT_EQ(0u, big.body.find(R"({"big":true} )"));
    EXPECT_TRUE(ParseJson(big.body)["big"].asBool());

    const Reply after = Post(consumer, "/e", "{}");
    ExpectCorrectAnswer(consumer, after);
    EXPECT_EQ(R"({"after":true})", after.body);
    // Every one of them was logged with the status it was answered with.
    const std::vector<Json::Value> log = consumer.Log();
    ASSERT_EQ(4u, log.size());
    for (const Json::Value& entry : log)
        EXPECT_EQ(200, entry["status"].asInt());
}

TEST(SampleConsumerTest, DelaysAnAnswer) {
    SampleConsumer consumer(WithScenario(
        R"({"events": {"slow": [{"body": {"late": true}, "faults": {"delayMs": 2000}, "repeat": true}]}})"));

    // A client that gives up long before the delay is over gets nothing…
    auto impatient = ClientFor(consumer);
    impatient->SetTimeoutMs(200);
    EXPECT_FALSE(Exchange(*impatient, "/slow", "{}", Sign(consumer.Secret(), "{}")).arrived);
    // …one that waits gets the answer, correct in every other respect.
    const Reply patient = Post(consumer, "/slow", "{}");
    ExpectCorrectAnswer(consumer, patient);
    EXPECT_EQ(R"({"late":true})", patient.body);
}

TEST(SampleConsumerTest, LogsErrorReportsWithTheirCodeAndAnswersThemEmpty) {
    SampleConsumer consumer;
    const std::string report =
        std::string(
            R"({"eventName":"startSession","error":{"errorCode":"INVALID_JSON","message":"You returned invalid JSON."},"event":)") +
        kStartSession + "}";

    const Reply reply = Post(consumer, "/error", report);
    ExpectCorrectAnswer(consumer, reply);
    EXPECT_EQ(200, reply.status);
    EXPECT_EQ("{}", reply.body);

    // A report with a bad signature is refused like any event, but its code is still logged.
    const Reply unsignedReport = Exchange(*ClientFor(consumer), "/error", report, std::nullopt);
    ExpectCorrectAnswer(consumer, unsignedReport);
    EXPECT_EQ(401, unsignedReport.status);

    const std::vector<Json::Value> log = consumer.Log();
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ("error", log[0]["event"].asString());
    EXPECT_EQ("INVALID_JSON", log[0]["errorCode"].asString());
    EXPECT_EQ("startSession", log[0]["body"]["eventName"].asString());
    EXPECT_EQ(ParseJson(kStartSession), log[0]["body"]["event"]);
    EXPECT_FALSE(log[1]["signatureValid"].asBool());
    EXPECT_EQ(401, log[1]["status"].asInt());
    EXPECT_EQ("INVALID_JSON", log[1]["errorCode"].asString());
}

TEST(SampleConsumerTest, LogsEveryRequestOnStdoutAndThroughTheAdminApi) {
    SampleConsumer consumer;
    ASSERT_EQ(200, Post(consumer, "/startSession", kStartSession).status);
    ASSERT_EQ(200, Post(consumer, "/scanCode", "this is no JSON").status);

    const std::vector<Json::Value> log = consumer.Log();
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ(1, log[0]["n"].asInt());
    EXPECT_EQ("startSession", log[0]["event"].asString());
    EXPECT_EQ("/startSession", log[0]["path"].asString());
    EXPECT_TRUE(log[0]["signatureValid"].asBool());
    EXPECT_EQ(200, log[0]["status"].asInt());
    EXPECT_FALSE(log[0].isMember("errorCode"));
    EXPECT_EQ(ParseJson(kStartSession), log[0]["body"]);
    EXPECT_EQ(Sign(consumer.Secret(), kStartSession), log[0]["headers"]["X-Orvel-Signature"].asString());
    EXPECT_EQ(2, log[1]["n"].asInt());
    EXPECT_EQ("this is no JSON", log[1]["body"].asString());

    // The same entries, one compact line each, on stdout.
    ASSERT_TRUE(consumer.WaitForOutputLines(2));
    const std::vector<std::string> lines = consumer.OutputLines();
    ASSERT_EQ(2u, lines.size());
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(0u, lines[i].find("{\"n\":" + std::to_string(i + 1) + ",\"event\":")) << lines[i];
        EXPECT_EQ(log[i], ParseJson(lines[i]));
    }
    // The body is written compact, as the last key of the line.
    const std::string bodyText = orvelconsumer::JsonText::Write(ParseJson(kStartSession));
    EXPECT_EQ(lines[0].size() - bodyText.size() - 1, lines[0].rfind(",\"body\":" + bodyText + "}") + 8)
        << lines[0];

    consumer.ClearLog();
    EXPECT_TRUE(consumer.Log().empty());
    Post(consumer, "/startSession", kStartSession);
    const std::vector<Json::Value> after = consumer.Log();
    ASSERT_EQ(1u, after.size());
    EXPECT_EQ(3, after[0]["n"].asInt());
}

TEST(SampleConsumerTest, AdminApiReplacesTheScenarioAndRefusesABadOne) {
    SampleConsumer consumer(WithScenario(R"({"events": {"e": [{"body": {"v": 1}}, {"body": {"v": 2}}]}})"));
    EXPECT_EQ(R"({"v":1})", Post(consumer, "/e", "{}").body);

    try {
        consumer.SetScenario(R"({"events": {"e": [{"faults": {"delayMs": "soon"}}]}})");
        ADD_FAILURE() << "a bad scenario was accepted";
    } catch (const std::runtime_error& error) {
        const std::string message = error.what();
        EXPECT_NE(std::string::npos, message.find("400")) << message;
        EXPECT_NE(std::string::npos, message.find("events.e[0].faults.delayMs")) << message;
    }
    try {
        consumer.SetScenario("{not json");
        ADD_FAILURE() << "text that is no JSON was accepted";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string::npos, std::string(error.what()).find("not valid JSON")) << error.what();
    }
    // The refused scenarios left the running one alone.
    EXPECT_EQ(R"({"v":2})", Post(consumer, "/e", "{}").body);

    consumer.SetScenario(R"({"events": {"e": [{"body": {"w": 1}}]}})");
    EXPECT_EQ(R"({"w":1})", Post(consumer, "/e", "{}").body);
    EXPECT_EQ("{}", Post(consumer, "/e", "{}").body);
    // Putting the same scenario again starts it over.
    consumer.SetScenario(R"({"events": {"e": [{"body": {"w": 1}}]}})");
    EXPECT_EQ(R"({"w":1})", Post(consumer, "/e", "{}").body);

    // Admin requests are not events: nothing of this went into the log.
    const std::vector<Json::Value> log = consumer.Log();
    EXPECT_EQ(5u, log.size());
}

TEST(SampleConsumerTest, DemoEchoesTheExternalPaymentIdUntilConfirmed) {
    ConsumerOptions options;
    options.demo = true;
    SampleConsumer consumer(options);
    const std::string start =
        R"({"header":{"eventCounter":7},"session":{"sessionId":"9f8e7d6c-5b4a-4392-8170-6f5e4d3c2b1a","lines":[]},)"
        R"("externalPayment":{"externalPaymentId":"3c2b1a09-8f7e-4d6c-9b5a-4f3e2d1c0b9a","method":"K_EXTERNAL_PAYMENT",)"
        R"("description":"Demo","amount":12.5}})";

    const Reply started = Post(consumer, "/startExternalPayment", start);
    ExpectCorrectAnswer(consumer, started);
    EXPECT_EQ("3c2b1a09-8f7e-4d6c-9b5a-4f3e2d1c0b9a",
              ParseJson(started.body)["externalPaymentId"].asString());
    EXPECT_TRUE(ParseJson(started.body)["started"].asBool());

    std::vector<Json::Value> polls;
    for (int i = 0; i < 3; ++i) {
        const Reply poll = Post(consumer, "/pollExternalPayment", start);
        ExpectCorrectAnswer(consumer, poll);
        polls.push_back(ParseJson(poll.body));
        EXPECT_EQ("3c2b1a09-8f7e-4d6c-9b5a-4f3e2d1c0b9a", polls.back()["externalPaymentId"].asString());
    }
    EXPECT_FALSE(polls[0].isMember("confirmed"));
    EXPECT_FALSE(polls[1].isMember("confirmed"));
    EXPECT_TRUE(polls[2]["confirmed"].asBool());
}

TEST(SampleConsumerTest, ConcurrentEventsEachGetTheirOwnAnswer) {
    std::string answers;
    for (int i = 0; i < 40; ++i)
        answers += std::string(i ? "," : "") + R"({"body": {"i": )" + std::to_string(i) + "}}";
    SampleConsumer consumer(WithScenario(R"({"events": {"e": [)" + answers + "]}}"));

    std::vector<std::vector<std::string>> bodies(4);
    std::vector<std::thread> senders;
    for (std::size_t t = 0; t < bodies.size(); ++t)
        senders.emplace_back([&consumer, &bodies, t] {
            auto client = ClientFor(consumer);
            for (int i = 0; i < 10; ++i) {
                const std::string body = R"({"thread":)" + std::to_string(t) + "}";
                bodies[t].push_back(Exchange(*client, "/e", body, Sign(consumer.Secret(), body)).body);
            }
        });
    for (std::thread& sender : senders)
        sender.join();

    std::set<std::string> seen;
    for (const auto& list : bodies)
        seen.insert(list.begin(), list.end());
    EXPECT_EQ(40u, seen.size()); // every scripted answer exactly once
    EXPECT_EQ(0u, seen.count("{}"));
    std::set<int> numbers;
    for (const Json::Value& entry : consumer.Log())
        numbers.insert(entry["n"].asInt());
    EXPECT_EQ(40u, numbers.size());
}

TEST(SampleConsumerTest, StopsCleanlyOnSigterm) {
    SampleConsumer consumer;
    ASSERT_EQ(200, Post(consumer, "/startSession", kStartSession).status);
    const int status = consumer.Stop();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST(SampleConsumerTest, ABadScenarioFileStopsTheStartWithStatus2AndTheReason) {
    try {
        SampleConsumer consumer(WithScenario(R"({"events": {"scanCode": [{"staus": 200}]}})"));
        ADD_FAILURE() << "started with a bad scenario";
    } catch (const std::runtime_error& error) {
        const std::string message = error.what();
        EXPECT_NE(std::string::npos, message.find("exit status 2")) << message;
        EXPECT_NE(std::string::npos, message.find("events.scanCode[0]: unknown key \"staus\"")) << message;
    }
    try {
        ConsumerOptions options;
        options.secret = "not*base64";
        SampleConsumer consumer(options);
        ADD_FAILURE() << "started with a bad secret";
    } catch (const std::runtime_error& error) {
        const std::string message = error.what();
        EXPECT_NE(std::string::npos, message.find("exit status 2")) << message;
        EXPECT_NE(std::string::npos, message.find("--secret")) << message;
    }
}

TEST(SampleConsumerTlsTest, ServesHttpsWithASelfSignedCertificate) {
    testsupport::TempDir folder;
    const std::string cert = folder.File("cert.pem");
    const std::string key = folder.File("key.pem");
    ASSERT_EQ("", testsupport::MakeSelfSignedCertificate(folder));

    ConsumerOptions options = WithScenario(R"({"events": {"startSession": [
        {"body": {"secure": true}},
        {"body": {"k": 2}, "faults": {"contentType": null}},
        {"body": {"k": 3}, "faults": {"closeMidAnswer": true}}]}})");
    options.tlsCertFile = cert;
    options.tlsKeyFile = key;
    SampleConsumer consumer(options);
    ASSERT_EQ(0u, consumer.BaseUrl().find("https://127.0.0.1:")) << consumer.BaseUrl();

    // The certificate is checked, as the tester does unless "Self-signed" is ticked.
    auto client = ClientFor(consumer);
    client->TrustOnly(cert);
    const Reply reply =
        Exchange(*client, "/startSession", kStartSession, Sign(consumer.Secret(), kStartSession));
    ExpectCorrectAnswer(consumer, reply);
    EXPECT_EQ(R"({"secure":true})", reply.body);

    const Reply untyped =
        Exchange(*client, "/startSession", kStartSession, Sign(consumer.Secret(), kStartSession));
    ASSERT_TRUE(untyped.arrived);
    EXPECT_EQ(R"({"k":2})", untyped.body);
    EXPECT_FALSE(untyped.Has("Content-Type"));
    EXPECT_EQ(Sign(consumer.Secret(), untyped.body), untyped.Header("X-Orvel-Signature"));

    EXPECT_FALSE(
        Exchange(*client, "/startSession", kStartSession, Sign(consumer.Secret(), kStartSession)).arrived);

    // The admin API works over TLS as well.
    const std::vector<Json::Value> log = consumer.Log();
    ASSERT_EQ(3u, log.size());
    EXPECT_TRUE(log[0]["signatureValid"].asBool());

    // A plain-HTTP client gets no answer from the TLS port.
    CurlClient plain("http://127.0.0.1:" + std::to_string(consumer.Port()) + "/");
    plain.SetTimeoutMs(5000);
    EXPECT_FALSE(
        Exchange(plain, "/startSession", kStartSession, Sign(consumer.Secret(), kStartSession)).arrived);
}

} // namespace
