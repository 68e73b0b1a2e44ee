#include "IniFile.h"

#include "OrvLib.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Entries address the text with 32-bit offsets.
constexpr std::size_t kMaxText = std::numeric_limits<uint32_t>::max();

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

bool HasLineBreak(const std::string& text) {
    return std::memchr(text.data(), '\n', text.size()) || std::memchr(text.data(), '\r', text.size());
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::mutex& HookMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<void(const std::string&)>& BeforeReplaceHook() {
    static std::function<void(const std::string&)> hook;
    return hook;
}

bool WriteAll(int fd, const std::string& content) {
    const char* data = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t written = write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {
    // Only a regular file is read; O_NONBLOCK keeps a FIFO in its place from stalling us.
    const int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat info {};
    bool complete =
        fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) < kMaxText;
    if (complete) {
        text_.reserve(static_cast<std::size_t>(info.st_size));
        char buffer[65536];
        for (;;) {
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got > 0) {
                text_.append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0) {
                break;
            } else if (errno != EINTR) {
                complete = false;
                break;
            }
        }
    }
    close(fd);
    // A file that cannot be read completely reads as a file without keys.
    if (complete && text_.size() < kMaxText)
        Parse();
    else
        text_.clear();
}

void IniFile::Parse() {
    const std::string& content = text_;
    std::size_t pos = 0;
    // A byte order mark left by an editor.
    if (content.compare(0, 3, "\xEF\xBB\xBF") == 0)
        pos = 3;
    Section* current = nullptr;
    while (pos < content.size()) {
        const void* newline = std::memchr(content.data() + pos, '\n', content.size() - pos);
        std::size_t end = newline
                              ? static_cast<std::size_t>(static_cast<const char*>(newline) - content.data())
                              : content.size();
        // Line ends of any editor: "\n", "\r\n", "\r\r\n" from a double conversion, and a lone
        // "\r". A carriage return never stays inside a value: the writer refuses one, so whatever
        // is read can be saved again.
        if (const void* cr = std::memchr(content.data() + pos, '\r', end - pos))
            end = static_cast<std::size_t>(static_cast<const char*>(cr) - content.data());
        const std::size_t length = end - pos;
        if (length >= 2 && content[pos] == '[' && content[end - 1] == ']') {
            current = &SectionForWriting(content.substr(pos + 1, length - 2));
        } else if (current && length > 0) {
            const void* found = std::memchr(content.data() + pos, '=', length);
            if (found && found != content.data() + pos) {
                const std::size_t equals =
                    static_cast<std::size_t>(static_cast<const char*>(found) - content.data());
                current->entries.push_back(
                    Entry{static_cast<uint32_t>(pos), static_cast<uint32_t>(equals - pos),
                          static_cast<uint32_t>(equals + 1), static_cast<uint32_t>(end - equals - 1)});
            }
        }
        pos = end + 1;
    }
    for (Section& section : sections_)
        BuildIndex(section);
}

uint32_t IniFile::Hash(std::string_view key) {
    const uint64_t h = std::hash<std::string_view>()(key);
    return static_cast<uint32_t>(h ^ (h >> 32));
}

std::size_t IniFile::Probe(const Section& section, std::string_view key, uint32_t hash) const {
    const std::size_t mask = section.slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const uint64_t slot = section.slots[i];
        // The stored hash spares nearly all visits to the key text of other keys.
        if (slot == 0 || (static_cast<uint32_t>(slot >> 32) == hash &&
                          Key(section.entries[static_cast<uint32_t>(slot) - 1]) == key))
            return i;
    }
}

void IniFile::Rehash(Section& section, std::size_t size) {
    std::vector<uint64_t> slots(size, 0);
    for (const uint64_t slot : section.slots) {
        if (slot == 0)
            continue;
        std::size_t i = static_cast<uint32_t>(slot >> 32) & (size - 1);
        while (slots[i] != 0)
            i = (i + 1) & (size - 1);
        slots[i] = slot;
    }
    section.slots.swap(slots);
    if (!section.filter.empty())
        RebuildFilter(section);
}

namespace {

// The filter word and the two bits a hash stands for; the bits are mixed apart from the low
// bits that choose the key's slot.
struct FilterBits {
    std::size_t word;
    uint64_t mask;
};

FilterBits FilterBitsOf(uint32_t hash, std::size_t words) {
    const uint64_t mixed = static_cast<uint64_t>(hash) * 0x9E3779B97F4A7C15ull;
    return FilterBits{static_cast<std::size_t>(mixed >> 32) & (words - 1),
                      (uint64_t{1} << ((mixed >> 20) & 63)) | (uint64_t{1} << ((mixed >> 26) & 63))};
}

} // namespace

// One word per 16 slots: a power of two, like the slot table.
void IniFile::RebuildFilter(Section& section) {
    section.filter.assign(std::max<std::size_t>(section.slots.size() / 16, 1), 0);
    for (const uint64_t slot : section.slots) {
        if (slot != 0)
            AddToFilter(section, static_cast<uint32_t>(slot >> 32));
    }
}

