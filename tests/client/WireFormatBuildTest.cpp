// Request bodies as a consumer receives them: each body is read back with a parser of its own and
// checked key by key, and the raw text is checked where the JSON value cannot tell.
#include "OrvLib.h"
#include "WireFormat.h"

#include <json/reader.h>
#include <json/writer.h>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace Tarn::Webhooks;

namespace {

const Uuid kSession("6a1b2c3d-4e5f-4a6b-8c7d-8e9f0a1b2c3d");
const Uuid kSender("11111111-2222-4333-8444-555555555555");
const Uuid kLine("{ABCDEF01-2345-4678-9ABC-DEF012345678}"); // written lower case
const Uuid kOther("0f0e0d0c-0b0a-4908-8706-050403020100");

Json::Value Parse(const std::string& text) {
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value json;
    std::string errors;
    EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &json, &errors)) << text << "\n"
                                                                                       << errors;
    return json;
}

Json::Value Body(const WebhookEvent& event) {
    return Parse(RequestBody(event));
}

// shape: '9' stands for any digit, '#' for a sign, anything else for itself.
bool HasShape(const std::string& text, const std::string& shape) {
    if (text.size() != shape.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool ok = shape[i] == '9'   ? (c >= '0' && c <= '9')
                        : shape[i] == '#' ? (c == '+' || c == '-')
                                          : c == shape[i];
        if (!ok)
            return false;
    }
    return true;
}

std::vector<std::string> Keys(const Json::Value& object) {
    EXPECT_TRUE(object.isObject());
    std::vector<std::string> keys = object.isObject() ? object.getMemberNames() : std::vector<std::string>();
    std::sort(keys.begin(), keys.end());
    return keys;
}

template <typename E> boost::shared_ptr<E> Filled() {
    auto event = boost::make_shared<E>();
    event->header.eventCounter = 42;
    event->header.blockingCall = true;
    event->sender = Sender{1, 2, kSender};
    event->session.sessionId = kSession;
    event->session.totalAmount = 0.0;
    return event;
}

SessionLine BareLine(const std::string& text) {
    SessionLine line;
    line.lineId = kLine;
    line.text = text;
    return line;
}

struct EventCase {
    const char* name;
    std::function<boost::shared_ptr<WebhookEvent>()> make;
    const char* request;         // the expected "request", "" when the body has none
    const char* externalPayment; // the expected "externalPayment", "" when the body has none
};

void PrintTo(const EventCase& c, std::ostream* os) {
    *os << c.name;
}

template <typename E> EventCase Plain(const char* name) {
    return {name, [] { return Filled<E>(); }, "", ""};
}

template <typename E> EventCase LineEvent(const char* name) {
    return {name,
            [] {
                auto e = Filled<E>();
                e->request.line = BareLine("Koffie");
                return e;
            },
            R"({"line":{"lineId":"abcdef01-2345-4678-9abc-def012345678","text":"Koffie"}})", ""};
}

template <typename E> EventCase ExternalEvent(const char* name) {
    return {
        name,
        [] {
            auto e = Filled<E>();
            e->externalPayment = ExternalPayment{kOther, std::string("PIN"), std::string("PIN"), 12.5};
            return e;
        },
        "",
        R"({"externalPaymentId":"0f0e0d0c-0b0a-4908-8706-050403020100","method":"PIN","description":"PIN","amount":12.5})"};
}

const EventCase kEvents[] = {
    Plain<StartSessionEvent>("startSession"),
    Plain<PauseSessionEvent>("pauseSession"),
    Plain<ResumeSessionEvent>("resumeSession"),
    Plain<StartPaymentEvent>("startPayment"),
    Plain<CancelPaymentEvent>("cancelPayment"),
    Plain<CancelSessionEvent>("cancelSession"),
    {"scanCode",
     [] {
         auto e = Filled<ScanCodeEvent>();
         e->request = ScanCodeReq{"qrcode", "https://x.example/?q=1"};
         return e;
     },
     R"({"codeType":"qrcode","code":"https://x.example/?q=1"})", ""},
    LineEvent<AddSessionLineEvent>("addSessionLine"),
    LineEvent<UpdateSessionLineEvent>("updateSessionLine"),
    LineEvent<RemoveSessionLineEvent>("removeSessionLine"),
    {"mergeSession",
     [] {
         auto e = Filled<MergeSessionEvent>();
         e->request.mergedSessionId = kOther;
         return e;
     },
     R"({"mergedSessionId":"0f0e0d0c-0b0a-4908-8706-050403020100"})", ""},
    {"completeSession", [] { return Filled<CompleteSessionEvent>(); }, R"({"payments":[]})", ""},
    {"creditSession", [] { return Filled<CreditSessionEvent>(); }, R"({"payments":[]})", ""},
    ExternalEvent<StartExternalPaymentEvent>("startExternalPayment"),
    ExternalEvent<PollExternalPaymentEvent>("pollExternalPayment"),
    ExternalEvent<RequestCancelExternalPaymentEvent>("requestCancelExternalPayment"),
    ExternalEvent<CancelExternalPaymentEvent>("cancelExternalPayment"),
};

class EveryEvent : public ::testing::TestWithParam<EventCase> {};

} // namespace

