#include "SampleConsumer.h"

#include "OrvCrypt.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {

namespace {

const char kGreeting[] = "orvel-sample-consumer listening on ";
// Generous: under sanitizers on a busy machine the consumer may take a while to come up.
constexpr auto kStartLimit = std::chrono::seconds(30);
constexpr auto kStopLimit = std::chrono::seconds(10);

std::unique_ptr<httplib::Client> AdminClient(const std::string& baseUrl) {
    auto client = std::make_unique<httplib::Client>(baseUrl.substr(0, baseUrl.size() - 1));
    // The test certificates are self-signed; the admin calls need no trust in them.
    client->enable_server_certificate_verification(false);
    client->set_connection_timeout(5);
    client->set_read_timeout(30);
    return client;
}

Json::Value ParseAdminAnswer(const std::string& text) {
    std::string error;
    std::optional<Json::Value> value = TryParseJson(text, error);
    if (!value)
        throw std::runtime_error("sample consumer: admin answer is no JSON: " + error);
    return *value;
}

std::string Describe(const httplib::Result& result, const std::string& what) {
    if (!result)
        return "sample consumer: " + what + " failed: " + httplib::to_string(result.error());
    return "sample consumer: " + what + " answered " + std::to_string(result->status) + ": " + result->body;
}

} // namespace

