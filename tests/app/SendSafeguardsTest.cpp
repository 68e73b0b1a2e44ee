// The edges of a send: a consumer that never answers can be cancelled, an address the tester
// must not use is refused before anything is looked up or sent, the client's own refusals are
// told in its words, and no password from an address is left in a trace.

#include "ConsumerWindowTest.h"
#include "RawServer.h"

#include <filesystem>
#include <thread>

namespace {

// Every file under folder whose content holds text.
std::vector<std::string> FilesHolding(const std::string& folder, const std::string& text) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file() &&
            testsupport::ReadFile(entry.path().string()).find(text) != std::string::npos)
            found.push_back(entry.path().string());
    return found;
}

} // namespace

class SendSafeguardsTest : public ConsumerWindowTest {
protected:
    void SetUp() override {
        ConsumerWindowTest::SetUp();
        auto makeClient = form->clientFactory;
        form->clientFactory = [this, makeClient] {
            ++clientsMade;
            return makeClient();
        };
    }

    int clientsMade = 0;
    // The traces go to a folder of this test's own.
    testsupport::TempDir temp;
    testsupport::ScopedEnv tmpdir{"TMPDIR", temp.Path()};
};

TEST_F(SendSafeguardsTest, RefusedAddressesSendNothingAndSayWhatIsWrong) {
    testsupport::RawServer server(
        testsupport::RawServer::Answer("HTTP/1.1 500 Internal Server Error", {}, "nothing to see"));
    const std::string host = server.BaseUrl().substr(7); // "127.0.0.1:PORT/"
    const struct {
        std::string url;
        std::string named; // what the message must name
    } cases[] = {
        {"", "is empty"},
        {"http://" + host + "v1/?q=1#f", "query (?…)"},
        {"http://" + host + "v1/#f", "fragment (#…)"},
        {"http://tester:s3cr3t-pw@" + host, "user name or password"},
        {"http://" + host + std::string("v1\0/elsewhere/", 14), "control character"},
        {"http://" + host + "v1\r\n/", "control character"},
        {"file:///etc/", "not file://"},
        {"ftp://" + host, "not ftp://"},
        {"gopher://" + host, "not gopher://"},
        {"HTTP://" + host, "(in lower case), not HTTP://"},
        {"http://", "names no host"},
        {"https://:8443/", "names no host"},
    };
    const std::string counter = form->edtEventId.Text();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        form->edtBaseURL.SetText(c.url);
        for (auto press : {&TForm1::spdStartSessionClick, &TForm1::spdPollExternalPaymentClick}) {
            const std::string message = Press(press);
            EXPECT_NE(message.find(c.named), std::string::npos) << message;
            EXPECT_EQ(message.rfind("The base URL ", 0), 0u) << message;
        }
        EXPECT_EQ(form->txtWebhookUrl.Text(), "");
        EXPECT_EQ(form->txtDebugFile.Text(), "");
        EXPECT_EQ(form->edtEventId.Text(), counter);
        EXPECT_FALSE(form->pollingActive);
        EXPECT_TRUE(form->spdStartSession.Enabled());
    }
    EXPECT_EQ(clientsMade, 0);

    // The server serves its connections in turn: had any refused press connected, it would come
    // before this one.
    form->edtBaseURL.SetText(server.BaseUrl() + "v1");
    EXPECT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_EQ(form->txtWebhookUrl.Text(), server.BaseUrl() + "v1/startSession");
    EXPECT_EQ(form->pnlHttpResponse.Caption(), "500 Internal Server Error");
    // The unsigned answer is refused and reported to the same address.
    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(server.Requests()[0].path, "/v1/startSession");
    EXPECT_EQ(server.Requests()[1].path, "/v1/error");
    EXPECT_EQ(clientsMade, 1);
    EXPECT_EQ(form->edtEventId.Text(), std::to_string(std::stoll(counter) + 1));

    // No copy of the refused password anywhere: traces, settings, counter.
    form->FlushEventCounter();
    EXPECT_TRUE(FilesHolding(temp.Path(), "s3cr3t-pw").empty());
    EXPECT_TRUE(FilesHolding(data.Path(), "s3cr3t-pw").empty());
}

