#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

// Raised when an INI file cannot be written, or when a section, key or value cannot be stored
// in one (a line break in it would split its line in two).
class EIniFileException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An INI file held in memory: read whole when constructed (a missing or unreadable file reads
// as a file without keys), changed by the Write/Erase operations, and written whole by
// UpdateFile. Sections and keys keep the order in which they were first written. Lines that
// are not "[section]" or "key=value" are ignored; keys are compared exactly, values are kept
// exactly (no trimming). A key that occurs twice in a section reads as its first occurrence.
// A line ends at "\n", "\r\n" or a lone "\r".
class IniFile {
public:
    explicit IniFile(std::string path);

    const std::string& FileName() const { return path_; }

    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    // A signed 32-bit decimal; absent or unreadable gives def.
    int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;
    // An integer, any value other than 0 is true; absent or unreadable gives def.
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;
    bool ValueExists(const std::string& section, const std::string& key) const;
    // The value without a copy, nothing when the key is absent. The view stays valid until the
    // next Write, Erase or UpdateFile.
    std::optional<std::string_view> FindValue(const std::string& section, const std::string& key) const;

    void WriteString(const std::string& section, const std::string& key, std::string_view value);
    void WriteInteger(const std::string& section, const std::string& key, int32_t value);
    void WriteBool(const std::string& section, const std::string& key, bool value);
    void EraseSection(const std::string& section);

    enum class Durability {
        Flushed, // the new content is on disk when UpdateFile returns
        Atomic,  // readers see the old or the new file, never a mix; a power cut may bring back the old one
    };

    // Writes the file: a temporary file in the same folder, renamed over the old one, so a failed
    // or interrupted write never loses the previous file. Flushed also syncs the file and its
    // folder, which costs a disk round trip or two: worth it for settings, not for a file rewritten
    // on every button press. The file is created readable and writable by its owner only.
    // Throws EIniFileException on failure.
    void UpdateFile(Durability durability = Durability::Flushed);

    // For tests only: called with the temporary file's path once it is written and closed, right
    // before it replaces the file, so a test can interrupt a save at its most delicate point. An
    // exception from the hook fails the save like a write error does. An empty hook (the
    // default) does nothing.
    static void SetBeforeReplaceHookForTesting(std::function<void(const std::string& tempPath)> hook);

private:
    // All key and value bytes live in one buffer (the file as read, then whatever is written
    // after it); entries point into it. A file of 200,000 keys thus costs no allocation per key,
    // and an open-addressing table per section keeps lookups constant-time.
    struct Entry {
        uint32_t keyOffset;
        uint32_t keyLength;
        uint32_t valueOffset;
        uint32_t valueLength;
    };
    // Lines of the file between a section's header and the next header.
    struct Range {
        uint32_t begin;
        uint32_t end;
    };
    // Work is put off until it is needed: the lines of a section are taken apart at the first
    // lookup or save, so a section erased unread (a save replacing its section) costs only the
    // search for its header; writes are only collected, and indexed together at the next
    // lookup or save, in one go on a table of the final size.
    struct Section {
        std::string name;
        std::vector<Range> unparsed;
        std::vector<Entry> entries; // in the order first written, each key once, all indexed
        std::vector<Entry> written; // written since, not yet in entries
        // The key's 32-bit hash in the high half, entry index + 1 in the low half; 0 is free.
        std::vector<uint64_t> slots;
        // Two bits per key (a Bloom filter, eight bits per key at most load), small enough to
        // stay in the cache: most absent keys are told without a visit to the large slot table.
        // Kept for sections read from a file, which are mostly read; a section written from
        // scratch (a save) has none and is spared its upkeep.
        bool filtered = false;
        std::vector<uint64_t> filter;
    };
    std::string path_;
    std::string text_;
    // Mutable because lookups finish the put-off work; see Settle.
    mutable std::vector<Section> sections_;
    std::unordered_map<std::string, std::size_t> sectionIndex_;
    std::size_t lastSection_ = 0; // writes tend to go to one section after another
    // Keys are mostly read in the order they were written: where the next read will likely
    // find its key (section index in the high half, entry index in the low half). Atomic so
    // that concurrent readers of one file stay well-defined; copies start without a hint.
    struct ReadHint {
        mutable std::atomic<uint64_t> next{0};
        ReadHint() = default;
        ReadHint(const ReadHint&) {}
        ReadHint& operator=(const ReadHint&) { return *this; }
    };
    ReadHint hint_;
    // Whether every section is parsed and indexed. The first lookup after a change does the
    // outstanding work under the lock, so concurrent readers of an unchanged file stay safe.
    struct Settled {
        mutable std::atomic<bool> done{true};
        mutable std::mutex lock;
        Settled() = default;
        Settled(const Settled& other) : done(other.done.load()) {}
        Settled& operator=(const Settled& other) {
            done.store(other.done.load());
            return *this;
        }
    };
    Settled settled_;

    std::string_view Key(const Entry& e) const {
        return std::string_view(text_).substr(e.keyOffset, e.keyLength);
    }
    std::string_view Value(const Entry& e) const {
        return std::string_view(text_).substr(e.valueOffset, e.valueLength);
    }
    static uint32_t Hash(std::string_view key);
    // The slot that holds key, or the free slot where it belongs.
    std::size_t Probe(const Section& section, std::string_view key, uint32_t hash) const;
    static void Rehash(Section& section, std::size_t size);
    static void RebuildFilter(Section& section);
    static void AddToFilter(Section& section, uint32_t hash);
    static bool MayContain(const Section& section, uint32_t hash);
    // How far FindSections got in the text read so far.
    struct SectionScan {
        bool started = false;
        std::size_t start = 0;      // after a byte order mark
        std::size_t pos = 0;        // where to look on
        std::size_t searchedTo = 0; // how far the line at pos was searched for its end
        std::size_t section = static_cast<std::size_t>(-1); // the section whose lines follow
        std::size_t linesFrom = 0;
    };
    void FindSections(SectionScan& scan, bool last);
    void ParseSection(Section& section) const;
    // Adds fresh entries (and their hashes, when known) to the section's index: of a key given
    // twice in a file the first counts, of a key written twice the last value.
    void Index(Section& section, std::vector<Entry>& fresh, std::vector<uint32_t>* freshHashes,
               bool fromFile) const;
    void SettleSection(Section& section) const;
    // Finishes the put-off work of every section.
    void Settle() const;
    const Entry* FindEntry(const std::string& section, const std::string& key) const;
    Section& SectionForWriting(const std::string& name);
    void Put(const std::string& section, const std::string& key, std::string_view value);
    void WriteContent(int fd) const;
};
