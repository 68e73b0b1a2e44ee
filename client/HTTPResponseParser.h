#pragma once

#include <map>
#include <string>

namespace OrvCurl {

// The consumer's HTTP response as received: status, reason phrase, headers and body.
// Headers are kept in ascending byte order of their names; a header that occurs more than once
// keeps its last value. GetHeader matches names regardless of letter case.
class HTTPResponseParser {
public:
    HTTPResponseParser() = default;

    // Reads a raw header block (the status line and the header lines, as received, possibly
    // several blocks when interim 1xx responses came first: the last one counts) and keeps the
    // body. Returns false when the block holds no valid status line; the result stays -1.
    bool Parse(const std::string& headerBlock, std::string body);

    // The HTTP status code, -1 when there is no HTTP response.
    int GetResult() const { return status_; }
    const std::string& GetReasonPhrase() const { return reasonPhrase_; }
    const std::map<std::string, std::string>& GetHeaders() const { return headers_; }
    // The value of a header, empty when absent.
    std::string GetHeader(const std::string& name) const;
    const std::string& GetBody() const { return body_; }

private:
    int status_ = -1;
    std::string reasonPhrase_;
    std::map<std::string, std::string> headers_;
    std::string body_;
};

} // namespace OrvCurl
