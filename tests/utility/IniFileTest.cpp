#include "IniFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using testsupport::FileExists;
using testsupport::FilesIn;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(0, stat(path.c_str(), &info)) << path;
    return info.st_mode & 07777;
}

template <typename F> std::string ExceptionMessage(F&& action) {
    try {
        action();
    } catch (const EIniFileException& e) {
        return e.what();
    }
    ADD_FAILURE() << "no EIniFileException";
    return {};
}

} // namespace

TEST(IniFileTest, SavedValuesReadBackExactlyInTheFileFormat) {
    TempDir temp;
    const std::string path = temp.File("config.ini");
    {
        IniFile ini(path);
        EXPECT_EQ(path, ini.FileName());
        ini.WriteString("consumer", "secret", " a=b= ");
        ini.WriteString("consumer", "text", "Café ☕ [x] ;not a comment");
        ini.WriteString("consumer", "empty", "");
        ini.WriteInteger("consumer", "min", INT32_MIN);
        ini.WriteInteger("consumer", "max", INT32_MAX);
        ini.WriteBool("consumer", "yes", true);
        ini.WriteBool("consumer", "no", false);
        ini.WriteString("other", " spaced key ", "v");
        ini.UpdateFile();
    }
    EXPECT_EQ("[consumer]\n"
              "secret= a=b= \n"
              "text=Café ☕ [x] ;not a comment\n"
              "empty=\n"
              "min=-2147483648\n"
              "max=2147483647\n"
              "yes=1\n"
              "no=0\n"
              "\n"
              "[other]\n"
              " spaced key =v\n",
              ReadFile(path));

    const IniFile ini(path);
    EXPECT_EQ(" a=b= ", ini.ReadString("consumer", "secret", "def"));
    EXPECT_EQ("Café ☕ [x] ;not a comment", ini.ReadString("consumer", "text", "def"));
    EXPECT_EQ("", ini.ReadString("consumer", "empty", "def"));
    EXPECT_TRUE(ini.ValueExists("consumer", "empty"));
    EXPECT_EQ(INT32_MIN, ini.ReadInteger("consumer", "min", 5));
    EXPECT_EQ(INT32_MAX, ini.ReadInteger("consumer", "max", 5));
    EXPECT_TRUE(ini.ReadBool("consumer", "yes", false));
    EXPECT_FALSE(ini.ReadBool("consumer", "no", true));
    EXPECT_EQ("v", ini.ReadString("other", " spaced key ", "def"));
    // Keys and sections are compared exactly.
    EXPECT_FALSE(ini.ValueExists("other", "spaced key"));
    EXPECT_FALSE(ini.ValueExists("Consumer", "secret"));
    EXPECT_FALSE(ini.ValueExists("consumer", "Secret"));
    EXPECT_EQ("def", ini.ReadString("nowhere", "secret", "def"));
}

TEST(IniFileTest, KeepsFirstWrittenOrderAndErasesSections) {
    TempDir temp;
    const std::string path = temp.File("order.ini");
    IniFile ini(path);
    ini.WriteString("b", "z", "1");
    ini.WriteString("a", "k", "2");
    ini.WriteString("b", "a", "3");
    ini.WriteString("b", "z", "changed"); // stays first
    ini.WriteString("c", "k", "4");
    ini.UpdateFile();
    EXPECT_EQ("[b]\nz=changed\na=3\n\n[a]\nk=2\n\n[c]\nk=4\n", ReadFile(path));

    ini.EraseSection("b");
    ini.EraseSection("missing");
    EXPECT_FALSE(ini.ValueExists("b", "z"));
    EXPECT_EQ("4", ini.ReadString("c", "k", ""));
    ini.WriteString("b", "new", "5"); // a section written again goes last
    ini.WriteString("c", "l", "6");
    ini.UpdateFile();
    EXPECT_EQ("[a]\nk=2\n\n[c]\nk=4\nl=6\n\n[b]\nnew=5\n", ReadFile(path));

    // Erasing and writing fewer keys leaves nothing of the old ones in the file.
    IniFile again(path);
    again.EraseSection("c");
    again.WriteString("c", "l", "7");
    again.UpdateFile();
    const IniFile reread(path);
    EXPECT_FALSE(reread.ValueExists("c", "k"));
    EXPECT_EQ("7", reread.ReadString("c", "l", ""));
    EXPECT_EQ("5", reread.ReadString("b", "new", ""));
}

