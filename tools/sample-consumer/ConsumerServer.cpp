#include "ConsumerServer.h"

#include "JsonText.h"
#include "RawResponse.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <thread>

namespace orvelconsumer {

namespace {

const char kJson[] = "application/json";
const char kSignatureHeader[] = "X-Orvel-Signature";

// The event name is the last segment of the path, so a base URL with a path of its own
// ("http://host:port/hooks/v1/") works as well.
std::string EventNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsLoopback(const std::string& address) {
    return address.compare(0, 4, "127.") == 0 || address == "::1" ||
           address.compare(0, 11, "::ffff:127.") == 0;
}

std::string SwapCase(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string ErrorBody(const std::string& errorCode, const std::string& message) {
    Json::Value body(Json::objectValue);
    body["error"]["errorCode"] = errorCode;
    body["error"]["message"] = message;
    return JsonText::Write(body);
}

void AdminAnswer(httplib::Response& response, int status, const Json::Value& body) {
    response.status = status;
    response.set_content(JsonText::Write(body), kJson);
}

void AdminError(httplib::Response& response, int status, const std::string& message) {
    Json::Value body(Json::objectValue);
    body["error"] = message;
    AdminAnswer(response, status, body);
}

} // namespace

ConsumerServer::ConsumerServer(Signer signer, Scenario scenario, std::ostream& logStream)
    : signer_(std::move(signer)), scenario_(std::move(scenario)), log_(logStream) {}

ConsumerServer::~ConsumerServer() = default;

ConsumerServer::ListenResult ConsumerServer::Listen(const Settings& settings, std::string& error) {
    tls_ = !settings.tlsCertFile.empty();
    if (tls_) {
        server_ =
            std::make_unique<httplib::SSLServer>(settings.tlsCertFile.c_str(), settings.tlsKeyFile.c_str());
        if (!server_->is_valid()) {
            error = "cannot use the TLS certificate " + settings.tlsCertFile + " with the key " +
                    settings.tlsKeyFile;
            return ListenResult::UnusableTlsFiles;
        }
    } else {
        server_ = std::make_unique<httplib::Server>();
    }
    // Without it an answer on a kept-alive connection waits ~40 ms for Nagle's algorithm.
    server_->set_tcp_nodelay(true);
    // Enough workers that slow answers (delays) do not hold up the others.
    server_->new_task_queue = [] { return new httplib::ThreadPool(32); };

    server_->Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("orvel-sample-consumer is running. Events are POSTed to /<eventName>.\n",
                             "text/plain");
    });
    server_->Put("/_admin/scenario", [this](const httplib::Request& request, httplib::Response& response) {
        HandleSetScenario(request, response);
    });
    server_->Get("/_admin/log", [this](const httplib::Request& request, httplib::Response& response) {
        HandleGetLog(request, response);
    });
    server_->Delete("/_admin/log", [this](const httplib::Request& request, httplib::Response& response) {
        HandleClearLog(request, response);
    });
    server_->Post(".*", [this](const httplib::Request& request, httplib::Response& response) {
        HandleEvent(request, response);
    });

    host_ = settings.host;
    if (settings.port == 0) {
        port_ = server_->bind_to_any_port(settings.host);
        if (port_ < 0) {
            error =
                "cannot listen on " + settings.host + " (no free port, or not an address of this machine)";
            return ListenResult::CannotBind;
        }
    } else {
        if (!server_->bind_to_port(settings.host, settings.port)) {
            error = "cannot listen on " + settings.host + ":" + std::to_string(settings.port) +
                    " (port in use, or not an address of this machine)";
            return ListenResult::CannotBind;
        }
        port_ = settings.port;
    }
    return ListenResult::Listening;
}

std::string ConsumerServer::BaseUrl() const {
    std::string host = host_;
    if (host == "0.0.0.0" || host == "::" || host.empty())
        host = "127.0.0.1";
    else if (host.find(':') != std::string::npos)
        host = "[" + host + "]";
    return std::string(tls_ ? "https" : "http") + "://" + host + ":" + std::to_string(port_) + "/";
}

