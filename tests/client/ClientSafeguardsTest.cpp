// What the client refuses before anything goes out, and that a refused address leaves no
// password in the trace.

#include "RawServer.h"
#include "TestSupport.h"
#include "WebhookConsumerClient.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>

namespace {

using namespace Tarn::Webhooks;

const std::string Secret = "c2lnbmluZy1rZXktb2YtdGhlLXRlc3QtY29uc3VtZXI=";

StartSessionEvent Event(const std::string& lineText = "Coffee") {
    StartSessionEvent event;
    event.header.eventCounter = 7;
    event.session.sessionId = OrvelUtility::Uuid::Create();
    SessionLine line;
    line.lineId = OrvelUtility::Uuid::Create();
    line.text = lineText;
    event.session.lines.push_back(line);
    return event;
}

// The window refuses such addresses before it makes a client; the client, too, never sends them.
TEST(ClientSafeguardsTest, RefusalsSendNothingAndSayWhy) {
    testsupport::TempDir temp;
    testsupport::ScopedEnv tmpdir{"TMPDIR", temp.Path()};
    testsupport::RawServer server(testsupport::RawServer::Answer("HTTP/1.1 200 OK", {}, "{}"));
    const std::string host = server.BaseUrl().substr(7);
    const struct {
        std::string baseUrl, lineText;
        short curlCode;
        std::string reason;
    } cases[] = {
        {"http://tester:pw-in-url@" + host, "Coffee", CURLE_URL_MALFORMAT, "user name or password"},
        {"ftp://" + host, "Coffee", CURLE_URL_MALFORMAT, "not ftp://"},
        {server.BaseUrl(), std::string(MAX_REQUEST_BODY, 'x'), CURLE_FILESIZE_EXCEEDED,
         "The request body is larger than 16777216 bytes; nothing was sent."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        WebhookConsumerClient client;
        client.Init("sub-1", Secret, c.baseUrl, true);
        const WebhookResult result = client.startSession(Event(c.lineText));
        EXPECT_EQ(result.curlCode, c.curlCode);
        EXPECT_TRUE(result.endedByClient);
        EXPECT_NE(result.errorText.find(c.reason), std::string::npos) << result.errorText;
        EXPECT_EQ(result.timing.bytesSent, 0u);
        const std::string trace = testsupport::ReadFile(client.debugFile);
        EXPECT_NE(trace.find("--- Not sent ---"), std::string::npos);
        EXPECT_EQ(trace.find("pw-in-url"), std::string::npos) << trace;
        EXPECT_EQ(result.url.find("pw-in-url"), std::string::npos) << result.url;
    }
    // Served in turn: a refused request that had gone out would be the first one here.
    WebhookConsumerClient client;
    client.Init("sub-1", Secret, server.BaseUrl(), true);
    const WebhookResult result = client.startSession(Event());
    EXPECT_EQ(result.response.GetResult(), 200);
    EXPECT_FALSE(result.endedByClient);
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].path, "/startSession");
}

} // namespace