SampleConsumer::SampleConsumer(ConsumerOptions options) : options_(std::move(options)) {
    const char* executable = std::getenv("ORVEL_SAMPLE_CONSUMER");
    if (!executable || !*executable)
        throw std::runtime_error(
            "ORVEL_SAMPLE_CONSUMER is not set; it names the orvel-sample-consumer executable");

    std::vector<std::string> args = {executable, "--port", "0", "--secret", options_.secret};
    if (options_.demo) {
        args.push_back("--demo");
    } else {
        const std::string scenarioFile = folder_.File("scenario.json");
        WriteFile(scenarioFile, options_.scenarioJson);
        args.insert(args.end(), {"--scenario", scenarioFile});
    }
    if (!options_.tlsCertFile.empty())
        args.insert(args.end(), {"--tls-cert", options_.tlsCertFile, "--tls-key", options_.tlsKeyFile});
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    // Close-on-exec, so that no other child started meanwhile keeps the pipe open.
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        throw std::runtime_error("sample consumer: cannot create a pipe");
    const std::string errorFile = folder_.File("stderr.txt");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // The child gets the default signal handling, whatever the test process set up.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t noneBlocked;
    sigemptyset(&noneBlocked);
    posix_spawnattr_setsigmask(&attributes, &noneBlocked);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    const int spawned = posix_spawn(&pid_, executable, &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(pipeEnds[1]);
    output_ = pipeEnds[0];
    if (spawned != 0) {
        pid_ = -1;
        close(output_);
        throw std::runtime_error(std::string("sample consumer: cannot start ") + executable);
    }

    // The first line tells the port.
    std::string firstLine;
    std::string failure;
    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (failure.empty()) {
        const std::size_t newline = pending_.find('\n');
        if (newline != std::string::npos) {
            firstLine = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            failure = "did not say where it listens within " + std::to_string(kStartLimit.count()) + " s";
            break;
        }
        pollfd watch{output_, POLLIN, 0};
        const int ready = poll(&watch, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = read(output_, buffer, sizeof buffer);
        if (n > 0)
            pending_.append(buffer, static_cast<std::size_t>(n));
        else if (n == 0 || errno != EINTR)
            failure = "ended before it listened";
    }
    if (failure.empty() && firstLine.compare(0, sizeof kGreeting - 1, kGreeting) != 0)
        failure = "began with an unexpected line: " + firstLine;
    if (failure.empty()) {
        baseUrl_ = firstLine.substr(sizeof kGreeting - 1);
        const std::size_t colon = baseUrl_.rfind(':');
        port_ = colon == std::string::npos ? 0 : std::atoi(baseUrl_.c_str() + colon + 1);
        if (port_ <= 0 || baseUrl_.empty() || baseUrl_.back() != '/')
            failure = "gave an unreadable address: " + firstLine;
    }
    if (!failure.empty()) {
        const int status = Stop();
        std::string message = "sample consumer " + failure;
        if (WIFEXITED(status))
            message += " (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
        message += "; stderr: " + ReadFile(errorFile);
        throw std::runtime_error(message);
    }
    reader_ = std::thread([this] { ReadOutput(); });
}

SampleConsumer::~SampleConsumer() {
    // A consumer that crashed, hung or reported a sanitizer error fails the test that used it.
    const int status = Stop();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        const std::string how = WIFEXITED(status)     ? "exit status " + std::to_string(WEXITSTATUS(status))
                                : WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                                      : "wait status " + std::to_string(status);
        ADD_FAILURE() << "sample consumer did not stop cleanly (" << how
                      << "); stderr: " << ReadFile(folder_.File("stderr.txt"));
    }
}

int SampleConsumer::Stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + kStopLimit;
        int status = 0;
        pid_t done = 0;
        while ((done = waitpid(pid_, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (done == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
        waitStatus_ = status;
        pid_ = -1;
    }
    if (reader_.joinable())
        reader_.join(); // the pipe reports its end once the child is gone
    if (output_ >= 0) {
        close(output_);
        output_ = -1;
    }
    return waitStatus_;
}

void SampleConsumer::ReadOutput() {
    // Reading on keeps the consumer from ever blocking on a full pipe.
    {
        std::lock_guard<std::mutex> lock(linesMutex_);
        std::size_t newline;
        while ((newline = pending_.find('\n')) != std::string::npos) {
            lines_.push_back(pending_.substr(0, newline));
            pending_.erase(0, newline + 1);
        }
    }
    linesChanged_.notify_all();
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(output_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        {
            std::lock_guard<std::mutex> lock(linesMutex_);
            pending_.append(buffer, static_cast<std::size_t>(n));
            std::size_t newline;
            while ((newline = pending_.find('\n')) != std::string::npos) {
                lines_.push_back(pending_.substr(0, newline));
                pending_.erase(0, newline + 1);
            }
        }
        linesChanged_.notify_all();
    }
}

std::vector<std::string> SampleConsumer::OutputLines() const {
    std::lock_guard<std::mutex> lock(linesMutex_);
    return lines_;
}

bool SampleConsumer::WaitForOutputLines(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> lock(linesMutex_);
    return linesChanged_.wait_for(lock, limit, [&] { return lines_.size() >= count; });
}

void SampleConsumer::SetScenario(const std::string& scenarioJson) {
    const httplib::Result result =
        AdminClient(baseUrl_)->Put("/_admin/scenario", scenarioJson, "application/json");
    if (!result || result->status != 200)
        throw std::runtime_error(Describe(result, "PUT /_admin/scenario"));
}

std::vector<Json::Value> SampleConsumer::Log() const {
    const httplib::Result result = AdminClient(baseUrl_)->Get("/_admin/log");
    if (!result || result->status != 200)
        throw std::runtime_error(Describe(result, "GET /_admin/log"));
    const Json::Value entries = ParseAdminAnswer(result->body);
    if (!entries.isArray())
        throw std::runtime_error("sample consumer: GET /_admin/log gave no array: " + result->body);
    return std::vector<Json::Value>(entries.begin(), entries.end());
}

void SampleConsumer::ClearLog() {
    const httplib::Result result = AdminClient(baseUrl_)->Delete("/_admin/log");
    if (!result || result->status != 200)
        throw std::runtime_error(Describe(result, "DELETE /_admin/log"));
}

std::string Sign(const std::string& secret, const std::string& body) {
    const std::string key = OrvCrypt::Base64decode(secret);
    OrvCrypt::Bytes digest;
    OrvCrypt::HmacSha256(OrvCrypt::Bytes(key.begin(), key.end()), OrvCrypt::Bytes(body.begin(), body.end()),
                         digest);
    return OrvCrypt::Base64encode(digest);
}

} // namespace testsupport
