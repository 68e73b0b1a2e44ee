// What the window shows of an exchange, and the checks of the consumer's answer: every failed
// check is reported once, in the messages and to the consumer.

#include "ConsumerWindowTest.h"

#include "WireFormat.h"

#include <algorithm>

using namespace Tarn::Webhooks;

namespace {

std::vector<std::string> Names(const TListView& list) {
    std::vector<std::string> names;
    for (const auto& row : list.Items())
        names.push_back(row[0]);
    return names;
}

} // namespace

class ExchangeDisplayTest : public ConsumerWindowTest {
protected:
    // Sends startSession with the one answer given (often a dialog that a failed check must keep
    // from being shown).
    void SendWithFault(const std::string& answer) {
        Answers("startSession", "[" + answer + "]");
        ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    }

    // The check failed with this code and message: one line in the messages, one error report
    // to the consumer naming the event, the report in the visible Error tabs, nothing applied.
    void ExpectReported(const std::string& code, const std::string& message) {
        ASSERT_EQ(form->mmMessages.Lines().size(), 1u);
        EXPECT_EQ(form->mmMessages.Lines()[0], "[" + code + "] " + message);
        const std::vector<Json::Value> log = Log();
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[1]["path"].asString(), "/error");
        EXPECT_EQ(log[1]["errorCode"].asString(), code);
        const Json::Value report = Body(1);
        EXPECT_EQ(report["eventName"].asString(), "startSession");
        EXPECT_EQ(report["error"]["message"].asString(), message);
        EXPECT_EQ(report["event"], Body(0));

        EXPECT_TRUE(form->TabSheetErrorRequestHeaders.Visible());
        EXPECT_TRUE(form->TabSheetErrorRequestBody.Visible());
        EXPECT_EQ(testsupport::ParseJson(form->mmErrorRequestBody.Text()), report);
        const std::vector<std::string> names = Names(form->lvErrorRequestHeaders);
        EXPECT_NE(std::find(names.begin(), names.end(), "X-Orvel-Signature"), names.end());
        // The event's own exchange stays on its tabs.
        EXPECT_EQ(testsupport::ParseJson(form->mmRequestBody.Text()), Body(0));
        EXPECT_FALSE(form->lvRequestHeaders.Items().empty());
        EXPECT_NE(form->edtDialogTitle.Text(), "Shown");
    }

    static constexpr const char* kDialog =
        R"({"dialog": {"dialogTitle": "Shown", "options": [{"id": 1, "text": "x"}]}})";
};

TEST_F(ExchangeDisplayTest, AnAnswerThatPasses) {
    SendWithFault(R"({"body": {}})");
    EXPECT_EQ(form->pnlHttpResponse.Caption(), "200 OK");
    EXPECT_EQ(form->pnlHttpResponse.Color(), clGreen);
    EXPECT_EQ(form->pnlHttpResponse.FontColor(), clHighlightText);
    EXPECT_EQ(form->mmResponseBody.Text(), "{}");
    EXPECT_EQ(Log().size(), 1u);
    EXPECT_TRUE(form->mmMessages.Lines().empty());
    EXPECT_FALSE(form->TabSheetErrorRequestHeaders.Visible());
    EXPECT_FALSE(form->TabSheetErrorRequestBody.Visible());

    const std::vector<std::string> names = Names(form->lvResponseHeaders);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_NE(std::find(names.begin(), names.end(), "Content-Type"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "X-Orvel-Signature"), names.end());
}

TEST_F(ExchangeDisplayTest, BodiesAreShownAsExchanged) {
    const std::string raw = R"({ "lineAdditions" : [ {"text": "Caf\u00e9 \u20ac"} ] ,"x":1 } )";
    Json::Value answer;
    answer["rawBody"] = raw;
    Answers("startSession", "[" + Json::FastWriter().write(answer) + "]");
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_EQ(form->mmResponseBody.Text(), raw);
    ASSERT_EQ(form->session.lines.size(), 1u);
    EXPECT_EQ(form->session.lines[0].text, "Caf\xc3\xa9 \xe2\x82\xac");
}

