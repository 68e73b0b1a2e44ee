// One press of startSession on the headless window, from the click until the exchange is on
// screen, against the sample consumer on loopback; compared, in the same run, with a bare
// libcurl POST of the same request (same bytes, same headers, a fresh handle each time like
// the window's client).
//
// Usage: bench_send_press [path-of-orvel-sample-consumer] [presses]
// The consumer is also found through ORVEL_SAMPLE_CONSUMER or next to this build's tools.

#include "HeadlessToolkit.h"
#include "MainFormUnit.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char kSecret[] = "YmVuY2htYXJrIHNlY3JldCBvZiB0aGUgY29uc3VtZXI="; // Base64 of a fixed key

using Clock = std::chrono::steady_clock;

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

// A bare POST: fresh handle, the given headers and body, response headers and body collected.
long BarePost(const std::string& url, const std::vector<std::string>& headers, const std::string& body) {
    CURL* curl = curl_easy_init();
    curl_slist* list = nullptr;
    for (const std::string& header : headers)
        list = curl_slist_append(list, header.c_str());
    std::string responseHeaders, responseBody;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
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

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
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

} // namespace

int main(int argc, char** argv) {
    const int presses = argc > 2 ? std::atoi(argv[2]) : 300;
    const int warmUp = 20;
    try {
        // The window writes its event counter after every send: keep that in a scratch folder.
        char folder[] = "/tmp/orvel-bench-XXXXXX";
        if (!mkdtemp(folder))
            throw std::runtime_error("cannot create a scratch folder");
        setenv("XDG_DATA_HOME", folder, 1);

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

        // The request of one press, byte for byte, for the bare POST.
        form.spdStartSessionClick();
        if (form.pnlHttpResponse.Caption().rfind("200", 0) != 0)
            throw std::runtime_error("the window's send failed: " + form.pnlHttpResponse.Caption());
        const std::string url = form.txtWebhookUrl.Text();
        const std::string body = form.mmRequestBody.Text();
        std::vector<std::string> headers;
        for (const auto& row : form.lvRequestHeaders.Items())
            headers.push_back(row[0] + ": " + row[1]);
        headers.push_back("Expect:"); // no 100-continue round trip unless the client sends one

        // Every press ends by storing the event counter, and that write waits for the disk. The
        // same press is also timed with the data folder in memory (/dev/shm), so the exchange part
        // can be told apart from the disk.
        std::string memoryFolder;
        char memoryPattern[] = "/dev/shm/orvel-bench-XXXXXX";
        if (mkdtemp(memoryPattern))
            memoryFolder = memoryPattern;

        std::vector<double> window, windowInMemory, bare;
        const auto press = [&](const std::string& dataFolder, std::vector<double>& into, bool keep) {
            setenv("XDG_DATA_HOME", dataFolder.c_str(), 1);
            const auto t0 = Clock::now();
            form.spdStartSessionClick();
            const auto t1 = Clock::now();
            if (form.pnlHttpResponse.Caption().rfind("200", 0) != 0 || !form.mmMessages.Lines().empty())
                throw std::runtime_error("an exchange of the window failed during the run");
            if (keep)
                into.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        };
        for (int i = 0; i < warmUp + presses; ++i) {
            const bool keep = i >= warmUp;
            press(folder, window, keep);
            if (!memoryFolder.empty())
                press(memoryFolder, windowInMemory, keep);
            const auto t0 = Clock::now();
            const long status = BarePost(url, headers, body);
            const auto t1 = Clock::now();
            if (status != 200)
                throw std::runtime_error("a bare POST failed during the run");
            if (keep)
                bare.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        }

        const double figure = Median(window);
        const double baseline = Median(bare);
        std::cout << "send press (startSession, 3 lines, " << body.size() << " byte request, " << presses
                  << " presses)\n";
        std::cout << "  window press, click to display complete: median " << figure << " us\n";
        std::cout << "  bare libcurl POST of the same request:   median " << baseline << " us\n";
        std::cout << "  ratio " << figure / baseline << "x (goal: at most 1.5x)\n";
        if (!windowInMemory.empty()) {
            const double inMemory = Median(windowInMemory);
            std::cout << "  the same press, data folder in memory:   median " << inMemory << " us, ratio "
                      << inMemory / baseline << "x\n";
            std::filesystem::remove_all(memoryFolder);
        }

        curl_global_cleanup();
        std::filesystem::remove_all(folder);
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "bench_send_press: " << error.what() << "\n";
        return 1;
    }
}
