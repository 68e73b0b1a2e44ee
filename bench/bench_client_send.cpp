// One press of an event button costs a fresh client, its Init and one startSession. This
// measures that against a bare libcurl POST of the same bytes with the same headers to the same
// consumer, in the same run, and prints the medians and their ratio.
//
// Usage: bench_client_send [path of orvel-sample-consumer] [iterations]
// The consumer is also found through ORVEL_SAMPLE_CONSUMER or next to this build's tools.

#include "BenchSupport.h"
#include "OrvCrypt.h"
#include "WebhookConsumerClient.h"
#include "WireFormat.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace Tarn::Webhooks;
using namespace benchsupport;

const std::string SubscriptionId = "bench-subscription";
constexpr double kGoalRatio = 1.3;

std::string Signature(const std::string& body) {
    const std::string key = OrvCrypt::Base64decode(kSecret);
    OrvCrypt::Bytes mac;
    OrvCrypt::HmacSha256(OrvCrypt::Bytes(key.begin(), key.end()), OrvCrypt::Bytes(body.begin(), body.end()),
                         mac);
    return OrvCrypt::Base64encode(mac);
}

StartSessionEvent MakeEvent() {
    StartSessionEvent event;
    event.header.eventCounter = 1;
    event.header.blockingCall = true;
    event.sender.branchNumber = 1;
    event.sender.workplaceNumber = 1;
    event.sender.senderId = Uuid::Create();
    event.session.sessionId = Uuid::Create();
    for (int i = 0; i < 3; ++i) {
        SessionLine line;
        line.lineId = Uuid::Create();
        line.articleNumber = 1000 + i;
        line.quantity = 1.0 + i;
        line.priceIncl = 2.35;
        line.vatCode = 2;
        line.vatPercentage = 21.0;
        line.totalAmount = 2.35 * (1.0 + i);
        line.text = "Article " + std::to_string(i);
        event.session.lines.push_back(line);
    }
    event.session.totalAmount = 14.1;
    return event;
}

int Run(const std::string& baseUrl, int iterations) {
    const StartSessionEvent event = MakeEvent();
    const std::string body = RequestBody(event);
    const std::string url = baseUrl + "startSession";
    const std::vector<std::string> headers = {"Content-Type: application/json",
                                              "Accept: application/json",
                                              "X-Orvel-Signature: " + Signature(body),
                                              "X-Orvel-Subscription-Id: " + SubscriptionId,
                                              "X-Orvel-Event: startSession",
                                              "User-Agent: OrvelWebhookTester/1.14.0",
                                              "Expect:"};

    auto pressOnce = [&] {
        auto client = std::make_shared<WebhookConsumerClient>();
        client->Init(SubscriptionId, kSecret, baseUrl, true);
        return client->startSession(event);
    };

    // Both paths must work before they are timed.
    const WebhookResult check = pressOnce();
    if (check.curlCode != 0 || check.response.GetResult() != 200) {
        std::cerr << "bench_client_send: client send failed: curl code " << check.curlCode << ", status "
                  << check.response.GetResult() << ", " << check.errorText << "\n";
        return 1;
    }
    if (BarePost(url, headers, body) != 200) {
        std::cerr << "bench_client_send: bare libcurl POST failed\n";
        return 1;
    }

    for (int i = 0; i < 30; ++i) {
        pressOnce();
        BarePost(url, headers, body);
    }
    std::vector<double> clientTimes, bareTimes;
    auto timeClient = [&] {
        const auto start = Clock::now();
        pressOnce();
        clientTimes.push_back(Microseconds(Clock::now() - start));
    };
    auto timeBare = [&] {
        const auto start = Clock::now();
        BarePost(url, headers, body);
        bareTimes.push_back(Microseconds(Clock::now() - start));
    };
    for (int i = 0; i < iterations; ++i) {
        // Alternating keeps drift (other load on the machine) out of the comparison; which one
        // goes first alternates too, so that neither always follows the other's aftermath (the
        // consumer still closing the previous connection).
        if (i % 2 == 0) {
            timeClient();
            timeBare();
        } else {
            timeBare();
            timeClient();
        }
    }

    const double client = Median(clientTimes);
    const double bare = Median(bareTimes);
    const double ratio = client / bare;
    std::printf("consumer: %s\n", baseUrl.c_str());
    std::printf("iterations: %d (after 30 warm-up rounds), body %zu bytes\n", iterations, body.size());
    std::printf("client send (new client, Init, startSession): median %.1f us\n", client);
    std::printf("bare libcurl POST of the same bytes:           median %.1f us\n", bare);
    std::printf("ratio: %.2fx (goal: at most %.1fx)\n", ratio, kGoalRatio);
    ReportGoal("client send: new client, Init, startSession (median)", Figure(client, 1, "us"),
               Figure(bare, 1, "us"), ratio, "<= 1.3x", ratio <= kGoalRatio);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Enough rounds that the medians hold still on a machine shared with other work.
    const int iterations = argc > 2 ? std::max(1, std::atoi(argv[2])) : 600;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int rc = 0;
    try {
        // The client's debug traces go to a folder of the benchmark's own, removed afterwards.
        ScratchFolder traces;
        setenv("TMPDIR", traces.Path().c_str(), 1);
        SampleConsumer consumer(FindConsumer(argc, argv));
        rc = Run(consumer.BaseUrl(), iterations);
    } catch (const std::exception& e) {
        std::cerr << "bench_client_send: " << e.what() << "\n";
        rc = 1;
    }
    curl_global_cleanup();
    return rc;
}