TEST(IniFileTest, ReadsHandWrittenFiles) {
    TempDir temp;
    const std::string path = temp.File("hand.ini");
    WriteFile(path, "\xEF\xBB\xBF"
                    "orphan=before any section\r\n"
                    "[consumer]\r\n"
                    "base-url=http://localhost:8080/ \r\n"
                    "; a comment line\n"
                    "no equals sign here\n"
                    "=no key\n"
                    "dup=first\n"
                    "dup=second\n"
                    "  indented = kept \r\r\n"
                    "[ spaced ]\n"
                    "x=1\n"
                    "[consumer]\n"
                    "later=merged\n"
                    "last=no line end");
    const IniFile ini(path);
    EXPECT_EQ("http://localhost:8080/ ", ini.ReadString("consumer", "base-url", ""));
    EXPECT_EQ("first", ini.ReadString("consumer", "dup", ""));
    EXPECT_EQ(" kept ", ini.ReadString("consumer", "  indented ", ""));
    EXPECT_EQ("merged", ini.ReadString("consumer", "later", ""));
    EXPECT_EQ("no line end", ini.ReadString("consumer", "last", ""));
    EXPECT_EQ("1", ini.ReadString(" spaced ", "x", ""));
    EXPECT_FALSE(ini.ValueExists("", "orphan"));
    EXPECT_FALSE(ini.ValueExists("consumer", "orphan"));
    EXPECT_FALSE(ini.ValueExists("consumer", ""));
    EXPECT_FALSE(ini.ValueExists("consumer", "no equals sign here"));
}

// A save replaces one section, erased after the file was read or left out while it was read:
// either way the other sections come out as they always do (in file order, line ends made "\n",
// a key given twice once), the replaced section goes last, and a key written twice keeps its
// first place with its last value.
TEST(IniFileTest, SectionReplacedUnreadLeavesTheOtherSectionsAsTheyWere) {
    TempDir temp;
    const std::string path = temp.File("config.ini");
    for (const bool leftOutWhenRead : {false, true}) {
        SCOPED_TRACE(leftOutWhenRead ? "left out when read" : "erased");
        WriteFile(path, "[before]\na=1\r\nb=2\n"
                        "[consumer]\nold-1=x\nold-2=y\n"
                        "[after]\nc=3\nc=second\n; note\n"
                        "[consumer]\nold-3=z\n");
        {
            const auto ini = leftOutWhenRead ? std::make_unique<IniFile>(path, "consumer")
                                             : std::make_unique<IniFile>(path);
            if (!leftOutWhenRead)
                ini->EraseSection("consumer");
            EXPECT_FALSE(ini->ValueExists("consumer", "old-1"));
            EXPECT_EQ("2", ini->ReadString("before", "b", ""));
            ini->WriteString("consumer", "k1", "v1");
            ini->WriteString("consumer", "k2", "v2");
            ini->WriteString("consumer", "k1", "v1 again");
            ini->UpdateFile();
        }
        EXPECT_EQ("[before]\na=1\nb=2\n\n[after]\nc=3\n\n[consumer]\nk1=v1 again\nk2=v2\n", ReadFile(path));
        const IniFile reread(path);
        EXPECT_FALSE(reread.ValueExists("consumer", "old-3"));
        EXPECT_EQ("3", reread.ReadString("after", "c", ""));
    }
}

