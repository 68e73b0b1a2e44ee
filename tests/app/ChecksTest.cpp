// The Checks tab, the verdict strip and the timing box after real exchanges with the sample
// consumer: what a developer whose consumer answers wrongly reads there; and the records they are
// drawn from, which the history and the scenario runner read too.

#include "ConsumerWindowTest.h"

#include <regex>

namespace {

using Rows = std::vector<std::vector<std::string>>;

// The rows of the list whose first column is check.
Rows RowsOf(const TListView& list, const std::string& check) {
    Rows rows;
    for (const auto& row : list.Items())
        if (row.at(0) == check)
            rows.push_back(row);
    return rows;
}

// "check=result" for each row, in order.
std::vector<std::string> Results(const TListView& list) {
    std::vector<std::string> results;
    for (const auto& row : list.Items())
        results.push_back(row.at(0) + "=" + row.at(1));
    return results;
}

std::string DetailOf(const TListView& list, const std::string& check) {
    const Rows rows = RowsOf(list, check);
    return rows.empty() ? "(no " + check + " row)" : rows[0].at(2);
}

const std::vector<std::string> kAnswerChecks = {"Signature present", "Signature equal", "Content-Type", "JSON"};

} // namespace

class ChecksTest : public ConsumerWindowTest {
protected:
    void SetUp() override {
        ConsumerWindowTest::SetUp();
        form->exchangeListeners.push_back([this](const ExchangeRecord& record) { records.push_back(record); });
    }
    std::vector<ExchangeRecord> records;

    // The four answer checks' results as the list shows them.
    std::vector<std::string> AnswerCheckResults() const {
        std::vector<std::string> results;
        for (const std::string& check : kAnswerChecks)
            for (const auto& row : RowsOf(form->lvChecks, check))
                results.push_back(row.at(1));
        return results;
    }
};

TEST_F(ChecksTest, ACorrectAnswerListsEveryCheckAsPassWithItsTiming) {
    EXPECT_EQ(form->pnlVerdict.Caption(), "");
    EXPECT_EQ(form->pnlVerdict.Color(), clBtnFace);
    Answers("startSession", R"([{"status": 200, "body": {}}])");
    form->edtEventId.SetText("41");
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");

    // One record of what crossed, as the exchange tabs show it.
    ASSERT_EQ(records.size(), 1u);
    const ExchangeRecord& record = records[0];
    EXPECT_EQ(record.kind, ExchangeKind::Event);
    EXPECT_EQ(record.eventName, "startSession");
    EXPECT_EQ(record.eventCounter, 41);
    EXPECT_EQ(record.url, consumer->BaseUrl() + "startSession");
    EXPECT_EQ(record.requestBody, form->mmRequestBody.Text());
    EXPECT_EQ(record.requestHeaders.at("X-Orvel-Event"), "startSession");
    EXPECT_EQ(record.responseBody, form->mmResponseBody.Text());
    EXPECT_EQ(record.responseHeaders.at("Content-Type"), "application/json");
    EXPECT_TRUE(record.Accepted());
    EXPECT_EQ(record.FirstFailure(), nullptr);

    const TListView& list = form->lvChecks;
    EXPECT_EQ(Results(list), (std::vector<std::string>{"Request=", "Transport=pass", "Timing=", "Signature present=pass",
                                                       "Signature equal=pass", "Content-Type=pass", "JSON=pass",
                                                       "Answer read=", "Lines="}));
    EXPECT_EQ(DetailOf(list, "Request"), "POST " + consumer->BaseUrl() + "startSession");
    EXPECT_EQ(DetailOf(list, "Transport"), "200 OK");
    EXPECT_EQ(DetailOf(list, "Answer read"), "default answer");
    EXPECT_EQ(DetailOf(list, "Lines"), "0 changed, 0 added, 0 deleted");
    EXPECT_EQ(form->pnlVerdict.Caption(), "Answer accepted");
    EXPECT_EQ(form->pnlVerdict.Color(), clGreen);
    EXPECT_EQ(form->pnlHttpResponse.Caption(), "200 OK");
    EXPECT_TRUE(form->mmMessages.Lines().empty());

    // The box and the line read the same figures: present, non-negative, first byte within total.
    std::smatch box;
    const std::string timing = form->edtTiming.Text();
    ASSERT_TRUE(std::regex_match(timing, box, std::regex(R"((\d+\.\d) ms \(connect (\d+\.\d), first byte (\d+\.\d)\))")))
        << timing;
    const double total = std::stod(box[1]), connect = std::stod(box[2]), firstByte = std::stod(box[3]);
    EXPECT_GT(total, 0.0);
    EXPECT_LE(connect, firstByte);
    EXPECT_LE(firstByte, total);
    std::smatch line;
    const std::string detail = DetailOf(list, "Timing");
    ASSERT_TRUE(std::regex_match(detail, line,
                                 std::regex(R"(name look-up (\d+\.\d) ms, connect (\d+\.\d) ms, first byte (\d+\.\d) ms, )"
                                            R"(total (\d+\.\d) ms; (\d+) bytes sent, (\d+) received)")))
        << detail;
    EXPECT_LE(std::stod(line[1]), std::stod(line[2]));
    EXPECT_EQ(line[3], box[3]);
    EXPECT_EQ(line[4], box[1]);
    EXPECT_GT(std::stoul(line[5]), form->mmRequestBody.Text().size());
    EXPECT_GT(std::stoul(line[6]), 0u);

    // A new send starts from an empty, neutral verdict.
    form->edtBaseURL.SetText("http://127.0.0.1:1/");
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_EQ(form->pnlVerdict.Caption(), "No answer");
    EXPECT_EQ(form->pnlVerdict.Color(), clRed);
}

