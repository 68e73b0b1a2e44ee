#pragma once

#include <json/value.h>

#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

namespace orvelconsumer {

// One line of compact JSON per request on the given stream (flushed at once, so a script or a
// test sees it while the consumer runs), and the same entries kept for the admin API.
class RequestLog {
public:
    struct Request {
        std::string event;
        std::string path;
        bool signatureValid = false;
        int status = 0;
        std::optional<std::string> errorCode; // error reports only
        std::map<std::string, std::string> headers;
        std::string body;
    };

    explicit RequestLog(std::ostream& out) : out_(out) {}

    // Numbers the request (1, 2, … since start, also across Clear), writes its line and keeps it.
    void Add(const Request& request);

    Json::Value Entries() const; // a JSON array, oldest first
    void Clear();

    // The line written for an entry: keys in a fixed order (n, event, path, signatureValid,
    // status, errorCode, headers, body) for people reading along.
    static std::string Line(const Json::Value& entry);

private:
    std::ostream& out_;
    mutable std::mutex mutex_;
    Json::Int64 count_ = 0;
    Json::Value entries_{Json::arrayValue};
};

} // namespace orvelconsumer
