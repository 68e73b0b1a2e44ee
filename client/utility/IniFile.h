#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// Raised when an INI file cannot be written.
class EIniFileException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An INI file held in memory: read whole when constructed (a missing or unreadable file reads
// as a file without keys), changed by the Write/Erase operations, and written whole by
// UpdateFile. Sections and keys keep the order in which they were first written. Lines that
// are not "[section]" or "key=value" are ignored; keys are compared exactly.
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

    // Writes the file: a temporary file in the same folder, flushed to disk and renamed over the
    // old one, so a failed or interrupted write never loses the previous file. The file is
    // created readable and writable by its owner only. Throws EIniFileException on failure.
    void UpdateFile();

private:
    using Section = std::vector<std::pair<std::string, std::string>>;
    std::string path_;
    std::vector<std::pair<std::string, Section>> sections_;

    const Section* FindSection(const std::string& name) const;
    const std::string* FindValue(const std::string& section, const std::string& key) const;
};
