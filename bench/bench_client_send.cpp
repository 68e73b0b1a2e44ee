// One press of an event button costs a fresh client, its Init and one startSession. This
// measures that against a bare libcurl POST of the same bytes with the same headers to the same
// consumer, in the same run, and prints the medians and their ratio.
//
// Usage: bench_client_send [path of orvel-sample-consumer] [iterations]
// Without a path, ORVEL_SAMPLE_CONSUMER is used; without either, an in-process consumer.

#include "OrvCrypt.h"
#include "WebhookConsumerClient.h"
#include "WireFormat.h"

#include <curl/curl.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace Tarn::Webhooks;
using Clock = std::chrono::steady_clock;

const std::string Secret = "YmVuY2htYXJrLXNlY3JldC1rZXktMzItYnl0ZXMhIQ==";
const std::string SubscriptionId = "bench-subscription";

std::string Signature(const std::string& body) {
    const std::string key = OrvCrypt::Base64decode(Secret);
    OrvCrypt::Bytes mac;
    OrvCrypt::HmacSha256(OrvCrypt::Bytes(key.begin(), key.end()), OrvCrypt::Bytes(body.begin(), body.end()),
                         mac);
    return OrvCrypt::Base64encode(mac);
}

// The sample consumer as a child process; its request log on stdout is drained and dropped.
class ChildConsumer {
public:
    explicit ChildConsumer(const std::string& executable) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0)
            throw std::runtime_error("pipe failed");
        pid_ = fork();
        if (pid_ < 0)
            throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            dup2(pipeFds[1], STDOUT_FILENO);
            close(pipeFds[0]);
            close(pipeFds[1]);
            execl(executable.c_str(), executable.c_str(), "--port", "0", "--secret", Secret.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipeFds[1]);
        output_ = pipeFds[0];
        std::string line;
        char c;
        while (read(output_, &c, 1) == 1 && c != '\n')
            line += c;
        const std::string greeting = "orvel-sample-consumer listening on ";
        if (line.compare(0, greeting.size(), greeting) != 0)
            throw std::runtime_error("the sample consumer did not start: " + line);
        baseUrl_ = line.substr(greeting.size());
        if (baseUrl_.empty() || baseUrl_.back() != '/')
            baseUrl_ += '/';
        drain_ = std::thread([this] {
            char buffer[4096];
            while (read(output_, buffer, sizeof buffer) > 0) {
            }
        });
    }
    ~ChildConsumer() {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        drain_.join();
        close(output_);
    }
    const std::string& BaseUrl() const { return baseUrl_; }

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string baseUrl_;
    std::thread drain_;
};

// A consumer in this process, answering every event with a signed "{}".
class InProcessConsumer {
public:
    InProcessConsumer() {
        server_.set_tcp_nodelay(true);
        server_.Post(".*", [](const httplib::Request&, httplib::Response& response) {
            response.set_header("X-Orvel-Signature", Signature("{}"));
            response.set_content("{}", "application/json");
        });
        const int port = server_.bind_to_any_port("127.0.0.1");
        baseUrl_ = "http://127.0.0.1:" + std::to_string(port) + "/";
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~InProcessConsumer() {
        server_.stop();
        thread_.join();
    }
    const std::string& BaseUrl() const { return baseUrl_; }

private:
    httplib::Server server_;
    std::string baseUrl_;
    std::thread thread_;
};

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

size_t Collect(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// What libcurl alone costs for the same request: a fresh handle, the same bytes and headers.
long BarePost(const std::string& url, const std::string& body, curl_slist* headers) {
    CURL* curl = curl_easy_init();
    std::string answer;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    const CURLcode code = curl_easy_perform(curl);
    long status = -1;
    if (code == CURLE_OK)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    return status;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

double MicrosecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

int Run(const std::string& baseUrl, int iterations) {
    const StartSessionEvent event = MakeEvent();
    const std::string body = RequestBody(event);
    const std::string url = baseUrl + "startSession";
    curl_slist* headers = nullptr;
    for (const std::string& line :
         {std::string("Content-Type: application/json"), std::string("Accept: application/json"),
          "X-Orvel-Signature: " + Signature(body), "X-Orvel-Subscription-Id: " + SubscriptionId,
          std::string("X-Orvel-Event: startSession"), std::string("User-Agent: OrvelWebhookTester/1.14.0"),
          std::string("Expect:")})
        headers = curl_slist_append(headers, line.c_str());

    auto pressOnce = [&] {
        auto client = std::make_shared<WebhookConsumerClient>();
        client->Init(SubscriptionId, Secret, baseUrl, true);
        return client->startSession(event);
    };

    // Both paths must work before they are timed.
    const WebhookResult check = pressOnce();
    if (check.curlCode != 0 || check.response.GetResult() != 200) {
        std::cerr << "client send failed: curl code " << check.curlCode << ", status "
                  << check.response.GetResult() << ", " << check.errorText << "\n";
        return 1;
    }
    if (BarePost(url, body, headers) != 200) {
        std::cerr << "bare libcurl POST failed\n";
        return 1;
    }

    for (int i = 0; i < 30; ++i) {
        pressOnce();
        BarePost(url, body, headers);
    }
    std::vector<double> clientTimes, bareTimes;
    for (int i = 0; i < iterations; ++i) {
        // Alternating keeps drift (other load on the machine) out of the comparison.
        auto start = Clock::now();
        pressOnce();
        clientTimes.push_back(MicrosecondsSince(start));
        start = Clock::now();
        BarePost(url, body, headers);
        bareTimes.push_back(MicrosecondsSince(start));
    }
    curl_slist_free_all(headers);

    const double client = Median(clientTimes);
    const double bare = Median(bareTimes);
    std::printf("consumer: %s\n", baseUrl.c_str());
    std::printf("iterations: %d (after 30 warm-up rounds), body %zu bytes\n", iterations, body.size());
    std::printf("client send (new client, Init, startSession): median %.1f us\n", client);
    std::printf("bare libcurl POST of the same bytes:           median %.1f us\n", bare);
    std::printf("ratio: %.2fx (goal: at most 1.3x)\n", client / bare);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string executable = argc > 1 ? argv[1] : "";
    if (executable.empty()) {
        if (const char* env = std::getenv("ORVEL_SAMPLE_CONSUMER"))
            executable = env;
    }
    const int iterations = argc > 2 ? std::max(1, std::atoi(argv[2])) : 300;

    // The client's debug traces go to a folder of the benchmark's own, removed afterwards.
    std::string pattern = (std::filesystem::temp_directory_path() / "bench-client-send-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) {
        std::cerr << "cannot create a temporary folder\n";
        return 1;
    }
    const std::string temp = buffer.data();
    setenv("TMPDIR", temp.c_str(), 1);

    curl_global_init(CURL_GLOBAL_DEFAULT);
    int rc = 0;
    try {
        if (!executable.empty() && access(executable.c_str(), X_OK) == 0) {
            ChildConsumer consumer(executable);
            rc = Run(consumer.BaseUrl(), iterations);
        } else {
            InProcessConsumer consumer;
            rc = Run(consumer.BaseUrl(), iterations);
        }
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        rc = 1;
    }
    std::error_code ignored;
    std::filesystem::remove_all(temp, ignored);
    return rc;
}
