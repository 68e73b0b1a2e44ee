// Whatever the consumer sends back and whatever the disk does, the tester must neither crash nor
// lose the developer's settings: a broken exchange is shown in the status strip and the
// messages and counts as a send, a broken file gives the defaults, and a save that fails keeps
// the previous file and says which file it could not write.

#include "Application.h"
#include "HeadlessToolkit.h"
#include "IniFile.h"
#include "MainFormUnit.h"
#include "RawServer.h"
#include "SampleConsumer.h"
#include "TestSupport.h"
#include "WebhookConsumerClient.h"

#include <boost/make_shared.hpp>
#include <boost/optional/optional_io.hpp>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <arpa/inet.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using Tarn::Webhooks::CurlCodeToString;
using Tarn::Webhooks::WebhookConsumerClient;
using testsupport::FileExists;
using testsupport::FilesIn;
using testsupport::ParseJson;
using testsupport::RawServer;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

// Base64 of "the consumer's shared secret".
const std::string kSecret = "dGhlIGNvbnN1bWVyJ3Mgc2hhcmVkIHNlY3JldA==";
const std::string kMiB(1024 * 1024, 'm');

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A correctly signed 200 answer with the given body and extra header lines.
std::string SignedAnswer(const std::string& body, std::vector<std::string> headers = {}) {
    headers.push_back("Content-Type: application/json");
    headers.push_back("X-Orvel-Signature: " + testsupport::Sign(kSecret, body));
    return RawServer::Answer("HTTP/1.1 200 OK", headers, body);
}

// One way an exchange breaks.
struct ExchangeFault {
    ExchangeFault(std::string name, std::function<std::unique_ptr<RawServer>()> arrange, short curlCode,
                  std::string reported, std::string received = "")
        : name(std::move(name)), arrange(std::move(arrange)), curlCode(curlCode),
          reported(std::move(reported)), received(std::move(received)) {}

    std::string name;
    // Points the window at the faulty consumer; returns the raw consumer when one is used.
    std::function<std::unique_ptr<RawServer>()> arrange;
    short curlCode;       // the transport failure the strip must show; 0 when the exchange completed
    std::string reported; // when it completed: the error code reported to the consumer
    std::string received; // what the response body memo shows after a transport failure
};

// One way config.ini (and event-counter.ini) can be damaged, and what the window must show.
struct DamagedFiles {
    std::string name;
    std::string config;
    std::string counter; // event-counter.ini; none when empty
    std::function<void(const TForm1&)> check;
};

} // namespace

class FaultInjectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::ConsumerOptions options;
        options.secret = kSecret;
        consumer = std::make_unique<testsupport::SampleConsumer>(options);
        ASSERT_NO_THROW(StartWindow());
        form->edtSubscriptionId.SetText("sub-faults");
        form->edtSecret.SetText(kSecret);
        form->chkBlockingCall.SetChecked(true);
        form->btnStartSessionClick();
        form->spdRegelToevoegenClick();
        PointAtConsumer();
        ASSERT_EQ(Press(&TForm1::btnConfigOpslaanClick), "");
        savedConfig = ReadFile(ConfigFile());
        ASSERT_FALSE(savedConfig.empty());
    }

    void TearDown() override {
        IniFile::SetBeforeReplaceHookForTesting(nullptr);
        form.reset();
        toolkit.reset();
        consumer.reset();
    }

    // The window as the program opens it: a new form, shown once. Start-up must not throw.
    void StartWindow() {
        form.reset();
        toolkit = std::make_unique<HeadlessToolkit>();
        form = std::make_unique<TForm1>(*toolkit);
        form->FormShow();
    }

    void PointAtConsumer() {
        form->edtBaseURL.SetText(consumer->BaseUrl());
        form->clientFactory = nullptr;
        consumer->SetScenario("{}");
    }

    // Presses a button. Returns what the window's exception display would show for an
    // exception that left the handler, empty when none did. Only the program's own exceptions
    // and those of the libraries it calls (all std::exception) may leave a handler.
    std::string Press(void (TForm1::*handler)()) {
        try {
            (form.get()->*handler)();
        } catch (const std::exception&) {
            return Application::ExceptionMessage(std::current_exception());
        }
        return {};
    }

    std::string Folder() const { return data.Path() + "/OrvelWebhookTester"; }
    std::string ConfigFile() const { return Folder() + "/config.ini"; }
    std::string CounterFile() const { return Folder() + "/event-counter.ini"; }
    // What event-counter.ini holds once the window has written what it was given.
    std::string StoredCounter() const {
        if (form)
            form->FlushEventCounter();
        const std::string text = ReadFile(CounterFile());
        const std::size_t at = text.find("event-counter=");
        return at == std::string::npos ? std::string() : text.substr(at + 14, text.find('\n', at) - at - 14);
    }

    // A plain exchange with the sample consumer goes through and counts.
    void ExpectGoodSend() {
        PointAtConsumer();
        const std::string counter = form->edtEventId.Text();
        ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
        EXPECT_EQ(form->pnlHttpResponse.Caption(), "200 OK");
        EXPECT_EQ(form->pnlHttpResponse.Color(), clGreen);
        EXPECT_TRUE(form->mmMessages.Lines().empty());
        EXPECT_FALSE(form->TabSheetErrorRequestBody.Visible());
        EXPECT_EQ(ParseJson(form->mmRequestBody.Text())["header"]["eventCounter"].asString(), counter);
        EXPECT_EQ(form->edtEventId.Text(), std::to_string(std::stoll(counter) + 1));
        EXPECT_TRUE(form->spdStartSession.Enabled());
    }

    void ExpectBrokenExchangeShown(const ExchangeFault& fault);
    void ExpectDamagedFilesOpen(const DamagedFiles& damage);
    static void ExpectCleanConfig(const std::string& content);

    testsupport::TempDir data;
    testsupport::ScopedEnv dataHome{"XDG_DATA_HOME", data.Path()};
    std::unique_ptr<testsupport::SampleConsumer> consumer;
    std::unique_ptr<HeadlessToolkit> toolkit;
    std::unique_ptr<TForm1> form;
    std::string savedConfig;
};

// Presses startSession against the faulty consumer: the failure is on screen, the send counts,
// nothing of the answer is applied, config.ini is untouched and the next send works.
void FaultInjectionTest::ExpectBrokenExchangeShown(const ExchangeFault& fault) {
    const std::string counter = form->edtEventId.Text();
    const std::size_t logged = consumer->Log().size();
    std::unique_ptr<RawServer> raw = fault.arrange();

    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");

    if (fault.curlCode != 0) {
        const short code = fault.curlCode;
        EXPECT_EQ(form->pnlHttpResponse.Caption(),
                  "CURL CODE: " + std::to_string(code) + " - " + CurlCodeToString(code));
        EXPECT_EQ(form->pnlHttpResponse.Color(), clRed);
        EXPECT_EQ(form->pnlHttpResponse.FontColor(), clHighlightText);
        EXPECT_TRUE(form->lvResponseHeaders.Items().empty());
        EXPECT_EQ(form->mmResponseBody.Text(), fault.received);
        EXPECT_TRUE(form->mmMessages.Lines().empty());
        EXPECT_FALSE(form->TabSheetErrorRequestBody.Visible());
    } else {
        EXPECT_EQ(form->pnlHttpResponse.Caption(), "200 OK");
        ASSERT_EQ(form->mmMessages.Lines().size(), 1u);
        const std::string& line = form->mmMessages.Lines()[0];
        EXPECT_EQ(line.compare(0, fault.reported.size() + 2, "[" + fault.reported + "]"), 0) << line;
        EXPECT_TRUE(form->TabSheetErrorRequestBody.Visible());
        EXPECT_EQ(ParseJson(form->mmErrorRequestBody.Text())["error"]["errorCode"].asString(),
                  fault.reported);
        // The answer stays on screen as it came.
        EXPECT_FALSE(form->lvResponseHeaders.Items().empty());
    }
    // The request that went out is shown and carried the counter; the send counts.
    EXPECT_EQ(ParseJson(form->mmRequestBody.Text())["header"]["eventCounter"].asString(), counter);
    EXPECT_EQ(form->edtEventId.Text(), std::to_string(std::stoll(counter) + 1));
    EXPECT_EQ(StoredCounter(), form->edtEventId.Text());
    EXPECT_TRUE(form->spdStartSession.Enabled());
    EXPECT_EQ(form->session.lines.size(), 1u);
    EXPECT_EQ(ReadFile(ConfigFile()), savedConfig);
    if (raw) {
        const std::vector<testsupport::RawRequest> requests = raw->Requests();
        ASSERT_EQ(requests.size(), fault.reported.empty() ? 1u : 2u);
        EXPECT_EQ(requests[0].path, "/startSession");
        if (!fault.reported.empty()) {
            EXPECT_EQ(requests[1].path, "/error");
        }
    } else if (fault.curlCode != CURLE_COULDNT_CONNECT) {
        EXPECT_EQ(consumer->Log().size(), logged + 1);
    }
    raw.reset();

    ExpectGoodSend();
}

