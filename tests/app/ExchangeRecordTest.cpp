// The record of each exchange that the Checks tab, the history and the scenario runner read: one
// per exchange, in the order they were made, published when the send is over.

#include "ConsumerWindowTest.h"

class ExchangeRecordTest : public ConsumerWindowTest {
protected:
    void SetUp() override {
        ConsumerWindowTest::SetUp();
        form->exchangeListeners.push_back([this](const ExchangeRecord& record) { records.push_back(record); });
    }
    std::vector<std::string> Results(const ExchangeRecord& record) const {
        std::vector<std::string> results;
        for (const ExchangeCheck& check : record.checks)
            results.push_back(check.check + "=" + CheckResultText(check.result));
        return results;
    }
    std::vector<ExchangeRecord> records;
};

TEST_F(ExchangeRecordTest, AnAcceptedAnswerIsOneRecordOfWhatCrossed) {
    Answers("startSession", R"([{"status": 200, "body": {}}])");
    form->edtEventId.SetText("41");
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");

    ASSERT_EQ(records.size(), 1u);
    const ExchangeRecord& record = records[0];
    EXPECT_EQ(record.kind, ExchangeKind::Event);
    EXPECT_EQ(record.eventName, "startSession");
    EXPECT_EQ(record.eventCounter, 41);
    EXPECT_EQ(record.url, consumer->BaseUrl() + "startSession");
    EXPECT_EQ(record.requestBody, form->mmRequestBody.Text());
    EXPECT_EQ(record.requestHeaders.at("X-Orvel-Event"), "startSession");
    EXPECT_EQ(record.httpStatus, 200);
    EXPECT_EQ(record.responseBody, form->mmResponseBody.Text());
    EXPECT_EQ(record.responseHeaders.at("Content-Type"), "application/json");
    // The answer checks, then what was read and applied.
    EXPECT_EQ(Results(record), (std::vector<std::string>{"Signature present=pass", "Signature equal=pass",
                                                         "Content-Type=pass", "JSON=pass", "Answer read=",
                                                         "Lines="}));
    EXPECT_TRUE(record.Accepted());
    EXPECT_EQ(record.FirstFailure(), nullptr);
    // libcurl's figures are cumulative from the start of the exchange.
    EXPECT_GT(record.timing.totalMs, 0.0);
    EXPECT_LE(record.timing.connectMs, record.timing.firstByteMs);
    EXPECT_LE(record.timing.firstByteMs, record.timing.totalMs);
    EXPECT_GT(record.timing.bytesSent, record.requestBody.size());
    EXPECT_GT(record.timing.bytesReceived, record.responseBody.size());
}

TEST_F(ExchangeRecordTest, ARefusedAnswerComesBeforeItsErrorReport) {
    Answers("startSession", R"([{"status": 200, "body": {}, "faults": {"contentType": "text/plain"}}])");
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");

    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].verdict, "INVALID_CONTENT_TYPE");
    EXPECT_EQ(Results(records[0]), (std::vector<std::string>{"Signature present=pass", "Signature equal=pass",
                                                             "Content-Type=FAIL", "JSON=not checked",
                                                             "Content-Type received="}));
    ASSERT_NE(records[0].FirstFailure(), nullptr);
    EXPECT_EQ(records[0].FirstFailure()->detail, "You supplied an invalid Content-Type header.");
    EXPECT_EQ(records[1].kind, ExchangeKind::ErrorReport);
    EXPECT_EQ(records[1].eventName, "startSession");
    EXPECT_EQ(records[1].url, consumer->BaseUrl() + "error");
    EXPECT_EQ(records[1].requestBody, form->mmErrorRequestBody.Text());
    EXPECT_EQ(records[1].verdict, kVerdictNotChecked);
}

TEST_F(ExchangeRecordTest, ATransportErrorHasNoAnswer) {
    form->edtBaseURL.SetText("http://127.0.0.1:1/");
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");

    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].verdict, kVerdictNoAnswer);
    EXPECT_EQ(records[0].curlCode, 7);
    EXPECT_FALSE(records[0].transportError.empty());
    EXPECT_TRUE(records[0].checks.empty());
    EXPECT_FALSE(records[0].Accepted());
}
