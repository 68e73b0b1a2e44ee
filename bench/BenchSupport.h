#pragma once

// What every benchmark needs: statistics, the sample consumer as a child process, the bare
// libcurl request a figure is compared with, the window prepared for a send, and one
// machine-readable report line per goal (the ./bench script gathers those into one table).

#include "HeadlessToolkit.h"
#include "MainFormUnit.h"

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace benchsupport {

using Clock = std::chrono::steady_clock;

// Base64 of a fixed 32-byte key: the secret of the window, the client and the consumer.
extern const char kSecret[];

double Median(std::vector<double> values);
// The value below which the fraction p of the values lies (nearest rank); 0 for no values.
double Percentile(std::vector<double> values, double p);

double Microseconds(Clock::duration d);
double Milliseconds(Clock::duration d);

// The sample consumer: argv[1] when given, else $ORVEL_SAMPLE_CONSUMER, else the one built in
// the same build tree as this benchmark.
std::string FindConsumer(int argc, char** argv);

// A fresh folder (under the system's temporary folder unless told otherwise), removed with
// everything in it.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& parent = "");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// The sample consumer as a child process on a free loopback port. Its request log on stdout is
// drained and dropped; it is stopped with SIGTERM when the object goes.
class SampleConsumer {
public:
    explicit SampleConsumer(const std::string& program, const std::string& secret = kSecret,
                            const std::string& scenarioFile = "");
    ~SampleConsumer();
    SampleConsumer(const SampleConsumer&) = delete;
    SampleConsumer& operator=(const SampleConsumer&) = delete;

    // "http://127.0.0.1:PORT/"
    const std::string& BaseUrl() const { return baseUrl_; }

    // Replaces the consumer's answers through its admin API; throws when it refuses.
    void SetScenario(const std::string& scenarioJson) const;

private:
    void Stop();

    pid_t pid_ = -1;
    int output_ = -1;
    std::thread drain_;
    std::string baseUrl_;
};

struct BareResponse {
    long status = 0; // 0 when the exchange failed
    std::string headers;
    std::string body;
};

// One request as libcurl alone makes it: a fresh handle (so a fresh connection), the given
// header lines and body, the whole response collected.
BareResponse BareRequest(const std::string& method, const std::string& url,
                         const std::vector<std::string>& headers, const std::string& body);
// The same as a POST; returns the HTTP status.
long BarePost(const std::string& url, const std::vector<std::string>& headers, const std::string& body);

// The window's last request as sent, to repeat it byte for byte with BarePost.
struct SentRequest {
    std::string url;
    std::vector<std::string> headers; // "Name: value" lines
    std::string body;
};
SentRequest LastRequest(const TForm1& form);

// The headless window of a window benchmark: its data folder a scratch folder of its own (the
// window writes its event counter there), pointed at a sample consumer of its own (base URL,
// kSecret, blocking calls), with a session of three lines.
struct WindowBench {
    explicit WindowBench(const std::string& consumerProgram);

    ScratchFolder dataFolder;
    SampleConsumer consumer;
    HeadlessToolkit toolkit;
    TForm1 form;
};

// What WindowBench sets in its window after the first showing: the consumer's base URL, kSecret,
// blocking calls and a session of three lines.
void PrepareWindow(TForm1& form, const std::string& baseUrl);

// "12.3 us" and the like.
std::string Figure(double value, int decimals, const std::string& unit);

// One line per goal: BENCH<TAB>what<TAB>figure<TAB>baseline<TAB>ratio<TAB>goal<TAB>met|missed.
// Baseline and ratio are "-" where the goal is an absolute one.
void ReportGoal(const std::string& what, const std::string& figure, const std::string& baseline,
                std::optional<double> ratio, const std::string& goal, bool met);

} // namespace benchsupport
