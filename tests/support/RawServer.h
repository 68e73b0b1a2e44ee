#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// One request as it arrived: the request line's path, the header block and the body.
struct RawRequest {
    std::string path;
    std::string head;
    std::string body;
};

// An HTTP server on loopback that answers with exactly the bytes a test gives it, for answers
// no well-behaved server library would send (garbage status lines, endless headers, bytes that
// are no UTF-8). Connections are served one after the other on a thread of its own: each
// request is read whole, answered by the handler, and the connection is closed.
class RawServer {
public:
    class Connection {
    public:
        const RawRequest& Request() const { return request_; }
        // Sends bytes; false once the peer has gone.
        bool Send(const std::string& bytes);
        // Answers nothing and returns once the peer has closed the connection (or after the
        // server's half-minute limit): a consumer stopped at a breakpoint.
        void WaitUntilPeerCloses();

    private:
        friend class RawServer;
        Connection(int socket, RawRequest request) : socket_(socket), request_(std::move(request)) {}
        int socket_;
        RawRequest request_;
    };
    using Handler = std::function<void(Connection&)>;

    explicit RawServer(Handler handler);
    // Every request gets the same answer.
    explicit RawServer(const std::string& answer);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    std::string BaseUrl() const; // "http://127.0.0.1:PORT/"
    // The requests served so far, oldest first.
    std::vector<RawRequest> Requests() const;

    // A complete answer: status line, the given header lines (each "Name: value"), a
    // Content-Length, "Connection: close" and the body.
    static std::string Answer(const std::string& statusLine, const std::vector<std::string>& headers,
                              const std::string& body);

private:
    void Serve();

    Handler handler_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<RawRequest> requests_;
};

} // namespace testsupport
