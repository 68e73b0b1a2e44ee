#include "IniFile.h"

#include "OrvLib.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// What a text holds of the characters that matter to the file format.
enum : unsigned { kLineBreak = 1, kEquals = 2 };

unsigned SpecialsIn(std::string_view text) {
    const char* p = text.data();
    std::size_t left = text.size();
    unsigned found = 0;
#if defined(__SSE2__)
    // Keys and values are written by the hundred thousand: sixteen bytes at a time.
    if (left >= 16) {
        const __m128i newline = _mm_set1_epi8('\n');
        const __m128i carriageReturn = _mm_set1_epi8('\r');
        const __m128i equalsSign = _mm_set1_epi8('=');
        __m128i breaks = _mm_setzero_si128();
        __m128i equals = _mm_setzero_si128();
        for (; left >= 16; p += 16, left -= 16) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            breaks = _mm_or_si128(
                breaks, _mm_or_si128(_mm_cmpeq_epi8(block, newline), _mm_cmpeq_epi8(block, carriageReturn)));
            equals = _mm_or_si128(equals, _mm_cmpeq_epi8(block, equalsSign));
        }
        if (_mm_movemask_epi8(breaks) != 0)
            found |= kLineBreak;
        if (_mm_movemask_epi8(equals) != 0)
            found |= kEquals;
    }
#endif
    for (; left > 0; ++p, --left) {
        if (*p == '\n' || *p == '\r')
            found |= kLineBreak;
        else if (*p == '=')
            found |= kEquals;
    }
    return found;
}

bool HasLineBreak(std::string_view text) {
    return (SpecialsIn(text) & kLineBreak) != 0;
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

bool WriteAll(int fd, std::string_view content) {
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
    SectionScan scan;
    if (complete) {
        text_.reserve(static_cast<std::size_t>(info.st_size));
        // Each piece is searched for section lines while it is still in the cache.
        char buffer[65536];
        for (;;) {
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got > 0) {
                if (static_cast<std::size_t>(got) >= kMaxText - text_.size()) {
                    complete = false;
                    break;
                }
                text_.append(buffer, static_cast<std::size_t>(got));
                FindSections(scan, false);
            } else if (got == 0) {
                break;
            } else if (errno != EINTR) {
                complete = false;
                break;
            }
        }
    }
    close(fd);
    if (complete) {
        FindSections(scan, true);
    } else {
        // A file that cannot be read completely reads as a file without keys.
        text_.clear();
        sections_.clear();
        sectionIndex_.clear();
        lastSection_ = 0;
    }
    settled_.done.store(sections_.empty(), std::memory_order_relaxed);
}

// Lines end at "\n" or "\r", whichever comes first: that covers the line ends of any editor
// ("\n", "\r\n", "\r\r\n" from a double conversion, a lone "\r"), and a carriage return never
// stays inside a value (the writer refuses one, so whatever is read can be saved again). Here
// only the "[section]" lines are looked for, in the text read so far; the lines between them
// wait for ParseSection. last: the whole file has been read.
void IniFile::FindSections(SectionScan& scan, bool last) {
    const char* const data = text_.data();
    const std::size_t size = text_.size();
    if (!scan.started) {
        if (size < 3 && !last)
            return;
        // A byte order mark left by an editor.
        scan.start = text_.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
        scan.pos = scan.start;
        scan.started = true;
    }
    while (scan.pos < size) {
        const void* found = std::memchr(data + scan.pos, '[', size - scan.pos);
        if (!found) {
            scan.pos = size;
            break;
        }
        const auto open = static_cast<std::size_t>(static_cast<const char*>(found) - data);
        if (open != scan.start && data[open - 1] != '\n' && data[open - 1] != '\r') {
            scan.pos = open + 1; // inside a line
            continue;
        }
        std::size_t end = std::max(open, scan.searchedTo);
        while (end < size && data[end] != '\n' && data[end] != '\r')
            ++end;
        if (end == size && !last) {
            // The line goes on in text not read yet: look again from here.
            scan.pos = open;
            scan.searchedTo = end;
            return;
        }
        scan.pos = end;
        scan.searchedTo = 0;
        if (end - open < 2 || data[end - 1] != ']')
            continue;
        if (scan.section < sections_.size() && scan.linesFrom < open)
            sections_[scan.section].unparsed.push_back(
                Range{static_cast<uint32_t>(scan.linesFrom), static_cast<uint32_t>(open)});
        SectionForWriting(text_.substr(open + 1, end - open - 2));
        scan.section = lastSection_;
        scan.linesFrom = end;
    }
    if (last && scan.section < sections_.size() && scan.linesFrom < size)
        sections_[scan.section].unparsed.push_back(
            Range{static_cast<uint32_t>(scan.linesFrom), static_cast<uint32_t>(size)});
}

