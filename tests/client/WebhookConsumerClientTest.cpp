#include "WebhookConsumerClient.h"
#include "SampleConsumer.h"
#include "TestSupport.h"
#include "ToJSON.h"
#include "WireFormat.h"

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
#include <cryptopp/hmac.h>
#include <cryptopp/sha.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <json/value.h>

#include <algorithm>
#include <arpa/inet.h>
#include <boost/make_shared.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace Tarn::Webhooks;
using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::TempDir;

const std::string Secret =
    "c2lnbmluZy1rZXktb2YtdGhlLXRlc3QtY29uc3VtZXI="; // "signing-key-of-the-test-consumer"
const std::string SubscriptionId = "sub-7f3a";

// The consumer's side of the signature, written independently of the client's code.
std::string ConsumerSignature(const std::string& secret, const std::string& body) {
    std::string key;
    CryptoPP::StringSource(secret, true, new CryptoPP::Base64Decoder(new CryptoPP::StringSink(key)));
    CryptoPP::HMAC<CryptoPP::SHA256> hmac(reinterpret_cast<const CryptoPP::byte*>(key.data()), key.size());
    std::string mac;
    CryptoPP::StringSource(body, true, new CryptoPP::HashFilter(hmac, new CryptoPP::StringSink(mac)));
    std::string text;
    CryptoPP::StringSource(mac, true, new CryptoPP::Base64Encoder(new CryptoPP::StringSink(text), false));
    return text;
}

// An in-process server for answers the sample consumer does not give (redirects, bodies
// streamed without a length): logs every request and answers through the test's handler.
class LoopbackServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    explicit LoopbackServer(Handler handler) : handler_(std::move(handler)) {
        server_.set_tcp_nodelay(true);
        server_.Post(".*", [this](const httplib::Request& request, httplib::Response& response) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                paths_.push_back(request.path);
            }
            handler_(request, response);
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    ~LoopbackServer() {
        server_.stop();
        thread_.join();
    }

    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

    std::vector<std::string> Paths() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return paths_;
    }

private:
    Handler handler_;
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> paths_;
};

void FillEvent(DefaultEvent& event) {
    event.header.eventCounter = 42;
    event.header.blockingCall = true;
    event.sender.branchNumber = 3;
    event.sender.workplaceNumber = 7;
    event.sender.senderId = Uuid("0f8b7c1e-2d3a-4b5c-8d9e-0a1b2c3d4e5f");
    event.session.sessionId = Uuid("6a1d2e3f-4b5c-4d6e-8f70-8192a3b4c5d6");
    SessionLine line;
    line.lineId = Uuid("11111111-2222-4333-8444-555555555555");
    line.quantity = 2.0;
    line.priceIncl = 3.1;
    line.text = "Caf\xc3\xa9 cr\xc3\xa8me";
    event.session.lines.push_back(line);
    event.session.totalAmount = 6.2;
}

// A startSession of FillEvent's event from a fresh client, as a press sends it.
WebhookResult SendStartSession(const std::string& baseUrl) {
    WebhookConsumerClient client;
    client.Init(SubscriptionId, Secret, baseUrl, true);
    StartSessionEvent event;
    FillEvent(event);
    return client.startSession(event);
}

// One send operation of the client with the event it sends.
struct Operation {
    std::string name;
    std::function<WebhookResult(WebhookConsumerClient&, std::string& body)> send;
};

template <typename E>
Operation MakeOperation(const std::string& name, WebhookResult (WebhookConsumerClient::*op)(const E&)) {
    return {name, [op](WebhookConsumerClient& client, std::string& body) {
                E event;
                FillEvent(event);
                body = RequestBody(event);
                return (client.*op)(event);
            }};
}

std::vector<Operation> AllOperations() {
    using C = WebhookConsumerClient;
    return {
        MakeOperation("startSession", &C::startSession),
        MakeOperation("scanCode", &C::scanCode),
        MakeOperation("addSessionLine", &C::addSessionLine),
        MakeOperation("updateSessionLine", &C::updateSessionLine),
        MakeOperation("removeSessionLine", &C::removeSessionLine),
        MakeOperation("pauseSession", &C::pauseSession),
        MakeOperation("resumeSession", &C::resumeSession),
        MakeOperation("startPayment", &C::startPayment),
        MakeOperation("cancelPayment", &C::cancelPayment),
        MakeOperation("mergeSession", &C::mergeSession),
        MakeOperation("cancelSession", &C::cancelSession),
        MakeOperation("completeSession", &C::completeSession),
        MakeOperation("creditSession", &C::creditSession),
        MakeOperation("startExternalPayment", &C::startExternalPayment),
        MakeOperation("pollExternalPayment", &C::pollExternalPayment),
        MakeOperation("requestCancelExternalPayment", &C::requestCancelExternalPayment),
        MakeOperation("cancelExternalPayment", &C::cancelExternalPayment),
    };
}

// The bytes of one request on fd: its headers and as much body as they announce.
std::string ReadRequest(int fd) {
    std::string data;
    char buffer[4096];
    for (;;) {
        const std::size_t end = data.find("\r\n\r\n");
        if (end != std::string::npos) {
            const std::size_t lengthAt = data.find("Content-Length: ");
            const std::size_t length =
                lengthAt < end ? std::stoul(data.substr(lengthAt + 16)) : std::size_t{0};
            if (data.size() >= end + 4 + length)
                return data;
        }
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return data;
        data.append(buffer, static_cast<std::size_t>(got));
    }
}