// Every way an exchange can break, met one after the other by the same window.
TEST_F(FaultInjectionTest, BrokenExchangesAreShownAndTheWindowGoesOn) {
    const std::string lineId = "0b7d2a2e-6f1c-4b8e-9a55-3c1d7e9f0a21";
    // Latin-1 where UTF-8 belongs, the mistake a consumer most likely makes.
    const std::string latin1Body =
        R"({"lineAdditions":[{"lineId":")" + lineId + "\",\"text\":\"caf\xe9 cr\xe8me\"}]}";
    const std::string surrogateBody =
        R"({"lineAdditions":[{"lineId":")" + lineId + R"(","text":"half a pair \udc00"}]})";
    // An answer without a status line is shown as it came, for the developer to see.
    const std::string garbage = "\x16\x03garbage \xff\r\n\r\n{}";
    auto rawConsumer = [this](std::unique_ptr<RawServer> server) {
        form->edtBaseURL.SetText(server->BaseUrl());
        return server;
    };

    const std::vector<ExchangeFault> faults = {
        {"consumer down",
         [this] {
             form->edtBaseURL.SetText(
                 "http://127.0.0.1:" + std::to_string(testsupport::UnusedLoopbackPort()) + "/");
             return nullptr;
         },
         CURLE_COULDNT_CONNECT, ""},
        {"consumer slower than the time-out",
         [this] {
             form->clientFactory = [] { return boost::make_shared<WebhookConsumerClient>(1, 1); };
             consumer->SetScenario(R"({"events": {"startSession": [{"faults": {"delayMs": 3000}}]}})");
             return nullptr;
         },
         CURLE_OPERATION_TIMEDOUT, ""},
        {"connection closed mid-answer",
         [this] {
             consumer->SetScenario(R"({"events": {"startSession": [
                 {"body": {"lineDeletions": [{"lineId": "{{session.lines[0].lineId}}"}]},
                  "faults": {"closeMidAnswer": true}}]}})");
             return nullptr;
         },
         CURLE_PARTIAL_FILE, ""},
        {"a status line of garbage", [=] { return rawConsumer(std::make_unique<RawServer>(garbage)); },
         CURLE_WEIRD_SERVER_REPLY, "", garbage},
        {"an announced body over 16 MiB",
         [this] {
             consumer->SetScenario(R"({"events": {"startSession": [{"faults": {"bodyBytes": 17825792}}]}})");
             return nullptr;
         },
         CURLE_FILESIZE_EXCEEDED, ""},
        {"a streamed body over 16 MiB",
         [=] {
             return rawConsumer(std::make_unique<RawServer>([](RawServer::Connection& connection) {
                 connection.Send(
                     "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n");
                 const std::string chunk(64 * 1024, ' ');
                 // Until the client hangs up; a client without a cap would take 64 MiB.
                 for (int n = 0; n < 1024 && connection.Send(chunk); ++n) {
                 }
             }));
         },
         CURLE_FILESIZE_EXCEEDED, ""},
        {"a header section of 1 MiB in 16 lines",
         [=] {
             std::vector<std::string> headers;
             for (int n = 0; n < 16; ++n)
                 headers.push_back("X-Trace-" + std::to_string(n) + ": " + std::string(64 * 1024, 't'));
             return rawConsumer(std::make_unique<RawServer>(SignedAnswer("{}", headers)));
         },
         CURLE_RECV_ERROR, ""},
        {"a header line of 1 MiB",
         [=] { return rawConsumer(std::make_unique<RawServer>(SignedAnswer("{}", {"X-Cookie: " + kMiB}))); },
         CURLE_RECV_ERROR, ""},
        {"a body that is no UTF-8",
         [=] { return rawConsumer(std::make_unique<RawServer>(SignedAnswer(latin1Body))); }, 0,
         "INVALID_JSON"},
        {"an escaped half surrogate pair",
         [=] { return rawConsumer(std::make_unique<RawServer>(SignedAnswer(surrogateBody))); }, 0,
         "INVALID_JSON"},
        {"a signature that is no UTF-8",
         [=] {
             return rawConsumer(std::make_unique<RawServer>(RawServer::Answer(
                 "HTTP/1.1 200 OK", {"Content-Type: application/json", "X-Orvel-Signature: \xff\xfe=="},
                 "{}")));
         },
         0, "INVALID_SIGNATURE"},
        {"a content type that is no UTF-8",
         [=] {
             return rawConsumer(std::make_unique<RawServer>(
                 RawServer::Answer("HTTP/1.1 200 OK",
                                   {"Content-Type: application/json\xc0",
                                    "X-Orvel-Signature: " + testsupport::Sign(kSecret, "{}")},
                                   "{}")));
         },
         0, "INVALID_CONTENT_TYPE"},
    };

    for (const ExchangeFault& fault : faults) {
        SCOPED_TRACE(fault.name);
        ExpectBrokenExchangeShown(fault);
    }
}

