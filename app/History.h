#pragma once

// The history of every exchange: entries made from the exchange records, the filter, and
// history.jsonl, one record per line, appended to off the window's thread and read at start-up.

#include "BackgroundWriter.h"
#include "ExchangeRecord.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The newest entries kept, in the window and in the file.
constexpr std::size_t kHistoryMaxEntries = 5000;
constexpr std::uint64_t kHistoryMaxBytes = 50u * 1024u * 1024u;

// One exchange of the history. An entry of this run holds its record; an entry read from the
// file holds the fields its list row and the filter need, and reads its line whole only when
// it is chosen: start-up does not pay for headers and checks nobody looks at.
class HistoryEntry {
public:
    explicit HistoryEntry(std::shared_ptr<const ExchangeRecord> record);
    // nullptr when the line is damaged (cut off, not an entry).
    static std::shared_ptr<HistoryEntry> FromLine(std::string line);

    // Time, Event, Counter, Status, Verdict, ms.
    std::vector<std::string> Row(char decimalSeparator) const;
    // Whether the event name, status, verdict or either body holds text (given in lower case),
    // regardless of letter case.
    bool Matches(const std::string& loweredText) const;
    // The whole record; nullptr for a line that cannot be read whole after all.
    std::shared_ptr<const ExchangeRecord> Record() const;
    // The length of its line in the file, 0 for an entry of this run.
    std::size_t LineSize() const { return line_.size(); }

private:
    HistoryEntry() = default;
    // The fields of the list row.
    void Index(const ExchangeRecord& record);
    // The text the filter looks at. An entry of this run makes it when a filter first looks, so
    // an answer of megabytes costs the window's thread nothing until someone searches.
    void IndexText(const ExchangeRecord& record) const;

    std::string time_;
    ExchangeKind kind_ = ExchangeKind::Event;
    std::string eventName_;
    int64_t eventCounter_ = 0;
    std::string status_;
    std::string verdict_;
    double totalMs_ = 0;
    mutable std::string searchText_; // what the filter looks at, in lower case
    std::string line_;
    mutable std::shared_ptr<const ExchangeRecord> record_;
};

// What reading history.jsonl found.
struct HistoryLoad {
    std::size_t damaged = 0; // lines skipped among the newest ones
    std::size_t lines = 0;   // in the file
    std::uint64_t bytes = 0; // of the file
};

// The entries in memory, oldest first, never more than kHistoryMaxEntries. Window thread only.
class History {
public:
    using EntryPtr = std::shared_ptr<const HistoryEntry>;

    const std::deque<EntryPtr>& Entries() const { return entries_; }
    // Returns the entry dropped to keep the bound, nullptr when none was.
    EntryPtr Add(EntryPtr entry);
    void Clear() { entries_.clear(); }
    // The newest entries of the file within the bounds. A missing file is an empty history; a
    // file that cannot be read throws std::runtime_error.
    HistoryLoad Load(const std::string& path);
    // The entries that match text (any entry for an empty text), newest first.
    std::vector<EntryPtr> Filter(const std::string& text) const;

private:
    std::deque<EntryPtr> entries_;
};

// history.jsonl, private to its owner. Records are serialized and appended on the writer's
// thread, a burst of them in one write; when the file has grown a tenth beyond a bound it is
// compacted to the newest entries within the bounds. A failed write goes to onFailure, on the
// writer's thread.
class HistoryFile {
public:
    explicit HistoryFile(std::function<void(std::exception_ptr)> onFailure);
    ~HistoryFile();
    HistoryFile(const HistoryFile&) = delete;
    HistoryFile& operator=(const HistoryFile&) = delete;

    // Where to write; nothing is written before. lines and bytes are what the file holds now.
    void Open(const std::string& path, std::size_t lines, std::uint64_t bytes);
    // Return at once.
    void Append(std::shared_ptr<const ExchangeRecord> record);
    void Clear();
    // Returns when everything handed over so far is in the file (or has failed).
    void Flush();

private:
    void WritePending();
    void Compact();

    std::mutex mutex_;
    std::string path_;
    std::vector<std::shared_ptr<const ExchangeRecord>> pending_;
    bool clearPending_ = false;
    // The writer thread's own.
    std::size_t lines_ = 0;
    std::uint64_t bytes_ = 0;
    // Declared last: its thread ends before the rest goes.
    BackgroundWriter writer_;
};

// One line of history.jsonl (without its line break).
std::string HistoryLine(const ExchangeRecord& record);
// "200 OK", or "CURL 7" without an HTTP answer.
std::string StatusText(const ExchangeRecord& record);
// A shell command that makes curl send the request again byte for byte, with its headers.
std::string CurlCommand(const ExchangeRecord& record);
// The answer as received: status line, headers and body; the transport error without one.
std::string RawResponse(const ExchangeRecord& record);
// The request as sent: request line, headers and body.
std::string RawRequest(const ExchangeRecord& record);
