#include "IniFile.h"

#include "OrvLib.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A save writes path + kTemporaryInfix + six characters chosen by mkostemp.
constexpr const char* kTemporaryInfix = ".tmp-";
constexpr std::size_t kTemporaryUnique = 6;

std::string SystemReason(int error) {
    return std::strerror(error);
}

// A short, printable form of a name for messages: keys may be arbitrarily long.
std::string Shown(const std::string& text) {
    constexpr std::size_t kMax = 60;
    std::string shown;
    for (char c : text.substr(0, kMax)) {
        if (c == '\r')
            shown += "\\r";
        else if (c == '\n')
            shown += "\\n";
        else
            shown += c;
    }
    if (text.size() > kMax)
        shown += "...";
    return shown;
}

bool IsLineBreak(char c) {
    return c == '\n' || c == '\r';
}

bool HasLineBreak(std::string_view text) {
    return std::any_of(text.begin(), text.end(), IsLineBreak);
}

// The first line of text, taken off it.
std::string_view TakeLine(std::string_view& text) {
    const auto end = static_cast<std::size_t>(std::find_if(text.begin(), text.end(), IsLineBreak) - text.begin());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    return line;
}

// The name in a "[name]" line; none for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
    if (line.size() < 2 || line.front() != '[' || line.back() != ']')
        return std::nullopt;
    return line.substr(1, line.size() - 2);
}

std::size_t LinesBeforeNextSection(std::string_view text) {
    std::size_t lines = 0;
    while (!text.empty() && !SectionName(TakeLine(text)))
        ++lines;
    return lines;
}

std::string FolderOf(const std::string& path) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    return folder.empty() ? "." : folder.string();
}

std::string ReadWholeFile(const std::string& path) {
    // Only a regular file is read; O_NONBLOCK keeps a FIFO in its place from stalling us.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string text;
    struct stat info {};
    bool complete = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    char buffer[65536];
    while (complete) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got == 0)
            break;
        if (got > 0)
            text.append(buffer, static_cast<std::size_t>(got));
        else if (errno != EINTR)
            complete = false;
    }
    close(fd);
    // A file that cannot be read completely reads as a file without keys.
    return complete ? text : std::string();
}

// The temporary file of a save: closed and removed on every way out but a successful rename.
struct TemporaryFile {
    std::string name;
    int fd = -1;
    bool replacedTheFile = false;
    ~TemporaryFile() {
        if (fd >= 0)
            close(fd);
        if (!replacedTheFile)
            unlink(name.c_str());
    }
};

std::mutex& HookMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<void(const std::string&)>& BeforeReplaceHook() {
    static std::function<void(const std::string&)> hook;
    return hook;
}

} // namespace

// Lines end at "\n" or "\r", whichever comes first: that covers the line ends of any editor
// ("\n", "\r\n", "\r\r\n" from a double conversion, a lone "\r"), and a carriage return never
// stays inside a value (the writer refuses one, so whatever is read can be saved again).
IniFile::IniFile(std::string path) : path_(std::move(path)) {
    Read(nullptr);
}

IniFile::IniFile(std::string path, std::string_view sectionLeftOut) : path_(std::move(path)) {
    Read(&sectionLeftOut);
}

void IniFile::Read(const std::string_view* sectionLeftOut) {
    const std::string content = ReadWholeFile(path_);
    std::string_view text = content;
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3); // a byte order mark left by an editor
    Section* current = nullptr;
    while (!text.empty()) {
        const std::string_view line = TakeLine(text);
        if (const auto name = SectionName(line)) {
            // Room for the section's keys up front: no rehashing while a big one is read.
            const std::size_t lines = LinesBeforeNextSection(text);
            if (sectionLeftOut && *name == *sectionLeftOut) {
                current = nullptr;
                leftOut_ = *name;
                leftOutLines_ += lines;
            } else {
                current = &SectionNamed(std::string(*name));
                current->positions.reserve(current->entries.size() + lines);
            }
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!current || equals == std::string_view::npos || equals == 0)
            continue; // before any section, no "=", or no key
        current->Store(line.substr(0, equals), line.substr(equals + 1), false);
    }
}

void IniFile::Section::Store(std::string_view key, std::string_view value, bool replace) {
    // The copy is made before it is known to be needed: one lookup instead of two for a new key,
    // and a few bytes left unused in the arena for a key stored again.
    std::pmr::memory_resource* arena = positions.get_allocator().resource();
    auto* bytes = static_cast<char*>(arena->allocate(key.size(), 1));
    std::copy(key.begin(), key.end(), bytes);
    const auto [place, added] = positions.try_emplace(std::string_view(bytes, key.size()), entries.size());
    if (added)
        entries.emplace_back(place->first, Text(value, arena));
    else if (replace)
        entries[place->second].second = value;
}

IniFile::Section* IniFile::SectionOf(const std::string& name) const {
    const auto s = std::find_if(sections_.begin(), sections_.end(),
                                [&](const std::unique_ptr<Section>& candidate) { return candidate->name == name; });
    return s == sections_.end() ? nullptr : s->get();
}

const IniFile::Text* IniFile::Find(const std::string& section, const std::string& key) const {
    const Section* s = SectionOf(section);
    if (!s)
        return nullptr;
    std::size_t position = s->nextRead.load(std::memory_order_relaxed);
    if (position >= s->entries.size() || s->entries[position].first != key) {
        const auto found = s->positions.find(key);
        if (found == s->positions.end())
            return nullptr;
        position = found->second;
    }
    s->nextRead.store(position + 1, std::memory_order_relaxed);
    return &s->entries[position].second;
}