// A header whose value is no UTF-8 does not stop an otherwise correct answer: it is listed as
// received and the answer is applied.
TEST_F(FaultInjectionTest, HeaderValueThatIsNoUtf8IsShownAsReceived) {
    const std::string body =
        R"({"lineAdditions":[{"lineId":"5d0c6f0e-9a8b-4c7d-8e6f-1a2b3c4d5e6f","text":"Th\u00e9"}]})";
    RawServer raw(SignedAnswer(body, {"X-Consumer-Note: caf\xe9 \xff\xfe"}));
    form->edtBaseURL.SetText(raw.BaseUrl());

    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_EQ(form->pnlHttpResponse.Caption(), "200 OK");
    EXPECT_TRUE(form->mmMessages.Lines().empty());
    EXPECT_EQ(raw.Requests().size(), 1u);
    bool listed = false;
    for (const auto& row : form->lvResponseHeaders.Items())
        listed = listed || (row[0] == "X-Consumer-Note" && row[1] == "caf\xe9 \xff\xfe");
    EXPECT_TRUE(listed);
    EXPECT_EQ(form->mmResponseBody.Text(), body);
    ASSERT_EQ(form->session.lines.size(), 2u);
    EXPECT_EQ(form->session.lines[1].text, "Th\xc3\xa9");
    EXPECT_EQ(ReadFile(ConfigFile()), savedConfig);
    ExpectGoodSend();
}

// A saved config.ini is one section of known keys, one per line.
void FaultInjectionTest::ExpectCleanConfig(const std::string& content) {
    ASSERT_FALSE(content.empty());
    EXPECT_EQ(content.back(), '\n');
    EXPECT_EQ(content.find('\r'), std::string::npos);
    ASSERT_EQ(content.compare(0, 11, "[consumer]\n"), 0) << content.substr(0, 40);
    const std::vector<std::string> known = {"subscription-id",
                                            "secret",
                                            "base-url",
                                            "self-signed",
                                            "branch-number",
                                            "workplace-number",
                                            "blocking-call",
                                            "session-id",
                                            "scanned-code",
                                            "active-page-index",
                                            "active-page-2-index",
                                            "external-payment-method",
                                            "external-payment-id"};
    std::size_t pos = 11;
    while (pos < content.size()) {
        const std::size_t end = content.find('\n', pos);
        const std::string line = content.substr(pos, end - pos);
        pos = end + 1;
        const std::string key = line.substr(0, line.find('='));
        EXPECT_NE(line.find('='), std::string::npos) << line.substr(0, 60);
        EXPECT_TRUE(std::find(known.begin(), known.end(), key) != known.end() ||
                    key.compare(0, 13, "session-line-") == 0)
            << key.substr(0, 60);
    }
}