namespace {

// Calls line(begin, end, equals) for each line of data[from, to), equals being the position
// of the line's first "=" or to when it has none.
template <typename OnLine> void ForEachLine(const char* data, std::size_t from, std::size_t to, OnLine line) {
    std::size_t begin = from;
    std::size_t equals = to;
    std::size_t pos = from;
    auto at = [&](std::size_t p) {
        if (data[p] == '=') {
            if (equals == to)
                equals = p;
        } else {
            line(begin, p, equals);
            begin = p + 1;
            equals = to;
        }
    };
#if defined(__SSE2__)
    // Sixteen bytes at a time: the few that matter are picked out by one mask.
    const __m128i newline = _mm_set1_epi8('\n');
    const __m128i carriageReturn = _mm_set1_epi8('\r');
    const __m128i equalsSign = _mm_set1_epi8('=');
    for (; pos + 16 <= to; pos += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos));
        const __m128i hits =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, newline), _mm_cmpeq_epi8(block, carriageReturn)),
                         _mm_cmpeq_epi8(block, equalsSign));
        auto mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
        while (mask != 0) {
            at(pos + static_cast<std::size_t>(__builtin_ctz(mask)));
            mask &= mask - 1;
        }
    }
#endif
    for (; pos < to; ++pos) {
        const char c = data[pos];
        if (c == '\n' || c == '\r' || c == '=')
            at(pos);
    }
    if (begin < to)
        line(begin, to, equals);
}

} // namespace

void IniFile::ParseSection(Section& section) const {
    std::vector<Entry> fresh;
    std::vector<uint32_t> hashes;
    // About one line per 32 bytes: grown at most once or twice.
    std::size_t bytes = 0;
    for (const Range& range : section.unparsed)
        bytes += range.end - range.begin;
    fresh.reserve(bytes / 32 + 16);
    hashes.reserve(bytes / 32 + 16);
    for (const Range& range : section.unparsed) {
        // Header lines were found before; every line here is a key=value line or ignored. The
        // key is hashed while it is at hand.
        ForEachLine(text_.data(), range.begin, range.end,
                    [&](std::size_t begin, std::size_t end, std::size_t equals) {
                        if (equals >= end || equals == begin)
                            return; // no "=", or no key
                        fresh.push_back(Entry{
                            static_cast<uint32_t>(begin), static_cast<uint32_t>(equals - begin),
                            static_cast<uint32_t>(equals + 1), static_cast<uint32_t>(end - equals - 1)});
                        hashes.push_back(Hash(std::string_view(text_.data() + begin, equals - begin)));
                    });
    }
    section.unparsed.clear();
    section.unparsed.shrink_to_fit();
    section.filtered = true;
    Index(section, fresh, &hashes, true);
}

