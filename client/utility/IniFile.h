#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
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

    void WriteString(const std::string& section, const std::string& key, const std::string& value);
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
    struct Section {
        std::string name;
        std::vector<Entry> entries; // in the order first written
        // The key's 32-bit hash in the high half, entry index + 1 in the low half; 0 is free.
        std::vector<uint64_t> slots;
        // Two bits per key (a Bloom filter, eight bits per key at most load), small enough to
        // stay in the cache: most absent keys are told without a visit to the large slot table.
        // Kept for sections read from a file, which are mostly read; a section written from
        // scratch (a save) has none and is spared its upkeep.
        std::vector<uint64_t> filter;
    };
    std::string path_;
    std::string text_;
    std::vector<Section> sections_;
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
    void BuildIndex(Section& section);
    const Entry* FindEntry(const std::string& section, const std::string& key) const;
    Section& SectionForWriting(const std::string& name);
    void Put(const std::string& section, const std::string& key, const std::string& value);
    void Parse();
    std::string Serialise() const;
};
