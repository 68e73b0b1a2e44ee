#include "HTTPResponseParser.h"

#include <cstddef>
#include <string_view>
#include <utility>

namespace OrvCurl {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

char ToLowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ToLowerAscii(a[i]) != ToLowerAscii(b[i]))
            return false;
    return true;
}

// The characters a header name may consist of (an HTTP token).
bool IsTokenChar(char ch) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= '0' && c <= '9')
        return true;
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
        return true;
    switch (c) {
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '*':
    case '+':
    case '-':
    case '.':
    case '^':
    case '_':
    case '`':
    case '|':
    case '~':
        return true;
    default:
        return false;
    }
}

// The line that begins at start, without its end ("\r\n" or a bare "\n"); next receives where
// the following line begins.
std::string_view LineAt(std::string_view block, std::size_t start, std::size_t& next) {
    std::size_t end = block.find('\n', start);
    if (end == std::string_view::npos)
        end = block.size();
    next = end + 1;
    std::size_t stop = end;
    if (stop > start && block[stop - 1] == '\r')
        --stop;
    return block.substr(start, stop - start);
}

bool StartsWithHttp(std::string_view line) {
    return line.compare(0, 5, "HTTP/") == 0;
}

bool IsDigitText(std::string_view text) {
    for (char c : text)
        if (!IsDigit(c))
            return false;
    return true;
}

// "HTTP/1.1 200 OK", "HTTP/1.0 404", "HTTP/2 200": the version, a blank, three digits, then
// nothing or a blank and a reason phrase that may be empty or hold blanks.
bool ParseStatusLine(std::string_view line, int& status, std::string& reason) {
    if (!StartsWithHttp(line))
        return false;
    std::size_t pos = 5;
    const std::size_t majorStart = pos;
    while (pos < line.size() && IsDigit(line[pos]))
        ++pos;
    if (pos == majorStart)
        return false;
    if (pos < line.size() && line[pos] == '.') {
        ++pos;
        const std::size_t minorStart = pos;
        while (pos < line.size() && IsDigit(line[pos]))
            ++pos;
        if (pos == minorStart)
            return false;
    }
    if (pos >= line.size() || line[pos] != ' ')
        return false;
    ++pos;
    if (line.size() - pos < 3 || !IsDigitText(line.substr(pos, 3)))
        return false;
    const int code = (line[pos] - '0') * 100 + (line[pos + 1] - '0') * 10 + (line[pos + 2] - '0');
    if (code < 100)
        return false;
    pos += 3;
    if (pos < line.size() && line[pos] != ' ')
        return false;
    status = code;
    reason = pos < line.size() ? std::string(line.substr(pos + 1)) : std::string();
    return true;
}

} // namespace

// Works on views of the block: an answer's headers are read on the way from the consumer to the
// window, where every copy counts.
bool HTTPResponseParser::Parse(const std::string& headerBlock, std::string body) {
    status_ = -1;
    reasonPhrase_.clear();
    headers_.clear();
    body_ = std::move(body);
    const std::string_view block = headerBlock;

    // Each block begins after an empty line (or at the start). Interim 1xx responses come
    // first, so the last block that begins with "HTTP/" is the final response; blocks without a
    // status line (trailers) are not part of it.
    std::size_t finalStart = std::string_view::npos;
    bool atBlockStart = true;
    for (std::size_t start = 0, next = 0; start < block.size(); start = next) {
        const std::string_view line = LineAt(block, start, next);
        if (line.empty()) {
            atBlockStart = true;
            continue;
        }
        if (atBlockStart && StartsWithHttp(line))
            finalStart = start;
        atBlockStart = false;
    }
    if (finalStart == std::string_view::npos)
        return false;

    std::size_t next = 0;
    int status = -1;
    std::string reason;
    if (!ParseStatusLine(LineAt(block, finalStart, next), status, reason))
        return false;

    for (std::size_t start = next; start < block.size(); start = next) {
        const std::string_view line = LineAt(block, start, next);
        if (line.empty())
            break;
        // Obsolete line folding continues the previous header; such continuations are dropped.
        if (IsBlank(line[0]))
            continue;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0)
            continue;
        const std::string_view name = line.substr(0, colon);
        bool validName = true;
        for (std::size_t k = 0; k < colon && validName; ++k)
            validName = IsTokenChar(name[k]);
        if (!validName)
            continue;
        std::size_t valueStart = colon + 1;
        std::size_t valueEnd = line.size();
        while (valueStart < valueEnd && IsBlank(line[valueStart]))
            ++valueStart;
        while (valueEnd > valueStart && IsBlank(line[valueEnd - 1]))
            --valueEnd;
        // One entry per name regardless of letter case: a repeated header keeps its last value
        // (under its last spelling). An answer has a handful of headers: a look at each is enough.
        for (auto it = headers_.begin(); it != headers_.end(); ++it) {
            if (EqualsIgnoringCase(it->first, name)) {
                headers_.erase(it);
                break;
            }
        }
        headers_.emplace(std::string(name), std::string(line.substr(valueStart, valueEnd - valueStart)));
    }

    status_ = status;
    reasonPhrase_ = std::move(reason);
    return true;
}

std::string HTTPResponseParser::GetHeader(const std::string& name) const {
    const auto exact = headers_.find(name);
    if (exact != headers_.end())
        return exact->second;
    for (const auto& entry : headers_)
        if (EqualsIgnoringCase(entry.first, name))
            return entry.second;
    return std::string();
}

} // namespace OrvCurl