TEST_F(SendSafeguardsTest, AnAddressWithoutSchemeStillGoesOutOverHttps) {
    ASSERT_EQ(testsupport::MakeSelfSignedCertificate(temp), "");
    testsupport::ConsumerOptions options;
    options.secret = kSecret;
    options.tlsCertFile = temp.File("cert.pem");
    options.tlsKeyFile = temp.File("key.pem");
    testsupport::SampleConsumer tls(options);
    const std::string schemeLess = tls.BaseUrl().substr(8, tls.BaseUrl().size() - 9); // no "https://", no "/"
    form->edtBaseURL.SetText(schemeLess);
    form->chkSelfSigned.SetChecked(true);

    EXPECT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_EQ(form->txtWebhookUrl.Text(), "https://" + schemeLess + "/startSession");
    EXPECT_EQ(form->pnlHttpResponse.Caption(), "200 OK");
    EXPECT_TRUE(form->mmMessages.Lines().empty()) << form->mmMessages.Text();
    ASSERT_EQ(tls.Log().size(), 1u);
    EXPECT_EQ(tls.Log()[0]["path"].asString(), "/startSession");
}

TEST_F(SendSafeguardsTest, CancelEndsAStalledExchangeAndTheWindowGoesOn) {
    testsupport::RawServer stalled([](testsupport::RawServer::Connection& c) { c.WaitUntilPeerCloses(); });
    std::vector<bool> cancelStates;
    form->btnCancelExchange.Changed.Connect(
        [this, &cancelStates] { cancelStates.push_back(form->btnCancelExchange.Enabled()); });
    form->btnCancelExchangeClick(); // idle: nothing to end

    form->edtBaseURL.SetText(stalled.BaseUrl());
    const std::string counter = form->edtEventId.Text();
    // The window's thread is inside the exchange; the user presses Cancel meanwhile.
    std::thread user([&] {
        ASSERT_TRUE(testsupport::Eventually([&] { return stalled.Requests().size() == 1; }));
        form->btnCancelExchangeClick();
    });
    const std::string message = Press(&TForm1::spdStartSessionClick);
    user.join();

    EXPECT_EQ(message, "");
    EXPECT_EQ(cancelStates, (std::vector<bool>{true, false}));
    EXPECT_EQ(form->pnlHttpResponse.Caption(),
              "The exchange was cancelled before the consumer's answer came in.");
    EXPECT_EQ(form->pnlHttpResponse.Color(), clRed);
    EXPECT_EQ(form->mmMessages.Lines(),
              (std::vector<std::string>{"The exchange was cancelled before the consumer's answer came in."}));
    EXPECT_EQ(form->pnlVerdict.Caption(), "No answer");
    EXPECT_TRUE(form->spdStartSession.Enabled());
    // Counted as after any transport error.
    EXPECT_EQ(form->edtEventId.Text(), std::to_string(std::stoll(counter) + 1));
    const std::string trace = testsupport::ReadFile(form->txtDebugFile.Text());
    EXPECT_NE(trace.find("The exchange was cancelled"), std::string::npos) << trace;

    // The client's own refusal is told in its words too, not as a bare libcurl code.
    form->edtBaseURL.SetText(consumer->BaseUrl());
    form->edtSubscriptionId.SetText("sub\r\nX-Injected: 1");
    EXPECT_EQ(Press(&TForm1::spdStartSessionClick), "");
    const std::string refusal =
        "The subscription id holds a control character (such as a line break); nothing was sent.";
    EXPECT_EQ(form->pnlHttpResponse.Caption(), refusal);
    EXPECT_EQ(form->mmMessages.Lines(), (std::vector<std::string>{refusal}));
    EXPECT_TRUE(Log().empty());

    // The next send goes out and is answered as usual.
    form->edtSubscriptionId.SetText("sub-1");
    EXPECT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_EQ(form->pnlHttpResponse.Caption(), "200 OK");
    EXPECT_EQ(Log().size(), 1u);
    EXPECT_EQ(form->edtEventId.Text(), std::to_string(std::stoll(counter) + 3));
    EXPECT_EQ(cancelStates, (std::vector<bool>{true, false, true, false, true, false}));
}

TEST_F(SendSafeguardsTest, StoppingPollsEndsTheTransferInFlight) {
    testsupport::RawServer stalled([](testsupport::RawServer::Connection& c) { c.WaitUntilPeerCloses(); });
    form->edtBaseURL.SetText(stalled.BaseUrl());
    EXPECT_EQ(Press(&TForm1::spdPollExternalPaymentClick), "");
    ASSERT_TRUE(toolkit.PumpUntil([&] { return stalled.Requests().size() == 1; }));
    ASSERT_TRUE(form->pollTask && form->pollTask->IsRunning());

    // Without the transfer ended, the task would wait for the client's minute-long time-out.
    EXPECT_TRUE(form->StopPolling());
    EXPECT_TRUE(toolkit.PumpUntil([&] { return !form->pollTask->IsRunning(); }));
    // A cancelled poll's answer is not shown.
    EXPECT_EQ(form->pnlHttpResponse.Caption(), "HTTP RESPONSE CODE");
}
