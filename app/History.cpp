#include "History.h"

#include "OrvLib.h"
#include "ToJSON.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// ---- writing a line -------------------------------------------------------------------------
// JSON, keys in a fixed order with the list's fields first. Bytes from 0x80 up are written as
// they are, so a body that is no valid UTF-8 comes back byte for byte.

using Tarn::AppendJsonString;

void AppendKey(std::string& out, const char* key) {
    out += out.size() > 1 ? ",\"" : "\"";
    out += key;
    out += "\":";
}

void AppendString(std::string& out, const char* key, const std::string& value) {
    AppendKey(out, key);
    AppendJsonString(out, value);
}

// Locale-independent and shortest: the same number comes back.
void AppendNumber(std::string& out, const char* key, double value) {
    char text[32];
    const std::to_chars_result written = std::to_chars(text, text + sizeof text, value);
    AppendKey(out, key);
    out.append(text, written.ptr);
}

void AppendInteger(std::string& out, const char* key, long long value) {
    AppendKey(out, key);
    out += std::to_string(value);
}

void AppendHeaders(std::string& out, const char* key, const std::map<std::string, std::string>& headers) {
    AppendKey(out, key);
    out += '{';
    bool first = true;
    for (const auto& header : headers) {
        if (!first)
            out += ',';
        first = false;
        AppendJsonString(out, header.first);
        out += ':';
        AppendJsonString(out, header.second);
    }
    out += '}';
}

const char* KindText(ExchangeKind kind) {
    switch (kind) {
    case ExchangeKind::ErrorReport:
        return "error report";
    case ExchangeKind::Resend:
        return "resend";
    case ExchangeKind::Event:
        break;
    }
    return "event";
}

const char* ResultKey(CheckResult result) {
    switch (result) {
    case CheckResult::Pass:
        return "pass";
    case CheckResult::Fail:
        return "fail";
    case CheckResult::NotChecked:
        return "not checked";
    case CheckResult::Info:
        break;
    }
    return "info";
}

// ---- reading a line -------------------------------------------------------------------------

// Reads the JSON of a line as HistoryLine writes it (and any JSON of that shape). Everything
// fails softly: a damaged line makes ok false.
class LineReader {
public:
    explicit LineReader(const std::string& line) : p_(line.data()), end_(line.data() + line.size()) {}

    bool ok = true;

    bool AtEnd() {
        SkipBlanks();
        return p_ == end_;
    }

    // Calls onKey(key) for each member of the object that starts here; onKey reads the value
    // (or skips it with SkipValue).
    template <typename OnKey> void ReadObject(OnKey onKey) {
        if (!Expect('{'))
            return;
        if (Peek() == '}') {
            ++p_;
            return;
        }
        std::string key;
        while (ok) {
            ReadString(&key);
            if (!Expect(':'))
                return;
            onKey(key);
            if (!ok)
                return;
            const char next = Peek();
            ++p_;
            if (next == '}')
                return;
            if (next != ',')
                ok = false;
        }
    }

    template <typename OnItem> void ReadArray(OnItem onItem) {
        if (!Expect('['))
            return;
        if (Peek() == ']') {
            ++p_;
            return;
        }
        while (ok) {
            onItem();
            if (!ok)
                return;
            const char next = Peek();
            ++p_;
            if (next == ']')
                return;
            if (next != ',')
                ok = false;
        }
    }

    // out nullptr skips the string.
    void ReadString(std::string* out) {
        if (!Expect('"'))
            return;
        if (out)
            out->clear();
        // memchr: a body of megabytes is passed over at memory speed. The next quote is looked
        // for again only once passed (an escaped one), so many escapes cost no second pass.
        const char* quote = nullptr;
        for (;;) {
            if (!quote || quote < p_)
                quote = Find('"', end_);
            const char* stop = Find('\\', quote);
            if (stop == end_) {
                ok = false;
                return;
            }
            if (out)
                out->append(p_, stop);
            p_ = stop + 1;
            if (*stop == '"')
                return;
            if (p_ == end_) {
                ok = false;
                return;
            }
            const char escaped = *p_++;
            char plain = 0;
            switch (escaped) {
            case '"':
            case '\\':
            case '/':
                plain = escaped;
                break;
            case 'n':
                plain = '\n';
                break;
            case 'r':
                plain = '\r';
                break;
            case 't':
                plain = '\t';
                break;
            case 'b':
                plain = '\b';
                break;
            case 'f':
                plain = '\f';
                break;
            case 'u':
                ReadCodePoint(out);
                continue;
            default:
                ok = false;
                return;
            }
            if (out)
                *out += plain;
        }
    }