void ConsumerServer::Run() {
    bool stopRequested = false;
    {
        std::lock_guard<std::mutex> lock(stopMutex_);
        stopRequested = stopping_;
    }
    if (!stopRequested && server_)
        server_->listen_after_bind();
    runFinished_ = true;
}

void ConsumerServer::Stop() {
    {
        std::lock_guard<std::mutex> lock(stopMutex_);
        stopping_ = true;
    }
    stopSignal_.notify_all();
    if (!server_)
        return;
    // A stop before the server loop has started would be lost: wait until it runs (or Run()
    // saw the request and returned).
    while (!runFinished_) {
        if (server_->is_running()) {
            server_->stop();
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ConsumerServer::Delay(int milliseconds) {
    if (milliseconds <= 0)
        return;
    std::unique_lock<std::mutex> lock(stopMutex_);
    stopSignal_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return stopping_; });
}

void ConsumerServer::HandleEvent(const httplib::Request& request, httplib::Response& response) {
    if (request.path.compare(0, 8, "/_admin/") == 0) {
        AdminError(response, 404, "unknown admin request: POST " + request.path);
        return;
    }
    RequestLog::Request entry;
    entry.event = EventNameOf(request.path);
    entry.path = request.path;
    entry.body = request.body;
    for (const auto& [name, value] : request.headers)
        if (name != "REMOTE_ADDR" && name != "REMOTE_PORT" && name != "LOCAL_ADDR" && name != "LOCAL_PORT")
            entry.headers[name] = value;

    Answer answer;
    const std::string signature = request.get_header_value(kSignatureHeader);
    entry.signatureValid = !signature.empty() && signer_.Matches(request.body, signature);
    Json::Value parsed;
    std::string ignored;
    const bool isJson = JsonText::Parse(request.body, parsed, ignored);

    if (entry.event == "error") {
        const Json::Value code = isJson ? Scenario::ValueAt(parsed, "error.errorCode") : Json::Value();
        entry.errorCode = code.isString() ? code.asString() : std::string();
    }

    if (!entry.signatureValid) {
        answer.status = 401;
        answer.body =
            signature.empty()
                ? ErrorBody("INVALID_SIGNATURE", "The X-Orvel-Signature header is missing or empty.")
                : ErrorBody("INVALID_SIGNATURE",
                            "The X-Orvel-Signature header does not match the signature of the body.");
    } else if (entry.event != "error") { // error reports are always answered 200 {}
        std::lock_guard<std::mutex> lock(scenarioMutex_);
        answer = scenario_.NextAnswer(entry.event, isJson ? parsed : Json::Value());
    }
    entry.status = answer.status;
    log_.Add(entry);
    Delay(answer.faults.delayMs);
    SendAnswer(request, response, answer);
}

std::optional<std::string> ConsumerServer::SignAnswer(const httplib::Request& request, Answer& answer) {
    std::string previous;
    {
        std::lock_guard<std::mutex> lock(answerMutex_);
        previous = lastAnswerBody_;
    }
    const std::string& body = answer.body;
    using Signature = Faults::Signature;
    switch (answer.faults.signature) {
    case Signature::Correct:
        return signer_.Sign(body);
    case Signature::Missing:
        return std::nullopt;
    case Signature::Empty:
        return std::string();
    case Signature::Wrong:
        return signer_.WrongSignature(body);
    case Signature::OtherCase:
        return SwapCase(signer_.Sign(body));
    case Signature::SecretText:
        return signer_.SignWithSecretText(body);
    case Signature::Hex:
        return signer_.SignHex(body);
    case Signature::UrlSafe: {
        std::string signature = signer_.Sign(body);
        std::replace(signature.begin(), signature.end(), '+', '-');
        std::replace(signature.begin(), signature.end(), '/', '_');
        return signature;
    }
    case Signature::NoPadding: {
        std::string signature = signer_.Sign(body);
        signature.erase(signature.find_last_not_of('=') + 1);
        return signature;
    }
    case Signature::Prefix:
        return "sha256=" + signer_.Sign(body);
    case Signature::RequestBody:
        return signer_.Sign(request.body);
    case Signature::PrettyPrinted:
    case Signature::KeyOrder: {
        Json::Value document;
        std::string ignored;
        if (!JsonText::Parse(body, document, ignored))
            return signer_.Sign(body);
        if (answer.faults.signature == Signature::PrettyPrinted)
            return signer_.Sign(JsonText::WritePretty(document));
        // Sent in one order, signed in another: the answer goes out with its keys reversed.
        const std::string signedBody = JsonText::Write(document);
        answer.body = JsonText::WriteKeysReversed(document);
        return signer_.Sign(signedBody);
    }
    case Signature::TrailingNewline:
        return signer_.Sign(body + "\n");
    case Signature::TrailingCrLf:
        return signer_.Sign(body + "\r\n");
    case Signature::ByteOrderMark:
        return signer_.Sign("\xEF\xBB\xBF" + body);
    case Signature::EmptyBody:
        return signer_.Sign("");
    case Signature::PreviousAnswer:
        return signer_.Sign(previous);
    }
    return std::nullopt;
}

void ConsumerServer::SendAnswer(const httplib::Request& request, httplib::Response& response, Answer answer) {
    const std::optional<std::string> signature = SignAnswer(request, answer);
    // Every answer counts as the previous one for the next, error reports' answers included.
    {
        std::lock_guard<std::mutex> lock(answerMutex_);
        lastAnswerBody_ = answer.body;
    }
    // Cut off after half the body; an empty body still announces one byte, so something is missing.
    const std::size_t announced =
        answer.faults.closeMidAnswer ? std::max<std::size_t>(answer.body.size(), 1) : answer.body.size();
    const std::size_t sent = answer.faults.closeMidAnswer ? answer.body.size() / 2 : answer.body.size();

    if (answer.faults.omitContentType) {
        std::string head = "HTTP/1.1 " + std::to_string(answer.status) + " " +
                           RawResponse::ReasonPhrase(answer.status) + "\r\n";
        head += "Content-Length: " + std::to_string(announced) + "\r\n";
        if (signature)
            head += std::string(kSignatureHeader) + ": " + *signature + "\r\n";
        head += "Connection: close\r\n\r\n";
        if (RawResponse::Send(request, head + answer.body.substr(0, sent)))
            return;
        std::cerr << "orvel-sample-consumer: could not write an answer without Content-Type; "
                     "sending an empty Content-Type instead\n";
    }

    response.status = answer.status;
    if (signature)
        response.set_header(kSignatureHeader, *signature);
    const std::string contentType = answer.faults.omitContentType ? std::string() : answer.faults.contentType;
    if (answer.faults.closeMidAnswer) {
        const std::string body = answer.body;
        response.set_content_provider(
            announced, contentType, [body, sent](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                if (offset < sent)
                    sink.write(body.data() + offset, sent - offset);
                return false; // ends the connection with the rest of the body missing
            });
        return;
    }
    response.set_content(answer.body, contentType);
}

bool ConsumerServer::RefuseRemoteAdmin(const httplib::Request& request, httplib::Response& response) const {
    if (IsLoopback(request.remote_addr))
        return false;
    AdminError(response, 403, "the admin API answers on loopback only");
    return true;
}

void ConsumerServer::HandleSetScenario(const httplib::Request& request, httplib::Response& response) {
    if (RefuseRemoteAdmin(request, response))
        return;
    try {
        Scenario scenario = Scenario::Parse(request.body);
        std::lock_guard<std::mutex> lock(scenarioMutex_);
        scenario_ = std::move(scenario);
    } catch (const ScenarioError& error) {
        AdminError(response, 400, error.what());
        return;
    }
    AdminAnswer(response, 200, Json::Value(Json::objectValue));
}

void ConsumerServer::HandleGetLog(const httplib::Request& request, httplib::Response& response) {
    if (RefuseRemoteAdmin(request, response))
        return;
    AdminAnswer(response, 200, log_.Entries());
}

void ConsumerServer::HandleClearLog(const httplib::Request& request, httplib::Response& response) {
    if (RefuseRemoteAdmin(request, response))
        return;
    log_.Clear();
    AdminAnswer(response, 200, Json::Value(Json::objectValue));
}

} // namespace orvelconsumer