// A loopback listener on a free port and a thread that serves it until the listener is shut down.
class RawServer {
public:
    explicit RawServer(std::function<void(int listener)> serve) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 4);
        socklen_t length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, serve = std::move(serve)] { serve(listener_); });
    }
    ~RawServer() {
        shutdown(listener_, SHUT_RDWR);
        thread_.join();
        close(listener_);
    }
    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

private:
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// Accepts one connection on loopback, keeps the request bytes exactly as they arrived and
// sends the given answer bytes.
class RawCapture {
public:
    explicit RawCapture(
        std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
        : answer_(std::move(answer)) {}
    std::string BaseUrl() const { return server_.BaseUrl(); }
    std::string Request() {
        std::lock_guard<std::mutex> lock(mutex_);
        return request_;
    }

private:
    void Serve(int listener) {
        const int fd = accept(listener, nullptr, nullptr);
        if (fd < 0)
            return;
        const std::string data = ReadRequest(fd);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            request_ = data;
        }
        send(fd, answer_.data(), answer_.size(), MSG_NOSIGNAL);
        close(fd);
    }

    std::string answer_;
    std::mutex mutex_;
    std::string request_;
    RawServer server_{[this](int listener) { Serve(listener); }}; // last: it goes first
};

// A consumer that serves one connection at a time and, after its answer, keeps the connection
// until the client closes it, as a single-threaded server with keep-alive does. Counts the
// connections the client has closed.
class OneAtATimeServer {
public:
    std::string BaseUrl() const { return server_.BaseUrl(); }
    bool ClosedWithin(int count, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return closedCv_.wait_for(lock, timeout, [&] { return closed_ >= count; });
    }

private:
    void Serve(int listener) {
        for (;;) {
            const int fd = accept(listener, nullptr, nullptr);
            if (fd < 0)
                return;
            const timeval limit{5, 0}; // a client that never closes does not hold the test
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            ReadRequest(fd);
            const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}";
            send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
            char byte = 0;
            while (recv(fd, &byte, 1, 0) > 0) {
            }
            close(fd);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++closed_;
            }
            closedCv_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable closedCv_;
    int closed_ = 0;
    RawServer server_{[this](int listener) { Serve(listener); }}; // last: it goes first
};

Json::Value Parsed(const std::string& text) {
    Json::Value json;
    EXPECT_TRUE(Tarn::ToJSON(text, json)) << text;
    return json;
}

std::string Header(const Json::Value& logEntry, const std::string& name) {
    return logEntry["headers"].isMember(name) ? logEntry["headers"][name].asString() : std::string();
}

// Every test keeps its debug traces in a temporary folder of its own and talks to the sample
// consumer.
class WebhookClientTest : public ::testing::Test {
protected:
    TempDir temp_;
    ScopedEnv tmpdir_{"TMPDIR", temp_.Path()};
    testsupport::SampleConsumer consumer_{testsupport::ConsumerOptions{Secret, "{}", false, "", ""}};

    std::unique_ptr<WebhookConsumerClient> MakeClient(const std::string& subscriptionId = SubscriptionId,
                                                      long connectTimeout = SHORT_TIMEOUT,
                                                      long totalTimeout = LONG_TIMEOUT) {
        auto client = std::make_unique<WebhookConsumerClient>(connectTimeout, totalTimeout);
        client->Init(subscriptionId, Secret, consumer_.BaseUrl(), true);
        return client;
    }
};

TEST_F(WebhookClientTest, EveryOperationPostsItsSignedEventToItsOwnPath) {
    // Each event is answered with a body of its own, signed by the consumer.
    Json::Value scenario;
    for (const Operation& operation : AllOperations())
        scenario["events"][operation.name][0]["body"]["echo"] = operation.name;
    consumer_.SetScenario(Tarn::ToJSONString(scenario));

    for (const Operation& operation : AllOperations()) {
        SCOPED_TRACE(operation.name);
        auto client = MakeClient();
        const std::size_t before = consumer_.Log().size();
        std::string body;
        const WebhookResult result = operation.send(*client, body);

        const auto log = consumer_.Log();
        ASSERT_EQ(log.size(), before + 1);
        const Json::Value& request = log.back();
        EXPECT_EQ(request["path"].asString(), "/" + operation.name);
        EXPECT_EQ(request["event"].asString(), operation.name);
        EXPECT_TRUE(request["signatureValid"].asBool());
        // The consumer logs a JSON body as JSON; the valid signature vouches for the exact bytes.
        EXPECT_EQ(request["body"], Parsed(body));
        EXPECT_EQ(Header(request, "Content-Type"), "application/json");
        EXPECT_EQ(Header(request, "Accept"), "application/json");
        EXPECT_EQ(Header(request, "User-Agent"), "OrvelWebhookTester/1.14.0");
        EXPECT_EQ(Header(request, "X-Orvel-Event"), operation.name);
        EXPECT_EQ(Header(request, "X-Orvel-Subscription-Id"), SubscriptionId);
        EXPECT_EQ(Header(request, "X-Orvel-Signature"), ConsumerSignature(Secret, body));
        EXPECT_FALSE(request["headers"].isMember("Expect"));

        // What the client says it sent is what arrived.
        EXPECT_EQ(client->GetBody(), body);
        const std::map<std::string, std::string> expectedHeaders = {
            {"Accept", "application/json"},
            {"Content-Type", "application/json"},
            {"User-Agent", "OrvelWebhookTester/1.14.0"},
            {"X-Orvel-Event", operation.name},
            {"X-Orvel-Signature", Header(request, "X-Orvel-Signature")},
            {"X-Orvel-Subscription-Id", SubscriptionId},
        };
        EXPECT_EQ(client->GetHeaders(), expectedHeaders);

        EXPECT_EQ(result.curlCode, 0) << result.errorText;
        EXPECT_EQ(result.url, consumer_.BaseUrl() + operation.name);
        EXPECT_EQ(result.response.GetResult(), 200);
        EXPECT_EQ(result.response.GetReasonPhrase(), "OK");
        EXPECT_EQ(result.response.GetBody(), "{\"echo\":\"" + operation.name + "\"}");
        EXPECT_EQ(result.response.GetHeader("content-type"), "application/json");
        EXPECT_EQ(client->sign(result.response.GetBody()), result.response.GetHeader("X-Orvel-Signature"));
    }
}

