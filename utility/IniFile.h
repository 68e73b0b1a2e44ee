#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <memory_resource>
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
    // Reads the file but for one section, which is then absent as after EraseSection: a caller
    // that writes that section anew does not read a big one only to drop it.
    IniFile(std::string path, std::string_view sectionLeftOut);
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    const std::string& FileName() const { return path_; }

    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    // A signed 32-bit decimal; absent or unreadable gives def.
    int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;
    // An integer, any value other than 0 is true; absent or unreadable gives def.
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;
    bool ValueExists(const std::string& section, const std::string& key) const;

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
    // Throws EIniFileException on failure; the temporary file is gone then.
    void UpdateFile(Durability durability = Durability::Flushed);

    // Removes the temporary files that saves of path cut short (a crash, a power cut) left in its
    // folder. Call it before the file is first saved again, not while a save of it may run.
    static void RemoveInterruptedSaves(const std::string& path);

    // For tests only: called with the temporary file's path once it is written and closed, right
    // before it replaces the file, so a test can interrupt a save at its most delicate point. An
    // exception from the hook fails the save like a write error does. An empty hook (the
    // default) does nothing.
    static void SetBeforeReplaceHookForTesting(std::function<void(const std::string& tempPath)> hook);

private:
    // The keys and values live in one arena: a file of many thousands of keys is read, looked up
    // and let go without an allocation of its own for each. An IniFile is read, changed and
    // written in one go, so the bytes of a value replaced or a section erased staying in the
    // arena until then cost little.
    using Text = std::pmr::string;
    struct Section {
        Section(std::string sectionName, std::pmr::memory_resource* arena)
            : name(std::move(sectionName)), positions(arena) {}

        std::string name;
        // Each key, its bytes in the arena, with its place in entries.
        std::pmr::unordered_map<std::string_view, std::size_t> positions;
        std::vector<std::pair<std::string_view, Text>> entries; // in the order first written
        // Keys are mostly read in the order they stand: the place where the next read looks
        // first. A hint only, which threads reading at once may move under each other's feet.
        mutable std::atomic<std::size_t> nextRead{0};

        // A key keeps the place where it was first stored; replace says whether a later store
        // replaces its value. Keys and values go into the arena of positions.
        void Store(std::string_view key, std::string_view value, bool replace);
    };
    std::string path_;
    std::pmr::monotonic_buffer_resource arena_;
    std::vector<std::unique_ptr<Section>> sections_; // in the order first written
    std::string leftOut_;           // the section the constructor left out, and its lines
    std::size_t leftOutLines_ = 0;

    void Read(const std::string_view* sectionLeftOut);
    Section* SectionOf(const std::string& name) const;
    const Text* Find(const std::string& section, const std::string& key) const;
    Section& SectionNamed(const std::string& name);
    void Put(const std::string& section, const std::string& key, std::string_view value);
};
