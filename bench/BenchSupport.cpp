#include "BenchSupport.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

namespace benchsupport {

const char kSecret[] = "YmVuY2htYXJrIHNlY3JldCBvZiB0aGUgY29uc3VtZXI=";

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t at = std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()));
    return values[at];
}

double Microseconds(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::string FindConsumer(int argc, char** argv) {
    if (argc > 1 && argv[1][0] != '\0')
        return argv[1];
    if (const char* fromEnv = std::getenv("ORVEL_SAMPLE_CONSUMER"); fromEnv && *fromEnv)
        return fromEnv;
    // <build>/bench/bench_x -> <build>/tools/sample-consumer/orvel-sample-consumer
    const std::filesystem::path self = std::filesystem::canonical("/proc/self/exe");
    return (self.parent_path().parent_path() / "tools" / "sample-consumer" / "orvel-sample-consumer")
        .string();
}

ScratchFolder::ScratchFolder(const std::string& parent) {
    const std::filesystem::path base =
        parent.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(parent);
    std::string pattern = (base / "orvel-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a scratch folder in " + base.string());
    path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

SampleConsumer::SampleConsumer(const std::string& program, const std::string& secret,
                               const std::string& scenarioFile) {
    if (access(program.c_str(), X_OK) != 0)
        throw std::runtime_error("cannot run the sample consumer \"" + program +
                                 "\" (give its path as the first argument or in ORVEL_SAMPLE_CONSUMER)");
    std::vector<std::string> args = {program, "--port", "0", "--secret", secret};
    if (!scenarioFile.empty()) {
        args.push_back("--scenario");
        args.push_back(scenarioFile);
    }
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) {
        close(fds[0]);
        close(fds[1]);
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        dup2(fds[1], STDOUT_FILENO);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(fds[1]);
    output_ = fds[0];

    // The first line: "orvel-sample-consumer listening on http://127.0.0.1:PORT/".
    std::string line;
    char c;
    for (;;) {
        const ssize_t got = read(output_, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got != 1 || c == '\n')
            break;
        line += c;
    }
    const std::string greeting = "orvel-sample-consumer listening on ";
    if (line.compare(0, greeting.size(), greeting) != 0 || line.size() == greeting.size()) {
        Stop();
        throw std::runtime_error("the sample consumer did not start: \"" + line + "\"");
    }
    baseUrl_ = line.substr(greeting.size());
    if (baseUrl_.back() != '/')
        baseUrl_ += '/';
    drain_ = std::thread([fd = output_] {
        char buffer[4096];
        for (;;) {
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got > 0 || (got < 0 && errno == EINTR))
                continue;
            break;
        }
    });
}

SampleConsumer::~SampleConsumer() {
    Stop();
}

void SampleConsumer::Stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
    // The child is gone, so its end of the pipe is closed and the drain sees the end.
    if (drain_.joinable())
        drain_.join();
    if (output_ >= 0) {
        close(output_);
        output_ = -1;
    }
}

void SampleConsumer::SetScenario(const std::string& scenarioJson) const {
    const BareResponse response =
        BareRequest("PUT", baseUrl_ + "_admin/scenario", {"Content-Type: application/json"}, scenarioJson);
    if (response.status != 200)
        throw std::runtime_error("the sample consumer refused the scenario (HTTP " +
                                 std::to_string(response.status) + "): " + response.body);
}

namespace {

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

} // namespace

BareResponse BareRequest(const std::string& method, const std::string& url,
                         const std::vector<std::string>& headers, const std::string& body) {
    BareResponse response;
    CURL* curl = curl_easy_init();
    if (!curl)
        return response;
    curl_slist* list = nullptr;
    for (const std::string& header : headers)
        list = curl_slist_append(list, header.c_str());
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    if (method != "POST")
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Collect);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response.headers);
    if (curl_easy_perform(curl) == CURLE_OK)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    return response;
}

long BarePost(const std::string& url, const std::vector<std::string>& headers, const std::string& body) {
    return BareRequest("POST", url, headers, body).status;
}

SentRequest LastRequest(const TForm1& form) {
    SentRequest request;
    request.url = form.txtWebhookUrl.Text();
    request.body = form.mmRequestBody.Text();
    for (const auto& row : form.lvRequestHeaders.Items())
        request.headers.push_back(row[0] + ": " + row[1]);
    // The window's client turns off libcurl's "100-continue" round trip the same way.
    request.headers.push_back("Expect:");
    return request;
}

WindowBench::WindowBench(const std::string& consumerProgram) : consumer(consumerProgram), form(toolkit) {
    setenv("XDG_DATA_HOME", dataFolder.Path().c_str(), 1);
    form.FormShow();
    PrepareWindow(form, consumer.BaseUrl());
}

void PrepareWindow(TForm1& form, const std::string& baseUrl) {
    form.edtBaseURL.SetText(baseUrl);
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
}

std::string Figure(double value, int decimals, const std::string& unit) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return unit.empty() ? std::string(text) : std::string(text) + " " + unit;
}

void ReportGoal(const std::string& what, const std::string& figure, const std::string& baseline,
                std::optional<double> ratio, const std::string& goal, bool met) {
    std::fflush(stdout);
    std::printf("BENCH\t%s\t%s\t%s\t%s\t%s\t%s\n", what.c_str(), figure.c_str(),
                baseline.empty() ? "-" : baseline.c_str(), ratio ? Figure(*ratio, 2, "").c_str() : "-",
                goal.c_str(), met ? "met" : "missed");
    std::fflush(stdout);
}

} // namespace benchsupport
