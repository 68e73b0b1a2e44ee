// Consumers have always received what jsoncpp's StreamWriter makes of the event (no
// indentation, raw UTF-8, 15 significant digits), so every body must stay the same, byte for
// byte. Each case compares with jsoncpp itself.
#include "WireFormat.h"

#include <json/value.h>
#include <json/writer.h>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

using namespace Tarn::Webhooks;

namespace {

// The settings the body was always written with.
std::string JsoncppText(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    builder["precision"] = 15;
    builder["precisionType"] = "significant";
    return Json::writeString(builder, value);
}

std::string AllControlCharacters() {
    std::string text;
    for (int c = 0; c < 0x20; ++c)
        text += static_cast<char>(c);
    return text + "\x7F";
}

// Text that needs every kind of care: escapes, raw UTF-8 of every length, bytes that are no
// UTF-8 at all, and an embedded NUL.
const std::vector<std::string> kAwkwardTexts = {
    "",
    "plain",
    "\"quoted\" and \\back\\slashed\\ and /slashed/",
    AllControlCharacters(),
    "line\r\nbreaks\tand\ttabs",
    "Caf\xC3\xA9 \xE2\x82\xAC 5,00 \xE2\x98\x95 \xF0\x9F\x98\x80",
    "\xFF\xFE broken \xC3 utf-8 \xED\xA0\x80",
    std::string("nul\0inside", 10),
    "\"",
    "\\",
    "\x1F\x20",
};

const std::vector<double> kAwkwardDoubles = {
    0.0,
    -0.0,
    1.0,
    21.0,
    -3.0,
    0.1,
    0.1 + 0.2,
    1.0 / 3.0,
    2.35 * 3.0,
    123456789012345.6,
    1234567890123456.0,
    0.000123456789012345,
    1e15,
    1e16,
    1e21,
    -1e-5,
    1e-7,
    1e300,
    DBL_MAX,
    -DBL_MAX,
    DBL_MIN,
    5e-324,
    9007199254740993.0,
    // Where "%g" turns from fixed to exponent notation, and 15 against 16 digits.
    1e-5,
    1.5e-5,
    0.0001,
    0.000123,
    99999999999999.9,
    999999999999999.0,
    123456789012345.0,
    1.5e15,
    1e14,
    0.30000000000000004,
    9.9999999999999995e22,
    2.2250738585072014e-308,
    4.9e-310,
    std::numeric_limits<double>::quiet_NaN(),
    std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(),
};

SessionLine AwkwardLine(std::size_t i) {
    SessionLine line;
    line.lineId = Uuid::Create();
    line.lineSetId = Uuid::Create();
    line.articleNumber =
        i % 2 == 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
    line.quantity = kAwkwardDoubles[i % kAwkwardDoubles.size()];
    line.priceIncl = kAwkwardDoubles[(i + 1) % kAwkwardDoubles.size()];
    line.vatCode = i % 2 == 0 ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
    line.vatPercentage = kAwkwardDoubles[(i + 2) % kAwkwardDoubles.size()];
    line.discountPercentage = kAwkwardDoubles[(i + 3) % kAwkwardDoubles.size()];
    line.discountAmount = kAwkwardDoubles[(i + 4) % kAwkwardDoubles.size()];
    line.supplierArticleNumber = kAwkwardTexts[i % kAwkwardTexts.size()];
    line.pluNumber = kAwkwardTexts[(i + 1) % kAwkwardTexts.size()];
    line.extArticleId = kAwkwardTexts[(i + 2) % kAwkwardTexts.size()];
    if (i % 3 != 0) {
        ExternalDiscount discount;
        discount.discountId = Uuid::Create();
        discount.discountPercentage = kAwkwardDoubles[(i + 5) % kAwkwardDoubles.size()];
        discount.discountAmount = kAwkwardDoubles[(i + 6) % kAwkwardDoubles.size()];
        discount.discountDescription = kAwkwardTexts[(i + 3) % kAwkwardTexts.size()];
        line.externalDiscount = discount;
    }
    line.totalAmount = kAwkwardDoubles[(i + 7) % kAwkwardDoubles.size()];
    line.text = kAwkwardTexts[(i + 4) % kAwkwardTexts.size()];
    return line;
}

// A default event with every shared part filled awkwardly; lineCount 0 gives "lines": [].
template <typename E> boost::shared_ptr<E> Awkward(std::size_t lineCount) {
    auto event = boost::make_shared<E>();
    event->header.eventCounter = std::numeric_limits<int64_t>::max();
    event->header.blockingCall = lineCount % 2 == 0;
    event->sender = Sender{std::numeric_limits<int32_t>::min(), -1, Uuid::Create()};
    event->session.sessionId = Uuid::Create();
    event->session.totalAmount = -0.0;
    for (std::size_t i = 0; i < lineCount; ++i)
        event->session.lines.push_back(AwkwardLine(i + lineCount));
    if (lineCount > 0)
        event->dialog =
            DialogReq{lineCount > 3 ? std::vector<int32_t>{0, -7, 2147483647} : std::vector<int32_t>()};
    return event;
}

template <typename E> boost::shared_ptr<E> WithPayments(std::size_t lineCount) {
    auto event = Awkward<E>(lineCount);
    for (std::size_t i = 0; i < lineCount; ++i)
        event->request.payments.push_back(
            Payment{kAwkwardTexts[i % kAwkwardTexts.size()], kAwkwardTexts[(i + 5) % kAwkwardTexts.size()],
                    kAwkwardDoubles[i % kAwkwardDoubles.size()], static_cast<int32_t>(i) - 2});
    return event;
}

template <typename E> boost::shared_ptr<E> WithLine(std::size_t lineCount) {
    auto event = Awkward<E>(lineCount);
    event->request.line = AwkwardLine(lineCount + 1);
    return event;
}

template <typename E> boost::shared_ptr<E> WithExternalPayment(std::size_t lineCount) {
    auto event = Awkward<E>(lineCount);
    event->externalPayment.externalPaymentId = lineCount % 2 == 0 ? Uuid() : Uuid::Create();
    if (lineCount > 0) {
        event->externalPayment.method = kAwkwardTexts[lineCount % kAwkwardTexts.size()];
        event->externalPayment.description = kAwkwardTexts[(lineCount + 1) % kAwkwardTexts.size()];
        event->externalPayment.amount = kAwkwardDoubles[lineCount % kAwkwardDoubles.size()];
    }
    return event;
}

// A kind of event defined outside the library: its own buildJson decides its body.
struct ScanCodeEventWithExtra : ScanCodeEvent {
    void buildJson(Json::Value& json) const override {
        ScanCodeEvent::buildJson(json);
        json["extra"] = "\u00e9\n";
    }
};

// Every kind of event, from bare to crowded.
std::vector<boost::shared_ptr<WebhookEvent>> EveryKindOfEvent() {
    std::vector<boost::shared_ptr<WebhookEvent>> events;
    for (std::size_t lines : {0u, 1u, 4u, 13u}) {
        events.push_back(Awkward<StartSessionEvent>(lines));
        events.push_back(Awkward<PauseSessionEvent>(lines));
        events.push_back(Awkward<ResumeSessionEvent>(lines));
        events.push_back(Awkward<StartPaymentEvent>(lines));
        events.push_back(Awkward<CancelPaymentEvent>(lines));
        events.push_back(Awkward<CancelSessionEvent>(lines));
        auto scan = Awkward<ScanCodeEvent>(lines);
        scan->request = ScanCodeReq{kAwkwardTexts[lines % kAwkwardTexts.size()],
                                    kAwkwardTexts[(lines + 3) % kAwkwardTexts.size()]};
        events.push_back(scan);
        events.push_back(WithLine<AddSessionLineEvent>(lines));
        events.push_back(WithLine<UpdateSessionLineEvent>(lines));
        events.push_back(WithLine<RemoveSessionLineEvent>(lines));
        auto merge = Awkward<MergeSessionEvent>(lines);
        merge->request.mergedSessionId = lines % 2 == 0 ? Uuid::Create() : Uuid();
        events.push_back(merge);
        events.push_back(WithPayments<CompleteSessionEvent>(lines));
        events.push_back(WithPayments<CreditSessionEvent>(lines));
        events.push_back(WithExternalPayment<StartExternalPaymentEvent>(lines));
        events.push_back(WithExternalPayment<PollExternalPaymentEvent>(lines));
        events.push_back(WithExternalPayment<RequestCancelExternalPaymentEvent>(lines));
        events.push_back(WithExternalPayment<CancelExternalPaymentEvent>(lines));
    }
    const std::size_t kinds = events.size();
    for (std::size_t i = 0; i < kinds; i += 3) {
        auto report = boost::make_shared<ErrorEvent>();
        report->error =
            Error(kAwkwardTexts[i % kAwkwardTexts.size()], kAwkwardTexts[(i + 1) % kAwkwardTexts.size()]);
        report->event = events[i];
        events.push_back(report);
    }
    events.push_back(boost::make_shared<ErrorEvent>()); // "eventName": "", "event": {}
    events.push_back(Awkward<DefaultEvent>(2));
    events.push_back(WithExternalPayment<ExternalPaymentEvent>(1));
    events.push_back(Awkward<ScanCodeEventWithExtra>(1));
    auto reportOfExtra = boost::make_shared<ErrorEvent>();
    reportOfExtra->event = events.back();
    events.push_back(reportOfExtra);
    return events;
}

TEST(RequestBodyText, EveryEventIsWrittenExactlyAsJsoncppWritesIt) {
    const auto events = EveryKindOfEvent();
    ASSERT_GT(events.size(), 60u);
    for (const auto& event : events) {
        Json::Value json;
        event->buildJson(json);
        const std::string expected = JsoncppText(json);
        ASSERT_EQ(expected, RequestBody(*event)) << EventNameOf(*event);
    }
}

} // namespace
