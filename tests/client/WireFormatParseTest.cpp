// The result readers on the answers a consumer may give: every kind, typed answers, malformed
// bodies with the path of the offending field, lenient readings and unknown-key remarks.
#include "WireFormat.h"

#include <json/reader.h>

#include <boost/optional/optional_io.hpp>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using namespace Tarn::Webhooks;

namespace {

const std::string kId = "0b5a1f2c-3d4e-4f60-8a7b-9c0d1e2f3a4b";
const std::string kId2 = "9f8e7d6c-5b4a-4392-8170-6f5e4d3c2b1a";

Json::Value J(const std::string& text) {
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    builder["strictRoot"] = false; // a consumer may answer a bare number
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value json;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &json, &errors))
        ADD_FAILURE() << "test input is no JSON: " << text << "\n" << errors;
    return json;
}

// What any reader produced, in one shape for every result type.
struct Outcome {
    std::string kind;
    boost::optional<std::string> parseError;
    std::vector<std::string> messages;
    DefaultResp defaults; // the DefaultResp part of a default or typed answer
    DialogResp dialog;
    ErrorResp error;
};

struct Collect : boost::static_visitor<void> {
    Outcome& out;
    explicit Collect(Outcome& o) : out(o) {}
    void operator()(const DefaultResp& r) const { Take("DefaultResp", r); }
    void operator()(const ScanCodeResp& r) const { Take("ScanCodeResp", r); }
    void operator()(const CompleteSessionResp& r) const { Take("CompleteSessionResp", r); }
    void operator()(const ExternalPaymentResp& r) const { Take("ExternalPaymentResp", r); }
    void operator()(const DialogResp& r) const {
        out.kind = "DialogResp";
        out.dialog = r;
    }
    void operator()(const ErrorResp& r) const {
        out.kind = "ErrorResp";
        out.error = r;
    }
    void Take(const char* kind, const DefaultResp& r) const {
        out.kind = kind;
        out.defaults = r;
    }
};

template <typename Result> Outcome Summarise(const JsonParseResult<Result>& parsed) {
    Outcome out;
    EXPECT_NE(static_cast<bool>(parsed.result), static_cast<bool>(parsed.parseError));
    if (parsed.parseError)
        out.parseError = parsed.parseError->message;
    if (parsed.result)
        boost::apply_visitor(Collect(out), *parsed.result);
    out.messages = parsed.messages;
    return out;
}

template <typename Result> std::string ErrorOf(const JsonParseResult<Result>& parsed) {
    return parsed.parseError ? parsed.parseError->message : "<no ParseError>";
}

struct Reader {
    const char* name;
    Outcome (*read)(const Json::Value&);
    const char* typedKey; // the key of the reader's typed answer, "" when it has none
};

void PrintTo(const Reader& c, std::ostream* os) {
    *os << c.name;
}

#define READER(fn, key)                                                                                      \
    Reader {                                                                                                 \
#fn, [](const Json::Value& j) { return Summarise(fn(j)); }, key                                      \
    }
const Reader kReaders[] = {
    READER(parseStartSessionResult, ""),
    READER(parsePauseSessionResult, ""),
    READER(parseResumeSessionResult, ""),
    READER(parseStartPaymentResult, ""),
    READER(parseCancelPaymentResult, ""),
    READER(parseCancelSessionResult, ""),
    READER(parseMergeSessionResult, ""),
    READER(parseAddSessionLineResult, ""),
    READER(parseUpdateSessionLineResult, ""),
    READER(parseRemoveSessionLineResult, ""),
    READER(parseScanCodeResult, "recognized"),
    READER(parseCompleteSessionResult, "receiptFooters"),
    READER(parseStartExternalPaymentResult, "externalPaymentId"),
    READER(parsePollExternalPaymentResult, "externalPaymentId"),
    READER(parseRequestCancelExternalPaymentResult, "externalPaymentId"),
    READER(parseCancelExternalPaymentResult, "externalPaymentId"),
};
#undef READER

class EveryReader : public ::testing::TestWithParam<Reader> {
protected:
    Outcome Read(const std::string& text) const { return GetParam().read(J(text)); }
};

std::string Unknown(const std::string& path) {
    return "Unknown field \"" + path + "\" ignored";
}

} // namespace

INSTANTIATE_TEST_SUITE_P(WireFormatParse, EveryReader, ::testing::ValuesIn(kReaders),
                         [](const ::testing::TestParamInfo<Reader>& info) {
                             return std::string(info.param.name);
                         });