// Each of the mistakes consumers make when signing, made by the sample consumer on the second of
// two answers (the first is the "previous answer"): the diagnosis names that mistake alone.
TEST_F(ChecksTest, EachSigningMistakeIsNamedAloneWithItsFix) {
    // An answer whose signature holds "+" or "/", so the URL-safe alphabet shows.
    std::string body;
    for (int n = 1; body.empty() || testsupport::Sign(kSecret, body).find_first_of("+/") == std::string::npos; ++n)
        body = R"({"lineChanges":[],"n":)" + std::to_string(n) + "}";
    const std::string expected = testsupport::Sign(kSecret, body);

    struct Case {
        const char* fault;
        std::string named;
    };
    const std::vector<Case> cases = {
        {"missing", "No X-Orvel-Signature header"},
        {"empty", "No X-Orvel-Signature header"},
        {"secretText", "key is the secret's Base64 text"},
        {"hex", "written in hex"},
        {"urlSafe", "URL-safe Base64 alphabet"},
        {"noPadding", "lacks its padding"},
        {"prefix", "prefix \"sha256=\""},
        {"otherCase", "changed case"},
        {"requestBody", "that of the request"},
        {"prettyPrinted", "pretty-printed form"},
        {"keyOrder", "keys in another order"},
        {"trailingNewline", "followed by \"\\n\""},
        {"trailingCrLf", "followed by \"\\r\\n\""},
        {"byteOrderMark", "byte order mark"},
        {"emptyBody", "that of an empty body"},
        {"previousAnswer", "that of your previous answer"},
        {"wrong", "expected " + expected + ", received "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        Answers("startSession", R"([{"body": {"first": true}}, {"body": )" + body + R"(, "faults": {"signature": ")" +
                                    c.fault + R"("}}])");
        ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
        ASSERT_EQ(form->pnlVerdict.Caption(), "Answer accepted");
        ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");

        const bool missing = c.named == cases[0].named;
        EXPECT_EQ(form->pnlVerdict.Caption(),
                  missing ? "Answer refused: MISSING_SIGNATURE" : "Answer refused: INVALID_SIGNATURE");
        EXPECT_EQ(form->pnlVerdict.Color(), clRed);
        const Rows findings = RowsOf(form->lvChecks, "Signature diagnosis");
        ASSERT_EQ(findings.size(), 1u);
        const std::string& finding = findings[0].at(2);
        EXPECT_NE(finding.find(c.named), std::string::npos) << finding;
        for (const Case& other : cases) {
            if (other.named != c.named) {
                EXPECT_EQ(finding.find(other.named), std::string::npos) << other.fault << " in: " << finding;
            }
        }
    }
}