// Writes and reads mixed in any order: reads see every write so far, a file's first value of a
// key counts until the key is written, and the file keeps the first place of every key.
TEST(IniFileTest, ReadsSeeAllWritesAndKeysKeepTheirFirstPlace) {
    TempDir temp;
    const std::string path = temp.File("mixed.ini");
    WriteFile(path, "[s]\nk=file\nk=duplicate\nm=1\ne=\n");
    IniFile ini(path);
    ini.WriteString("s", "n", "before any read");
    EXPECT_EQ("file", ini.ReadString("s", "k", "-"));
    EXPECT_EQ("before any read", ini.ReadString("s", "n", "-"));
    ini.WriteString("s", "k", "w1");
    ini.WriteString("t", "x", "1");
    ini.WriteString("s", "k", "w2");
    EXPECT_EQ("w2", ini.ReadString("s", "k", "-"));
    EXPECT_EQ(1, ini.ReadInteger("t", "x", 0));
    EXPECT_EQ(1, ini.ReadInteger("s", "m", 0));

    // An empty value is there; an absent key is not.
    EXPECT_TRUE(ini.ValueExists("s", "e"));
    EXPECT_EQ("", ini.ReadString("s", "e", "-"));
    EXPECT_FALSE(ini.ValueExists("s", "absent"));
    EXPECT_FALSE(ini.ValueExists("no such section", "k"));

    ini.UpdateFile();
    EXPECT_EQ("[s]\nk=w2\nm=1\ne=\nn=before any read\n\n[t]\nx=1\n", ReadFile(path));
}

// A large file is read in pieces: section lines that straddle two pieces, and a very long line
// that starts with "[" and spans several, are told apart exactly as in a small file.
TEST(IniFileTest, SectionLinesAnywhereInALargeFileAreFound) {
    TempDir temp;
    for (const std::size_t headerAt : {65530u, 65533u, 65535u, 65536u, 65537u, 131070u}) {
        SCOPED_TRACE(headerAt);
        std::string content = "[first]\n";
        for (int n = 0; content.size() < headerAt - 20; ++n)
            content += "k" + std::to_string(n) + "=v\n";
        content += std::string(headerAt - content.size() - 1, ';') + "\n";
        ASSERT_EQ(content.size(), headerAt);
        content += "[second]\r\nx=1\n";
        content += "[" + std::string(200000, 'y') + "\nnot=a section\n"; // no closing bracket
        content += "[" + std::string(150000, 'z') + "]\nz=2\n";
        content += "[first]\nlast=3";
        const std::string path = temp.File("large.ini");
        WriteFile(path, content);

        IniFile ini(path);
        EXPECT_EQ("v", ini.ReadString("first", "k0", ""));
        EXPECT_EQ("3", ini.ReadString("first", "last", ""));
        EXPECT_EQ("1", ini.ReadString("second", "x", ""));
        EXPECT_EQ("a section", ini.ReadString("second", "not", ""));
        EXPECT_EQ("2", ini.ReadString(std::string(150000, 'z'), "z", ""));
        EXPECT_FALSE(ini.ValueExists("first", "x"));
    }
}

// Several threads reading one file at once all see the whole file (run under the thread
// sanitizer by the thorough build).
TEST(IniFileTest, ConcurrentReadsAllSeeTheWholeFile) {
    TempDir temp;
    const std::string path = temp.File("shared.ini");
    std::string content = "[a]\n";
    for (int n = 0; n < 2000; ++n)
        content += "key-" + std::to_string(n) + "=" + std::to_string(n * 7) + "\n";
    content += "[b]\nonly=here\n";
    WriteFile(path, content);
    for (int round = 0; round < 5; ++round) {
        const IniFile ini(path);
        std::vector<int> wrong(4, 0);
        std::vector<std::thread> readers;
        for (int t = 0; t < 4; ++t) {
            readers.emplace_back([&ini, &wrong, t] {
                for (int n = 0; n < 2000; ++n)
                    if (ini.ReadInteger("a", "key-" + std::to_string((n + t * 500) % 2000), -1) !=
                        ((n + t * 500) % 2000) * 7)
                        ++wrong[static_cast<std::size_t>(t)];
                if (ini.ReadString("b", "only", "") != "here" || ini.ValueExists("a", "only"))
                    ++wrong[static_cast<std::size_t>(t)];
            });
        }
        for (std::thread& reader : readers)
            reader.join();
        for (int t = 0; t < 4; ++t)
            EXPECT_EQ(0, wrong[static_cast<std::size_t>(t)]) << "thread " << t << ", round " << round;
    }
}

