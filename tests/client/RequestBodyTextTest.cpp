// The request text is written by a writer of our own; consumers have always received what
// jsoncpp's StreamWriter makes of the event (no indentation, raw UTF-8, 15 significant digits),
// so every body must stay the same, byte for byte. Each case compares with jsoncpp itself.
#include "WireFormat.h"

#include <json/value.h>
#include <json/writer.h>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
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

std::string OurText(const Json::Value& value) {
    std::string text;
    AppendCompactJson(value, text);
    return text;
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

TEST(RequestBodyText, NumbersAreWrittenAsJsoncppWritesThem) {
    std::vector<Json::Value> numbers;
    for (double d : kAwkwardDoubles) {
        numbers.emplace_back(d);
        numbers.emplace_back(-d);
        numbers.emplace_back(std::nextafter(d, 0.0));
    }
    for (Json::Int64 i : {Json::Int64{0}, Json::Int64{-1}, std::numeric_limits<Json::Int64>::min(),
                          std::numeric_limits<Json::Int64>::max(), Json::Int64{4294967296}})
        numbers.emplace_back(i);
    for (Json::UInt64 u : {Json::UInt64{0}, std::numeric_limits<Json::UInt64>::max(), Json::UInt64{1} << 63})
        numbers.emplace_back(u);
    numbers.emplace_back(std::numeric_limits<Json::Int>::min());
    numbers.emplace_back(std::numeric_limits<Json::UInt>::max());
    // Random bit patterns reach the corners the chosen values miss: long fractions, every
    // exponent, subnormals.
    std::mt19937_64 random(20260518);
    for (int i = 0; i < 20000; ++i) {
        const uint64_t bits = random();
        double d = 0.0;
        std::memcpy(&d, &bits, sizeof d);
        numbers.emplace_back(d);
        numbers.emplace_back(static_cast<double>(static_cast<int64_t>(bits) >> (bits % 64)) / 1000.0);
    }
    // Amounts as a till computes them (price times quantity, sums), which often need 16 or 17
    // digits to read back, and values whose 16th digit is a 5: the rounding to 15 digits then
    // hangs on digits beyond the shortest form.
    for (int cents = 1; cents < 3000; cents += 7)
        for (int quantity = 1; quantity < 13; ++quantity)
            numbers.emplace_back(cents / 100.0 * quantity * 1.21);
    // Decimals of up to four places, as typed into a till, with their neighbours.
    const double scales[] = {1.0, 10.0, 100.0, 1000.0, 10000.0};
    std::uniform_int_distribution<int64_t> whole(-2000000000000000, 2000000000000000);
    for (int i = 0; i < 3000; ++i) {
        const int64_t n = i % 3 == 0 ? whole(random) % 100000 : whole(random) >> (i % 40);
        const double decimal = static_cast<double>(n) / scales[i % 5];
        numbers.emplace_back(decimal);
        numbers.emplace_back(std::nextafter(decimal, 0.0));
        numbers.emplace_back(std::nextafter(decimal, 1e308));
    }
    std::uniform_int_distribution<int64_t> fifteenDigits(100000000000000, 999999999999999);
    std::uniform_int_distribution<int> exponents(-30, 30);
    for (int i = 0; i < 3000; ++i) {
        const std::string text =
            std::to_string(fifteenDigits(random)) + "5e" + std::to_string(exponents(random));
        const double tie = std::strtod(text.c_str(), nullptr);
        numbers.emplace_back(tie);
        numbers.emplace_back(std::nextafter(tie, 0.0));
        numbers.emplace_back(std::nextafter(tie, 1e308));
    }
    for (const Json::Value& number : numbers)
        ASSERT_EQ(JsoncppText(number), OurText(number)) << number.asDouble();
}

TEST(RequestBodyText, StringsAndKeysAreEscapedAsJsoncppEscapesThem) {
    Json::Value object(Json::objectValue);
    for (const std::string& text : kAwkwardTexts) {
        EXPECT_EQ(JsoncppText(Json::Value(text)), OurText(Json::Value(text)));
        object[text] = text;
    }
    for (int c = 0; c < 256; ++c) {
        const std::string text = "a" + std::string(1, static_cast<char>(c)) + "b";
        EXPECT_EQ(JsoncppText(Json::Value(text)), OurText(Json::Value(text))) << c;
    }
    EXPECT_EQ(JsoncppText(object), OurText(object));
    // The escapes themselves, so that agreeing with jsoncpp is not agreeing on a mistake.
    EXPECT_EQ(R"("\u0000\u0001\b\t\n\u000b\f\r\u001f \"\\/")",
              OurText(Json::Value(std::string("\0\x01\b\t\n\v\f\r\x1F \"\\/", 13))));
}

// A random document of every value type, nested.
Json::Value RandomValue(std::mt19937& random, int depth) {
    const int kind = static_cast<int>(random() % (depth > 0 ? 10 : 7));
    switch (kind) {
    case 0:
        return Json::Value();
    case 1:
        return Json::Value(random() % 2 == 0);
    case 2:
        return Json::Value(static_cast<Json::Int64>(static_cast<int64_t>(random()) * 1000003));
    case 3:
        return Json::Value(static_cast<Json::UInt64>(random()) << 32 | random());
    case 4:
        return Json::Value(kAwkwardDoubles[random() % kAwkwardDoubles.size()] * (random() % 7));
    case 5:
        return Json::Value(kAwkwardTexts[random() % kAwkwardTexts.size()]);
    case 6:
        return Json::Value(static_cast<double>(random()) / 7.0);
    case 7: {
        Json::Value array(Json::arrayValue);
        const auto size = random() % 5;
        for (unsigned i = 0; i < size; ++i)
            array.append(RandomValue(random, depth - 1));
        // A gap: the missing items are written as null.
        if (random() % 4 == 0)
            array[static_cast<Json::ArrayIndex>(size + 2)] = RandomValue(random, 0);
        return array;
    }
    default: {
        Json::Value object(Json::objectValue);
        const auto size = random() % 5;
        for (unsigned i = 0; i < size; ++i)
            object[kAwkwardTexts[random() % kAwkwardTexts.size()] + std::to_string(random() % 3)] =
                RandomValue(random, depth - 1);
        return object;
    }
    }
}

TEST(RequestBodyText, NestedDocumentsOfEveryTypeAreWrittenAsJsoncppWritesThem) {
    EXPECT_EQ("[]", OurText(Json::Value(Json::arrayValue)));
    EXPECT_EQ("{}", OurText(Json::Value(Json::objectValue)));
    EXPECT_EQ(JsoncppText(Json::Value()), OurText(Json::Value()));
    std::mt19937 random(7);
    for (int i = 0; i < 3000; ++i) {
        const Json::Value value = RandomValue(random, 4);
        ASSERT_EQ(JsoncppText(value), OurText(value)) << i;
    }
    // Appending keeps what is already there.
    std::string text = "prefix:";
    AppendCompactJson(Json::Value(1), text);
    EXPECT_EQ("prefix:1", text);
}

} // namespace