TEST_F(ExchangeDisplayTest, MissingSignature) {
    SendWithFault(std::string(R"({"body": )") + kDialog + R"(, "faults": {"signature": "missing"}})");
    ExpectReported("MISSING_SIGNATURE", "You did not supply the X-Orvel-Signature header.");
    // The status and the response stay on screen.
    EXPECT_EQ(form->pnlHttpResponse.Color(), clGreen);
    EXPECT_NE(form->mmResponseBody.Text().find("Shown"), std::string::npos);
    EXPECT_FALSE(form->lvResponseHeaders.Items().empty());
    EXPECT_EQ(form->edtEventId.Text(), "2");
}

TEST_F(ExchangeDisplayTest, EmptySignatureCountsAsMissing) {
    SendWithFault(std::string(R"({"body": )") + kDialog + R"(, "faults": {"signature": "empty"}})");
    ExpectReported("MISSING_SIGNATURE", "You did not supply the X-Orvel-Signature header.");
}

TEST_F(ExchangeDisplayTest, ChecksStopAtTheFirstFailure) {
    SendWithFault(std::string(R"({"body": )") + kDialog +
                  R"(, "faults": {"signature": "missing", "contentType": "text/plain"}})");
    ExpectReported("MISSING_SIGNATURE", "You did not supply the X-Orvel-Signature header.");
}

TEST_F(ExchangeDisplayTest, WrongSignature) {
    SendWithFault(std::string(R"({"body": )") + kDialog + R"(, "faults": {"signature": "wrong"}})");
    ExpectReported("INVALID_SIGNATURE", "You did not properly calculate the X-Orvel-Signature header.");
}

TEST_F(ExchangeDisplayTest, SignatureInOtherLetterCase) {
    SendWithFault(std::string(R"({"body": )") + kDialog + R"(, "faults": {"signature": "otherCase"}})");
    ExpectReported("INVALID_SIGNATURE", "You did not properly calculate the X-Orvel-Signature header.");
}

TEST_F(ExchangeDisplayTest, MissingContentType) {
    SendWithFault(std::string(R"({"body": )") + kDialog + R"(, "faults": {"contentType": null}})");
    ExpectReported("MISSING_CONTENT_TYPE", "You did not supply the Content-Type header.");
}

TEST_F(ExchangeDisplayTest, ContentTypeWithCharset) {
    SendWithFault(std::string(R"({"body": )") + kDialog +
                  R"(, "faults": {"contentType": "application/json; charset=utf-8"}})");
    ExpectReported("INVALID_CONTENT_TYPE", "You supplied an invalid Content-Type header.");
}

TEST_F(ExchangeDisplayTest, ContentTypeInOtherLetterCase) {
    SendWithFault(std::string(R"({"body": )") + kDialog +
                  R"(, "faults": {"contentType": "Application/JSON"}})");
    ExpectReported("INVALID_CONTENT_TYPE", "You supplied an invalid Content-Type header.");
}

TEST_F(ExchangeDisplayTest, InvalidJson) {
    SendWithFault(R"({"rawBody": "{\"dialog\": "})");
    ExpectReported("INVALID_JSON", "You returned invalid JSON.");
    // The status is the consumer's, the body was not taken.
    EXPECT_EQ(form->pnlHttpResponse.Caption(), "200 OK");
    EXPECT_EQ(form->mmResponseBody.Text(), "{\"dialog\": ");
}

TEST_F(ExchangeDisplayTest, TheNextSendHidesTheErrorTabs) {
    Answers("startSession", R"([{"faults": {"signature": "wrong"}}, {"body": {}}])");
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_TRUE(form->TabSheetErrorRequestBody.Visible());
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_FALSE(form->TabSheetErrorRequestHeaders.Visible());
    EXPECT_FALSE(form->TabSheetErrorRequestBody.Visible());
    EXPECT_TRUE(form->lvErrorRequestHeaders.Items().empty());
    EXPECT_EQ(form->mmErrorRequestBody.Text(), "");
    EXPECT_TRUE(form->mmMessages.Lines().empty());
    EXPECT_EQ(Log().size(), 3u);

    // An error report that goes wrong itself is not checked again: one report per send.
    Answers("startSession", R"([{"faults": {"signature": "missing"}}])");
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_EQ(Log().size(), 5u);
    EXPECT_EQ(form->mmMessages.Lines().size(), 1u);
}