// Start-up with the damaged files: no crash, no message, what can be read is read; "Save" then
// writes a clean file that reads back to the same window, and the window sends.
void FaultInjectionTest::ExpectDamagedFilesOpen(const DamagedFiles& damage) {
    // The files are damaged while the tester is closed.
    form.reset();
    WriteFile(ConfigFile(), damage.config);
    if (damage.counter.empty())
        std::filesystem::remove(CounterFile());
    else
        WriteFile(CounterFile(), damage.counter);

    ASSERT_NO_THROW(StartWindow());
    EXPECT_TRUE(toolkit->Messages().empty());
    EXPECT_EQ(form->edtConfigBestand.Text(), ConfigFile());
    damage.check(*form);
    EXPECT_EQ(form->gridSession.RowCount() - form->gridSession.FixedRows(),
              static_cast<int>(form->session.lines.size()));

    const std::string subscription = form->edtSubscriptionId.Text();
    ASSERT_EQ(Press(&TForm1::btnConfigOpslaanClick), "");
    const std::string saved = ReadFile(ConfigFile());
    ExpectCleanConfig(saved);

    ASSERT_NO_THROW(StartWindow());
    EXPECT_TRUE(toolkit->Messages().empty());
    EXPECT_TRUE(form->edtSubscriptionId.Text() == subscription);
    ASSERT_EQ(Press(&TForm1::btnConfigOpslaanClick), "");
    EXPECT_TRUE(ReadFile(ConfigFile()) == saved);

    form->edtSubscriptionId.SetText("sub-faults");
    form->edtSecret.SetText(kSecret);
    form->btnStartSessionClick();
    ExpectGoodSend();
}

TEST_F(FaultInjectionTest, DamagedConfigurationOpensWithDefaultsAndSavesCleanly) {
    std::mt19937 random(7031);
    std::string noise(64 * 1024, '\0');
    for (char& c : noise)
        c = static_cast<char>(random() & 0xFF);
    const std::string digits(1024 * 1024, '7');
    const std::string lineId = "9f8e7d6c-5b4a-4392-8170-6f5e4d3c2b1a";

    const std::vector<DamagedFiles> damages = {
        {"random bytes", noise, noise,
         [](const TForm1& f) {
             EXPECT_EQ(f.edtSubscriptionId.Text(), "");
             EXPECT_EQ(f.edtBaseURL.Text(), "");
             EXPECT_EQ(f.edtEventId.Text(), "1");
             EXPECT_EQ(f.edtBranchNumber.Text(), "1");
             EXPECT_EQ(f.edtPaymentMethod.Text(), "K_EXTERNAL_PAYMENT");
             EXPECT_TRUE(f.session.sessionId.IsNull());
             EXPECT_TRUE(f.session.lines.empty());
         }},
        {"empty files", "", "",
         [](const TForm1& f) {
             EXPECT_EQ(f.edtSubscriptionId.Text(), "");
             EXPECT_EQ(f.edtEventId.Text(), "1");
             EXPECT_TRUE(f.session.sessionId.IsNull());
         }},
        {"keys and values of 1 MiB",
         "[consumer]\n" + kMiB + "=x\n" + "subscription-id=" + kMiB + "\n" + "secret=" + kSecret + "\n" +
             "branch-number=" + digits + "\n" + "workplace-number=-" + digits + "\n" +
             "event-counter=" + digits + "\n" + "active-page-index=" + digits + "\n" +
             "active-page-2-index=99999\n" + "session-id=" + kMiB + "\n" + "session-line-id-0=" + lineId +
             "\n" + "session-line-text-0=" + kMiB + "\n" + "session-line-quantity-0=" + digits + "\n" +
             "session-line-vat-code-0=" + digits + "\n" + "session-line-id-1=" + kMiB + "\n" +
             "external-payment-method=" + kMiB + "\n",
         "[consumer]\nevent-counter=" + digits + "\n",
         [lineId](const TForm1& f) {
             EXPECT_TRUE(f.edtSubscriptionId.Text() == kMiB);
             EXPECT_EQ(f.edtSecret.Text(), kSecret);
             EXPECT_EQ(f.edtBranchNumber.Text(), "1");
             EXPECT_EQ(f.edtWorkplaceNumber.Text(), "1");
             EXPECT_EQ(f.edtEventId.Text(), "1");
             EXPECT_EQ(f.PageControl1.ActivePageIndex(), 2);
             // An index beyond the tabs cannot be restored; the tab stays one that exists.
             EXPECT_GE(f.PageControl2.ActivePageIndex(), 0);
             EXPECT_LT(f.PageControl2.ActivePageIndex(), static_cast<int>(f.PageControl2.Pages().size()));
             EXPECT_TRUE(f.session.sessionId.IsNull());
             ASSERT_EQ(f.session.lines.size(), 1u);
             EXPECT_EQ(f.session.lines[0].lineId->ToString(), lineId);
             EXPECT_TRUE(f.session.lines[0].text == kMiB);
             EXPECT_EQ(f.session.lines[0].quantity, 0.0);
             EXPECT_EQ(f.session.lines[0].vatCode, 2);
             EXPECT_TRUE(f.edtPaymentMethod.Text() == kMiB);
         }},
        {"line breaks of another editor",
         "[consumer]\rsubscription-id=first\rsecond\r\nsecret=" + kSecret +
             "\r\r\nbase-url=http://x/\rdropped\n",
         "",
         [](const TForm1& f) {
             EXPECT_EQ(f.edtSubscriptionId.Text(), "first");
             EXPECT_EQ(f.edtSecret.Text(), kSecret);
             EXPECT_EQ(f.edtBaseURL.Text(), "http://x/");
         }},
    };

    for (const DamagedFiles& damage : damages) {
        SCOPED_TRACE(damage.name);
        ExpectDamagedFilesOpen(damage);
    }
}