TEST_P(EveryReader, ReadsEveryFieldOfADefaultAnswer) {
    const Outcome o = Read(R"({"lineChanges":[{"id":")" + kId2 + R"(","lineId":")" + kId +
                           R"(","externalDiscount":{"discountId":")" + kId2 +
                           R"(","quantity":1.5,"discountPercentage":10,"discountAmount":2.25,
                              "discountDescription":"Tien procent","removeDiscount":true}}],
        "lineAdditions":[{"id":")" +
                           kId + R"(","lineId":")" + kId2 + R"(","articleNumber":3000000000,
            "text":"Bon","priceIncl":1.25,"reservedAmount":4,"vatCode":-2,"vatPercentage":21,"reservedText":"r",
            "supplierArticleNumber":"S","pluNumber":"P","extArticleId":"E","externalDiscount":{}}, {}],
        "lineDeletions":[{"lineId":")" +
                           kId + R"("}],
        "lockSession":{"id":")" +
                           kId + R"(","reservedNumber":7}})");
    ASSERT_FALSE(o.parseError) << *o.parseError;
    EXPECT_EQ("DefaultResp", o.kind);
    EXPECT_TRUE(o.messages.empty());
    ASSERT_EQ(1u, o.defaults.lineChanges.size());
    const LineChangeResp& change = o.defaults.lineChanges[0];
    EXPECT_EQ(kId2, change.id.ToString());
    EXPECT_EQ(kId, change.lineId.ToString());
    ASSERT_TRUE(change.externalDiscount);
    EXPECT_EQ(kId2, change.externalDiscount->discountId.ToString());
    EXPECT_EQ(1.5, change.externalDiscount->quantity);
    EXPECT_EQ(10.0, change.externalDiscount->discountPercentage);
    EXPECT_EQ(2.25, change.externalDiscount->discountAmount);
    EXPECT_EQ("Tien procent", change.externalDiscount->discountDescription);
    EXPECT_TRUE(change.externalDiscount->removeDiscount);

    ASSERT_EQ(2u, o.defaults.lineAdditions.size());
    const LineAdditionResp& add = o.defaults.lineAdditions[0];
    EXPECT_EQ(kId, add.id.ToString());
    ASSERT_TRUE(add.lineId);
    EXPECT_EQ(kId2, add.lineId->ToString());
    EXPECT_EQ(3000000000, add.articleNumber);
    EXPECT_EQ(std::string("Bon"), add.text);
    EXPECT_EQ(1.25, add.priceIncl);
    EXPECT_EQ(4.0, add.reservedAmount);
    EXPECT_EQ(-2, add.vatCode);
    EXPECT_EQ(21.0, add.vatPercentage);
    EXPECT_EQ(std::string("r"), add.reservedText);
    EXPECT_EQ(std::string("S"), add.supplierArticleNumber);
    EXPECT_EQ(std::string("P"), add.pluNumber);
    EXPECT_EQ(std::string("E"), add.extArticleId);
    ASSERT_TRUE(add.externalDiscount);
    EXPECT_TRUE(add.externalDiscount->discountId.IsNull());
    EXPECT_FALSE(add.externalDiscount->quantity || add.externalDiscount->removeDiscount);
    const LineAdditionResp& bare = o.defaults.lineAdditions[1];
    EXPECT_FALSE(bare.lineId || bare.articleNumber || bare.text || bare.priceIncl || bare.vatCode ||
                 bare.externalDiscount);

    ASSERT_EQ(1u, o.defaults.lineDeletions.size());
    EXPECT_EQ(kId, o.defaults.lineDeletions[0].lineId.ToString());
    ASSERT_TRUE(o.defaults.lockSession);
    EXPECT_EQ(7, o.defaults.lockSession->reservedNumber);
}