TEST_F(ExchangeDisplayTest, EmptyBodyPassesAndSaysNothing) {
    AddLine("1", "Tea", "1", "2");
    SendWithFault(R"({"rawBody": ""})");
    EXPECT_EQ(Log().size(), 1u);
    EXPECT_TRUE(form->mmMessages.Lines().empty());
    EXPECT_EQ(form->pnlHttpResponse.Color(), clGreen);
    EXPECT_EQ(form->session.lines.size(), 1u);
    EXPECT_FALSE(form->TabSheetErrorRequestBody.Visible());
}

TEST_F(ExchangeDisplayTest, OtherStatusesAreCheckedToo) {
    Answers("startSession", R"([{"status": 400, "body": {"error": {"errorCode": "E", "message": "m"}}},
                                {"status": 500, "rawBody": "oops"},
                                {"status": 500, "faults": {"signature": "missing"}}])");
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_EQ(form->pnlHttpResponse.Caption(), "400 Bad Request");
    EXPECT_EQ(form->pnlHttpResponse.Color(), clRed);
    EXPECT_EQ(form->pnlHttpResponse.FontColor(), clHighlightText);
    EXPECT_EQ(Log().size(), 1u);

    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_EQ(form->pnlHttpResponse.Caption(), "500 Internal Server Error");
    EXPECT_EQ(form->pnlHttpResponse.Color(), clBtnFace);
    EXPECT_EQ(form->pnlHttpResponse.FontColor(), clBlack);
    ASSERT_EQ(Log().size(), 3u);
    EXPECT_EQ(Log()[2]["errorCode"].asString(), "INVALID_JSON");

    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    ASSERT_EQ(Log().size(), 5u);
    EXPECT_EQ(Log()[4]["errorCode"].asString(), "MISSING_SIGNATURE");
    EXPECT_EQ(form->pnlHttpResponse.Color(), clBtnFace);
}

TEST_F(ExchangeDisplayTest, NoConnection) {
    form->edtBaseURL.SetText("http://127.0.0.1:1/");
    form->mmResponseBody.SetText("stale");
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_EQ(form->pnlHttpResponse.Caption(), "CURL CODE: 7 - " + CurlCodeToString(7));
    EXPECT_EQ(form->pnlHttpResponse.Color(), clRed);
    EXPECT_EQ(form->pnlHttpResponse.FontColor(), clHighlightText);
    EXPECT_TRUE(form->mmMessages.Lines().empty());
    EXPECT_TRUE(form->lvResponseHeaders.Items().empty());
    EXPECT_EQ(form->mmResponseBody.Text(), "");
    EXPECT_FALSE(form->TabSheetErrorRequestBody.Visible());
    // The request that could not be delivered is still shown, and the counter moves on.
    EXPECT_FALSE(form->mmRequestBody.Text().empty());
    EXPECT_EQ(form->edtEventId.Text(), "2");

    // The next send starts from the neutral strip.
    form->edtBaseURL.SetText(consumer->BaseUrl());
    form->session.sessionId = Uuid();
    form->ShowSession();
    EXPECT_EQ(Press(&TForm1::spdStartSessionClick), "Please enter session details first.");
    EXPECT_EQ(form->pnlHttpResponse.Caption(), "HTTP RESPONSE CODE");
    EXPECT_EQ(form->pnlHttpResponse.Color(), clBtnFace);
    EXPECT_EQ(form->pnlHttpResponse.FontColor(), clBlack);
    EXPECT_TRUE(form->lvRequestHeaders.Items().empty());
    EXPECT_EQ(form->mmRequestBody.Text(), "");
}

TEST_F(ExchangeDisplayTest, ReportsNameTheEventWhoseAnswerFailed) {
    SelectLine(AddLine("1", "Tea", "1", "2"));
    Scenario(R"({"events": {"addSessionLine": [{"faults": {"signature": "wrong"}}],
                            "scanCode": [{"rawBody": "["}]}})");
    ASSERT_EQ(Press(&TForm1::spdAddSessionLineClick), "");
    ASSERT_EQ(Press(&TForm1::spdScanCodeClick), "");
    const std::vector<Json::Value> log = Log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(Body(1)["eventName"].asString(), "addSessionLine");
    EXPECT_EQ(Body(3)["eventName"].asString(), "scanCode");
    EXPECT_EQ(log[3]["errorCode"].asString(), "INVALID_JSON");
}