TEST_F(WebhookClientTest, SignatureDependsOnSecretAndExactBody) {
    auto client = MakeClient();
    EXPECT_EQ(client->sign("{}"), ConsumerSignature(Secret, "{}"));
    EXPECT_EQ(client->sign(""), ConsumerSignature(Secret, ""));
    EXPECT_EQ(client->sign("{}").size(), 44u);
    EXPECT_NE(client->sign("{}"), client->sign("{} "));

    WebhookConsumerClient other;
    other.Init(SubscriptionId, "b3RoZXIta2V5", consumer_.BaseUrl(), true);
    EXPECT_NE(other.sign("{}"), client->sign("{}"));
    EXPECT_EQ(other.sign("{}"), ConsumerSignature("b3RoZXIta2V5", "{}"));

    // Keys longer than a hash block are hashed first; an empty key is a key too.
    for (const std::string& secret :
         {std::string(), std::string(88, 'A'), std::string(88, 'Q'), std::string(400, 'z'),
          std::string("YWJj"), std::string(84, 'B') + "BA==", std::string(84, 'B') + "BBA="}) {
        WebhookConsumerClient keyed;
        keyed.Init(SubscriptionId, secret, consumer_.BaseUrl(), true);
        const std::string body(1000, 'b');
        EXPECT_EQ(keyed.sign(body), ConsumerSignature(secret, body)) << secret.size();
        EXPECT_EQ(keyed.sign(""), ConsumerSignature(secret, "")) << secret.size();
    }
}

TEST_F(WebhookClientTest, RequestOnTheWireHoldsExactlyTheAgreedHeaders) {
    // The HTTP server library drops empty header values, so this looks at the raw bytes.
    RawCapture capture;
    WebhookConsumerClient client;
    client.Init("", Secret, capture.BaseUrl(), true);
    StartSessionEvent event;
    FillEvent(event);
    const WebhookResult result = client.startSession(event);
    ASSERT_EQ(result.curlCode, 0) << result.errorText;
    EXPECT_EQ(result.response.GetResult(), 200);

    const std::string raw = capture.Request();
    const std::size_t end = raw.find("\r\n\r\n");
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(raw.substr(end + 4), RequestBody(event));
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < end;) {
        const std::size_t stop = raw.find("\r\n", start);
        lines.push_back(raw.substr(start, stop - start));
        start = stop + 2;
    }
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "POST /startSession HTTP/1.1");
    const std::set<std::string> headerLines(lines.begin() + 1, lines.end());
    const std::set<std::string> expected = {
        "Host: " + capture.BaseUrl().substr(7, capture.BaseUrl().size() - 8),
        "Content-Length: " + std::to_string(RequestBody(event).size()),
        "Content-Type: application/json",
        "Accept: application/json",
        "User-Agent: OrvelWebhookTester/1.14.0",
        "X-Orvel-Event: startSession",
        "X-Orvel-Signature: " + ConsumerSignature(Secret, RequestBody(event)),
        "X-Orvel-Subscription-Id:",
    };
    EXPECT_EQ(headerLines, expected);
    EXPECT_EQ(lines.size(), expected.size() + 1) << "a header was sent twice";
    EXPECT_EQ(client.GetHeaders().at("X-Orvel-Subscription-Id"), "");
}

TEST_F(WebhookClientTest, UnreadableStatusLineIsATransportError) {
    for (const std::string statusLine : {"HTTP/1.1 099 Odd", "HTTP/1.1 200OK", "HTTP/1.1 20 OK"}) {
        SCOPED_TRACE(statusLine);
        RawCapture capture(statusLine + "\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}");
        const WebhookResult result = SendStartSession(capture.BaseUrl());
        EXPECT_GT(result.curlCode, 0);
        EXPECT_EQ(result.response.GetResult(), -1);
        EXPECT_FALSE(result.errorText.empty());
    }
}

TEST_F(WebhookClientTest, EndlessHeadersEndTheExchange) {
    std::string answer = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 40; ++i)
        answer += "X-Filler-" + std::to_string(i) + ": " + std::string(60000, 'h') + "\r\n";
    RawCapture capture(answer + "Content-Length: 2\r\nConnection: close\r\n\r\n{}");
    const WebhookResult result = SendStartSession(capture.BaseUrl());
    EXPECT_GT(result.curlCode, 0);
    EXPECT_EQ(result.response.GetResult(), -1);
    EXPECT_TRUE(result.response.GetHeaders().empty());
}