uint32_t IniFile::Hash(std::string_view key) {
    constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
    const char* p = key.data();
    std::size_t left = key.size();
    uint64_t h = static_cast<uint64_t>(left) * kMultiplier;
    for (; left >= 8; p += 8, left -= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        h = (h ^ word) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 31;
    }
    if (left > 0) {
        // The last eight bytes in one load where the key has them (overlapping the word before),
        // else the bytes gathered in a register: bytes stored one by one and loaded as a word
        // would stall the load.
        uint64_t word = 0;
        if (key.size() >= 8) {
            std::memcpy(&word, key.data() + key.size() - 8, 8);
        } else {
            for (std::size_t i = 0; i < left; ++i)
                word |= static_cast<uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i);
        }
        h = (h ^ word) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 31;
    }
    h *= 0x94D049BB133111EBull;
    h ^= h >> 29;
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

void IniFile::Index(Section& section, std::vector<Entry>& fresh, std::vector<uint32_t>* freshHashes,
                    bool fromFile) const {
    if (fresh.empty())
        return;
    // Sized once for all that may come: at most two thirds full.
    std::size_t size = std::max<std::size_t>(section.slots.size(), 16);
    while ((section.entries.size() + fresh.size()) * 3 > size * 2)
        size *= 2;
    if (size != section.slots.size())
        Rehash(section, size);
    if (section.filtered && section.filter.empty())
        RebuildFilter(section);
    // Into an empty section the fresh entries go where they are, moved up over the duplicates.
    const bool inPlace = section.entries.empty();
    if (inPlace)
        section.entries.swap(fresh);
    const std::vector<Entry>& from = inPlace ? section.entries : fresh;
    std::size_t kept = inPlace ? 0 : section.entries.size();

    // The slots are visited in random order; in a large file nearly every visit misses the
    // cache. With all hashes known first, the slot of a later entry is fetched while this one is
    // placed.
    const std::size_t count = from.size();
    std::vector<uint32_t> computed;
    if (!freshHashes) {
        computed.resize(count);
        for (std::size_t n = 0; n < count; ++n)
            computed[n] = Hash(Key(from[n]));
    }
    const std::vector<uint32_t>& hashes = freshHashes ? *freshHashes : computed;
    constexpr std::size_t kAhead = 16;
    const std::size_t mask = size - 1;
    for (std::size_t n = 0; n < count; ++n) {
        if (n + kAhead < count)
            __builtin_prefetch(&section.slots[hashes[n + kAhead] & mask]);
        const Entry entry = from[n];
        const uint32_t hash = hashes[n];
        const std::size_t i = Probe(section, Key(entry), hash);
        if (section.slots[i] != 0) {
            if (!fromFile) {
                Entry& existing = section.entries[static_cast<uint32_t>(section.slots[i]) - 1];
                existing.valueOffset = entry.valueOffset;
                existing.valueLength = entry.valueLength;
            }
            continue;
        }
        if (!inPlace)
            section.entries.push_back(entry);
        else if (kept != n)
            section.entries[kept] = entry; // moved up over a repeat
        ++kept;
        section.slots[i] = (static_cast<uint64_t>(hash) << 32) | kept;
        AddToFilter(section, hash);
    }
    section.entries.resize(kept);
    fresh.clear();
}

void IniFile::SettleSection(Section& section) const {
    if (!section.unparsed.empty())
        ParseSection(section);
    Index(section, section.written, nullptr, false);
}

void IniFile::Settle() const {
    if (settled_.done.load(std::memory_order_acquire))
        return;
    std::lock_guard<std::mutex> lock(settled_.lock);
    if (settled_.done.load(std::memory_order_relaxed))
        return;
    for (Section& section : sections_)
        SettleSection(section);
    settled_.done.store(true, std::memory_order_release);
}

