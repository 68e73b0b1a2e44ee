// Background polling of an external payment on the headless window, against the sample consumer
// on loopback: polls per second for a payment that never settles, compared in the same run with
// bare libcurl POSTs of the same request (sequential, a fresh handle and connection each, like
// the window's client); and how long the window's thread keeps work queued for it waiting while
// the polls run (a helper thread queues a no-op again and again and notes when it runs).
//
// Usage: bench_polling [path-of-orvel-sample-consumer] [polls]
// The consumer is also found through ORVEL_SAMPLE_CONSUMER or next to this build's tools.

#include "HeadlessToolkit.h"
#include "MainFormUnit.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char kSecret[] = "YmVuY2htYXJrIHNlY3JldCBvZiB0aGUgY29uc3VtZXI="; // Base64 of a fixed key

const char kPaymentAnswer[] =
    R"({"externalPaymentId": "{{externalPayment.externalPaymentId}}", "started": true})";

// One poll that settles the payment: the window then keeps the poll's exchange on display.
const std::string kSettlingScenario =
    std::string(R"({"events": {"startExternalPayment": [{"body": )") + kPaymentAnswer +
    R"(, "repeat": true}], "pollExternalPayment": [{"body": {"externalPaymentId":
    "{{externalPayment.externalPaymentId}}", "confirmed": true}, "repeat": true}]}})";
// A payment that stays open: every answer asks for the next poll.
const std::string kOpenScenario =
    std::string(R"({"events": {"startExternalPayment": [{"body": )") + kPaymentAnswer +
    R"(, "repeat": true}], "pollExternalPayment": [{"body": )" + kPaymentAnswer + R"(, "repeat": true}]}})";

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The sample consumer as a child process; its request log on stdout is drained and dropped.
class Consumer {
public:
    explicit Consumer(const std::string& program) {
        int fds[2];
        if (pipe(fds) != 0)
            throw std::runtime_error("pipe failed");
        pid_ = fork();
        if (pid_ < 0)
            throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            dup2(fds[1], STDOUT_FILENO);
            close(fds[0]);
            close(fds[1]);
            execl(program.c_str(), program.c_str(), "--secret", kSecret, "--port", "0",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        output_ = fdopen(fds[0], "r");
        // First line: "<program> listening on http://127.0.0.1:PORT/".
        std::string line;
        for (int c = fgetc(output_); c != EOF && c != '\n'; c = fgetc(output_))
            line += static_cast<char>(c);
        const std::size_t at = line.find("http://");
        if (at == std::string::npos)
            throw std::runtime_error("the sample consumer did not start: " + line);
        baseUrl_ = line.substr(at);
        drain_ = std::thread([this] {
            char buffer[4096];
            while (fread(buffer, 1, sizeof buffer, output_) > 0) {
            }
        });
    }
    ~Consumer() {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        drain_.join();
        fclose(output_);
    }
    Consumer(const Consumer&) = delete;
    Consumer& operator=(const Consumer&) = delete;

    const std::string& BaseUrl() const { return baseUrl_; }

private:
    pid_t pid_ = -1;
    FILE* output_ = nullptr;
    std::thread drain_;
    std::string baseUrl_;
};

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

// A request with a fresh handle; returns the HTTP status (0 when the exchange failed).
long Request(const char* method, const std::string& url, const std::vector<std::string>& headers,
             const std::string& body) {
    CURL* curl = curl_easy_init();
    curl_slist* list = nullptr;
    for (const std::string& header : headers)
        list = curl_slist_append(list, header.c_str());
    std::string responseHeaders, responseBody;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &responseBody);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Collect);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &responseHeaders);
    long status = 0;
    if (curl_easy_perform(curl) == CURLE_OK)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    return status;
}

void SetScenario(const Consumer& consumer, const std::string& scenario) {
    if (Request("PUT", consumer.BaseUrl() + "_admin/scenario", {"Content-Type: application/json"},
                scenario) != 200)
        throw std::runtime_error("the sample consumer refused the scenario");
}