INSTANTIATE_TEST_SUITE_P(WireFormatBuild, EveryEvent, ::testing::ValuesIn(kEvents),
                         [](const ::testing::TestParamInfo<EventCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_P(EveryEvent, BodyHoldsTheSharedPartsAndItsOwnRequest) {
    const EventCase& c = GetParam();
    const auto event = c.make();
    EXPECT_EQ(c.name, EventNameOf(*event));
    const Json::Value body = Body(*event);

    std::vector<std::string> expected = {"header", "sender", "session"};
    if (*c.request)
        expected.push_back("request");
    if (*c.externalPayment)
        expected.push_back("externalPayment");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, Keys(body));
    EXPECT_EQ(42, body["header"]["eventCounter"].asInt64());
    EXPECT_EQ(kSession.ToString(), body["session"]["sessionId"].asString());
    if (*c.request) {
        EXPECT_EQ(Parse(c.request), body["request"]);
    }
    if (*c.externalPayment) {
        EXPECT_EQ(Parse(c.externalPayment), body["externalPayment"]);
    }
}

TEST(WireFormatBuild, HeaderSenderSessionAndLinesFieldByField) {
    auto event = Filled<AddSessionLineEvent>();
    event->header.eventCounter = 9007199254740993; // beyond a double's integers
    event->header.reservedFlag = true;
    SessionLine full;
    full.lineId = kLine;
    full.lineSetId = kOther;
    full.articleNumber = 4000000000;
    full.quantity = 3;
    full.priceIncl = 2.5;
    full.vatCode = -1;
    full.vatPercentage = 21;
    full.discountPercentage = 10;
    full.discountAmount = 0.75;
    full.reservedText = std::string("never sent");
    full.supplierArticleNumber = std::string("SUP-1");
    full.pluNumber = std::string("0042");
    full.extArticleId = std::string("ext");
    full.externalDiscount = ExternalDiscount{kOther, 5.0, 0.5, "Actie", kSender};
    full.totalAmount = 6.75;
    full.text = "Thee";
    event->session.lines = {full, BareLine("Koek")};
    event->session.totalAmount = 20.0;
    event->request.line = full;

    const Json::Value body = Body(*event);
    EXPECT_EQ(Parse(R"({"eventCounter":9007199254740993,"blockingCall":true,"timestamp":")" +
                    orvlib::FormatIso8601(event->header.timestamp) + "\"}"),
              body["header"]);
    EXPECT_EQ(
        Parse(R"({"branchNumber":1,"workplaceNumber":2,"senderId":"11111111-2222-4333-8444-555555555555"})"),
        body["sender"]);
    const Json::Value fullLine = Parse(R"({"lineId":"abcdef01-2345-4678-9abc-def012345678",
        "lineSetId":"0f0e0d0c-0b0a-4908-8706-050403020100","articleNumber":4000000000,"quantity":3.0,
        "priceIncl":2.5,"vatCode":-1,"vatPercentage":21.0,"discountPercentage":10.0,"discountAmount":0.75,
        "supplierArticleNumber":"SUP-1","pluNumber":"0042","extArticleId":"ext",
        "externalDiscount":{"discountId":"0f0e0d0c-0b0a-4908-8706-050403020100","discountPercentage":5.0,
            "discountAmount":0.5,"discountDescription":"Actie","discountSetId":"11111111-2222-4333-8444-555555555555"},
        "totalAmount":6.75,"text":"Thee"})");
    const Json::Value session = body["session"];
    EXPECT_EQ((std::vector<std::string>{"lines", "sessionId", "totalAmount"}), Keys(session));
    EXPECT_EQ(20.0, session["totalAmount"].asDouble());
    ASSERT_EQ(2u, session["lines"].size());
    EXPECT_EQ(fullLine, session["lines"][0]) << session["lines"][0];
    EXPECT_EQ(Parse(R"({"lineId":"abcdef01-2345-4678-9abc-def012345678","text":"Koek"})"),
              session["lines"][1]);
    EXPECT_EQ(fullLine, body["request"]["line"]);
}

