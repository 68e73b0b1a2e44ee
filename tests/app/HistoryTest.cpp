// The History tab after real exchanges with the sample consumer: every send, poll and error
// report as an entry, the filter, "Resend as is" as a duplicate delivery, curl commands run with
// the real curl, and history.jsonl across restarts, damage and its bounds.

#include "ConsumerWindowTest.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <regex>

namespace {

using Rows = TListView::Rows;

// "Event|Status|Verdict" of each row, newest first.
std::vector<std::string> Summary(const TListView& list) {
    std::vector<std::string> rows;
    for (const auto& row : list.Items())
        rows.push_back(row.at(1) + "|" + row.at(3) + "|" + row.at(4));
    return rows;
}

std::size_t LineCount(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Runs a shell command; its exit status.
int Shell(const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

class HistoryTest : public ConsumerWindowTest {
protected:
    std::string HistoryPath() const { return data.Path() + "/OrvelWebhookTester/history.jsonl"; }

    // Closes the window (its history written) and opens a new one on the same data folder,
    // with a toolkit of its own: a window closes its toolkit when it goes.
    void Restart() {
        form->FlushHistory();
        form.reset();
        restartedToolkit = std::make_unique<HeadlessToolkit>();
        form = std::make_unique<TForm1>(*restartedToolkit);
        form->FormShow();
        form->edtBaseURL.SetText(consumer->BaseUrl());
        form->edtSecret.SetText(kSecret);
        form->chkBlockingCall.SetChecked(true);
        form->btnStartSessionClick();
    }

    HeadlessToolkit& Toolkit() { return restartedToolkit ? *restartedToolkit : toolkit; }
    std::unique_ptr<HeadlessToolkit> restartedToolkit; // the base's TearDown lets the window go first

    void Choose(int row) { form->lvHistory.SetItemIndex(row); }

    Json::Value LastRequest() const { return Log().back(); }
};

// Each poll of a chain starts the next before it shows its own exchange: every poll must still
// come out while the chain runs, once and in its place, in the list and in history.jsonl.
TEST_F(HistoryTest, EveryPollOfAChainIsOneEntryInItsPlace) {
    const std::string open = R"({"body": {"externalPaymentId": "{{externalPayment.externalPaymentId}}",
                                           "started": true}, "repeat": true})";
    Scenario(R"({"events": {"startExternalPayment": [)" + open + R"(], "pollExternalPayment": [)" + open +
             "]}}");
    ASSERT_EQ(Press(&TForm1::spdStartExternalPaymentClick), "");
    ASSERT_TRUE(toolkit.PumpUntil([&] { return form->lvHistory.Items().size() >= 4; }));
    EXPECT_TRUE(form->pollingActive);
    EXPECT_EQ(form->pnlVerdict.Caption(), "Answer accepted");
    ASSERT_EQ(Press(&TForm1::spdCancelExternalPaymentClick), "");
    ASSERT_TRUE(toolkit.PumpUntil([&] { return !form->pollingActive && !form->pollTask->IsRunning(); }));
    toolkit.ProcessMessages();

    const std::vector<std::string> summary = Summary(form->lvHistory);
    ASSERT_GE(summary.size(), 5u);
    EXPECT_EQ(summary.front(), "cancelExternalPayment|200 OK|pass");
    EXPECT_EQ(summary.back(), "startExternalPayment|200 OK|pass");
    for (std::size_t row = 1; row + 1 < summary.size(); ++row)
        EXPECT_EQ(summary[row], "pollExternalPayment|200 OK|pass") << "row " << row;
    // Newest first, each with a counter of its own.
    const Rows& rows = form->lvHistory.Items();
    for (std::size_t row = 0; row + 1 < rows.size(); ++row)
        EXPECT_GT(std::stoll(rows[row].at(2)), std::stoll(rows[row + 1].at(2))) << "row " << row;

    const Rows shown = rows;
    Restart();
    EXPECT_EQ(form->lvHistory.Items(), shown);
}