TEST(IniFileTest, IntegersAndBooleansFallBackToTheDefault) {
    TempDir temp;
    const std::string path = temp.File("numbers.ini");
    WriteFile(path, "[s]\n"
                    "plus=+7\nminus=-12\nzero=0\ntwo=2\nnegative=-1\n"
                    "big=2147483648\nsmall=-2147483649\nspace= 1\ntrailing=1 \n"
                    "decimal=1.0\ntext=true\nhex=0x10\nempty=\n");
    const IniFile ini(path);
    EXPECT_EQ(7, ini.ReadInteger("s", "plus", 99));
    EXPECT_EQ(-12, ini.ReadInteger("s", "minus", 99));
    EXPECT_EQ(0, ini.ReadInteger("s", "zero", 99));
    for (const char* bad :
         {"big", "small", "space", "trailing", "decimal", "text", "hex", "empty", "absent"}) {
        EXPECT_EQ(99, ini.ReadInteger("s", bad, 99)) << bad;
        EXPECT_TRUE(ini.ReadBool("s", bad, true)) << bad;
        EXPECT_FALSE(ini.ReadBool("s", bad, false)) << bad;
    }
    EXPECT_TRUE(ini.ReadBool("s", "two", false));
    EXPECT_TRUE(ini.ReadBool("s", "negative", false));
    EXPECT_TRUE(ini.ReadBool("s", "plus", false));
    EXPECT_FALSE(ini.ReadBool("s", "zero", true));
}

TEST(IniFileTest, MissingOrUnreadableFilesHaveNoKeys) {
    TempDir temp;
    const IniFile missing(temp.File("missing.ini"));
    EXPECT_FALSE(missing.ValueExists("consumer", "secret"));
    EXPECT_EQ("def", missing.ReadString("consumer", "secret", "def"));
    EXPECT_EQ(3, missing.ReadInteger("consumer", "n", 3));
    EXPECT_FALSE(FileExists(temp.File("missing.ini"))) << "reading must not create the file";

    const IniFile folder(temp.Path());
    EXPECT_FALSE(folder.ValueExists("consumer", "secret"));

    const std::string fifo = temp.File("fifo.ini");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    const IniFile pipe(fifo); // must not wait for a writer
    EXPECT_FALSE(pipe.ValueExists("consumer", "secret"));

    const std::string locked = temp.File("locked.ini");
    WriteFile(locked, "[consumer]\nsecret=s\n");
    ASSERT_EQ(0, chmod(locked.c_str(), 0));
    if (geteuid() != 0) { // the superuser reads it anyway
        const IniFile unreadable(locked);
        EXPECT_FALSE(unreadable.ValueExists("consumer", "secret"));
    }
}

TEST(IniFileTest, RandomBytesNeverCrashAndSurviveASaveUnchanged) {
    TempDir temp;
    std::mt19937 random(4242);
    const std::string alphabet = "[]=\r\n\n\nab ;\t\xEF\xBB\xBF\x00\xff";
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> anyByte(0, 255);
    for (int round = 0; round < 30; ++round) {
        std::string bytes(static_cast<std::size_t>(anyByte(random)) * 40, '\0');
        for (char& c : bytes)
            c = round % 2 ? static_cast<char>(anyByte(random)) : alphabet[pick(random)];
        const std::string path = temp.File("garbage-" + std::to_string(round) + ".ini");
        WriteFile(path, bytes);

        IniFile first(path);
        first.ReadString("a", "b", "");
        first.UpdateFile();
        const std::string saved = ReadFile(path);
        IniFile second(path);
        second.UpdateFile();
        ASSERT_EQ(saved, ReadFile(path)) << "round " << round;
    }
}

TEST(IniFileTest, HugeKeysAndValuesRoundTrip) {
    TempDir temp;
    const std::string path = temp.File("huge.ini");
    std::string key(1 << 20, 'k');
    key.back() = '1';
    std::string value;
    for (std::size_t i = 0; value.size() < (1u << 20); ++i)
        value += static_cast<char>(' ' + i % 90);
    {
        IniFile ini(path);
        ini.WriteString("s", key, value);
        ini.WriteString("s", "small", "x");
        ini.UpdateFile();
    }
    const IniFile ini(path);
    EXPECT_EQ(value, ini.ReadString("s", key, ""));
    EXPECT_EQ("x", ini.ReadString("s", "small", ""));
    EXPECT_FALSE(ini.ValueExists("s", std::string(1 << 20, 'k')));
}