TEST_F(WebhookClientTest, ControlCharacterInSubscriptionIdIsRefusedBeforeSending) {
    const std::vector<std::string> refused = {"abc\r\nX-Injected: 1",   "abc\n",  "a\rb", "tab\there",
                                              std::string("nul\0x", 5), "del\x7f"};
    for (const std::string& bad : refused) {
        SCOPED_TRACE(bad);
        auto client = MakeClient(bad);
        StartSessionEvent event;
        FillEvent(event);
        WebhookResult result;
        EXPECT_NO_THROW(result = client->startSession(event));
        EXPECT_EQ(result.curlCode, CURLE_BAD_FUNCTION_ARGUMENT);
        EXPECT_NE(result.errorText.find("control character"), std::string::npos);
        EXPECT_EQ(result.response.GetResult(), -1);
    }
    EXPECT_TRUE(consumer_.Log().empty());

    // Text beyond ASCII is no control character.
    auto client = MakeClient("abonnement-\xc3\xa9");
    StartSessionEvent event;
    FillEvent(event);
    EXPECT_EQ(client->startSession(event).curlCode, 0);
    ASSERT_EQ(consumer_.Log().size(), 1u);
    EXPECT_EQ(Header(consumer_.Log()[0], "X-Orvel-Subscription-Id"), "abonnement-\xc3\xa9");
}

TEST_F(WebhookClientTest, ErrorReportGoesToErrorPathNamingTheFailedEvent) {
    auto client = MakeClient();
    auto failed = boost::make_shared<PollExternalPaymentEvent>();
    FillEvent(*failed);
    ErrorEvent report;
    report.error =
        Error(DbStringFromWebhookErrorCode(ewecMissingSignature), "You did not supply the header.");
    report.event = failed;

    // The window may have sent another event meanwhile; the report still names the poll.
    const WebhookResult result = client->sendError("startSession", report);
    EXPECT_EQ(result.curlCode, 0);
    EXPECT_EQ(result.response.GetResult(), 200);
    EXPECT_EQ(result.url, consumer_.BaseUrl() + "error");
    auto log = consumer_.Log();
    ASSERT_EQ(log.size(), 1u);
    const Json::Value& request = log[0];
    EXPECT_EQ(request["path"].asString(), "/error");
    EXPECT_TRUE(request["signatureValid"].asBool());
    EXPECT_EQ(request["errorCode"].asString(), "MISSING_SIGNATURE");
    EXPECT_EQ(Header(request, "X-Orvel-Event"), "error");
    EXPECT_EQ(Header(request, "X-Orvel-Subscription-Id"), SubscriptionId);
    EXPECT_EQ(request["body"], Parsed(RequestBody(report)));
    EXPECT_EQ(client->GetBody(), RequestBody(report));
    EXPECT_EQ(client->GetHeaders().at("X-Orvel-Event"), "error");

    Json::Value json = request["body"];
    EXPECT_EQ(json["eventName"].asString(), "pollExternalPayment");
    EXPECT_EQ(json["error"]["message"].asString(), "You did not supply the header.");
    EXPECT_EQ(json["event"]["session"]["sessionId"].asString(), "6a1d2e3f-4b5c-4d6e-8f70-8192a3b4c5d6");

    // A report without its event takes the name it was given.
    ErrorEvent bare;
    bare.error = Error(DbStringFromWebhookErrorCode(ewecInvalidJson), "You returned invalid JSON.");
    client->sendError("scanCode", bare);
    log = consumer_.Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRUE(log[1]["signatureValid"].asBool());
    EXPECT_EQ(log[1]["errorCode"].asString(), "INVALID_JSON");
    json = log[1]["body"];
    EXPECT_EQ(json["eventName"].asString(), "scanCode");
}

TEST(WebhookErrorCodeText, NamedCodesAndFallback) {
    const std::vector<std::pair<int, std::string>> table = {
        {0, "INVALID_SIGNATURE"},
        {1, "MISSING_SIGNATURE"},
        {2, "INVALID_JSON"},
        {5, "MISSING_CONTENT_TYPE"},
        {6, "INVALID_CONTENT_TYPE"},
        {9, "DISCOUNT_CONFLICT"},
        {10, "UNKNOWN_LINE"},
        {11, "DUPLICATE_LINE"},
        {21, "EXTERNAL_PAYMENT_ID_MISMATCH"},
        {3, "ERROR_3"},
        {7, "ERROR_7"},
        {-1, "ERROR_-1"},
        {22, "ERROR_22"},
    };
    for (const auto& entry : table)
        EXPECT_EQ(DbStringFromWebhookErrorCode(entry.first), entry.second) << entry.first;
}

TEST_F(WebhookClientTest, LargeRequestBodyGoesOutWithoutExpectHandshake) {
    auto client = MakeClient();
    ErrorEvent report;
    report.error = Error("ERROR_99", std::string(2 * 1024 * 1024, 'x'));
    const WebhookResult result = client->sendError("startSession", report);
    EXPECT_EQ(result.curlCode, 0);
    EXPECT_EQ(result.response.GetResult(), 200);
    const auto log = consumer_.Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_FALSE(log[0]["headers"].isMember("Expect"));
    EXPECT_TRUE(log[0]["signatureValid"].asBool());
    EXPECT_EQ(log[0]["body"], Parsed(client->GetBody()));
}

TEST_F(WebhookClientTest, ConnectionRefusedIsATransportError) {
    WebhookConsumerClient client;
    client.Init(SubscriptionId, Secret,
                "http://127.0.0.1:" + std::to_string(testsupport::UnusedLoopbackPort()) + "/", true);
    StartSessionEvent event;
    FillEvent(event);
    const WebhookResult result = client.startSession(event);
    EXPECT_EQ(result.curlCode, CURLE_COULDNT_CONNECT);
    EXPECT_EQ(CurlCodeToString(result.curlCode), curl_easy_strerror(CURLE_COULDNT_CONNECT));
    EXPECT_FALSE(result.errorText.empty());
    EXPECT_EQ(result.response.GetResult(), -1);
    EXPECT_TRUE(result.response.GetHeaders().empty());
    // The request the user asked for is still shown.
    EXPECT_EQ(client.GetBody(), RequestBody(event));
}

