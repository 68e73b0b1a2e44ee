#include "HTTPResponseParser.h"

#include <cstddef>
#include <utility>
#include <vector>

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

std::string ToLowerAscii(std::string text) {
    for (char& c : text)
        c = ToLowerAscii(c);
    return text;
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
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

// Splits the block into lines; "\r\n" and a bare "\n" both end a line.
std::vector<std::string> SplitLines(const std::string& block) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < block.size()) {
        std::size_t end = block.find('\n', start);
        if (end == std::string::npos)
            end = block.size();
        std::size_t stop = end;
        if (stop > start && block[stop - 1] == '\r')
            --stop;
        lines.emplace_back(block, start, stop - start);
        start = end + 1;
    }
    return lines;
}

// "HTTP/1.1 200 OK", "HTTP/1.0 404", "HTTP/2 200": the version, a blank, three digits, then
// nothing or a blank and a reason phrase that may be empty or hold blanks.
bool ParseStatusLine(const std::string& line, int& status, std::string& reason) {
    static const std::string prefix = "HTTP/";
    if (line.compare(0, prefix.size(), prefix) != 0)
        return false;
    std::size_t pos = prefix.size();
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
    if (line.size() - pos < 3 || !IsDigit(line[pos]) || !IsDigit(line[pos + 1]) || !IsDigit(line[pos + 2]))
        return false;
    const int code = (line[pos] - '0') * 100 + (line[pos + 1] - '0') * 10 + (line[pos + 2] - '0');
    if (code < 100)
        return false;
    pos += 3;
    if (pos < line.size() && line[pos] != ' ')
        return false;
    status = code;
    reason = pos < line.size() ? line.substr(pos + 1) : std::string();
    return true;
}

} // namespace

bool HTTPResponseParser::Parse(const std::string& headerBlock, std::string body) {
    status_ = -1;
    reasonPhrase_.clear();
    headers_.clear();
    body_ = std::move(body);

    const std::vector<std::string> lines = SplitLines(headerBlock);

    // Each block begins after an empty line (or at the start). Interim 1xx responses come
    // first, so the last block that begins with "HTTP/" is the final response; blocks without a
    // status line (trailers) are not part of it.
    std::size_t finalStart = lines.size();
    bool atBlockStart = true;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].empty()) {
            atBlockStart = true;
            continue;
        }
        if (atBlockStart && lines[i].compare(0, 5, "HTTP/") == 0)
            finalStart = i;
        atBlockStart = false;
    }
    if (finalStart == lines.size())
        return false;

    int status = -1;
    std::string reason;
    std::map<std::string, std::string> spellingByLowerName;
    if (!ParseStatusLine(lines[finalStart], status, reason))
        return false;

    for (std::size_t i = finalStart + 1; i < lines.size() && !lines[i].empty(); ++i) {
        const std::string& line = lines[i];
        // Obsolete line folding continues the previous header; such continuations are dropped.
        if (IsBlank(line[0]))
            continue;
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0)
            continue;
        bool validName = true;
        for (std::size_t k = 0; k < colon && validName; ++k)
            validName = IsTokenChar(line[k]);
        if (!validName)
            continue;
        std::size_t valueStart = colon + 1;
        std::size_t valueEnd = line.size();
        while (valueStart < valueEnd && IsBlank(line[valueStart]))
            ++valueStart;
        while (valueEnd > valueStart && IsBlank(line[valueEnd - 1]))
            --valueEnd;
        std::string name = line.substr(0, colon);
        // One entry per name regardless of letter case: a repeated header keeps its last value
        // (under its last spelling).
        auto& spelling = spellingByLowerName[ToLowerAscii(name)];
        if (!spelling.empty())
            headers_.erase(spelling);
        spelling = name;
        headers_[std::move(name)] = line.substr(valueStart, valueEnd - valueStart);
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