TEST_P(EveryReader, ReadsDialogAndErrorAnswers) {
    Outcome o = Read(R"({"dialog":{"dialogTitle":"Zegel?","required":true,"allowMultipleOptions":true,
        "reservedNumber":4,"options":[{"id":1,"text":"Ja"},{"id":2.0}]}})");
    ASSERT_EQ("DialogResp", o.kind);
    EXPECT_EQ("Zegel?", o.dialog.dialogTitle);
    EXPECT_TRUE(o.dialog.required && o.dialog.allowMultipleOptions);
    EXPECT_EQ(4, o.dialog.reservedNumber);
    ASSERT_EQ(2u, o.dialog.options.size());
    EXPECT_EQ(1, o.dialog.options[0].id);
    EXPECT_EQ("Ja", o.dialog.options[0].text);
    EXPECT_EQ(2, o.dialog.options[1].id);
    EXPECT_EQ("", o.dialog.options[1].text);

    o = Read(R"({"error":{"errorCode":"UNKNOWN_SESSION","message":"Nee"}})");
    ASSERT_EQ("ErrorResp", o.kind);
    EXPECT_EQ("UNKNOWN_SESSION", o.error.errorCode);
    EXPECT_EQ("Nee", o.error.message);
    o = Read(R"({"error":{"errorCode":"X"}})");
    ASSERT_EQ("ErrorResp", o.kind);
    EXPECT_EQ("", o.error.message);

    // Empty and all-null answers say nothing.
    for (const char* nothing :
         {"{}", R"({"error":null,"dialog":null,"lineChanges":null,"lockSession":null})"}) {
        o = Read(nothing);
        EXPECT_EQ("DefaultResp", o.kind) << nothing;
        EXPECT_TRUE(o.defaults.lineChanges.empty() && !o.defaults.lockSession && o.messages.empty())
            << nothing;
    }
}

TEST_P(EveryReader, NamesTheOffendingFieldByItsPath) {
    const std::string L = R"({"lineId":")" + kId + R"("})";
    const std::pair<std::string, std::string> cases[] = {
        {"[]", "the answer is not a JSON object"},
        {"42", "the answer is not a JSON object"},
        {"\"x\"", "the answer is not a JSON object"},
        {"null", "the answer is not a JSON object"},
        {R"({"error":{"errorCode":"E"},"dialog":{}})", "an answer cannot hold both \"error\" and \"dialog\""},
        {R"({"error":"E"})", "error: expected an object"},
        {R"({"error":{"message":"m"}})", "error.errorCode: is required"},
        {R"({"error":{"errorCode":null}})", "error.errorCode: is required"},
        {R"({"error":{"errorCode":5}})", "error.errorCode: expected a string"},
        {R"({"dialog":{"required":"yes"}})", "dialog.required: expected a boolean"},
        {R"({"dialog":{"options":{}}})", "dialog.options: expected an array"},
        {R"({"dialog":{"options":[{"id":1},{"text":"t"}]}})", "dialog.options[1].id: is required"},
        {R"({"dialog":{"options":[{"id":1.5}]}})", "dialog.options[0].id: expected an integer"},
        {R"({"dialog":{"options":[{"id":"1"}]}})", "dialog.options[0].id: expected an integer"},
        {R"({"dialog":{"options":[{"id":2147483648}]}})", "dialog.options[0].id: integer out of range"},
        {R"({"dialog":{"reservedNumber":-2147483649}})", "dialog.reservedNumber: integer out of range"},
        {R"({"lineChanges":{}})", "lineChanges: expected an array"},
        {R"({"lineChanges":[)" + L + R"(,{"lineId":"nope"}]})",
         "lineChanges[1].lineId: expected a UUID string"},
        {R"({"lineChanges":[{"lineId":12}]})", "lineChanges[0].lineId: expected a UUID string"},
        {R"({"lineChanges":[{"id":")" + kId + R"("}]})", "lineChanges[0].lineId: is required"},
        {R"({"lineChanges":[{"lineId":")" + kId + R"(","externalDiscount":{"quantity":"1"}}]})",
         "lineChanges[0].externalDiscount.quantity: expected a number"},
        {R"({"lineChanges":[{"lineId":")" + kId + R"(","externalDiscount":[]}]})",
         "lineChanges[0].externalDiscount: expected an object"},
        {R"({"lineAdditions":["x"]})", "lineAdditions[0]: expected an object"},
        {R"({"lineAdditions":[{"text":7}]})", "lineAdditions[0].text: expected a string"},
        {R"({"lineAdditions":[{"vatCode":3000000000}]})", "lineAdditions[0].vatCode: integer out of range"},
        {R"({"lineAdditions":[{"articleNumber":9223372036854775808}]})",
         "lineAdditions[0].articleNumber: integer out of range"},
        {R"({"lineAdditions":[{"articleNumber":1e300}]})",
         "lineAdditions[0].articleNumber: integer out of range"},
        {R"({"lineAdditions":[{"articleNumber":0.5}]})",
         "lineAdditions[0].articleNumber: expected an integer"},
        {R"({"lineDeletions":[{"id":")" + kId + R"("}]})", "lineDeletions[0].lineId: is required"},
        {R"({"lockSession":{"id":"{)" + kId + R"("}})", "lockSession.id: expected a UUID string"},
    };
    for (const auto& c : cases) {
        const Outcome o = Read(c.first);
        ASSERT_TRUE(o.parseError) << c.first << " read as " << o.kind;
        EXPECT_EQ(c.second, *o.parseError) << c.first;
    }
}

TEST_P(EveryReader, AcceptsUuidsInAnyFormAndZeroFractions) {
    std::string upper = kId;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const Outcome o = Read(R"({"lineChanges":[{"lineId":"{)" + upper + R"(}"},{"lineId":")" + upper +
                           R"("}],"lineAdditions":[{"lineId":"00000000-0000-0000-0000-000000000000",
                              "articleNumber":-9223372036854775808,"vatCode":-2147483648}],
                           "lineDeletions":[{"lineId":"{)" +
                           kId + R"(}"}],"lockSession":{"reservedNumber":3.0}})");
    ASSERT_FALSE(o.parseError) << *o.parseError;
    ASSERT_EQ(2u, o.defaults.lineChanges.size());
    EXPECT_EQ(kId, o.defaults.lineChanges[0].lineId.ToString());
    EXPECT_EQ(kId, o.defaults.lineChanges[1].lineId.ToString());
    EXPECT_EQ(kId, o.defaults.lineDeletions.at(0).lineId.ToString());
    // The all-zero id names no line: the addition gets no id of its own.
    EXPECT_FALSE(o.defaults.lineAdditions.at(0).lineId);
    EXPECT_EQ(INT64_MIN, o.defaults.lineAdditions[0].articleNumber);
    EXPECT_EQ(INT32_MIN, o.defaults.lineAdditions[0].vatCode);
    ASSERT_TRUE(o.defaults.lockSession);
    EXPECT_EQ(3, o.defaults.lockSession->reservedNumber);
}