// A save interrupted between writing the new file and putting it in place keeps the old file,
// leaves no temporary file behind and tells the user which file it could not write.
TEST_F(FaultInjectionTest, InterruptedSaveKeepsThePreviousFile) {
    std::string interruptedAt;
    std::string written;
    IniFile::SetBeforeReplaceHookForTesting([&](const std::string& tempPath) {
        interruptedAt = tempPath;
        written = ReadFile(tempPath);
        throw std::runtime_error("power failure");
    });

    form->edtSubscriptionId.SetText("changed");
    const std::string message = Press(&TForm1::btnConfigOpslaanClick);
    EXPECT_TRUE(Contains(message, ConfigFile())) << message;
    EXPECT_TRUE(Contains(message, "power failure")) << message;
    // The hook ran where it should: the new content was complete in the temporary file.
    EXPECT_TRUE(Contains(written, "subscription-id=changed\n")) << written;
    EXPECT_EQ(written.compare(0, 11, "[consumer]\n"), 0);
    EXPECT_FALSE(interruptedAt.empty());
    EXPECT_FALSE(FileExists(interruptedAt));
    EXPECT_EQ(ReadFile(ConfigFile()), savedConfig);
    EXPECT_EQ(FilesIn(Folder()), (std::vector<std::string>{"config.ini"}));

    // Without the interruption the same save goes through.
    IniFile::SetBeforeReplaceHookForTesting(nullptr);
    ASSERT_EQ(Press(&TForm1::btnConfigOpslaanClick), "");
    EXPECT_TRUE(Contains(ReadFile(ConfigFile()), "subscription-id=changed\n"));
}

// The counter file is written after the exchange, off the window's thread: when that fails the
// send has still happened, the window still counts, and the user is told the counter could not
// be stored.
TEST_F(FaultInjectionTest, CounterThatCannotBeStoredAfterASend) {
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    ASSERT_EQ(StoredCounter(), "2");
    const std::string storedBefore = ReadFile(CounterFile());

    IniFile::SetBeforeReplaceHookForTesting([](const std::string& tempPath) {
        if (Contains(tempPath, "event-counter.ini"))
            throw std::runtime_error("disk removed");
    });
    consumer->SetScenario(R"({"events": {"startSession": [{"body": {"lineAdditions":
        [{"lineId": "2c9e4b1a-7d3f-4e6a-9b8c-0d1e2f3a4b5c", "text": "Tea"}]}}]}})");
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    form->FlushEventCounter();
    form->FlushHistory();
    toolkit->ProcessMessages();
    ASSERT_EQ(toolkit->Messages().size(), 1u);
    const std::string message = toolkit->Messages()[0];
    EXPECT_TRUE(Contains(message, CounterFile())) << message;
    EXPECT_TRUE(Contains(message, "disk removed")) << message;

    // The exchange happened and was applied; the window counts on, the file keeps the old value.
    EXPECT_EQ(form->pnlHttpResponse.Caption(), "200 OK");
    EXPECT_EQ(form->session.lines.size(), 2u);
    EXPECT_EQ(form->edtEventId.Text(), "3");
    EXPECT_TRUE(form->spdStartSession.Enabled());
    EXPECT_EQ(ReadFile(CounterFile()), storedBefore);
    EXPECT_EQ(FilesIn(Folder()),
              (std::vector<std::string>{"config.ini", "event-counter.ini", "history.jsonl"}));
    EXPECT_EQ(ReadFile(ConfigFile()), savedConfig);

    // The next event carries the next number, not one the consumer has already seen.
    IniFile::SetBeforeReplaceHookForTesting(nullptr);
    ExpectGoodSend();
    EXPECT_EQ(ParseJson(form->mmRequestBody.Text())["header"]["eventCounter"].asInt(), 3);
    EXPECT_EQ(StoredCounter(), "4");
    EXPECT_EQ(toolkit->Messages().size(), 1u);
}