    double ReadNumber() {
        SkipBlanks();
        double value = 0;
        const std::from_chars_result read = std::from_chars(p_, end_, value);
        if (read.ec != std::errc() || read.ptr == p_) {
            ok = false;
            return 0;
        }
        p_ = read.ptr;
        return value;
    }

    long long ReadInteger() {
        SkipBlanks();
        long long value = 0;
        const std::from_chars_result read = std::from_chars(p_, end_, value);
        if (read.ec != std::errc() || read.ptr == p_) {
            ok = false;
            return 0;
        }
        p_ = read.ptr;
        return value;
    }

    bool ReadBool() {
        SkipBlanks();
        if (Take("true"))
            return true;
        if (!Take("false"))
            ok = false;
        return false;
    }

    void ReadHeaders(std::map<std::string, std::string>& headers) {
        ReadObject([&](const std::string& name) { ReadString(&headers[name]); });
    }

    void SkipValue() {
        switch (Peek()) {
        case '{':
            ReadObject([this](const std::string&) { SkipValue(); });
            break;
        case '[':
            ReadArray([this] { SkipValue(); });
            break;
        case '"':
            ReadString(nullptr);
            break;
        case 't':
        case 'f':
            ReadBool();
            break;
        default:
            ReadNumber();
        }
    }

private:
    // The first c from here to before limit; limit when there is none.
    const char* Find(char c, const char* limit) const {
        const void* found = std::memchr(p_, c, static_cast<std::size_t>(limit - p_));
        return found ? static_cast<const char*>(found) : limit;
    }
    void SkipBlanks() {
        while (p_ != end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\r'))
            ++p_;
    }
    char Peek() {
        SkipBlanks();
        if (p_ == end_) {
            ok = false;
            return 0;
        }
        return *p_;
    }
    bool Expect(char c) {
        if (!ok || Peek() != c) {
            ok = false;
            return false;
        }
        ++p_;
        return true;
    }
    bool Take(const char* word) {
        const std::size_t length = std::strlen(word);
        if (static_cast<std::size_t>(end_ - p_) < length || std::memcmp(p_, word, length) != 0)
            return false;
        p_ += length;
        return true;
    }
    unsigned ReadHex4() {
        if (end_ - p_ < 4) {
            ok = false;
            return 0;
        }
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = *p_++;
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= static_cast<unsigned>(c - 'A' + 10);
            else
                ok = false;
        }
        return value;
    }
    void ReadCodePoint(std::string* out) {
        unsigned code = ReadHex4();
        if (code >= 0xD800 && code < 0xDC00 && end_ - p_ >= 6 && p_[0] == '\\' && p_[1] == 'u') {
            p_ += 2;
            const unsigned low = ReadHex4();
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        if (!out || !ok)
            return;
        auto put = [out](unsigned byte) { *out += static_cast<char>(byte); };
        if (code < 0x80) {
            put(code);
        } else if (code < 0x800) {
            put(0xC0 | (code >> 6));
            put(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            put(0xE0 | (code >> 12));
            put(0x80 | ((code >> 6) & 0x3F));
            put(0x80 | (code & 0x3F));
        } else {
            put(0xF0 | (code >> 18));
            put(0x80 | ((code >> 12) & 0x3F));
            put(0x80 | ((code >> 6) & 0x3F));
            put(0x80 | (code & 0x3F));
        }
    }

    const char* p_;
    const char* end_;
};

ExchangeKind KindOf(const std::string& text) {
    if (text == "error report")
        return ExchangeKind::ErrorReport;
    if (text == "resend")
        return ExchangeKind::Resend;
    return ExchangeKind::Event;
}

CheckResult ResultOf(const std::string& text) {
    for (CheckResult result : {CheckResult::Pass, CheckResult::Fail, CheckResult::NotChecked})
        if (text == ResultKey(result))
            return result;
    return CheckResult::Info;
}

// Reads a line into record; headers and checks only when whole. False for a damaged line.
bool ReadLine(const std::string& line, ExchangeRecord& record, bool whole) {
    LineReader reader(line);
    std::string text;
    bool hasTime = false, hasVerdict = false;
    reader.ReadObject([&](const std::string& key) {
        if (key == "time") {
            reader.ReadString(&record.time);
            hasTime = true;
        } else if (key == "kind") {
            reader.ReadString(&text);
            record.kind = KindOf(text);
        } else if (key == "event") {
            reader.ReadString(&record.eventName);
        } else if (key == "counter") {
            record.eventCounter = static_cast<int64_t>(reader.ReadInteger());
        } else if (key == "httpStatus") {
            record.httpStatus = static_cast<int>(reader.ReadInteger());
        } else if (key == "reason") {
            reader.ReadString(&record.reasonPhrase);
        } else if (key == "curlCode") {
            record.curlCode = static_cast<short>(reader.ReadInteger());
        } else if (key == "verdict") {
            reader.ReadString(&record.verdict);
            hasVerdict = true;
        } else if (key == "totalMs") {
            record.timing.totalMs = reader.ReadNumber();
        } else if (key == "requestBody") {
            reader.ReadString(&record.requestBody);
        } else if (key == "responseBody") {
            reader.ReadString(&record.responseBody);
        } else if (!whole) {
            reader.SkipValue();
        } else if (key == "url") {
            reader.ReadString(&record.url);
        } else if (key == "selfSigned") {
            record.selfSigned = reader.ReadBool();
        } else if (key == "transportError") {
            reader.ReadString(&record.transportError);
        } else if (key == "requestHeaders") {
            reader.ReadHeaders(record.requestHeaders);
        } else if (key == "responseHeaders") {
            reader.ReadHeaders(record.responseHeaders);
        } else if (key == "checks") {
            reader.ReadArray([&] {
                ExchangeCheck check;
                reader.ReadObject([&](const std::string& field) {
                    if (field == "check") {
                        reader.ReadString(&check.check);
                    } else if (field == "result") {
                        reader.ReadString(&text);
                        check.result = ResultOf(text);
                    } else if (field == "detail") {
                        reader.ReadString(&check.detail);
                    } else {
                        reader.SkipValue();
                    }
                });
                record.checks.push_back(std::move(check));
            });
        } else if (key == "nameLookupMs") {
            record.timing.nameLookupMs = reader.ReadNumber();
        } else if (key == "connectMs") {
            record.timing.connectMs = reader.ReadNumber();
        } else if (key == "tlsMs") {
            record.timing.tlsMs = reader.ReadNumber();
        } else if (key == "firstByteMs") {
            record.timing.firstByteMs = reader.ReadNumber();
        } else if (key == "bytesSent") {
            record.timing.bytesSent = static_cast<uint64_t>(reader.ReadInteger());
        } else if (key == "bytesReceived") {
            record.timing.bytesReceived = static_cast<uint64_t>(reader.ReadInteger());
        } else {
            reader.SkipValue();
        }
    });
    return reader.ok && reader.AtEnd() && hasTime && hasVerdict;
}

// Without a branch, so that a loop over a text is vectorised.
char LowerAscii(char c) {
    return static_cast<char>(c + (static_cast<unsigned char>(c - 'A') < 26 ? 'a' - 'A' : 0));
}

// Writes text in lower case to out; returns the end of what it wrote.
char* CopyLowered(const std::string& text, char* out) {
    const char* in = text.data();
    const std::size_t size = text.size();
    for (std::size_t i = 0; i < size; ++i)
        out[i] = LowerAscii(in[i]);
    return out + size;
}

std::string Lowered(const std::string& text) {
    std::string lowered(text.size(), '\0');
    CopyLowered(text, lowered.data());
    return lowered;
}

std::string EventLabel(ExchangeKind kind, const std::string& eventName) {
    switch (kind) {
    case ExchangeKind::ErrorReport:
        return "error (" + eventName + ")";
    case ExchangeKind::Resend:
        return eventName + " (resend)";
    case ExchangeKind::Event:
        break;
    }
    return eventName;
}

// Single quotes carry any byte but NUL; a quote itself closes, escapes and reopens them.
std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

// A printf format that prints text: '%' and '\' are escaped, NUL and the other control bytes
// written as octal escapes.
std::string PrintfFormat(const std::string& text) {
    std::string format;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '%') {
            format += "%%";
        } else if (c == '\\') {
            format += "\\\\";
        } else if (c < 0x20 || c == 0x7F) {
            char octal[8];
            std::snprintf(octal, sizeof octal, "\\%03o", c);
            format += octal;
        } else {
            format += ch;
        }
    }
    return format;
}