void IniFile::AddToFilter(Section& section, uint32_t hash) {
    if (section.filter.empty())
        return;
    const FilterBits bits = FilterBitsOf(hash, section.filter.size());
    section.filter[bits.word] |= bits.mask;
}

bool IniFile::MayContain(const Section& section, uint32_t hash) {
    if (section.filter.empty())
        return true;
    const FilterBits bits = FilterBitsOf(hash, section.filter.size());
    return (section.filter[bits.word] & bits.mask) == bits.mask;
}

// Indexes the entries read from the file in one go; of a key given twice the first counts.
void IniFile::BuildIndex(Section& section) {
    std::size_t size = 16;
    while (size < section.entries.size() * 2)
        size *= 2;
    section.slots.assign(size, 0);
    // The slots are visited in random order; in a large file nearly every visit misses the
    // cache. With all hashes known first, the slot of a later entry is fetched while this one is
    // placed.
    std::vector<uint32_t> hashes(section.entries.size());
    for (std::size_t n = 0; n < section.entries.size(); ++n)
        hashes[n] = Hash(Key(section.entries[n]));
    constexpr std::size_t kAhead = 8;
    const std::size_t mask = size - 1;
    std::size_t kept = 0;
    for (std::size_t n = 0; n < section.entries.size(); ++n) {
        if (n + kAhead < hashes.size())
            __builtin_prefetch(&section.slots[hashes[n + kAhead] & mask]);
        const Entry entry = section.entries[n];
        const uint32_t hash = hashes[n];
        const std::size_t i = Probe(section, Key(entry), hash);
        if (section.slots[i] != 0)
            continue;
        section.entries[kept++] = entry;
        section.slots[i] = (static_cast<uint64_t>(hash) << 32) | kept;
    }
    section.entries.resize(kept);
    RebuildFilter(section);
}

const IniFile::Entry* IniFile::FindEntry(const std::string& section, const std::string& key) const {
    std::size_t index = lastSection_;
    if (index >= sections_.size() || sections_[index].name != section) {
        const auto found = sectionIndex_.find(section);
        if (found == sectionIndex_.end())
            return nullptr;
        index = found->second;
    }
    const Section& s = sections_[index];
    if (s.slots.empty())
        return nullptr;

    const uint64_t hint = hint_.next.load(std::memory_order_relaxed);
    if ((hint >> 32) == index) {
        const auto next = static_cast<uint32_t>(hint);
        if (next < s.entries.size() && Key(s.entries[next]) == key) {
            hint_.next.store(hint + 1, std::memory_order_relaxed);
            return &s.entries[next];
        }
    }
    const uint32_t hash = Hash(key);
    if (!MayContain(s, hash))
        return nullptr;
    const uint64_t slot = s.slots[Probe(s, key, hash)];
    if (slot == 0)
        return nullptr;
    hint_.next.store((static_cast<uint64_t>(index) << 32) | static_cast<uint32_t>(slot),
                     std::memory_order_relaxed);
    return &s.entries[static_cast<uint32_t>(slot) - 1];
}

IniFile::Section& IniFile::SectionForWriting(const std::string& name) {
    if (lastSection_ < sections_.size() && sections_[lastSection_].name == name)
        return sections_[lastSection_];
    const auto found = sectionIndex_.find(name);
    if (found != sectionIndex_.end()) {
        lastSection_ = found->second;
    } else {
        lastSection_ = sections_.size();
        sectionIndex_.emplace(name, lastSection_);
        sections_.push_back(Section{name, {}, {}, {}});
    }
    return sections_[lastSection_];
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& def) const {
    const Entry* entry = FindEntry(section, key);
    return entry ? std::string(Value(*entry)) : def;
}

int32_t IniFile::ReadInteger(const std::string& section, const std::string& key, int32_t def) const {
    const Entry* entry = FindEntry(section, key);
    int32_t result = def;
    if (entry && orvlib::TryParseInt32(std::string(Value(*entry)), result))
        return result;
    return def;
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
    const Entry* entry = FindEntry(section, key);
    int32_t number = 0;
    if (entry && orvlib::TryParseInt32(std::string(Value(*entry)), number))
        return number != 0;
    return def;
}

bool IniFile::ValueExists(const std::string& section, const std::string& key) const {
    return FindEntry(section, key) != nullptr;
}