TEST_F(WebhookClientTest, SlowConsumerRunsIntoTheTimeout) {
    consumer_.SetScenario(R"({"events": {"startSession": [{"faults": {"delayMs": 4000}}]}})");
    auto client = MakeClient(SubscriptionId, 1, 1);
    StartSessionEvent event;
    FillEvent(event);
    const WebhookResult result = client->startSession(event);
    EXPECT_EQ(result.curlCode, CURLE_OPERATION_TIMEDOUT);
    EXPECT_EQ(result.response.GetResult(), -1);
    EXPECT_FALSE(result.errorText.empty());
}

TEST_F(WebhookClientTest, ResponseBodyIsCappedWhetherAnnouncedOrStreamed) {
    const std::string limit = std::to_string(MAX_RESPONSE_BODY);
    const std::string over = std::to_string(MAX_RESPONSE_BODY + 1);
    consumer_.SetScenario(R"({"events": {"startSession": [{"faults": {"bodyBytes": )" + limit +
                          R"(}}, {"faults": {"bodyBytes": )" + over + R"(}}]}})");
    StartSessionEvent event;
    FillEvent(event);
    {
        // Exactly the limit is accepted.
        auto client = MakeClient();
        const WebhookResult result = client->startSession(event);
        EXPECT_EQ(result.curlCode, 0);
        EXPECT_EQ(result.response.GetResult(), 200);
        EXPECT_EQ(result.response.GetBody().size(), MAX_RESPONSE_BODY);
        EXPECT_EQ(client->sign(result.response.GetBody()), result.response.GetHeader("X-Orvel-Signature"));
    }
    {
        // A body announced larger is refused on its Content-Length.
        auto client = MakeClient();
        const WebhookResult result = client->startSession(event);
        EXPECT_EQ(result.curlCode, CURLE_FILESIZE_EXCEEDED);
        EXPECT_EQ(result.response.GetResult(), -1);
        EXPECT_TRUE(result.response.GetBody().empty());
    }
    {
        // A body streamed without a length is cut off once it passes the limit.
        LoopbackServer streaming([](const httplib::Request&, httplib::Response& response) {
            auto sent = std::make_shared<std::size_t>(0);
            response.set_chunked_content_provider("application/json",
                                                  [sent](std::size_t, httplib::DataSink& sink) {
                                                      const std::string chunk(64 * 1024, 'b');
                                                      if (*sent > MAX_RESPONSE_BODY + chunk.size()) {
                                                          sink.done();
                                                          return true;
                                                      }
                                                      *sent += chunk.size();
                                                      return sink.write(chunk.data(), chunk.size());
                                                  });
        });
        WebhookConsumerClient client;
        client.Init(SubscriptionId, Secret, streaming.BaseUrl(), true);
        const WebhookResult result = client.startSession(event);
        EXPECT_EQ(result.curlCode, CURLE_FILESIZE_EXCEEDED);
        EXPECT_EQ(result.response.GetResult(), -1);
        EXPECT_TRUE(result.response.GetBody().empty());
        EXPECT_NE(result.errorText.find(limit), std::string::npos);
    }
}

TEST(WebhookClientRedirect, RedirectComesBackAsTheAnswer) {
    TempDir temp;
    ScopedEnv tmpdir("TMPDIR", temp.Path());
    LoopbackServer server([](const httplib::Request& request, httplib::Response& response) {
        if (request.path == "/startSession")
            response.set_redirect("/elsewhere", 302);
        else
            response.set_content("{}", "application/json");
    });
    const WebhookResult result = SendStartSession(server.BaseUrl());
    EXPECT_EQ(result.curlCode, 0);
    EXPECT_EQ(result.response.GetResult(), 302);
    EXPECT_EQ(result.response.GetHeader("Location"), "/elsewhere");
    EXPECT_EQ(server.Paths(), std::vector<std::string>{"/startSession"});
}

// Clients pass their transport on to later ones: a later exchange must still have a connection
// of its own (a kept-alive one could have a request sent twice), an error report as well.
TEST(WebhookClientConnections, EveryExchangeHasAConnectionOfItsOwn) {
    TempDir temp;
    ScopedEnv tmpdir("TMPDIR", temp.Path());
    std::mutex mutex;
    std::vector<int> ports;
    LoopbackServer server([&](const httplib::Request& request, httplib::Response& response) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ports.push_back(request.remote_port);
        }
        response.set_content("{}", "application/json");
    });
    SendStartSession(server.BaseUrl());
    SendStartSession(server.BaseUrl());
    WebhookConsumerClient client;
    client.Init(SubscriptionId, Secret, server.BaseUrl(), true);
    PauseSessionEvent event;
    FillEvent(event);
    client.pauseSession(event);
    ErrorEvent report;
    report.error = Error("INVALID_JSON", "You returned invalid JSON.");
    report.event = boost::make_shared<PauseSessionEvent>(event);
    client.sendError("pauseSession", report);

    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(ports.size(), 4u);
    std::sort(ports.begin(), ports.end());
    EXPECT_EQ(std::adjacent_find(ports.begin(), ports.end()), ports.end()) << "a connection was used twice";
}