std::string HeaderBlock(const std::map<std::string, std::string>& headers) {
    std::string block;
    for (const auto& header : headers)
        block += header.first + ": " + header.second + "\r\n";
    return block;
}

void WriteAll(int fd, const std::string& text, const std::string& path) {
    if (!orvlib::WriteAll(fd, text))
        throw std::runtime_error("The history cannot be written to " + path + ": " + std::strerror(errno));
}
// Opens path for writing, private to its owner whatever it was before.
int OpenPrivate(const std::string& path, int flags) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | flags, 0600);
    if (fd < 0 || fchmod(fd, 0600) != 0) {
        const int error = errno;
        if (fd >= 0)
            close(fd);
        throw std::runtime_error("The history cannot be written to " + path + ": " + std::strerror(error));
    }
    return fd;
}

// The lines of the file at path; a missing file has none.
std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return lines;
        throw std::runtime_error("The history cannot be read from " + path + ": " + std::strerror(errno));
    }
    std::string text;
    struct stat info {};
    if (fstat(fd, &info) == 0 && info.st_size > 0)
        text.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            close(fd);
            throw std::runtime_error("The history cannot be read from " + path + ": " + std::strerror(error));
        }
        if (got == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            lines.emplace_back(text, start, end - start);
        start = end + 1;
    }
    return lines;
}

} // namespace