// The checks stop at the first failure: the ones after it read "not checked", and a line after
// them says what exactly was wrong.
TEST_F(ChecksTest, TheFirstFailureIsExplainedAndTheChecksAfterItAreNotMade) {
    struct Case {
        std::string answer;
        std::vector<std::string> results;
        std::string verdict;
        std::string detailRow;
        std::vector<std::string> detailParts;
    };
    const std::vector<Case> cases = {
        {R"({"body": {}, "faults": {"signature": "missing", "contentType": "text/plain"}})",
         {"FAIL", "not checked", "not checked", "not checked"},
         "MISSING_SIGNATURE",
         "Signature diagnosis",
         {"Base64-decoded secret"}},
        {R"({"body": {}, "faults": {"contentType": "application/json; charset=utf-8"}})",
         {"pass", "pass", "FAIL", "not checked"},
         "INVALID_CONTENT_TYPE",
         "Content-Type received",
         {"Received \"application/json; charset=utf-8\"", "exactly \"application/json\"", "leave out the parameter"}},
        {R"({"body": {}, "faults": {"contentType": null}})",
         {"pass", "pass", "FAIL", "not checked"},
         "MISSING_CONTENT_TYPE",
         "Content-Type received",
         {"No Content-Type header", "Content-Type: application/json"}},
        {R"({"rawBody": "{\n  \"lineChanges\": [,]\n}"})",
         {"pass", "pass", "pass", "FAIL"},
         "INVALID_JSON",
         "JSON reader",
         {"at line 2, column 19 (offset 20)", "here: {\\n  \"lineChanges\": [ >>,]\\n}"}},
        {R"({"rawBody": "\ufeff{}"})",
         {"pass", "pass", "pass", "FAIL"},
         "INVALID_JSON",
         "JSON reader",
         {"byte order mark (EF BB BF at offset 0)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        Answers("startSession", "[" + c.answer + "]");
        records.clear();
        ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
        EXPECT_EQ(AnswerCheckResults(), c.results);
        // The event's record comes before its error report's, whose answer is never checked.
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[0].verdict, c.verdict);
        ASSERT_NE(records[0].FirstFailure(), nullptr);
        EXPECT_EQ(records[1].kind, ExchangeKind::ErrorReport);
        EXPECT_EQ(records[1].eventName, "startSession");
        EXPECT_EQ(records[1].requestBody, form->mmErrorRequestBody.Text());
        EXPECT_EQ(records[1].verdict, kVerdictNotChecked);
        EXPECT_EQ(form->pnlVerdict.Caption(), "Answer refused: " + c.verdict);
        EXPECT_EQ(form->pnlHttpResponse.Caption(), "200 OK");
        EXPECT_EQ(form->pnlHttpResponse.Color(), clGreen);
        const std::string detail = DetailOf(form->lvChecks, c.detailRow);
        for (const std::string& part : c.detailParts)
            EXPECT_NE(detail.find(part), std::string::npos) << part << " not in: " << detail;
        // The report that went back comes last.
        ASSERT_FALSE(form->lvChecks.Items().empty());
        EXPECT_EQ(form->lvChecks.Items().back().at(0), "Error report");
        EXPECT_EQ(form->lvChecks.Items().back().at(2), "POST " + consumer->BaseUrl() + "error: 200 OK");
    }
}

TEST_F(ChecksTest, ATransportErrorAndARefusalBeforeSendingAreExplained) {
    form->edtBaseURL.SetText("http://127.0.0.1:1/");
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_EQ(Results(form->lvChecks), (std::vector<std::string>{"Request=", "Transport=FAIL", "Timing="}));
    const std::string transport = DetailOf(form->lvChecks, "Transport");
    EXPECT_EQ(transport.rfind("CURL CODE: 7 - " + Tarn::Webhooks::CurlCodeToString(7) + ": ", 0), 0u) << transport;
    EXPECT_NE(transport.find("127.0.0.1"), std::string::npos) << transport; // libcurl's own detail
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].verdict, kVerdictNoAnswer);
    EXPECT_EQ(records[0].curlCode, 7);
    EXPECT_TRUE(records[0].checks.empty());
    EXPECT_EQ(form->pnlVerdict.Caption(), "No answer");
    EXPECT_EQ(form->pnlVerdict.Color(), clRed);

    // The client refuses a subscription id with a line break before anything is sent.
    form->edtBaseURL.SetText(consumer->BaseUrl());
    form->edtSubscriptionId.SetText("sub\r\nX-Injected: 1");
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_TRUE(Log().empty());
    EXPECT_NE(DetailOf(form->lvChecks, "Transport").find("The subscription id holds a control character"),
              std::string::npos)
        << DetailOf(form->lvChecks, "Transport");
    EXPECT_EQ(DetailOf(form->lvChecks, "Timing"), "nothing was sent");
    EXPECT_EQ(form->edtTiming.Text(), "");
    EXPECT_EQ(form->pnlVerdict.Caption(), "No answer");
}