TEST_P(EveryReader, RemarksUnknownKeysWithTheirPaths) {
    Outcome o = Read(R"({"lineChange":[],"nothing":null,"lineChanges":[{"lineId":")" + kId +
                     R"(","foo":1,"externalDiscount":{"bar":true}}],"lineDeletions":[{"lineId":")" + kId +
                     R"(","baz":[]}]})");
    ASSERT_FALSE(o.parseError) << *o.parseError;
    EXPECT_EQ((std::vector<std::string>{Unknown("lineChange"), Unknown("lineChanges[0].foo"),
                                        Unknown("lineChanges[0].externalDiscount.bar"),
                                        Unknown("lineDeletions[0].baz")}),
              o.messages);

    // Remarks gathered before a failing field are kept with the error.
    o = Read(R"({"zzz":1,"lineChanges":[{"extra":1,"lineId":"bad"}]})");
    EXPECT_EQ("lineChanges[0].lineId: expected a UUID string", o.parseError.value_or(""));
    EXPECT_EQ((std::vector<std::string>{Unknown("zzz"), Unknown("lineChanges[0].extra")}), o.messages);

    // Beside an error answer, the default keys are unknown too.
    o = Read(R"({"error":{"errorCode":"E","hint":"h"},"lineChanges":[]})");
    EXPECT_EQ("ErrorResp", o.kind);
    EXPECT_EQ((std::vector<std::string>{Unknown("lineChanges"), Unknown("error.hint")}), o.messages);
}

TEST_P(EveryReader, TypedKeysOfOtherEventsAreUnknownKeys) {
    const std::pair<const char*, std::string> typed[] = {
        {"recognized", "true"}, {"receiptFooters", "[]"}, {"externalPaymentId", "\"" + kId + "\""}};
    for (const auto& t : typed) {
        if (std::string(GetParam().typedKey) == t.first)
            continue;
        const Outcome o = Read(std::string("{\"") + t.first + "\":" + t.second + "}");
        EXPECT_EQ("DefaultResp", o.kind) << t.first;
        EXPECT_EQ(std::vector<std::string>{Unknown(t.first)}, o.messages) << t.first;
    }
}