// ---- serialization --------------------------------------------------------------------------

std::string HistoryLine(const ExchangeRecord& record) {
    std::string line;
    line.reserve(512 + record.requestBody.size() + record.responseBody.size());
    line += '{';
    AppendString(line, "time", record.time);
    AppendString(line, "kind", KindText(record.kind));
    AppendString(line, "event", record.eventName);
    AppendInteger(line, "counter", static_cast<long long>(record.eventCounter));
    AppendInteger(line, "httpStatus", record.httpStatus);
    AppendString(line, "reason", record.reasonPhrase);
    AppendInteger(line, "curlCode", record.curlCode);
    AppendString(line, "verdict", record.verdict);
    AppendNumber(line, "totalMs", record.timing.totalMs);
    AppendString(line, "requestBody", record.requestBody);
    AppendString(line, "responseBody", record.responseBody);
    AppendString(line, "url", record.url);
    AppendKey(line, "selfSigned");
    line += record.selfSigned ? "true" : "false";
    AppendString(line, "transportError", record.transportError);
    AppendHeaders(line, "requestHeaders", record.requestHeaders);
    AppendHeaders(line, "responseHeaders", record.responseHeaders);
    AppendKey(line, "checks");
    line += '[';
    for (const ExchangeCheck& check : record.checks) {
        if (line.back() != '[')
            line += ',';
        line += "{\"check\":";
        AppendJsonString(line, check.check);
        line += ",\"result\":";
        AppendJsonString(line, ResultKey(check.result));
        line += ",\"detail\":";
        AppendJsonString(line, check.detail);
        line += '}';
    }
    line += ']';
    AppendNumber(line, "nameLookupMs", record.timing.nameLookupMs);
    AppendNumber(line, "connectMs", record.timing.connectMs);
    AppendNumber(line, "tlsMs", record.timing.tlsMs);
    AppendNumber(line, "firstByteMs", record.timing.firstByteMs);
    AppendInteger(line, "bytesSent", static_cast<long long>(record.timing.bytesSent));
    AppendInteger(line, "bytesReceived", static_cast<long long>(record.timing.bytesReceived));
    line += '}';
    return line;
}

std::string StatusText(const ExchangeRecord& record) {
    if (record.curlCode == 0 && record.httpStatus >= 0)
        return record.reasonPhrase.empty() ? std::to_string(record.httpStatus)
                                           : std::to_string(record.httpStatus) + " " + record.reasonPhrase;
    return "CURL " + std::to_string(record.curlCode);
}