TEST(WireFormatBuild, AbsentOptionalsAndNullIdsAreOmitted) {
    StartSessionEvent bare;
    Json::Value body = Body(bare);
    EXPECT_EQ((std::vector<std::string>{"blockingCall", "eventCounter", "timestamp"}), Keys(body["header"]));
    EXPECT_EQ((std::vector<std::string>{"branchNumber", "workplaceNumber"}), Keys(body["sender"]));
    EXPECT_EQ(Parse(R"({"lines":[]})"), body["session"]);

    AddSessionLineEvent event;
    SessionLine line;
    line.lineId = Uuid();
    line.externalDiscount = ExternalDiscount();
    line.reservedText = std::string("x");
    event.request.line = line;
    EXPECT_EQ(Parse(R"({"line":{"externalDiscount":{"discountDescription":""},"text":""}})"),
              Body(event)["request"]);

    EXPECT_EQ(Parse("{}"), Body(MergeSessionEvent())["request"]);
    EXPECT_EQ(Parse("{}"), Body(PollExternalPaymentEvent())["externalPayment"]);
}

TEST(WireFormatBuild, TimestampIsLocalIsoTimeWithMillisecondsAndOffset) {
    const std::string stamp = Body(StartSessionEvent())["header"]["timestamp"].asString();
    EXPECT_TRUE(HasShape(stamp, "9999-99-99T99:99:99.999#99:99")) << stamp;
}

TEST(WireFormatBuild, DialogOnlyWhenTheEventAnswersOne) {
    CancelSessionEvent event;
    EXPECT_FALSE(Body(event).isMember("dialog"));
    event.dialog = DialogReq();
    EXPECT_EQ(Parse(R"({"optionIds":[]})"), Body(event)["dialog"]);
    event.dialog->optionIds = {3, 5};
    EXPECT_EQ(Parse(R"({"optionIds":[3,5]})"), Body(event)["dialog"]);
}

TEST(WireFormatBuild, RawTextIsCompactUtf8WithShortDecimals) {
    ScanCodeEvent event;
    event.session.totalAmount = 0.1 + 0.2; // 0.30000000000000004 in binary
    SessionLine line = BareLine("Caf\xC3\xA9 \xE2\x98\x95 \xF0\x9F\x98\x80 \"quoted\"\n");
    line.quantity = 0.1;
    event.session.lines.push_back(line);
    event.request = ScanCodeReq{"barcode", "a b\tc"};
    const std::string text = RequestBody(event);

    EXPECT_NE(std::string::npos, text.find("\"quantity\":0.1,")) << text;
    EXPECT_NE(std::string::npos, text.find("\"totalAmount\":0.3}")) << text;
    EXPECT_NE(std::string::npos, text.find("Caf\xC3\xA9 \xE2\x98\x95 \xF0\x9F\x98\x80")) << text;
    EXPECT_EQ(std::string::npos, text.find("\\u")) << text;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString && c == '\\') {
            ++i;
        } else if (c == '"') {
            inString = !inString;
        } else if (!inString) {
            ASSERT_EQ(std::string::npos, std::string(" \t\r\n").find(c)) << "blank at " << i << ": " << text;
        }
    }
    EXPECT_EQ(line.text, Parse(text)["session"]["lines"][0]["text"].asString());
}

TEST(WireFormatBuild, ErrorReportWrapsTheFailedEvent) {
    auto failed = Filled<ScanCodeEvent>();
    failed->request = ScanCodeReq{"rfid", "E200"};
    ErrorEvent report;
    report.error = Error("INVALID_SIGNATURE", "You did not properly calculate the X-Orvel-Signature header.");
    report.event = failed;
    EXPECT_EQ("error", EventNameOf(report));

    const Json::Value body = Body(report);
    EXPECT_EQ((std::vector<std::string>{"error", "event", "eventName"}), Keys(body));
    EXPECT_EQ("scanCode", body["eventName"].asString());
    EXPECT_EQ(Parse(R"({"errorCode":"INVALID_SIGNATURE",
        "message":"You did not properly calculate the X-Orvel-Signature header."})"),
              body["error"]);
    EXPECT_EQ(Body(*failed), body["event"]);

    report.event.reset();
    EXPECT_EQ(Parse(R"({"eventName":"","error":{"errorCode":"INVALID_SIGNATURE",
        "message":"You did not properly calculate the X-Orvel-Signature header."},"event":{}})"),
              Body(report));
}

TEST(WireFormatBuild, TheMostDerivedKindNamesTheEvent) {
    const CreditSessionEvent credit;
    const RequestCancelExternalPaymentEvent cancel;
    const DefaultEvent& asDefault = credit;
    const ExternalPaymentEvent& asExternal = cancel;
    EXPECT_EQ("creditSession", EventNameOf(asDefault));
    EXPECT_EQ("requestCancelExternalPayment", EventNameOf(asExternal));
    EXPECT_EQ("", EventNameOf(DefaultEvent()));
    EXPECT_EQ("", EventNameOf(ExternalPaymentEvent()));

    // buildJson starts from an empty object whatever the value held before.
    Json::Value json = Parse(R"({"stale":1})");
    credit.buildJson(json);
    EXPECT_FALSE(json.isMember("stale"));
}