void IniFile::Put(const std::string& section, const std::string& key, const std::string& value) {
    // Anything that would read back differently, or as other keys, is refused.
    const char* problem = nullptr;
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value))
        problem = "a section, key or value cannot contain a line break";
    else if (key.empty())
        problem = "the key is empty";
    else if (std::memchr(key.data(), '=', key.size()))
        problem = "a key cannot contain \"=\"";
    else if (key.front() == '[')
        problem = "a key cannot start with \"[\"";
    else if (key.size() + value.size() >= kMaxText - text_.size())
        problem = "the file would grow too large";
    if (problem)
        throw EIniFileException("Cannot store key \"" + Shown(key) + "\" in section \"" + Shown(section) +
                                "\" of " + path_ + ": " + problem + ".");

    Section& s = SectionForWriting(section);
    // Grow first, so that the free slot found below stays the right one.
    if ((s.entries.size() + 1) * 2 > s.slots.size())
        Rehash(s, s.slots.empty() ? 16 : s.slots.size() * 2);
    const uint32_t hash = Hash(key);
    const std::size_t i = Probe(s, key, hash);
    if (s.slots[i] != 0) {
        Entry& entry = s.entries[static_cast<uint32_t>(s.slots[i]) - 1];
        if (value.size() <= entry.valueLength) {
            text_.replace(entry.valueOffset, value.size(), value);
        } else {
            entry.valueOffset = static_cast<uint32_t>(text_.size());
            text_ += value;
        }
        entry.valueLength = static_cast<uint32_t>(value.size());
        return;
    }
    const auto offset = static_cast<uint32_t>(text_.size());
    text_ += key;
    text_ += value;
    s.entries.push_back(Entry{offset, static_cast<uint32_t>(key.size()),
                              static_cast<uint32_t>(offset + key.size()),
                              static_cast<uint32_t>(value.size())});
    s.slots[i] = (static_cast<uint64_t>(hash) << 32) | s.entries.size();
    AddToFilter(s, hash);
}

void IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    Put(section, key, value);
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
    Put(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    Put(section, key, value ? "1" : "0");
}

void IniFile::EraseSection(const std::string& section) {
    const auto found = sectionIndex_.find(section);
    if (found == sectionIndex_.end())
        return;
    sections_.erase(sections_.begin() + static_cast<std::ptrdiff_t>(found->second));
    sectionIndex_.clear();
    for (std::size_t i = 0; i < sections_.size(); ++i)
        sectionIndex_.emplace(sections_[i].name, i);
    lastSection_ = 0;
    // The erased text stays in the buffer; only when nothing is left can the buffer go.
    if (sections_.empty())
        text_.clear();
}

std::string IniFile::Serialise() const {
    std::size_t size = 0;
    for (const Section& s : sections_) {
        size += s.name.size() + 4;
        for (const Entry& e : s.entries)
            size += e.keyLength + e.valueLength + 2;
    }
    // Sized once and filled in place: a file of many keys would otherwise pay a capacity check
    // per piece.
    std::string content(size, '\0');
    char* out = &content[0];
    auto put = [&out](std::string_view piece) {
        std::memcpy(out, piece.data(), piece.size());
        out += piece.size();
    };
    for (const Section& s : sections_) {
        if (out != content.data())
            *out++ = '\n';
        *out++ = '[';
        put(s.name);
        *out++ = ']';
        *out++ = '\n';
        for (const Entry& e : s.entries) {
            put(Key(e));
            *out++ = '=';
            put(Value(e));
            *out++ = '\n';
        }
    }
    content.resize(static_cast<std::size_t>(out - content.data()));
    return content;
}

void IniFile::UpdateFile(Durability durability) {
    const std::string content = Serialise();
    const std::string folder = FolderOf(path_);

    std::string name = path_ + ".tmp-XXXXXX";
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        throw EIniFileException("Cannot write " + path_ + ": cannot create a temporary file in " + folder +
                                ": " + SystemReason(errno));

    // Throws for the step that failed; the temporary file goes, the old file stays as it was.
    auto fail = [&](const char* what, bool open) {
        const int error = errno;
        if (open)
            close(fd);
        unlink(name.c_str());
        throw EIniFileException("Cannot write " + path_ + ": " + what + " " + name + ": " +
                                SystemReason(error));
    };
    if (fchmod(fd, 0600) != 0)
        fail("cannot set the permissions of", true);
    if (!WriteAll(fd, content))
        fail("cannot write", true);
    if (durability == Durability::Flushed && fsync(fd) != 0)
        fail("cannot flush to disk", true);
    if (close(fd) != 0)
        fail("cannot close", false);
    std::function<void(const std::string&)> hook;
    {
        std::lock_guard<std::mutex> lock(HookMutex());
        hook = BeforeReplaceHook();
    }
    if (hook) {
        try {
            hook(name);
        } catch (const std::exception& interruption) {
            unlink(name.c_str());
            throw EIniFileException("Cannot write " + path_ + ": the save was interrupted before " + name +
                                    " could replace it: " + interruption.what());
        } catch (...) {
            unlink(name.c_str());
            throw;
        }
    }
    if (rename(name.c_str(), path_.c_str()) != 0)
        fail("cannot rename over it", false);
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

void IniFile::SetBeforeReplaceHookForTesting(std::function<void(const std::string& tempPath)> hook) {
    std::lock_guard<std::mutex> lock(HookMutex());
    BeforeReplaceHook() = std::move(hook);
}