// What was read from an accepted answer and done with it, and the TLS line.
TEST_F(ChecksTest, WhatWasReadAndAppliedIsListed) {
    const int line = AddLine("1001", "Coffee", "1", "2.5");
    SelectLine(line);
    Scenario(R"({"events": {
        "startSession": [{"body": {"dialog": {"dialogTitle": "Receipt by mail?", "options": [{"id": 1, "text": "Yes"},
                                                                                          {"id": 2, "text": "No"}]}}}],
        "scanCode": [{"body": {"recognized": true}}],
        "addSessionLine": [{"body": {"lineChanges": [{"lineId": "0b5d2c1e-9f3a-4c7b-8e6d-5a4b3c2d1e0f"}]}}],
        "completeSession": [{"body": {"receiptFooters": [{"id": "9a8b7c6d-5e4f-4a3b-8c2d-1e0f9a8b7c6d",
                                                          "text": "Thanks"}]}}]}})");
    form->chkSelfSigned.SetChecked(true);
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_EQ(DetailOf(form->lvChecks, "Answer read"), "dialog");
    EXPECT_EQ(DetailOf(form->lvChecks, "Dialog"), "\"Receipt by mail?\" with 2 options");
    EXPECT_EQ(form->lvChecks.Items().back(),
              (std::vector<std::string>{
                  "TLS", "", "certificate not verified: any signer, host name and expiry date accepted"}));
    form->chkSelfSigned.SetChecked(false);

    ASSERT_EQ(Press(&TForm1::spdScanCodeClick), "");
    EXPECT_EQ(DetailOf(form->lvChecks, "Answer read"), "scan-code answer");
    EXPECT_EQ(DetailOf(form->lvChecks, "Scan code"), "recognized");
    EXPECT_TRUE(RowsOf(form->lvChecks, "TLS").empty()); // plain HTTP, nothing verified or not

    ASSERT_EQ(Press(&TForm1::spdAddSessionLineClick), "");
    EXPECT_EQ(form->pnlVerdict.Caption(), "Answer accepted");
    EXPECT_EQ(DetailOf(form->lvChecks, "Lines").rfind("refused: [UNKNOWN_LINE] Cannot change line", 0), 0u)
        << DetailOf(form->lvChecks, "Lines");
    EXPECT_EQ(form->lvChecks.Items().back().at(0), "Error report");

    ASSERT_EQ(Press(&TForm1::spdCompleteSessionClick), "");
    EXPECT_EQ(DetailOf(form->lvChecks, "Answer read"), "receipt footers");
    EXPECT_EQ(DetailOf(form->lvChecks, "Receipt"), "shown with the consumer's footers");
}

// A poll's answer, taken in on the window's thread after its background exchange, is shown the
// same way as a send's.
TEST_F(ChecksTest, APollsAnswerHasItsChecksAndVerdict) {
    const std::string payment = R"("externalPaymentId": "{{externalPayment.externalPaymentId}}", "started": true)";
    Scenario(R"({"events": {"startExternalPayment": [{"body": {)" + payment +
             R"(}}], "pollExternalPayment": [{"body": {)" + payment + R"(}, "faults": {"signature": "hex"}}]}})");
    AddLine("1", "Tea", "2", "6,25");
    ASSERT_EQ(Press(&TForm1::spdStartExternalPaymentClick), "");
    ASSERT_TRUE(toolkit.PumpUntil([&] { return form->pnlVerdict.Caption() == "Answer refused: INVALID_SIGNATURE"; }));

    EXPECT_EQ(DetailOf(form->lvChecks, "Request"), "POST " + consumer->BaseUrl() + "pollExternalPayment");
    EXPECT_EQ(AnswerCheckResults(), (std::vector<std::string>{"pass", "FAIL", "not checked", "not checked"}));
    EXPECT_NE(DetailOf(form->lvChecks, "Signature diagnosis").find("written in hex"), std::string::npos);
    EXPECT_EQ(form->pnlVerdict.Color(), clRed);
    EXPECT_EQ(form->pnlHttpResponse.Caption(), "200 OK");
    EXPECT_FALSE(form->edtTiming.Text().empty());
}