// A client that leaves its connections to its caller: each stays open until the caller closes
// it, and the client's next exchange and its end close what is left, the next exchange before it
// connects (a consumer that serves one connection at a time would otherwise wait for ever).
TEST(WebhookClientConnections, DeferredClosesWaitForTheCallerAndNeverForTheConsumer) {
    TempDir temp;
    ScopedEnv tmpdir("TMPDIR", temp.Path());
    OneAtATimeServer server;
    PauseSessionEvent event;
    FillEvent(event);
    {
        WebhookConsumerClient client(2, 2);
        client.Init(SubscriptionId, Secret, server.BaseUrl(), true);
        client.DeferConnectionCloses();
        ASSERT_EQ(client.pauseSession(event).response.GetResult(), 200);
        FinishedConnections finished = client.TakeFinishedConnections();
        EXPECT_FALSE(server.ClosedWithin(1, std::chrono::milliseconds(100)));
        finished.Close();
        EXPECT_TRUE(server.ClosedWithin(1, std::chrono::seconds(5)));

        ASSERT_EQ(client.pauseSession(event).response.GetResult(), 200);
        EXPECT_FALSE(server.ClosedWithin(2, std::chrono::milliseconds(100)));
        ASSERT_EQ(client.pauseSession(event).response.GetResult(), 200);
        EXPECT_TRUE(server.ClosedWithin(2, std::chrono::seconds(5)));
    }
    EXPECT_TRUE(server.ClosedWithin(3, std::chrono::seconds(5)));

    // A client that closes by itself has closed each connection by the time its exchange returns.
    WebhookConsumerClient client(2, 2);
    client.Init(SubscriptionId, Secret, server.BaseUrl(), true);
    ASSERT_EQ(client.pauseSession(event).response.GetResult(), 200);
    EXPECT_TRUE(server.ClosedWithin(4, std::chrono::seconds(5)));
    ASSERT_EQ(client.pauseSession(event).response.GetResult(), 200);
}

TEST_F(WebhookClientTest, NonHttpSchemesAreRefused) {
    testsupport::WriteFile(temp_.File("secret.txt"), "local file");
    const WebhookResult result = SendStartSession("file://" + temp_.Path() + "/");
    // Refused by the client before libcurl sees the address.
    EXPECT_EQ(result.curlCode, CURLE_URL_MALFORMAT);
    EXPECT_TRUE(result.endedByClient);
    EXPECT_NE(result.errorText.find("not file://"), std::string::npos) << result.errorText;
    EXPECT_EQ(result.response.GetResult(), -1);
}

TEST_F(WebhookClientTest, StatusOtherThan200IsPassedOnWithItsBody) {
    consumer_.SetScenario(
        R"({"events": {"scanCode": [{"status": 400, "body": {"error": {"errorCode": "E1", "message": "no"}}}]}})");
    auto client = MakeClient();
    ScanCodeEvent event;
    FillEvent(event);
    const WebhookResult result = client->scanCode(event);
    EXPECT_EQ(result.curlCode, 0);
    EXPECT_EQ(result.response.GetResult(), 400);
    EXPECT_EQ(result.response.GetReasonPhrase(), "Bad Request");
    EXPECT_EQ(result.response.GetBody(), "{\"error\":{\"errorCode\":\"E1\",\"message\":\"no\"}}");
    EXPECT_EQ(client->sign(result.response.GetBody()), result.response.GetHeader("X-Orvel-Signature"));
}

// ---- HTTPS ----------------------------------------------------------------------------------

TEST(SelfSignedConsumer, RefusedWhenVerifyingAcceptedWhenNot) {
    TempDir temp;
    ScopedEnv tmpdir("TMPDIR", temp.Path());
    ASSERT_EQ(testsupport::MakeSelfSignedCertificate(temp), "");
    testsupport::SampleConsumer consumer(
        testsupport::ConsumerOptions{Secret, "{}", false, temp.File("cert.pem"), temp.File("key.pem")});
    ASSERT_EQ(consumer.BaseUrl().compare(0, 8, "https://"), 0);

    StartSessionEvent event;
    FillEvent(event);
    {
        WebhookConsumerClient client;
        client.Init(SubscriptionId, Secret, consumer.BaseUrl(), true);
        const WebhookResult result = client.startSession(event);
        EXPECT_EQ(result.curlCode, CURLE_PEER_FAILED_VERIFICATION);
        EXPECT_EQ(result.response.GetResult(), -1);
        EXPECT_TRUE(consumer.Log().empty());
    }
    {
        WebhookConsumerClient client;
        client.Init(SubscriptionId, Secret, consumer.BaseUrl(), false);
        const WebhookResult result = client.startSession(event);
        EXPECT_EQ(result.curlCode, 0) << result.errorText;
        EXPECT_EQ(result.response.GetResult(), 200);
        EXPECT_EQ(client.sign(result.response.GetBody()), result.response.GetHeader("X-Orvel-Signature"));
        const auto log = consumer.Log();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0]["path"].asString(), "/startSession");
        EXPECT_TRUE(log[0]["signatureValid"].asBool());
    }
    // Verifying again refuses the consumer, though this client may have the transport of the one
    // that did not verify, with its TLS session.
    {
        WebhookConsumerClient client;
        client.Init(SubscriptionId, Secret, consumer.BaseUrl(), true);
        const WebhookResult result = client.startSession(event);
        EXPECT_EQ(result.curlCode, CURLE_PEER_FAILED_VERIFICATION);
        EXPECT_EQ(consumer.Log().size(), 1u);
    }
}

// ---- debug traces ---------------------------------------------------------------------------

std::size_t CountTraces(const std::string& folder) {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        count += entry.path().extension() == ".log" ? 1 : 0;
    return count;
}