std::string CurlCommand(const ExchangeRecord& record) {
    // A body with NUL, or one that curl would take for a file name (@) or leave to a file
    // (<), goes through printf and standard input; any other one is an argument as it is.
    const std::string& body = record.requestBody;
    const bool throughInput = body.find('\0') != std::string::npos || (!body.empty() && body[0] == '@');
    std::string command;
    if (throughInput)
        command += "printf " + ShellQuoted(PrintfFormat(body)) + " | ";
    command += "curl -sS -i";
    if (record.selfSigned)
        command += " -k";
    command += " -X POST";
    for (const auto& header : record.requestHeaders)
        command += " -H " + ShellQuoted(header.second.empty() ? header.first + ";"
                                                              : header.first + ": " + header.second);
    // libcurl is told the same: no "100-continue" round first.
    command += " -H 'Expect:'";
    command += throughInput ? " --data-binary @-" : " --data-binary " + ShellQuoted(body);
    command += " " + ShellQuoted(record.url);
    return command;
}

std::string RawResponse(const ExchangeRecord& record) {
    if (record.curlCode != 0 || record.httpStatus < 0)
        return "No answer: CURL code " + std::to_string(record.curlCode) + " - " + record.transportError;
    return "HTTP/1.1 " + StatusText(record) + "\r\n" + HeaderBlock(record.responseHeaders) + "\r\n" +
           record.responseBody;
}

std::string RawRequest(const ExchangeRecord& record) {
    return "POST " + record.url + "\r\n" + HeaderBlock(record.requestHeaders) + "\r\n" + record.requestBody;
}

// ---- entries --------------------------------------------------------------------------------

HistoryEntry::HistoryEntry(std::shared_ptr<const ExchangeRecord> record) : record_(std::move(record)) {
    Index(*record_);
}

std::shared_ptr<HistoryEntry> HistoryEntry::FromLine(std::string line) {
    ExchangeRecord fields;
    if (!ReadLine(line, fields, false))
        return nullptr;
    std::shared_ptr<HistoryEntry> entry(new HistoryEntry);
    entry->Index(fields);
    entry->IndexText(fields);
    entry->line_ = std::move(line);
    return entry;
}

void HistoryEntry::Index(const ExchangeRecord& record) {
    time_ = record.time;
    kind_ = record.kind;
    eventName_ = record.eventName;
    eventCounter_ = record.eventCounter;
    status_ = StatusText(record);
    verdict_ = record.verdict;
    totalMs_ = record.timing.totalMs;
}

void HistoryEntry::IndexText(const ExchangeRecord& record) const {
    const std::initializer_list<const std::string*> parts = {&eventName_, &status_, &verdict_,
                                                             &record.requestBody, &record.responseBody};
    std::size_t size = 0;
    for (const std::string* part : parts)
        size += part->size() + 1;
    // Lowered as it is copied, in one pass the compiler vectorises: an answer of megabytes is
    // indexed on the window's thread in a few milliseconds.
    searchText_.resize(size);
    char* out = searchText_.data();
    for (const std::string* part : parts) {
        out = CopyLowered(*part, out);
        *out++ = '\n';
    }
}

std::vector<std::string> HistoryEntry::Row(char decimalSeparator) const {
    // "2026-12-08T15:39:14.123+01:00" is shown as "2026-12-08 15:39:14.123".
    std::string time = time_.substr(0, 23);
    if (time.size() > 10 && time[10] == 'T')
        time[10] = ' ';
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.1f", totalMs_);
    for (char* c = ms; *c; ++c)
        if (*c == '.' || *c == ',')
            *c = decimalSeparator;
    return {time, EventLabel(kind_, eventName_), std::to_string(eventCounter_), status_, verdict_, ms};
}

bool HistoryEntry::Matches(const std::string& loweredText) const {
    if (loweredText.empty())
        return true;
    if (searchText_.empty() && record_)
        IndexText(*record_);
    return searchText_.find(loweredText) != std::string::npos;
}

std::shared_ptr<const ExchangeRecord> HistoryEntry::Record() const {
    if (!record_ && !line_.empty()) {
        auto record = std::make_shared<ExchangeRecord>();
        if (ReadLine(line_, *record, true))
            record_ = std::move(record);
    }
    return record_;
}

// ---- the entries in memory ------------------------------------------------------------------

History::EntryPtr History::Add(EntryPtr entry) {
    entries_.push_back(std::move(entry));
    if (entries_.size() <= kHistoryMaxEntries)
        return nullptr;
    EntryPtr dropped = std::move(entries_.front());
    entries_.pop_front();
    return dropped;
}