std::string FindConsumer(int argc, char** argv) {
    if (argc > 1)
        return argv[1];
    if (const char* fromEnv = std::getenv("ORVEL_SAMPLE_CONSUMER"))
        return fromEnv;
    const std::filesystem::path self = std::filesystem::canonical("/proc/self/exe");
    return (self.parent_path().parent_path() / "tools" / "sample-consumer" / "orvel-sample-consumer")
        .string();
}

int64_t Counter(const TForm1& form) {
    return std::stoll(form.edtEventId.Text());
}

bool PollingOver(const TForm1& form) {
    return !form.pollingActive && (!form.pollTask || !form.pollTask->IsRunning());
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t at = std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()));
    return values[at];
}

double Median(std::vector<double> values) {
    return Percentile(std::move(values), 0.5);
}

struct PollRun {
    double pollsPerSecond = 0;
    std::vector<double> waitsMs; // how long each queued no-op waited for the window's thread
};

// Starts the payment, lets the chain of polls run until `polls` answers are in, then cancels.
// Meanwhile a helper thread queues no-ops for the window's thread and times their wait.
PollRun RunPolls(TForm1& form, HeadlessToolkit& toolkit, int polls, bool probe) {
    std::mutex waitsMutex;
    std::vector<double> waits;
    std::atomic<bool> stop{false};
    std::thread prober;
    if (probe) {
        prober = std::thread([&] {
            while (!stop.load()) {
                auto ran = std::make_shared<std::atomic<bool>>(false);
                const Clock::time_point posted = Clock::now();
                toolkit.Queue([&waitsMutex, &waits, posted, ran] {
                    const double waited = Milliseconds(Clock::now() - posted);
                    std::lock_guard<std::mutex> lock(waitsMutex);
                    waits.push_back(waited);
                    ran->store(true);
                });
                while (!ran->load() && !stop.load())
                    std::this_thread::sleep_for(std::chrono::microseconds(100));
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }

    form.spdStartExternalPaymentClick(); // its answer dispatches the first poll
    // Start advanced the counter twice (its own send and the first poll's dispatch); each answer
    // taken in dispatches one more poll.
    const int64_t firstPollDispatched = Counter(form);
    const Clock::time_point t0 = Clock::now();
    const bool done = toolkit.PumpUntil([&] { return Counter(form) >= firstPollDispatched + polls; },
                                        std::chrono::minutes(5));
    const Clock::time_point t1 = Clock::now();

    stop.store(true);
    if (prober.joinable())
        prober.join();
    form.spdCancelExternalPaymentClick();
    if (!toolkit.PumpUntil([&] { return PollingOver(form); }, std::chrono::minutes(1)))
        throw std::runtime_error("polling did not stop after a cancel");
    toolkit.ProcessMessages(); // the last probe, if it was still queued
    if (!done)
        throw std::runtime_error("the polls did not complete in time");
    if (!toolkit.Messages().empty())
        throw std::runtime_error("the window showed a message during the run: " + toolkit.Messages().front());

    PollRun run;
    run.pollsPerSecond = polls / std::chrono::duration<double>(t1 - t0).count();
    std::lock_guard<std::mutex> lock(waitsMutex);
    run.waitsMs = waits;
    return run;
}

} // namespace

int main(int argc, char** argv) {
    const int polls = argc > 2 ? std::atoi(argv[2]) : 300;
    const int rounds = 3;
    try {
        // The window writes its event counter after every dispatch: keep that in a scratch folder.
        char folder[] = "/tmp/orvel-bench-XXXXXX";
        if (!mkdtemp(folder))
            throw std::runtime_error("cannot create a scratch folder");
        setenv("XDG_DATA_HOME", folder, 1);
        // The same runs with the data folder in memory tell the exchange apart from the disk.
        std::string memoryFolder;
        char memoryPattern[] = "/dev/shm/orvel-bench-XXXXXX";
        if (mkdtemp(memoryPattern))
            memoryFolder = memoryPattern;

        Consumer consumer(FindConsumer(argc, argv));
        curl_global_init(CURL_GLOBAL_DEFAULT);

        HeadlessToolkit toolkit;
        TForm1 form(toolkit);
        form.FormShow();
        form.edtBaseURL.SetText(consumer.BaseUrl());
        form.edtSecret.SetText(kSecret);
        form.chkBlockingCall.SetChecked(true);
        form.btnStartSessionClick();
        for (int i = 0; i < 3; ++i) {
            form.spdRegelToevoegenClick();
            const int row = form.gridSession.RowCount() - 1;
            for (int c = 0; c < form.gridSession.ColumnCount(); ++c) {
                const std::string& caption = form.gridSession.Columns()[static_cast<std::size_t>(c)].caption;
                if (caption == "articleNumber")
                    form.gridSession.EditCell(c, row, std::to_string(100 + i));
                else if (caption == "text")
                    form.gridSession.EditCell(c, row, "Article " + std::to_string(i));
                else if (caption == "quantity")
                    form.gridSession.EditCell(c, row, "2");
                else if (caption == "priceIncl")
                    form.gridSession.EditCell(c, row, "3.25");
            }
        }

        // One settled poll, to take its request byte for byte for the bare POSTs.
        SetScenario(consumer, kSettlingScenario);
        form.spdStartExternalPaymentClick();
        if (!toolkit.PumpUntil([&] { return PollingOver(form); }) ||
            form.edtExternalPaymentConfirmed.Text() != "true" ||
            form.pnlHttpResponse.Caption().rfind("200", 0) != 0)
            throw std::runtime_error("the first poll did not come back: " + form.pnlHttpResponse.Caption());
        const std::string url = form.txtWebhookUrl.Text();
        const std::string body = form.mmRequestBody.Text();
        std::vector<std::string> headers;
        for (const auto& row : form.lvRequestHeaders.Items())
            headers.push_back(row[0] + ": " + row[1]);
        headers.push_back("Expect:");

        SetScenario(consumer, kOpenScenario);
        RunPolls(form, toolkit, 20, false); // warm-up

        std::vector<double> windowRates, memoryRates, bareRates, waits;
        for (int round = 0; round < rounds; ++round) {
            setenv("XDG_DATA_HOME", folder, 1);
            PollRun run = RunPolls(form, toolkit, polls, true);
            windowRates.push_back(run.pollsPerSecond);
            waits.insert(waits.end(), run.waitsMs.begin(), run.waitsMs.end());
            if (!memoryFolder.empty()) {
                setenv("XDG_DATA_HOME", memoryFolder.c_str(), 1);
                memoryRates.push_back(RunPolls(form, toolkit, polls, false).pollsPerSecond);
            }
            const Clock::time_point t0 = Clock::now();
            for (int i = 0; i < polls; ++i)
                if (Request("POST", url, headers, body) != 200)
                    throw std::runtime_error("a bare POST failed during the run");
            bareRates.push_back(polls / std::chrono::duration<double>(Clock::now() - t0).count());
        }

        const double rate = Median(windowRates);
        const double bareRate = Median(bareRates);
        const double maxWait = waits.empty() ? 0 : *std::max_element(waits.begin(), waits.end());
        std::cout << "polling (pollExternalPayment, 3 lines, " << body.size() << " byte request, " << polls
                  << " polls per run, " << rounds << " runs, medians)\n";
        std::cout << "  window polls per second:              " << rate << "\n";
        std::cout << "  bare libcurl POSTs of the same request: " << bareRate << " per second\n";
        std::cout << "  ratio " << 100 * rate / bareRate << "% of the bare rate (goal: at least 70%)\n";
        if (!memoryRates.empty()) {
            const double inMemory = Median(memoryRates);
            std::cout << "  the same polls, data folder in memory: " << inMemory << " per second, "
                      << 100 * inMemory / bareRate << "% of the bare rate\n";
        }
        std::cout << "  window thread, wait of a queued no-op while polling (" << waits.size()
                  << " samples): median " << Median(waits) << " ms, p99 " << Percentile(waits, 0.99)
                  << " ms, longest " << maxWait << " ms (goal: never more than 50 ms)\n";

        curl_global_cleanup();
        std::filesystem::remove_all(folder);
        if (!memoryFolder.empty())
            std::filesystem::remove_all(memoryFolder);
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "bench_polling: " << error.what() << "\n";
        return 1;
    }
}