TEST_F(WebhookClientTest, DebugFileIsPrivateUniqueAndHoldsTheLastExchange) {
    consumer_.SetScenario(R"({"events": {"startSession": [{"body": {"answer": "from the consumer"}}]}})");
    auto first = MakeClient();
    auto second = MakeClient();
    ASSERT_FALSE(first->debugFile.empty());
    ASSERT_FALSE(second->debugFile.empty());
    EXPECT_NE(first->debugFile, second->debugFile);
    const std::filesystem::path folder = std::filesystem::path(first->debugFile).parent_path();
    EXPECT_EQ(folder.parent_path(), std::filesystem::path(temp_.Path()));
    EXPECT_EQ(std::filesystem::path(second->debugFile).parent_path(), folder);

    struct stat info {};
    ASSERT_EQ(stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(stat(first->debugFile.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    StartSessionEvent event;
    FillEvent(event);
    const WebhookResult answered = first->startSession(event);
    std::string trace = ReadFile(first->debugFile);
    EXPECT_NE(trace.find(consumer_.BaseUrl() + "startSession"), std::string::npos);
    EXPECT_NE(trace.find("X-Orvel-Signature: " + first->GetHeaders().at("X-Orvel-Signature")),
              std::string::npos);
    EXPECT_NE(trace.find(first->GetBody()), std::string::npos);
    EXPECT_NE(trace.find("HTTP/1.1 200 OK"), std::string::npos);
    EXPECT_NE(trace.find(answered.response.GetHeader("X-Orvel-Signature")), std::string::npos);
    EXPECT_NE(trace.find("{\"answer\":\"from the consumer\"}"), std::string::npos);
    EXPECT_EQ(trace.find(Secret), std::string::npos);
    EXPECT_EQ(trace.find("signing-key-of-the-test-consumer"), std::string::npos);
    // The other client's file is not touched.
    EXPECT_EQ(ReadFile(second->debugFile).find("startSession"), std::string::npos);

    // The next exchange replaces the trace; an error report is added to the exchange it is about.
    PauseSessionEvent pause;
    FillEvent(pause);
    first->pauseSession(pause);
    ErrorEvent report;
    report.error = Error("INVALID_JSON", "You returned invalid JSON.");
    report.event = boost::make_shared<PauseSessionEvent>(pause);
    first->sendError("pauseSession", report);
    trace = ReadFile(first->debugFile);
    EXPECT_EQ(trace.find("/startSession"), std::string::npos);
    const auto pausePos = trace.find(consumer_.BaseUrl() + "pauseSession");
    const auto errorPos = trace.find(consumer_.BaseUrl() + "error");
    ASSERT_NE(pausePos, std::string::npos);
    ASSERT_NE(errorPos, std::string::npos);
    EXPECT_LT(pausePos, errorPos);

    // The trace outlives its client, so the user can open it after the press.
    const std::string path = first->debugFile;
    first.reset();
    EXPECT_EQ(ReadFile(path), trace);

    // A transport error is written down too.
    WebhookConsumerClient refused;
    refused.Init(SubscriptionId, Secret,
                 "http://127.0.0.1:" + std::to_string(testsupport::UnusedLoopbackPort()) + "/", true);
    refused.startSession(event);
    EXPECT_NE(ReadFile(refused.debugFile).find(curl_easy_strerror(CURLE_COULDNT_CONNECT)), std::string::npos);
}

// A deferred trace is in the file once the client goes, and an error report about the exchange
// still follows it there.
TEST_F(WebhookClientTest, DeferredTraceIsWrittenWhenTheClientGoes) {
    auto client = MakeClient();
    const std::string path = client->debugFile;
    client->DeferTraceWrites();
    StartSessionEvent event;
    FillEvent(event);
    client->startSession(event);
    EXPECT_EQ(ReadFile(path).find("/startSession"), std::string::npos) << "not yet";
    ErrorEvent report;
    report.error = Error("INVALID_JSON", "You returned invalid JSON.");
    report.event = boost::make_shared<StartSessionEvent>(event);
    client->sendError("startSession", report);
    client.reset();

    const std::string trace = ReadFile(path);
    const auto startPos = trace.find(consumer_.BaseUrl() + "startSession");
    const auto errorPos = trace.find(consumer_.BaseUrl() + "error");
    ASSERT_NE(startPos, std::string::npos);
    ASSERT_NE(errorPos, std::string::npos);
    EXPECT_LT(startPos, errorPos);
}

TEST_F(WebhookClientTest, TraceFilesAreReusedButNeverShared) {
    auto kept = MakeClient();
    PauseSessionEvent event;
    FillEvent(event);
    kept->pauseSession(event);
    const std::string keptTrace = ReadFile(kept->debugFile);
    ASSERT_NE(keptTrace.find("/pauseSession"), std::string::npos);
    const std::filesystem::path folder = std::filesystem::path(kept->debugFile).parent_path();

    // Many presses, one client each: the folder stays bounded, the live client's file untouched.
    for (int i = 0; i < 120; ++i) {
        auto client = MakeClient();
        EXPECT_NE(client->debugFile, kept->debugFile);
        if (i % 10 == 0)
            client->pauseSession(event);
    }
    EXPECT_LE(CountTraces(folder.string()), 50u);
    EXPECT_EQ(ReadFile(kept->debugFile), keptTrace);

    // A reused file no longer shows the earlier client's exchange, even without an exchange of
    // its own.
    for (int i = 0; i < 60; ++i) {
        auto reused = MakeClient();
        const std::string path = reused->debugFile;
        reused.reset();
        EXPECT_EQ(ReadFile(path), "No exchange has been made by this client.\n");
    }
    auto reused = MakeClient();

    // More live clients than the folder keeps still get a file each.
    std::vector<std::unique_ptr<WebhookConsumerClient>> alive;
    std::set<std::string> paths = {kept->debugFile, reused->debugFile};
    for (int i = 0; i < 60; ++i) {
        alive.push_back(MakeClient());
        EXPECT_TRUE(paths.insert(alive.back()->debugFile).second) << alive.back()->debugFile;
    }
}

// Finished clients hand their open trace files on to the next ones; that must never let two
// live clients share a file, also when clients come and go on several threads at once, and
// each trace must be its own client's last exchange.
TEST_F(WebhookClientTest, TraceFilesHandedOnAreNeverSharedAcrossThreads) {
    std::mutex mutex;
    std::set<std::string> live;
    std::vector<std::string> faults;
    auto press = [&](int thread) {
        for (int i = 0; i < 25; ++i) {
            const std::string id = "sub-" + std::to_string(thread) + "-" + std::to_string(i);
            auto client = MakeClient(id);
            {
                const std::lock_guard<std::mutex> lock(mutex);
                if (client->debugFile.empty() || !live.insert(client->debugFile).second)
                    faults.push_back("shared or missing file for " + id + ": " + client->debugFile);
            }
            PauseSessionEvent event;
            FillEvent(event);
            if (i % 3 != 2)
                client->pauseSession(event);
            // Read while the client still holds the file; once it is gone, another may take it.
            const bool ownTrace =
                i % 3 == 2 || ReadFile(client->debugFile).find("X-Orvel-Subscription-Id: " + id + "\n") !=
                                  std::string::npos;
            {
                const std::lock_guard<std::mutex> lock(mutex);
                live.erase(client->debugFile); // before the file is free for the next client
                if (!ownTrace)
                    faults.push_back("the trace of " + id + " is not its own exchange");
            }
            client.reset();
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(press, t);
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_TRUE(faults.empty()) << faults.size()
                                << " faults, the first: " << (faults.empty() ? "" : faults[0]);
    EXPECT_LE(CountTraces((std::filesystem::path(temp_.Path()) /
                           ("OrvelWebhookTester-debug-" + std::to_string(geteuid())))
                              .string()),
              50u);
}

TEST_F(WebhookClientTest, TheFiftyNewestTracesStayReadable) {
    PauseSessionEvent event;
    FillEvent(event);
    std::string folder;
    for (int i = 0; i < 130; ++i) {
        auto client = MakeClient("sub-press-" + std::to_string(i) + ".");
        client->pauseSession(event);
        folder = std::filesystem::path(client->debugFile).parent_path().string();
    }
    std::set<int> shown;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string trace = ReadFile(entry.path().string());
        const auto at = trace.find("X-Orvel-Subscription-Id: sub-press-");
        if (at != std::string::npos)
            shown.insert(std::stoi(trace.substr(at + 35)));
    }
    ASSERT_EQ(shown.size(), 50u);
    EXPECT_EQ(*shown.begin(), 80);
    EXPECT_EQ(*shown.rbegin(), 129);
}

TEST_F(WebhookClientTest, HandedOnTraceFilesFollowTheTemporaryFolderAndItsRemoval) {
    PauseSessionEvent event;
    FillEvent(event);
    const std::filesystem::path debugFolder =
        std::filesystem::path(temp_.Path()) / ("OrvelWebhookTester-debug-" + std::to_string(geteuid()));
    auto pressMany = [&](const std::string& prefix) {
        for (int i = 0; i < 60; ++i)
            MakeClient(prefix + std::to_string(i))->pauseSession(event);
    };

    // A removed debug folder takes the files held for the next clients with it; those clients
    // open new ones that the user can read.
    pressMany("sub-before-removal-");
    std::filesystem::remove_all(debugFolder);
    for (int i = 0; i < 12; ++i) {
        auto client = MakeClient("sub-after-removal-" + std::to_string(i));
        client->pauseSession(event);
        EXPECT_NE(ReadFile(client->debugFile).find("sub-after-removal-" + std::to_string(i)),
                  std::string::npos)
            << client->debugFile;
    }

    // Another temporary folder: no client may write into the earlier one any more.
    pressMany("sub-in-first-folder-");
    TempDir other;
    ScopedEnv tmpdir("TMPDIR", other.Path());
    for (int i = 0; i < 12; ++i) {
        auto client = MakeClient();
        EXPECT_EQ(std::filesystem::path(client->debugFile).parent_path().parent_path(),
                  std::filesystem::path(other.Path()))
            << client->debugFile;
    }
}

// A temporary folder that is unusable (a file, or an empty name) leaves the client without a
// trace, never with one somewhere else, and the exchange still goes through.
TEST_F(WebhookClientTest, UnusableTemporaryFolderMeansNoTrace) {
    const std::string file = temp_.File("not-a-folder");
    testsupport::WriteFile(file, "x");
    const std::filesystem::path workingFolder = std::filesystem::current_path();
    for (const std::string& setting : {file, std::string()}) {
        SCOPED_TRACE("TMPDIR=\"" + setting + "\"");
        ScopedEnv tmpdir("TMPDIR", setting);
        auto client = MakeClient();
        EXPECT_EQ(client->debugFile, "");
        StartSessionEvent event;
        FillEvent(event);
        EXPECT_EQ(client->startSession(event).response.GetResult(), 200);
        EXPECT_FALSE(std::filesystem::exists(workingFolder /
                                             ("OrvelWebhookTester-debug-" + std::to_string(geteuid()))));
    }
}

} // namespace