TEST_F(HistoryTest, SendsPollsAndErrorReportsBecomeEntriesWithTheirChecks) {
    const std::string payment =
        R"("externalPaymentId": "{{externalPayment.externalPaymentId}}", "started": true)";
    Scenario(R"({"events": {"startSession": [{"body": {}}, {"body": {}, "faults": {"signature": "wrong"}}],
                 "startExternalPayment": [{"body": {)" +
             payment + R"(}}],
                 "pollExternalPayment": [{"body": {)" +
             payment + R"(, "confirmed": true}}]}})");
    form->edtEventId.SetText("7");
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    AddLine("1", "Tea", "2", "6,25");
    ASSERT_EQ(Press(&TForm1::spdStartExternalPaymentClick), "");
    ASSERT_TRUE(toolkit.PumpUntil([&] { return form->lvHistory.Items().size() == 5; }));

    EXPECT_EQ(
        Summary(form->lvHistory),
        (std::vector<std::string>{"pollExternalPayment|200 OK|pass", "startExternalPayment|200 OK|pass",
                                  "error (startSession)|200 OK|not checked",
                                  "startSession|200 OK|INVALID_SIGNATURE", "startSession|200 OK|pass"}));
    const Rows& rows = form->lvHistory.Items();
    EXPECT_EQ(rows[4].at(2), "7");
    EXPECT_EQ(rows[3].at(2), "8");
    // Local time with milliseconds, and the exchange's duration.
    EXPECT_TRUE(std::regex_match(rows[0].at(0), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})")))
        << rows[0][0];
    EXPECT_TRUE(std::regex_match(rows[0].at(5), std::regex(R"(\d+\.\d)"))) << rows[0][5];

    // Nothing chosen, nothing to act on but Clear.
    EXPECT_FALSE(form->btnHistoryResend.Enabled());
    EXPECT_TRUE(form->btnHistoryClear.Enabled());

    // The refused answer whole: what was sent, what came back, the checks with the verdict.
    Choose(3);
    EXPECT_TRUE(form->btnHistoryResend.Enabled());
    const std::string request = form->mmHistoryRequest.Text();
    EXPECT_EQ(request.rfind("POST " + consumer->BaseUrl() + "startSession\r\n", 0), 0u) << request;
    EXPECT_NE(request.find("X-Orvel-Signature: "), std::string::npos);
    EXPECT_NE(request.find(R"("eventCounter":8)"), std::string::npos) << request;
    EXPECT_EQ(form->mmHistoryResponse.Lines().at(0), "HTTP/1.1 200 OK");
    const Rows& checks = form->lvHistoryChecks.Items();
    auto result = [&](const std::string& check) {
        for (const auto& row : checks)
            if (row.at(0) == check)
                return row.at(1) + " " + row.at(2);
        return std::string("(none)");
    };
    EXPECT_EQ(result("Signature equal"), "FAIL You did not properly calculate the X-Orvel-Signature header.");
    EXPECT_EQ(result("Verdict"), " INVALID_SIGNATURE");

    // A row inserted above keeps the chosen entry chosen.
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_EQ(form->lvHistory.ItemIndex(), 4);
}

TEST_F(HistoryTest, TheFilterFindsByEventStatusVerdictAndBodyTextAsOneTypes) {
    Scenario(R"({"events": {"startSession": [{"body": {"note": "Marmalade"}}, {"status": 500, "body": {}}],
                 "pauseSession": [{"body": {}, "faults": {"signature": "missing"}}]}})");
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    ASSERT_EQ(Press(&TForm1::spdPauseSessionClick), "");
    ASSERT_EQ(form->lvHistory.Items().size(), 4u);

    const struct {
        const char* filter;
        std::vector<std::string> rows;
    } cases[] = {
        {"pause", {"error (pauseSession)|200 OK|not checked", "pauseSession|200 OK|MISSING_SIGNATURE"}},
        {"internal SERVER", {"startSession|500 Internal Server Error|pass"}},
        {"missing_sig", {"error (pauseSession)|200 OK|not checked", "pauseSession|200 OK|MISSING_SIGNATURE"}},
        {"marmalade", {"startSession|200 OK|pass"}}, // the response body, any case
        {"\"sessionid\"",
         {"error (pauseSession)|200 OK|not checked", "pauseSession|200 OK|MISSING_SIGNATURE",
          "startSession|500 Internal Server Error|pass", "startSession|200 OK|pass"}}, // request bodies
        {"no such text", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filter);
        form->edtHistoryFilter.SetText(c.filter);
        EXPECT_EQ(Summary(form->lvHistory), c.rows);
    }

    // A new exchange joins the filtered list only when it matches.
    form->edtHistoryFilter.SetText("startSession");
    ASSERT_EQ(Press(&TForm1::spdPauseSessionClick), "");
    EXPECT_EQ(form->lvHistory.Items().size(), 2u);
    form->edtHistoryFilter.SetText("");
    EXPECT_EQ(form->lvHistory.Items().size(), 5u);
}

TEST_F(HistoryTest, ResendAsIsDeliversTheSameBytesAgainAndNeverTouchesTheSession) {
    Answers("addSessionLine", R"([{"body": {"lineChanges": []}},
        {"body": {"lineAdditions": [{"articleNumber": 42, "text": "Cake", "priceIncl": 3}]}}])");
    SelectLine(AddLine("1", "Tea", "2", "6,25"));
    ASSERT_EQ(Press(&TForm1::spdAddSessionLineClick), "");
    const Json::Value original = LastRequest();
    const std::string counter = form->edtEventId.Text();
    const std::size_t lines = form->session.lines.size();

    Choose(0);
    ASSERT_EQ(Press(&TForm1::btnHistoryResendClick), "");

    // The same bytes (the consumer finds the original signature valid) with the same headers.
    const Json::Value again = LastRequest();
    EXPECT_EQ(Log().size(), 2u);
    EXPECT_TRUE(again["signatureValid"].asBool());
    EXPECT_EQ(again["body"], original["body"]);
    EXPECT_EQ(again["headers"], original["headers"]);
    // Its answer, lines to add, is checked and shown but not applied; the counter stays.
    EXPECT_EQ(form->session.lines.size(), lines);
    EXPECT_EQ(form->edtEventId.Text(), counter);
    EXPECT_EQ(form->pnlVerdict.Caption(), "Answer accepted");
    EXPECT_NE(form->mmResponseBody.Text().find("Cake"), std::string::npos);
    EXPECT_EQ(Summary(form->lvHistory)[0], "addSessionLine (resend)|200 OK|pass");
    EXPECT_EQ(form->lvHistory.Items()[0].at(2), form->lvHistory.Items()[1].at(2));

    // A refused answer to a resend is not reported back: the consumer sees one delivery only.
    Answers("addSessionLine", R"([{"body": {}, "faults": {"signature": "wrong"}}])");
    Choose(1);
    ASSERT_EQ(Press(&TForm1::btnHistoryResendClick), "");
    EXPECT_EQ(form->pnlVerdict.Caption(), "Answer refused: INVALID_SIGNATURE");
    EXPECT_EQ(Log().size(), 3u);
}

TEST_F(HistoryTest, CopyAsCurlDeliversTheSameBodyAndSignatureThroughTheRealCurl) {
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    const Json::Value original = LastRequest();
    Choose(0);
    ASSERT_EQ(Press(&TForm1::btnHistoryCopyCurlClick), "");
    const std::string command = toolkit.ClipboardText();
    EXPECT_EQ(command.rfind("curl ", 0), 0u) << command;
    ASSERT_EQ(Shell(command), 0) << command;
    EXPECT_TRUE(LastRequest()["signatureValid"].asBool());
    EXPECT_EQ(LastRequest()["body"], original["body"]);
    EXPECT_EQ(LastRequest()["headers"]["X-Orvel-Signature"], original["headers"]["X-Orvel-Signature"]);
    EXPECT_EQ(LastRequest()["headers"]["X-Orvel-Event"], "startSession");

    ASSERT_EQ(Press(&TForm1::btnHistoryCopyResponseClick), "");
    EXPECT_EQ(toolkit.ClipboardText().rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_NE(toolkit.ClipboardText().find("\r\nContent-Type: application/json\r\n"), std::string::npos);

    // Bodies no shell argument carries as they are: every byte arrives (the signature says so).
    const std::string bodies[] = {std::string("it's \"quoted\" $HOME `id` \\ %s %%", 33), "@/etc/passwd",
                                  std::string("nul\0byte\x01\x7f\xff\n\r\ttabs", 19), ""};
    for (const std::string& body : bodies) {
        SCOPED_TRACE(body);
        ExchangeRecord record;
        record.url = consumer->BaseUrl() + "scanCode";
        record.requestBody = body;
        record.requestHeaders = {{"Content-Type", "application/json"},
                                 {"X-Orvel-Signature", testsupport::Sign(kSecret, body)},
                                 {"X-Empty", ""}};
        ASSERT_EQ(Shell(CurlCommand(record)), 0) << CurlCommand(record);
        EXPECT_EQ(LastRequest()["event"], "scanCode");
        EXPECT_TRUE(LastRequest()["signatureValid"].asBool()) << CurlCommand(record);
        EXPECT_EQ(LastRequest()["headers"]["X-Orvel-Signature"],
                  record.requestHeaders.at("X-Orvel-Signature"));
    }
    ExchangeRecord selfSigned;
    selfSigned.selfSigned = true;
    EXPECT_NE(CurlCommand(selfSigned).find(" -k "), std::string::npos);
}

TEST_F(HistoryTest, TheHistorySurvivesARestartAndIsPrivateToItsOwner) {
    Answers("startSession", R"([{"body": {}}, {"body": {}, "faults": {"contentType": null}}])");
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    const Rows before = form->lvHistory.Items();
    Choose(1);
    const std::string request = form->mmHistoryRequest.Text();
    const Rows checks = form->lvHistoryChecks.Items();
    Restart();

    struct stat info {};
    ASSERT_EQ(stat(HistoryPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    const std::string file = testsupport::ReadFile(HistoryPath());
    EXPECT_EQ(LineCount(file), 3u);
    EXPECT_EQ(file.find(kSecret), std::string::npos); // the secret is never written

    EXPECT_EQ(form->lvHistory.Items(), before);
    Choose(1);
    EXPECT_EQ(form->mmHistoryRequest.Text(), request);
    EXPECT_EQ(form->lvHistoryChecks.Items(), checks);
    // Read back from the file, the request still goes out byte for byte.
    ASSERT_EQ(Press(&TForm1::btnHistoryResendClick), "");
    EXPECT_TRUE(LastRequest()["signatureValid"].asBool());
    EXPECT_EQ(LastRequest()["body"], Body(1));

    // Clear asks first; No keeps everything.
    ASSERT_EQ(Press(&TForm1::btnHistoryClearClick), "");
    EXPECT_EQ(form->lvHistory.Items().size(), 4u);
    Toolkit().OnAskYesNo = [](const std::string&) { return true; };
    ASSERT_EQ(Press(&TForm1::btnHistoryClearClick), "");
    EXPECT_TRUE(form->lvHistory.Items().empty());
    EXPECT_TRUE(form->mmHistoryRequest.Lines().empty());
    EXPECT_FALSE(form->btnHistoryClear.Enabled());
    Restart();
    EXPECT_TRUE(form->lvHistory.Items().empty());
    EXPECT_EQ(testsupport::ReadFile(HistoryPath()), "");
}

TEST_F(HistoryTest, DamagedLinesAreSkippedAndCountedInOneMessage) {
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    form->FlushHistory();
    const std::string good = testsupport::ReadFile(HistoryPath());
    testsupport::WriteFile(HistoryPath(), "not json\n" + good + good.substr(0, good.size() / 2) + "\n" +
                                              good + R"({"time": "x"})" + "\n" +
                                              good.substr(0, good.size() - 9));
    Restart();
    EXPECT_EQ(form->lvHistory.Items().size(), 2u);
    EXPECT_EQ(form->mmMessages.Lines(),
              (std::vector<std::string>{"History: 4 damaged lines were skipped in " + HistoryPath() + "."}));
    EXPECT_TRUE(Toolkit().Messages().empty());
}

TEST_F(HistoryTest, AMissingFolderIsMadeAndAnUnwritableFileIsSaidOnce) {
    const std::string fresh = data.Path() + "/not/yet/there";
    {
        testsupport::ScopedEnv elsewhere("XDG_DATA_HOME", fresh);
        Restart();
        ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
        form->FlushHistory();
        EXPECT_EQ(LineCount(testsupport::ReadFile(fresh + "/OrvelWebhookTester/history.jsonl")), 1u);
    }

    // The file turns into a folder: no write can succeed.
    Restart();
    std::filesystem::remove(HistoryPath());
    std::filesystem::create_directory(HistoryPath());
    for (int press = 0; press < 3; ++press) {
        ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
        form->FlushHistory();
    }
    Toolkit().ProcessMessages();
    ASSERT_EQ(Toolkit().Messages().size(), 1u);
    EXPECT_EQ(Toolkit().Messages()[0].rfind("The history cannot be written to " + HistoryPath(), 0), 0u)
        << Toolkit().Messages()[0];
    // The tester goes on, and the window keeps this run's entries.
    EXPECT_EQ(form->lvHistory.Items().size(), 3u);
    EXPECT_EQ(form->pnlVerdict.Caption(), "Answer accepted");

    // A history that cannot even be read is said, and the window opens all the same.
    Restart();
    EXPECT_EQ(form->mmMessages.Lines().at(0).rfind("The history cannot be read from " + HistoryPath(), 0),
              0u);
    EXPECT_EQ(Press(&TForm1::spdStartSessionClick), "");
}

TEST_F(HistoryTest, TheBoundKeepsTheNewestEntriesInTheWindowAndTheFile) {
    // A file a tenth beyond the bound, as a long run leaves it just before compaction.
    ExchangeRecord record;
    record.time = "2026-12-01T10:00:00.000+01:00";
    record.eventName = "scanCode";
    record.verdict = kVerdictPass;
    record.httpStatus = 200;
    std::string file;
    const std::size_t lines = kHistoryMaxEntries + kHistoryMaxEntries / 10;
    for (std::size_t i = 0; i < lines; ++i) {
        record.eventCounter = static_cast<int64_t>(i);
        file += HistoryLine(record) + "\n";
    }
    testsupport::WriteFile(HistoryPath(), file);
    Restart();
    ASSERT_EQ(form->lvHistory.Items().size(), kHistoryMaxEntries);
    EXPECT_EQ(form->lvHistory.Items().back().at(2), std::to_string(lines - kHistoryMaxEntries));
    Choose(static_cast<int>(kHistoryMaxEntries) - 1);

    // One more: the oldest row goes (the chosen one with it), and the file is compacted.
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    ASSERT_EQ(form->lvHistory.Items().size(), kHistoryMaxEntries);
    EXPECT_EQ(form->lvHistory.Items().back().at(2), std::to_string(lines - kHistoryMaxEntries + 1));
    EXPECT_EQ(form->lvHistory.ItemIndex(), -1);
    form->FlushHistory();
    const std::string compacted = testsupport::ReadFile(HistoryPath());
    EXPECT_EQ(LineCount(compacted), kHistoryMaxEntries);
    EXPECT_NE(compacted.find(R"("event":"startSession")"), std::string::npos);

    // By size: 1 MB bodies, of which 50 MB are kept.
    record.requestBody.assign(1024 * 1024 - 400, 'x');
    const std::string big = HistoryLine(record) + "\n";
    file.clear();
    for (int i = 0; i < 60; ++i)
        file += big;
    testsupport::WriteFile(HistoryPath(), file);
    Restart();
    EXPECT_EQ(form->lvHistory.Items().size(), kHistoryMaxBytes / big.size());
}

TEST(HistoryLineTest, EveryFieldAndEveryByteComesBackFromTheFile) {
    ExchangeRecord record;
    record.kind = ExchangeKind::Resend;
    record.time = "2026-12-08T15:39:14.123+01:00";
    record.eventName = "scanCode";
    record.eventCounter = -12345678901LL;
    record.url = "https://example.test/hook/scanCode";
    record.selfSigned = true;
    record.requestHeaders = {{"X-Orvel-Signature", "abc+/=="}, {"X-Empty", ""}};
    record.requestBody = std::string("{\"t\":\"\xe2\x82\xac \\u20ac \x01\0\xff\"}\r\n", 24);
    record.httpStatus = 401;
    record.reasonPhrase = "Unauthorized";
    record.curlCode = 0;
    record.transportError = "none";
    record.responseHeaders = {{"Content-Type", "text/plain; \"x\""}};
    record.responseBody = "line\nline\ttab\b\f\x1f";
    record.checks = {{"Signature equal", CheckResult::Fail, "wrong"},
                     {"Info", CheckResult::Info, ""},
                     {"JSON", CheckResult::NotChecked, ""},
                     {"Present", CheckResult::Pass, "yes"}};
    record.verdict = "INVALID_SIGNATURE";
    record.timing = {1.25, 2.5, 0, 7.125, 9.0625, 1234, 5678};

    const std::string line = HistoryLine(record);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const std::shared_ptr<HistoryEntry> entry = HistoryEntry::FromLine(line);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->Row(','),
              (std::vector<std::string>{"2026-12-08 15:39:14.123", "scanCode (resend)", "-12345678901",
                                        "401 Unauthorized", "INVALID_SIGNATURE", "9,1"}));
    EXPECT_TRUE(entry->Matches("\\u20ac"));
    EXPECT_TRUE(entry->Matches("tab"));
    EXPECT_FALSE(entry->Matches("example.test")); // the URL is not searched
    const auto back = entry->Record();
    ASSERT_TRUE(back);
    EXPECT_EQ(HistoryLine(*back), line);
    EXPECT_EQ(back->requestBody, record.requestBody);
    EXPECT_EQ(back->requestHeaders, record.requestHeaders);
    EXPECT_EQ(back->checks.size(), 4u);
    EXPECT_EQ(back->timing.bytesReceived, 5678u);
}
