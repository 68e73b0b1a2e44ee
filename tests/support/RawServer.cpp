#include "RawServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <stdexcept>

namespace testsupport {

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The announced body length of a request head; 0 without one.
std::size_t ContentLength(const std::string& head) {
    const std::string lower = Lower(head);
    const std::size_t at = lower.find("\r\ncontent-length:");
    if (at == std::string::npos)
        return 0;
    return static_cast<std::size_t>(std::strtoull(head.c_str() + at + 17, nullptr, 10));
}

// Reads one request; an incomplete one is returned as far as it came.
RawRequest ReadRequest(int socket) {
    std::string data;
    char buffer[16384];
    std::size_t headEnd = std::string::npos;
    std::size_t wanted = 0;
    for (;;) {
        if (headEnd == std::string::npos) {
            headEnd = data.find("\r\n\r\n");
            if (headEnd != std::string::npos)
                wanted = headEnd + 4 + ContentLength(data.substr(0, headEnd + 2));
        }
        if (headEnd != std::string::npos && data.size() >= wanted)
            break;
        const ssize_t got = recv(socket, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        data.append(buffer, static_cast<std::size_t>(got));
    }
    RawRequest request;
    if (headEnd == std::string::npos) {
        request.head = data;
    } else {
        request.head = data.substr(0, headEnd + 4);
        request.body = data.substr(headEnd + 4);
    }
    // "POST /path HTTP/1.1"
    const std::size_t pathStart = request.head.find(' ');
    if (pathStart != std::string::npos) {
        const std::size_t pathEnd = request.head.find(' ', pathStart + 1);
        if (pathEnd != std::string::npos)
            request.path = request.head.substr(pathStart + 1, pathEnd - pathStart - 1);
    }
    return request;
}

void SetTimeouts(int socket) {
    // A test that goes wrong must not leave this thread waiting for ever.
    timeval limit{};
    limit.tv_sec = 30;
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

} // namespace

bool RawServer::Connection::Send(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(socket_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

void RawServer::Connection::WaitUntilPeerCloses() {
    char buffer[4096];
    while (recv(socket_, buffer, sizeof buffer, 0) > 0) {
    }
}

RawServer::RawServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        throw std::runtime_error("RawServer: no socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 8) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(listener_);
        throw std::runtime_error("RawServer: cannot listen on loopback");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

RawServer::RawServer(const std::string& answer)
    : RawServer([answer](Connection& connection) { connection.Send(answer); }) {}

RawServer::~RawServer() {
    // Wakes the accept of the serving thread.
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
}

std::string RawServer::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

std::vector<RawRequest> RawServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::string RawServer::Answer(const std::string& statusLine, const std::vector<std::string>& headers,
                              const std::string& body) {
    std::string answer = statusLine + "\r\n";
    for (const std::string& header : headers)
        answer += header + "\r\n";
    answer += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    return answer + body;
}

void RawServer::Serve() {
    for (;;) {
        const int socket = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0)
            return;
        SetTimeouts(socket);
        Connection connection(socket, ReadRequest(socket));
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(connection.Request());
        }
        handler_(connection);
        // The peer reads what was sent up to here, then the end of the connection.
        shutdown(socket, SHUT_WR);
        close(socket);
    }
}

} // namespace testsupport
