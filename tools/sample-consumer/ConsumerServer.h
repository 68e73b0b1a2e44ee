#pragma once

#include "RequestLog.h"
#include "Scenario.h"
#include "Signer.h"

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

namespace orvelconsumer {

// The HTTP side of the sample consumer: checks the signature of every event, answers from the
// scenario, signs every answer, logs every request, and serves the admin API on loopback.
class ConsumerServer {
public:
    struct Settings {
        std::string host = "127.0.0.1";
        int port = 0; // 0: any free port
        std::string tlsCertFile;
        std::string tlsKeyFile;
    };

    ConsumerServer(Signer signer, Scenario scenario, std::ostream& logStream);
    ~ConsumerServer();
    ConsumerServer(const ConsumerServer&) = delete;
    ConsumerServer& operator=(const ConsumerServer&) = delete;

    enum class ListenResult { Listening, UnusableTlsFiles, CannotBind };

    // Creates the listening socket; error says why it failed.
    ListenResult Listen(const Settings& settings, std::string& error);

    int Port() const { return port_; }
    std::string BaseUrl() const;

    // Serves until Stop().
    void Run();
    // From any thread, also before Run(); wakes answers that are waiting out a delay.
    void Stop();

private:
    void HandleEvent(const httplib::Request& request, httplib::Response& response);
    void HandleSetScenario(const httplib::Request& request, httplib::Response& response);
    void HandleGetLog(const httplib::Request& request, httplib::Response& response);
    void HandleClearLog(const httplib::Request& request, httplib::Response& response);
    bool RefuseRemoteAdmin(const httplib::Request& request, httplib::Response& response) const;

    void SendAnswer(const httplib::Request& request, httplib::Response& response, Answer answer);
    // The answer's signature as its faults say (nullopt: no header); may rewrite its body.
    std::optional<std::string> SignAnswer(const httplib::Request& request, Answer& answer);
    // Sleeps, unless the server stops meanwhile.
    void Delay(int milliseconds);

    Signer signer_;
    std::mutex scenarioMutex_;
    Scenario scenario_;
    RequestLog log_;
    std::mutex answerMutex_;
    std::string lastAnswerBody_; // the body of the last answer sent

    std::unique_ptr<httplib::Server> server_;
    std::string host_;
    int port_ = 0;
    bool tls_ = false;

    std::mutex stopMutex_;
    std::condition_variable stopSignal_;
    bool stopping_ = false;
    std::atomic<bool> runFinished_{false};
};

} // namespace orvelconsumer