TEST(IniFileTest, ManyKeysRoundTrip) {
    TempDir temp;
    const std::string path = temp.File("many.ini");
    {
        IniFile ini(path);
        ini.WriteString("consumer", "session-id", "x");
        for (int line = 0; line < 10000; ++line)
            for (int field = 0; field < 20; ++field)
                ini.WriteInteger("consumer", "field-" + std::to_string(field) + "-" + std::to_string(line),
                                 line * 100 + field);
        ini.UpdateFile();
    }
    const IniFile ini(path);
    for (int line = 0; line < 10000; ++line)
        for (int field = 0; field < 20; ++field)
            ASSERT_EQ(line * 100 + field,
                      ini.ReadInteger("consumer",
                                      "field-" + std::to_string(field) + "-" + std::to_string(line), -1));
}

TEST(IniFileTest, LookupsFindTheRightKeyInAnyOrder) {
    TempDir temp;
    const std::string path = temp.File("mixed.ini");
    const std::vector<std::string> sections = {"a", "b", "c"};
    auto expected = [](const std::string& section, int n) { return section + std::to_string(n * 7); };
    IniFile ini(path);
    for (int n = 0; n < 500; ++n)
        for (const std::string& section : sections)
            ini.WriteString(section, "key-" + std::to_string(n), expected(section, n));

    auto checkAll = [&](const IniFile& file, const std::vector<std::string>& present) {
        std::vector<int> order(500);
        for (int n = 0; n < 500; ++n)
            order[static_cast<std::size_t>(n)] = n;
        std::shuffle(order.begin(), order.end(), std::mt19937(7));
        for (int pass = 0; pass < 3; ++pass) {
            if (pass == 1)
                std::reverse(order.begin(), order.end());
            if (pass == 2)
                std::sort(order.begin(), order.end());
            for (int n : order) {
                for (const std::string& section : sections) {
                    const bool there = std::find(present.begin(), present.end(), section) != present.end();
                    const std::string key = "key-" + std::to_string(n);
                    ASSERT_EQ(there ? expected(section, n) : "-", file.ReadString(section, key, "-"))
                        << section << " " << key;
                    ASSERT_FALSE(file.ValueExists(section, key + "x"));
                }
            }
        }
    };
    checkAll(ini, sections);

    // Longer and shorter values replace the old ones completely.
    ini.WriteString("b", "key-3", std::string(100, 'L'));
    ini.WriteString("b", "key-4", "s");
    EXPECT_EQ(std::string(100, 'L'), ini.ReadString("b", "key-3", ""));
    EXPECT_EQ("s", ini.ReadString("b", "key-4", ""));
    EXPECT_EQ(expected("b", 5), ini.ReadString("b", "key-5", ""));
    ini.WriteString("b", "key-3", expected("b", 3));
    ini.WriteString("b", "key-4", expected("b", 4));

    ini.EraseSection("b");
    checkAll(ini, {"a", "c"});
    ini.UpdateFile();
    checkAll(IniFile(path), {"a", "c"});
}

TEST(IniFileTest, SavedFileIsPrivateToItsOwnerWhateverTheDurability) {
    for (const auto durability : {IniFile::Durability::Flushed, IniFile::Durability::Atomic}) {
        TempDir temp;
        const std::string path = temp.File("config.ini");
        WriteFile(path, "[consumer]\nsecret=old\n");
        ASSERT_EQ(0, chmod(path.c_str(), 0644));
        const mode_t oldMask = umask(0);
        IniFile ini(path);
        ini.WriteString("consumer", "secret", "new");
        ini.UpdateFile(durability);
        umask(oldMask);
        EXPECT_EQ(0600u, ModeOf(path));
        EXPECT_EQ("[consumer]\nsecret=new\n", ReadFile(path));
        EXPECT_EQ((std::vector<std::string>{"config.ini"}), FilesIn(temp.Path())) << "temporary file left";
    }
}

