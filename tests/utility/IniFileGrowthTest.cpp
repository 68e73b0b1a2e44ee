#include "IniFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::string Key(int n) {
    return "session-line-id-" + std::to_string(n);
}

std::string ValueOf(int n) {
    return "v" + std::to_string(n * 3);
}

// Every key below `count` holds its value; keys with other names or beyond it are absent.
// Read from the last to the first, so that no lookup is helped by the order of writing.
void ExpectExactly(const IniFile& ini, int count) {
    for (int n = count - 1; n >= 0; --n) {
        ASSERT_EQ(ValueOf(n), ini.ReadString("consumer", Key(n), "-")) << Key(n);
        ASSERT_FALSE(ini.ValueExists("consumer", "session-line-set-id-" + std::to_string(n)));
    }
    for (int n = count; n < count + 2000; ++n)
        ASSERT_FALSE(ini.ValueExists("consumer", Key(n))) << Key(n);
    ASSERT_FALSE(ini.ValueExists("other", Key(0)));
}

} // namespace

// A file read from disk and then extended many times over: every key stays findable and no
// absent key is reported, however large the section grows.
TEST(IniFileGrowthTest, ReadFileExtendedByWritesFindsExactlyItsKeys) {
    TempDir temp;
    const std::string path = temp.File("grow.ini");
    std::string content = "[consumer]\n";
    for (int n = 0; n < 300; ++n)
        content += Key(n) + "=" + ValueOf(n) + "\n";
    // A key given twice: the first one counts, also after the table has grown.
    content += Key(5) + "=later\n";
    WriteFile(path, content);

    IniFile ini(path);
    ExpectExactly(ini, 300);
    for (int n = 300; n < 40000; ++n) {
        ini.WriteString("consumer", Key(n), ValueOf(n));
        if (n == 1000 || n == 9000)
            ExpectExactly(ini, n + 1);
    }
    ExpectExactly(ini, 40000);

    // Existing keys take new values without becoming duplicates.
    ini.WriteString("consumer", Key(7), "changed");
    EXPECT_EQ("changed", ini.ReadString("consumer", Key(7), ""));
    ini.WriteString("consumer", Key(7), ValueOf(7));

    ini.UpdateFile(IniFile::Durability::Atomic);
    ExpectExactly(IniFile(path), 40000);
}

// An empty section read from a file, then written to.
TEST(IniFileGrowthTest, EmptySectionFromFileTakesNewKeys) {
    TempDir temp;
    const std::string path = temp.File("empty.ini");
    WriteFile(path, "[consumer]\n[other]\nx=1\n");
    IniFile ini(path);
    EXPECT_FALSE(ini.ValueExists("consumer", Key(0)));
    for (int n = 0; n < 100; ++n)
        ini.WriteString("consumer", Key(n), ValueOf(n));
    ExpectExactly(ini, 100);
    EXPECT_EQ(1, ini.ReadInteger("other", "x", 0));
}