// A data folder that cannot be made (its path is a file; this holds for root too): the window
// opens with the defaults and says why, sends still work, and every write names the problem.
TEST_F(FaultInjectionTest, DataFolderThatCannotBeMade) {
    testsupport::TempDir other;
    const std::string blocked = other.Path() + "/OrvelWebhookTester";
    WriteFile(blocked, "a file where the folder belongs");
    testsupport::ScopedEnv elsewhere("XDG_DATA_HOME", other.Path());

    ASSERT_NO_THROW(StartWindow());
    ASSERT_EQ(toolkit->Messages().size(), 1u);
    EXPECT_TRUE(Contains(toolkit->Messages()[0], blocked)) << toolkit->Messages()[0];
    EXPECT_EQ(form->edtEventId.Text(), "1");
    EXPECT_EQ(form->edtBranchNumber.Text(), "1");
    EXPECT_EQ(form->edtPaymentMethod.Text(), "K_EXTERNAL_PAYMENT");
    EXPECT_EQ(form->PageControl1.ActivePageIndex(), 2);
    EXPECT_EQ(form->PageControl2.ActivePageIndex(), 3);
    // Start-up went on after the settings: the dialog tab was reset.
    EXPECT_FALSE(form->spdConfirmDialog.Enabled());

    form->edtSecret.SetText(kSecret);
    form->btnStartSessionClick();
    std::string message = Press(&TForm1::btnConfigOpslaanClick);
    EXPECT_TRUE(Contains(message, blocked)) << message;

    PointAtConsumer();
    message = Press(&TForm1::spdStartSessionClick);
    EXPECT_TRUE(Contains(message, blocked)) << message;
    EXPECT_EQ(form->pnlHttpResponse.Caption(), "200 OK");
    EXPECT_EQ(form->edtEventId.Text(), "2");
    EXPECT_EQ(consumer->Log().size(), 1u);
    EXPECT_EQ(ReadFile(blocked), "a file where the folder belongs");
}

// Without write permission on the data folder. Permission bits do not stop root, so this runs
// only for an ordinary user.
TEST_F(FaultInjectionTest, ReadOnlyDataFolder) {
    if (geteuid() == 0)
        GTEST_SKIP() << "permission bits do not stop root; DataFolderThatCannotBeMade and "
                        "InterruptedSaveKeepsThePreviousFile cover failed writes for root";
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    form->FlushEventCounter();
    form->FlushHistory(); // the history file is there: appending to it needs no folder rights
    const std::string storedCounter = ReadFile(CounterFile());
    ASSERT_EQ(chmod(Folder().c_str(), 0500), 0);

    form->edtSubscriptionId.SetText("changed");
    const std::string saveMessage = Press(&TForm1::btnConfigOpslaanClick);
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    // The counter is written after the send; its failure is told once that write is over.
    form->FlushEventCounter();
    toolkit->ProcessMessages();
    chmod(Folder().c_str(), 0700);

    EXPECT_TRUE(Contains(saveMessage, ConfigFile())) << saveMessage;
    ASSERT_EQ(toolkit->Messages().size(), 1u);
    EXPECT_TRUE(Contains(toolkit->Messages()[0], CounterFile())) << toolkit->Messages()[0];
    EXPECT_EQ(form->pnlHttpResponse.Caption(), "200 OK");
    EXPECT_EQ(form->edtEventId.Text(), "3");
    EXPECT_EQ(ReadFile(ConfigFile()), savedConfig);
    EXPECT_EQ(ReadFile(CounterFile()), storedCounter);
    EXPECT_EQ(FilesIn(Folder()),
              (std::vector<std::string>{"config.ini", "event-counter.ini", "history.jsonl"}));
    ExpectGoodSend();
}
