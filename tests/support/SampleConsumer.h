#pragma once

#include "TestSupport.h"

#include <json/value.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace testsupport {

struct ConsumerOptions {
    std::string secret = "c2VjcmV0LWtleS1mb3ItdGVzdHM=";
    std::string scenarioJson = "{}";
    bool demo = false; // the built-in demo scenario instead of scenarioJson
    std::string tlsCertFile, tlsKeyFile;
};

// The sample consumer (the executable named by ORVEL_SAMPLE_CONSUMER) running as a child
// process on a free loopback port for the lifetime of the object. Throws std::runtime_error
// when it cannot be started, with what it wrote to stderr.
class SampleConsumer {
public:
    explicit SampleConsumer(ConsumerOptions options = {});
    ~SampleConsumer(); // SIGTERM, waits for it, and fails the test unless it exited with status 0
    SampleConsumer(const SampleConsumer&) = delete;
    SampleConsumer& operator=(const SampleConsumer&) = delete;

    int Port() const { return port_; }
    std::string BaseUrl() const { return baseUrl_; } // "http://127.0.0.1:PORT/" (https with TLS)
    const std::string& Secret() const { return options_.secret; }

    // Through the admin API. SetScenario throws std::runtime_error with the consumer's message
    // when it refuses the scenario.
    void SetScenario(const std::string& scenarioJson);
    std::vector<Json::Value> Log() const;
    void ClearLog();

    // The lines the consumer wrote to stdout after its first line, as far as read yet.
    std::vector<std::string> OutputLines() const;
    // Waits until at least count lines have been read; false when the time ran out first.
    bool WaitForOutputLines(std::size_t count,
                            std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

    // Stops the consumer with SIGTERM and returns its wait status (see waitpid); the destructor
    // does the same when it was not called.
    int Stop();

private:
    void ReadOutput();

    ConsumerOptions options_;
    TempDir folder_;
    pid_t pid_ = -1;
    int output_ = -1;
    int port_ = 0;
    std::string baseUrl_;
    int waitStatus_ = 0;

    std::thread reader_;
    mutable std::mutex linesMutex_;
    mutable std::condition_variable linesChanged_;
    std::vector<std::string> lines_;
    std::string pending_;
};

// Base64(HMAC-SHA256(Base64decode(secret), body)): the signature a consumer and the tester put
// on a body.
std::string Sign(const std::string& secret, const std::string& body);

} // namespace testsupport