TEST(WireFormatParse, ScanCodeAnswerCarriesDefaultKeys) {
    auto parsed = parseScanCodeResult(J(R"({"recognized":true,"customerMessage":"Welkom","message":"ok",
        "relationNumber":9007199254740993,"lineDeletions":[{"lineId":")" +
                                        kId + R"("}]})"));
    ASSERT_TRUE(parsed.result);
    const ScanCodeResp* scan = boost::get<ScanCodeResp>(&*parsed.result);
    ASSERT_NE(nullptr, scan);
    EXPECT_TRUE(scan->recognized);
    EXPECT_EQ("Welkom", scan->customerMessage);
    EXPECT_EQ("ok", scan->message);
    EXPECT_EQ(9007199254740993, scan->relationNumber);
    ASSERT_EQ(1u, scan->lineDeletions.size());
    EXPECT_EQ(kId, scan->lineDeletions[0].lineId.ToString());

    parsed = parseScanCodeResult(J(R"({"recognized":false})"));
    scan = boost::get<ScanCodeResp>(&parsed.result.value());
    ASSERT_NE(nullptr, scan);
    EXPECT_FALSE(scan->recognized || scan->relationNumber);

    EXPECT_EQ("recognized: expected a boolean", ErrorOf(parseScanCodeResult(J(R"({"recognized":"true"})"))));
    EXPECT_EQ("relationNumber: expected an integer",
              ErrorOf(parseScanCodeResult(J(R"({"recognized":true,"relationNumber":1.5})"))));
    // An error outranks the typed answer, whose key is then unknown.
    parsed = parseScanCodeResult(J(R"({"recognized":true,"error":{"errorCode":"E"}})"));
    EXPECT_NE(nullptr, boost::get<ErrorResp>(&parsed.result.value()));
    EXPECT_EQ(std::vector<std::string>{Unknown("recognized")}, parsed.messages);
}

TEST(WireFormatParse, CompleteSessionAnswerReadsReceiptFooters) {
    auto parsed = parseCompleteSessionResult(J(R"({"receiptFooters":[{"id":")" + kId + R"(","text":"Bedankt"},
        {"barcode":{"barcodeType":"EAN13","barcodeValue":"8712345678906"}}],"lineChanges":[{"lineId":")" +
                                               kId + R"("}]})"));
    ASSERT_TRUE(parsed.result);
    const CompleteSessionResp* complete = boost::get<CompleteSessionResp>(&*parsed.result);
    ASSERT_NE(nullptr, complete);
    ASSERT_EQ(2u, complete->receiptFooters.size());
    EXPECT_EQ(kId, complete->receiptFooters[0].id.ToString());
    EXPECT_EQ(std::string("Bedankt"), complete->receiptFooters[0].text);
    EXPECT_FALSE(complete->receiptFooters[0].barcode);
    EXPECT_FALSE(complete->receiptFooters[1].text);
    ASSERT_TRUE(complete->receiptFooters[1].barcode);
    EXPECT_EQ("EAN13", complete->receiptFooters[1].barcode->barcodeType);
    EXPECT_EQ("8712345678906", complete->receiptFooters[1].barcode->barcodeValue);
    EXPECT_EQ(1u, complete->lineChanges.size());

    EXPECT_EQ(
        "receiptFooters[0].barcode.barcodeValue: expected a string",
        ErrorOf(parseCompleteSessionResult(J(R"({"receiptFooters":[{"barcode":{"barcodeValue":1}}]})"))));
    EXPECT_EQ("receiptFooters: expected an array",
              ErrorOf(parseCompleteSessionResult(J(R"({"receiptFooters":"x"})"))));
}

TEST(WireFormatParse, ExternalPaymentAnswersReadTheirFields) {
    using ExternalReader = JsonParseResult<ExternalPaymentResult> (*)(const Json::Value&);
    for (ExternalReader read : {parseStartExternalPaymentResult, parsePollExternalPaymentResult,
                                parseRequestCancelExternalPaymentResult, parseCancelExternalPaymentResult}) {
        auto parsed = read(J(R"({"externalPaymentId":")" + kId + R"(","started":true,"confirmed":false,
            "message":"Pin","customerMessage":"Even geduld","lineAdditions":[{}]})"));
        ASSERT_TRUE(parsed.result);
        const ExternalPaymentResp* payment = boost::get<ExternalPaymentResp>(&*parsed.result);
        ASSERT_NE(nullptr, payment);
        EXPECT_EQ(kId, payment->externalPaymentId.ToString());
        EXPECT_EQ(true, payment->started);
        EXPECT_EQ(false, payment->confirmed);
        EXPECT_FALSE(payment->cancelled);
        EXPECT_EQ(std::string("Pin"), payment->message);
        EXPECT_EQ(std::string("Even geduld"), payment->customerMessage);
        EXPECT_EQ(1u, payment->lineAdditions.size());
        EXPECT_TRUE(parsed.messages.empty());

        EXPECT_EQ("externalPaymentId: expected a UUID string",
                  ErrorOf(read(J(R"({"externalPaymentId":"123"})"))));
        EXPECT_EQ("cancelled: expected a boolean",
                  ErrorOf(read(J(R"({"externalPaymentId":")" + kId + R"(","cancelled":1})"))));
    }
}