HistoryLoad History::Load(const std::string& path) {
    std::vector<std::string> lines = ReadLines(path);
    HistoryLoad result;
    result.lines = lines.size();
    for (const std::string& line : lines)
        result.bytes += line.size() + 1;
    // Newest last in the file: read from the end until a bound is reached.
    std::deque<EntryPtr> loaded;
    std::uint64_t bytes = 0;
    for (auto line = lines.rbegin(); line != lines.rend() && loaded.size() < kHistoryMaxEntries; ++line) {
        if (bytes + line->size() + 1 > kHistoryMaxBytes)
            break;
        bytes += line->size() + 1;
        if (std::shared_ptr<HistoryEntry> entry = HistoryEntry::FromLine(std::move(*line)))
            loaded.push_front(std::move(entry));
        else
            ++result.damaged;
    }
    entries_ = std::move(loaded);
    return result;
}

std::vector<History::EntryPtr> History::Filter(const std::string& text) const {
    const std::string lowered = Lowered(text);
    std::vector<EntryPtr> shown;
    for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry)
        if ((*entry)->Matches(lowered))
            shown.push_back(*entry);
    return shown;
}

// ---- the file -------------------------------------------------------------------------------

HistoryFile::HistoryFile(std::function<void(std::exception_ptr)> onFailure)
    : writer_(std::move(onFailure), std::chrono::milliseconds(20)) {}

HistoryFile::~HistoryFile() = default;

void HistoryFile::Open(const std::string& path, std::size_t lines, std::uint64_t bytes) {
    writer_.Flush();
    std::lock_guard<std::mutex> lock(mutex_);
    path_ = path;
    lines_ = lines;
    bytes_ = bytes;
}

void HistoryFile::Append(std::shared_ptr<const ExchangeRecord> record) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (path_.empty())
            return;
        pending_.push_back(std::move(record));
    }
    // Every post writes whatever is pending, so a post the writer drops for a newer one loses
    // nothing.
    writer_.Post([this] { WritePending(); });
}

void HistoryFile::Clear() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (path_.empty())
            return;
        pending_.clear();
        clearPending_ = true;
    }
    writer_.Post([this] { WritePending(); });
}

void HistoryFile::Flush() {
    writer_.Flush();
}

void HistoryFile::WritePending() {
    std::vector<std::shared_ptr<const ExchangeRecord>> records;
    bool clear = false;
    std::string path;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        records.swap(pending_);
        std::swap(clear, clearPending_);
        path = path_;
    }
    if (clear) {
        close(OpenPrivate(path, O_TRUNC));
        lines_ = 0;
        bytes_ = 0;
    }
    if (records.empty())
        return;
    std::string text;
    for (const auto& record : records) {
        text += HistoryLine(*record);
        text += '\n';
    }
    records.clear(); // the records go on this thread, not the window's
    const int fd = OpenPrivate(path, O_APPEND);
    try {
        WriteAll(fd, text, path);
    } catch (...) {
        close(fd);
        throw;
    }
    close(fd);
    lines_ += static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    bytes_ += text.size();
    if (lines_ > kHistoryMaxEntries + kHistoryMaxEntries / 10 ||
        bytes_ > kHistoryMaxBytes + kHistoryMaxBytes / 10)
        Compact();
}

void HistoryFile::Compact() {
    std::string path;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        path = path_;
    }
    const std::vector<std::string> lines = ReadLines(path);
    std::size_t first = lines.size();
    std::uint64_t bytes = 0;
    while (first > 0 && lines.size() - first < kHistoryMaxEntries &&
           bytes + lines[first - 1].size() + 1 <= kHistoryMaxBytes) {
        --first;
        bytes += lines[first].size() + 1;
    }
    std::string text;
    text.reserve(static_cast<std::size_t>(bytes));
    for (std::size_t i = first; i < lines.size(); ++i) {
        text += lines[i];
        text += '\n';
    }
    // Written beside it and renamed over it: a crash leaves the old file or the new one.
    const std::string temporary = path + ".tmp";
    const int fd = OpenPrivate(temporary, O_TRUNC);
    try {
        WriteAll(fd, text, temporary);
    } catch (...) {
        close(fd);
        throw;
    }
    close(fd);
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
        throw std::runtime_error("The history cannot be written to " + path + ": " + std::strerror(errno));
    lines_ = lines.size() - first;
    bytes_ = bytes;
}