const IniFile::Entry* IniFile::FindEntry(const std::string& section, const std::string& key) const {
    Settle();
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
        sections_.push_back(Section{});
        sections_.back().name = name;
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

std::optional<std::string_view> IniFile::FindValue(const std::string& section, const std::string& key) const {
    const Entry* entry = FindEntry(section, key);
    if (!entry)
        return std::nullopt;
    return Value(*entry);
}

void IniFile::Put(const std::string& section, const std::string& key, std::string_view value) {
    // Anything that would read back differently, or as other keys, is refused.
    const char* problem = nullptr;
    const unsigned inKey = SpecialsIn(key);
    // A section that exists has been checked before.
    const bool knownSection = (lastSection_ < sections_.size() && sections_[lastSection_].name == section) ||
                              sectionIndex_.count(section) != 0;
    if ((inKey & kLineBreak) || HasLineBreak(value) || (!knownSection && HasLineBreak(section)))
        problem = "a section, key or value cannot contain a line break";
    else if (key.empty())
        problem = "the key is empty";
    else if (inKey & kEquals)
        problem = "a key cannot contain \"=\"";
    else if (key.front() == '[')
        problem = "a key cannot start with \"[\"";
    else if (key.size() + value.size() >= kMaxText - text_.size())
        problem = "the file would grow too large";
    if (problem)
        throw EIniFileException("Cannot store key \"" + Shown(key) + "\" in section \"" + Shown(section) +
                                "\" of " + path_ + ": " + problem + ".");

    // Only noted here; Settle puts it in place (a key written before keeps its place and takes
    // the last value).
    Section& s = SectionForWriting(section);
    const auto offset = static_cast<uint32_t>(text_.size());
    text_.append(key);
    text_.append(value);
    s.written.push_back(Entry{offset, static_cast<uint32_t>(key.size()),
                              static_cast<uint32_t>(offset + key.size()),
                              static_cast<uint32_t>(value.size())});
    settled_.done.store(false, std::memory_order_relaxed);
}

void IniFile::WriteString(const std::string& section, const std::string& key, std::string_view value) {
    Put(section, key, value);
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    Put(section, key, std::string_view(digits, static_cast<std::size_t>(end - digits)));
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
    // The erased text stays in the buffer; only when nothing is left can the buffer go (its
    // storage stays for what is written next).
    if (sections_.empty())
        text_.clear();
}

// Written in pieces through a buffer that stays in the cache, rather than built whole first.
void IniFile::WriteContent(int fd) const {
    constexpr std::size_t kBuffer = 128 * 1024;
    std::string buffer(kBuffer, '\0');
    std::size_t used = 0;
    auto flush = [&]() {
        if (!WriteAll(fd, std::string_view(buffer.data(), used)))
            throw std::system_error(errno, std::generic_category());
        used = 0;
    };
    auto put = [&](std::string_view piece) {
        if (piece.size() > kBuffer - used) {
            flush();
            if (piece.size() > kBuffer) {
                if (!WriteAll(fd, piece))
                    throw std::system_error(errno, std::generic_category());
                return;
            }
        }
        std::memcpy(&buffer[used], piece.data(), piece.size());
        used += piece.size();
    };
    bool first = true;
    for (const Section& s : sections_) {
        put(first ? "[" : "\n[");
        first = false;
        put(s.name);
        put("]\n");
        for (const Entry& e : s.entries) {
            // One piece where it fits: key, "=", value and line end.
            const std::size_t length = e.keyLength + e.valueLength + 2;
            if (length <= kBuffer - used) {
                char* out = &buffer[used];
                std::memcpy(out, text_.data() + e.keyOffset, e.keyLength);
                out[e.keyLength] = '=';
                std::memcpy(out + e.keyLength + 1, text_.data() + e.valueOffset, e.valueLength);
                out[length - 1] = '\n';
                used += length;
            } else {
                put(Key(e));
                put("=");
                put(Value(e));
                put("\n");
            }
        }
    }
    flush();
}

void IniFile::UpdateFile(Durability durability) {
    Settle();
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
    try {
        WriteContent(fd);
    } catch (const std::system_error& e) {
        errno = e.code().value();
        fail("cannot write", true);
    }
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