IniFile::Section& IniFile::SectionNamed(const std::string& name) {
    if (Section* s = SectionOf(name))
        return *s;
    Section& s = *sections_.emplace_back(std::make_unique<Section>(name, &arena_));
    // A section left out when the file was read, now written anew, gets about as many keys as it had.
    if (name == leftOut_)
        s.positions.reserve(leftOutLines_);
    return s;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& def) const {
    const Text* value = Find(section, key);
    return value ? std::string(*value) : def;
}

int32_t IniFile::ReadInteger(const std::string& section, const std::string& key, int32_t def) const {
    const Text* value = Find(section, key);
    int32_t result = def;
    return value && orvlib::TryParseInt32(*value, result) ? result : def;
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
    const Text* value = Find(section, key);
    int32_t number = 0;
    return value && orvlib::TryParseInt32(*value, number) ? number != 0 : def;
}

bool IniFile::ValueExists(const std::string& section, const std::string& key) const {
    return Find(section, key) != nullptr;
}

void IniFile::Put(const std::string& section, const std::string& key, std::string_view value) {
    // Anything that would read back differently, or as other keys, is refused.
    const char* problem = nullptr;
    if (HasLineBreak(key) || HasLineBreak(value) || HasLineBreak(section))
        problem = "a section, key or value cannot contain a line break";
    else if (key.empty())
        problem = "the key is empty";
    else if (key.find('=') != std::string::npos)
        problem = "a key cannot contain \"=\"";
    else if (key.front() == '[')
        problem = "a key cannot start with \"[\"";
    if (problem)
        throw EIniFileException("Cannot store key \"" + Shown(key) + "\" in section \"" + Shown(section) +
                                "\" of " + path_ + ": " + problem + ".");

    // A key written before keeps its place and takes the last value.
    SectionNamed(section).Store(key, value, true);
}

void IniFile::WriteString(const std::string& section, const std::string& key, std::string_view value) {
    Put(section, key, value);
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
    Put(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    Put(section, key, value ? "1" : "0");
}

void IniFile::EraseSection(const std::string& section) {
    sections_.erase(std::remove_if(sections_.begin(), sections_.end(),
                                   [&](const std::unique_ptr<Section>& s) { return s->name == section; }),
                    sections_.end());
}

void IniFile::UpdateFile(Durability durability) {
    std::string content;
    for (const auto& s : sections_) {
        content.append(s == sections_.front() ? "[" : "\n[").append(s->name).append("]\n");
        for (const auto& [key, value] : s->entries)
            content.append(key).append("=").append(value).append("\n");
    }

    const std::string folder = FolderOf(path_);
    TemporaryFile temp{path_ + kTemporaryInfix + std::string(kTemporaryUnique, 'X')};
    temp.fd = mkostemp(temp.name.data(), O_CLOEXEC);
    if (temp.fd < 0) {
        const int error = errno;
        temp.replacedTheFile = true; // there is nothing to remove
        throw EIniFileException("Cannot write " + path_ + ": cannot create a temporary file in " + folder +
                                ": " + SystemReason(error));
    }
    // Throws for the step that failed; the temporary file goes, the old file stays as it was.
    auto fail = [&](const char* what) {
        const int error = errno;
        throw EIniFileException("Cannot write " + path_ + ": " + what + " " + temp.name + ": " +
                                SystemReason(error));
    };
    if (fchmod(temp.fd, 0600) != 0)
        fail("cannot set the permissions of");
    if (!orvlib::WriteAll(temp.fd, content))
        fail("cannot write");
    if (durability == Durability::Flushed && fsync(temp.fd) != 0)
        fail("cannot flush to disk");
    const int closed = close(temp.fd);
    temp.fd = -1; // closed even when close reports an error
    if (closed != 0)
        fail("cannot close");
    std::function<void(const std::string&)> hook;
    {
        std::lock_guard<std::mutex> lock(HookMutex());
        hook = BeforeReplaceHook();
    }
    if (hook) {
        try {
            hook(temp.name);
        } catch (const std::exception& interruption) {
            throw EIniFileException("Cannot write " + path_ + ": the save was interrupted before " +
                                    temp.name + " could replace it: " + interruption.what());
        }
    }
    if (rename(temp.name.c_str(), path_.c_str()) != 0)
        fail("cannot rename over it");
    temp.replacedTheFile = true;
    if (durability == Durability::Atomic)
        return;

    // Make the rename itself durable.
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        throw EIniFileException("Wrote " + path_ +
                                " but cannot open its folder to flush it to disk: " + SystemReason(errno));
    const int synced = fsync(dir);
    const int error = errno;
    close(dir);
    // Some file systems cannot flush a folder and say so with EINVAL; nothing more can be done there.
    if (synced != 0 && error != EINVAL)
        throw EIniFileException("Wrote " + path_ +
                                " but cannot flush its folder to disk: " + SystemReason(error));
}

void IniFile::RemoveInterruptedSaves(const std::string& path) {
    const std::string prefix = std::filesystem::path(path).filename().string() + kTemporaryInfix;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(FolderOf(path), error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (name.size() == prefix.size() + kTemporaryUnique && name.compare(0, prefix.size(), prefix) == 0) {
            std::error_code ignored; // one that cannot go is tried again at the next start
            std::filesystem::remove(entry->path(), ignored);
        }
    }
}

void IniFile::SetBeforeReplaceHookForTesting(std::function<void(const std::string& tempPath)> hook) {
    std::lock_guard<std::mutex> lock(HookMutex());
    BeforeReplaceHook() = std::move(hook);
}