TEST(IniFileTest, FailedSaveThrowsAndKeepsThePreviousFile) {
    TempDir temp;
    {
        // No folder to write into.
        const std::string path = temp.File("absent/config.ini");
        IniFile ini(path);
        ini.WriteString("consumer", "secret", "s");
        const std::string message = ExceptionMessage([&] { ini.UpdateFile(); });
        EXPECT_NE(std::string::npos, message.find(path)) << message;
        EXPECT_NE(std::string::npos, message.find(std::strerror(ENOENT))) << message;
    }
    {
        // The rename fails after the temporary file was written: a folder stands where the file goes.
        const std::string path = temp.File("blocked.ini");
        ASSERT_EQ(0, mkdir(path.c_str(), 0700));
        WriteFile(path + "/inside", "old content");
        IniFile ini(path);
        ini.WriteString("consumer", "secret", "s");
        const std::string message = ExceptionMessage([&] { ini.UpdateFile(); });
        EXPECT_NE(std::string::npos, message.find(path)) << message;
        EXPECT_NE(std::string::npos, message.find(std::strerror(EISDIR))) << message;
        EXPECT_EQ("old content", ReadFile(path + "/inside"));
        EXPECT_EQ((std::vector<std::string>{"blocked.ini"}), FilesIn(temp.Path())) << "temporary file left";
    }
}

TEST(IniFileTest, SaveIntoReadOnlyFolderKeepsTheOldFileByteForByte) {
    if (geteuid() == 0)
        GTEST_SKIP() << "running as the superuser: folder permissions do not stop writes";
    TempDir temp;
    const std::string folder = temp.File("ro");
    ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
    const std::string path = folder + "/config.ini";
    const std::string old = "[consumer]\r\nsecret=old\r\nodd line\r\n";
    WriteFile(path, old);
    IniFile ini(path);
    ini.WriteString("consumer", "secret", "new");
    ASSERT_EQ(0, chmod(folder.c_str(), 0500));
    const std::string message = ExceptionMessage([&] { ini.UpdateFile(); });
    chmod(folder.c_str(), 0700);
    EXPECT_NE(std::string::npos, message.find(path)) << message;
    EXPECT_NE(std::string::npos, message.find(std::strerror(EACCES))) << message;
    EXPECT_EQ(old, ReadFile(path));
    EXPECT_EQ((std::vector<std::string>{"config.ini"}), FilesIn(folder));
}

TEST(IniFileTest, RefusesWhatWouldReadBackAsOtherLines) {
    TempDir temp;
    const std::string path = temp.File("config.ini");
    IniFile ini(path);
    ini.WriteString("consumer", "secret", "kept");

    struct Attempt {
        std::string section, key, value;
    };
    const std::vector<Attempt> attempts = {
        {"consumer", "secret", "x\nevent-counter=999"},
        {"consumer", "secret", "x\r"},
        {"consumer", "evil\nkey", "v"},
        {"consumer", "key\r", "v"},
        {"consumer]\n[other", "k", "v"},
        {"consumer", "a=b", "v"},
        {"consumer", "", "v"},
        {"consumer", "[other]", "v"},
    };
    for (const Attempt& a : attempts) {
        const std::string message = ExceptionMessage([&] { ini.WriteString(a.section, a.key, a.value); });
        EXPECT_NE(std::string::npos, message.find(path)) << message;
        if (a.key != "secret") {
            EXPECT_FALSE(ini.ValueExists(a.section, a.key)) << a.key;
        }
    }
    EXPECT_EQ("kept", ini.ReadString("consumer", "secret", ""));
    EXPECT_THROW(ini.WriteInteger("bad\nsection", "k", 1), EIniFileException);
    EXPECT_THROW(ini.WriteBool("consumer", "k\n", true), EIniFileException);

    ini.UpdateFile();
    EXPECT_EQ("[consumer]\nsecret=kept\n", ReadFile(path));
    const IniFile reread(path);
    EXPECT_FALSE(reread.ValueExists("consumer", "event-counter"));
}
