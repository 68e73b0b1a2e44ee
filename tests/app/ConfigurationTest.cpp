// config.ini and event-counter.ini as the developer meets them: start-up without files, "Save"
// and "Restore", the event counter, hand-edited and damaged files, and a save that cannot write.

#include "Application.h"
#include "HeadlessToolkit.h"
#include "IniFile.h"
#include "MainFormUnit.h"
#include "OptionalPrinting.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

using OrvelUtility::Uuid;
using Tarn::Webhooks::ExternalDiscount;
using Tarn::Webhooks::SessionLine;
using testsupport::FileExists;
using testsupport::FilesIn;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

// The keys of a written file in file order, and its section lines.
struct IniText {
    std::vector<std::string> sections;
    std::vector<std::pair<std::string, std::string>> entries;

    explicit IniText(const std::string& content) {
        std::size_t pos = 0;
        while (pos < content.size()) {
            std::size_t end = content.find('\n', pos);
            if (end == std::string::npos)
                end = content.size();
            const std::string line = content.substr(pos, end - pos);
            pos = end + 1;
            if (line.empty())
                continue;
            if (line.front() == '[')
                sections.push_back(line);
            else if (line.find('=') != std::string::npos)
                entries.emplace_back(line.substr(0, line.find('=')), line.substr(line.find('=') + 1));
            else
                ADD_FAILURE() << "unexpected line: " << line;
        }
    }
    std::map<std::string, std::string> Map() const { return {entries.begin(), entries.end()}; }
    bool Has(const std::string& key) const { return Map().count(key) != 0; }
    // The line numbers that line keys use.
    std::set<std::string> LineNumbers() const {
        std::set<std::string> numbers;
        for (const auto& entry : entries)
            if (entry.first.rfind("session-line-", 0) == 0)
                numbers.insert(entry.first.substr(entry.first.rfind('-') + 1));
        return numbers;
    }
};

class ConfigurationTest : public ::testing::Test {
protected:
    void SetUp() override { form.FormShow(); }

    std::string Folder() const { return dataDir.Path() + "/OrvelWebhookTester"; }
    std::string ConfigFile() const { return Folder() + "/config.ini"; }
    std::string CounterFile() const { return Folder() + "/event-counter.ini"; }
    IniText Config() const { return IniText(ReadFile(ConfigFile())); }

    int Column(const std::string& caption) const {
        const auto& columns = form.gridSession.Columns();
        for (std::size_t c = 0; c < columns.size(); ++c)
            if (columns[c].caption == caption)
                return static_cast<int>(c);
        ADD_FAILURE() << "no column " << caption;
        return -1;
    }
    void Type(const std::string& caption, int lineIndex, const std::string& text) {
        form.gridSession.EditCell(Column(caption), form.gridSession.FixedRows() + lineIndex, text);
    }

    // Presses a button the way the window does: an escaping error ends up in a message box.
    template <typename F> void Press(F&& handler) { Application::Run(toolkit, std::forward<F>(handler)); }
    void Save() {
        Press([this] { form.btnConfigOpslaanClick(); });
    }
    void Restore() {
        Press([this] { form.btnConfigInlezenClick(); });
    }

    // A line with every stored field.
    static SessionLine FullLine() {
        SessionLine line;
        line.lineId = Uuid::Create();
        line.lineSetId = Uuid::Create();
        line.articleNumber = 8712345678901;
        line.text = "Espresso doppio";
        line.quantity = 1.5;
        line.priceIncl = 2.99;
        line.vatCode = 1;
        line.vatPercentage = 9;
        line.discountPercentage = 12.5;
        line.discountAmount = 0.1;
        line.supplierArticleNumber = "SUP-77";
        line.pluNumber = "301";
        line.extArticleId = "ext/1";
        ExternalDiscount discount;
        discount.discountId = Uuid::Create();
        discount.discountPercentage = 50;
        discount.discountAmount = -1.13; // times 100 is just below -113 in binary
        discount.discountDescription = "Half price = happy hour";
        line.externalDiscount = discount;
        return line;
    }

    testsupport::TempDir dataDir;
    testsupport::ScopedEnv dataHome{"XDG_DATA_HOME", dataDir.Path()};
    HeadlessToolkit toolkit;
    TForm1 form{toolkit};
};

TEST_F(ConfigurationTest, StartUpWithoutFilesShowsTheDefaults) {
    EXPECT_EQ(form.edtSubscriptionId.Text(), "");
    EXPECT_EQ(form.edtSecret.Text(), "");
    EXPECT_EQ(form.edtBaseURL.Text(), "");
    EXPECT_FALSE(form.chkSelfSigned.Checked());
    EXPECT_FALSE(form.chkBlockingCall.Checked());
    EXPECT_EQ(form.edtEventId.Text(), "1");
    EXPECT_EQ(form.edtBranchNumber.Text(), "1");
    EXPECT_EQ(form.edtWorkplaceNumber.Text(), "1");
    EXPECT_EQ(form.edtCode.Text(), "");
    EXPECT_EQ(form.PageControl1.ActivePageIndex(), 2);
    EXPECT_EQ(form.PageControl1.ActivePage(), &form.TabSheetDialog);
    EXPECT_EQ(form.PageControl2.ActivePageIndex(), 3);
    EXPECT_EQ(form.PageControl2.ActivePage(), &form.TabSheet4);
    EXPECT_EQ(form.edtPaymentMethod.Text(), "K_EXTERNAL_PAYMENT");
    EXPECT_EQ(form.edtExternalPaymentId.Text(), "");
    EXPECT_EQ(form.edtConfigBestand.Text(), ConfigFile());
    EXPECT_EQ(form.ConfigFilePath(), ConfigFile());
    EXPECT_EQ(form.EventCounterFilePath(), CounterFile());
    EXPECT_EQ(form.edtSessionId.Text(), "Please click Generate to start a new Session ID.");
    EXPECT_TRUE(form.session.sessionId.IsNull());
    EXPECT_EQ(form.gridSession.RowCount(), form.gridSession.FixedRows());
    EXPECT_EQ(form.Caption(), "OrvelPOS Webhook Tester v1.14.0");
    EXPECT_TRUE(toolkit.Messages().empty());
    // Reading writes nothing.
    EXPECT_FALSE(FileExists(ConfigFile()));
    EXPECT_FALSE(FileExists(CounterFile()));
}

TEST_F(ConfigurationTest, SaveWritesEveryKeyInOrder) {
    form.edtSubscriptionId.SetText("sub-1");
    form.edtSecret.SetText("c2VjcmV0");
    form.edtBaseURL.SetText("localhost:8080/hooks");
    form.chkSelfSigned.SetChecked(true);
    form.edtEventId.SetText("99");
    form.edtBranchNumber.SetText(" 12 ");
    form.edtWorkplaceNumber.SetText("not a number");
    form.edtCode.SetText("8711111111111");
    form.PageControl1.SetActivePageIndex(3);
    form.PageControl2.SetActivePageIndex(1);
    form.edtPaymentMethod.SetText("PIN");
    form.edtExternalPaymentId.SetText("ep-5");
    form.btnStartSessionClick();

    // One line as complete as the model allows, one as the developer leaves a fresh row.
    form.session.lines = {FullLine()};
    form.ShowSession();
    form.spdRegelToevoegenClick();
    const SessionLine full = form.session.lines[0];

    Save();
    ASSERT_TRUE(toolkit.Messages().empty()) << toolkit.Messages().front();

    // The whole file, in order. The fresh row has, after the grid was read, a vat code and
    // percentage and nothing else.
    const std::string expected =
        "[consumer]\n"
        "subscription-id=sub-1\nsecret=c2VjcmV0\nbase-url=localhost:8080/hooks\nself-signed=1\n"
        "branch-number=12\nworkplace-number=1\nblocking-call=0\n"
        "session-id=" +
        form.session.sessionId.ToString() +
        "\n"
        "session-line-id-0=" +
        full.lineId->ToString() +
        "\n"
        "session-line-set-id-0=" +
        full.lineSetId->ToString() +
        "\n"
        "session-line-article-number-0=8712345678901\nsession-line-text-0=Espresso doppio\n"
        "session-line-quantity-0=150\nsession-line-price-incl-0=299\nsession-line-vat-code-0=1\n"
        "session-line-vat-percentage-0=900\nsession-line-discount-percentage-0=1250\n"
        "session-line-discount-amount-0=10\nsession-line-supplier-article-number-0=SUP-77\n"
        "session-line-plu-number-0=301\nsession-line-ext-article-id-0=ext/1\n"
        "session-line-external-discount-id-0=" +
        full.externalDiscount->discountId.ToString() +
        "\n"
        "session-line-external-discount-percentage-0=5000\nsession-line-external-discount-amount-0=-113\n"
        "session-line-external-discount-description-0=Half price = happy hour\n"
        "session-line-id-1=" +
        form.session.lines[1].lineId->ToString() +
        "\n"
        "session-line-vat-code-1=2\nsession-line-vat-percentage-1=2100\n"
        "scanned-code=8711111111111\nactive-page-index=3\nactive-page-2-index=1\n"
        "external-payment-method=PIN\nexternal-payment-id=ep-5\n";
    EXPECT_EQ(ReadFile(ConfigFile()), expected);

    // The counter lives in its own file, which Save leaves alone.
    EXPECT_FALSE(FileExists(CounterFile()));

    struct stat info {};
    ASSERT_EQ(stat(ConfigFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(ConfigurationTest, RestoreGivesBackWhatSaveStored) {
    form.edtSubscriptionId.SetText("sub-2");
    form.edtSecret.SetText("s3cr=t");
    form.edtBaseURL.SetText("http://127.0.0.1:9/");
    form.chkBlockingCall.SetChecked(true);
    form.edtBranchNumber.SetText("-7");
    form.edtWorkplaceNumber.SetText("2147483647");
    form.edtCode.SetText("qr:abc");
    form.PageControl1.SetActivePageIndex(4);
    form.PageControl2.SetActivePageIndex(0);
    form.edtPaymentMethod.SetText("");
    form.edtExternalPaymentId.SetText("ep-9");
    form.btnStartSessionClick();
    form.session.lines = {FullLine()};
    form.ShowSession();
    form.spdRegelToevoegenClick();
    Type("articleNumber", 1, "42");
    Type("quantity", 1, "1.005");
    Type("text", 1, "typed");
    Type("discountAmount", 1, "-0.001"); // rounds to zero

    Save();
    ASSERT_TRUE(toolkit.Messages().empty()) << toolkit.Messages().front();
    EXPECT_EQ(Config().Map().at("session-line-discount-amount-1"), "0");
    const Tarn::Webhooks::Session saved = form.session;

    // Change everything, then restore.
    form.edtSubscriptionId.SetText("x");
    form.edtSecret.SetText("x");
    form.edtBaseURL.SetText("x");
    form.chkSelfSigned.SetChecked(true);
    form.chkBlockingCall.SetChecked(false);
    form.edtBranchNumber.SetText("x");
    form.edtWorkplaceNumber.SetText("x");
    form.edtCode.SetText("x");
    form.PageControl1.SetActivePageIndex(0);
    form.PageControl2.SetActivePageIndex(5);
    form.edtPaymentMethod.SetText("x");
    form.edtExternalPaymentId.SetText("x");
    form.btnStartSessionClick();
    form.spdRegelToevoegenClick();

    Restore();
    ASSERT_TRUE(toolkit.Messages().empty()) << toolkit.Messages().front();

    EXPECT_EQ(form.edtSubscriptionId.Text(), "sub-2");
    EXPECT_EQ(form.edtSecret.Text(), "s3cr=t");
    EXPECT_EQ(form.edtBaseURL.Text(), "http://127.0.0.1:9/");
    EXPECT_FALSE(form.chkSelfSigned.Checked());
    EXPECT_TRUE(form.chkBlockingCall.Checked());
    EXPECT_EQ(form.edtBranchNumber.Text(), "-7");
    EXPECT_EQ(form.edtWorkplaceNumber.Text(), "2147483647");
    EXPECT_EQ(form.edtCode.Text(), "qr:abc");
    EXPECT_EQ(form.PageControl1.ActivePageIndex(), 4);
    EXPECT_EQ(form.PageControl2.ActivePageIndex(), 0);
    EXPECT_EQ(form.edtPaymentMethod.Text(), ""); // stored empty: not the default
    EXPECT_EQ(form.edtExternalPaymentId.Text(), "ep-9");
    EXPECT_EQ(form.edtConfigBestand.Text(), ConfigFile());

    EXPECT_EQ(form.session.sessionId, saved.sessionId);
    EXPECT_EQ(form.edtSessionId.Text(), saved.sessionId.ToFormattedString());
    ASSERT_EQ(form.session.lines.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const SessionLine& a = form.session.lines[i];
        const SessionLine& b = saved.lines[i];
        EXPECT_EQ(a, b); // every stored field but id and quantity
        EXPECT_EQ(a.lineId, b.lineId);
        EXPECT_EQ(a.quantity, b.quantity);
        EXPECT_FALSE(a.totalAmount);
        EXPECT_FALSE(a.reservedText);
    }
    const SessionLine& full = form.session.lines[0];
    EXPECT_EQ(full.quantity, 1.5);
    EXPECT_EQ(full.priceIncl, 2.99);
    EXPECT_EQ(full.discountAmount, 0.1);
    EXPECT_EQ(full.externalDiscount->discountAmount, -1.13);
    EXPECT_EQ(full.externalDiscount->discountDescription, "Half price = happy hour");
    EXPECT_EQ(form.session.lines[1].quantity, 1.01);
    EXPECT_EQ(form.session.lines[1].articleNumber, int64_t{42});

    // The grid shows the restored lines, not what it held before.
    ASSERT_EQ(form.gridSession.RowCount() - form.gridSession.FixedRows(), 2);
    EXPECT_EQ(form.gridSession.Cell(Column("text"), 2), "typed");
    EXPECT_EQ(form.gridSession.Cell(Column("Total"), 1), "3.82"); // 1.5 * 2.99 * 0.875 - 0.1
}

TEST_F(ConfigurationTest, HandWrittenLinesFollowTheReadingRules) {
    const std::string id0 = Uuid::Create().ToString();
    const std::string id1 = Uuid::Create().ToString();
    const std::string id3 = Uuid::Create().ToString();
    WriteFile(ConfigFile(), "[consumer]\n"
                            "session-line-id-0=" +
                                id0 +
                                "\n"
                                "session-line-article-number-0=0\n"
                                "session-line-quantity-0=abc\n"
                                "session-line-price-incl-0=\n"
                                "session-line-set-id-0=not-a-uuid\n"
                                "session-line-vat-percentage-0=-1\n"
                                "session-line-plu-number-0=\n"
                                "session-line-id-1=" +
                                id1 +
                                "\r\n"
                                "session-line-article-number-1=-3\r\n"
                                "session-line-vat-code-1=-1\r\n"
                                "session-line-discount-amount-1=1999\r\n"
                                "session-line-external-discount-id-1=\r\n"
                                "session-line-external-discount-description-1=ignored\r\n"
                                // line 2 missing: line 3 is never read
                                "session-line-id-3=" +
                                id3 + "\n");
    Restore();
    ASSERT_TRUE(toolkit.Messages().empty()) << toolkit.Messages().front();

    ASSERT_EQ(form.session.lines.size(), 2u);
    const SessionLine& a = form.session.lines[0];
    EXPECT_EQ(a.lineId->ToString(), id0);
    EXPECT_FALSE(a.articleNumber); // 0 is no article number
    EXPECT_EQ(a.quantity, 0.0);    // not a number reads as 0 hundredths
    EXPECT_FALSE(a.priceIncl);     // empty: absent
    EXPECT_FALSE(a.lineSetId);     // not an id
    EXPECT_EQ(a.vatCode, 2);       // absent: 2
    EXPECT_EQ(a.vatPercentage, -0.01);
    EXPECT_FALSE(a.pluNumber);
    EXPECT_EQ(a.text, "");

    const SessionLine& b = form.session.lines[1];
    EXPECT_EQ(b.lineId->ToString(), id1);
    EXPECT_FALSE(b.articleNumber);
    EXPECT_FALSE(b.vatCode); // a negative stored code is dropped
    EXPECT_EQ(b.discountAmount, 19.99);
    EXPECT_FALSE(b.externalDiscount);

    // The grid shows them: the absent vat code as an empty cell.
    EXPECT_EQ(form.gridSession.Cell(Column("vatCode"), 1), "2");
    EXPECT_EQ(form.gridSession.Cell(Column("vatCode"), 2), "");
    EXPECT_EQ(form.gridSession.Cell(Column("discountAmount"), 2), "19.99");
}

TEST_F(ConfigurationTest, ALineWithoutIdLeavesAGapThatEndsTheList) {
    SessionLine first = FullLine();
    SessionLine middle;
    middle.text = "no id";
    SessionLine last = FullLine();
    form.session.lines = {first, middle, last};
    form.ShowSession();

    Save();
    ASSERT_TRUE(toolkit.Messages().empty()) << toolkit.Messages().front();
    const IniText ini = Config();
    EXPECT_EQ(ini.Map().at("session-line-id-0"), first.lineId->ToString());
    EXPECT_EQ(ini.Map().at("session-line-id-2"), last.lineId->ToString());
    EXPECT_EQ(ini.LineNumbers(), (std::set<std::string>{"0", "2"}));
    // Saving read the grid: the last row reached the last line, not the one without id.
    EXPECT_EQ(ini.Map().at("session-line-text-2"), "Espresso doppio");
    EXPECT_EQ(form.session.lines[1].text, "no id");
    EXPECT_FALSE(form.session.lines[1].vatCode);

    Restore();
    ASSERT_EQ(form.session.lines.size(), 1u);
    EXPECT_EQ(form.session.lines[0].lineId, first.lineId);
}

TEST_F(ConfigurationTest, SavingFewerLinesLeavesNoKeysOfTheRemovedOnes) {
    for (int i = 0; i < 3; ++i)
        form.spdRegelToevoegenClick();
    Save();
    EXPECT_TRUE(Config().Has("session-line-id-2"));

    // A key the program does not know disappears too: the whole section is rewritten.
    WriteFile(ConfigFile(), ReadFile(ConfigFile()) + "stale-key=1\n");

    form.gridSession.SelectRow(form.gridSession.FixedRows() + 2);
    form.spdRegelVerwijderenClick();
    form.gridSession.SelectRow(form.gridSession.FixedRows() + 1);
    form.spdRegelVerwijderenClick();
    Save();
    ASSERT_TRUE(toolkit.Messages().empty()) << toolkit.Messages().front();

    const IniText ini = Config();
    EXPECT_TRUE(ini.Has("session-line-id-0"));
    EXPECT_FALSE(ini.Has("stale-key"));
    EXPECT_EQ(ini.LineNumbers(), std::set<std::string>{"0"});
    Restore();
    EXPECT_EQ(form.session.lines.size(), 1u);
}

// Sections that other programs or a hand left in config.ini survive a save as they were; only
// "consumer" is replaced, and it comes last. The file stays private to its owner.
TEST_F(ConfigurationTest, SaveReplacesOnlyItsOwnSection) {
    WriteFile(ConfigFile(), "[window]\r\nwidth=800\r\n"
                            "[consumer]\nsecret=old\nsession-line-id-7=" +
                                Uuid::Create().ToString() +
                                "\n"
                                "[extra]\nk=v\n");
    form.spdRegelToevoegenClick();
    form.edtSecret.SetText("new");
    Save();
    ASSERT_TRUE(toolkit.Messages().empty()) << toolkit.Messages().front();

    const std::string content = ReadFile(ConfigFile());
    EXPECT_EQ(content.rfind("[window]\nwidth=800\n\n[extra]\nk=v\n\n[consumer]\nsubscription-id=", 0), 0u)
        << content;
    const IniText ini(content);
    EXPECT_EQ(ini.sections, (std::vector<std::string>{"[window]", "[extra]", "[consumer]"}));
    EXPECT_EQ(ini.Map().at("secret"), "new");
    EXPECT_EQ(ini.LineNumbers(), std::set<std::string>{"0"});
    EXPECT_EQ(ini.Map().at("session-line-id-0"), form.session.lines[0].lineId->ToString());
    struct stat info {};
    ASSERT_EQ(stat(ConfigFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    Restore();
    EXPECT_EQ(form.edtSecret.Text(), "new");
    EXPECT_EQ(form.session.lines.size(), 1u);
}

TEST_F(ConfigurationTest, EventCounterKeepsTheLow32Bits) {
    const struct {
        const char* typed;
        const char* stored;
    } cases[] = {
        {"4294967298", "2"},                                // 2^32 + 2
        {" 41 ", "41"},                                     // blanks around the number do not count
        {"\t7\r\n", "7"},    {"2147483648", "-2147483648"}, // 2^31 wraps to the lowest int32
        {"-1", "-1"},        {"9223372036854775807", "-1"},
        {"abc", "1"}, // not a number: 1
        {"4 1", "1"},        {"", "1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        form.edtEventId.SetText(c.typed);
        form.SaveEventCounter();
        form.FlushEventCounter();
        const IniText ini(ReadFile(CounterFile()));
        EXPECT_EQ(ini.sections, std::vector<std::string>{"[consumer]"});
        ASSERT_EQ(ini.entries.size(), 1u);
        EXPECT_EQ(ini.entries[0].first, "event-counter");
        EXPECT_EQ(ini.entries[0].second, c.stored);

        // Loading shows what was stored.
        form.edtEventId.SetText("5");
        form.LoadEventCounter();
        EXPECT_EQ(form.edtEventId.Text(), c.stored);
    }
    struct stat info {};
    ASSERT_EQ(stat(CounterFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(ConfigurationTest, TypedNumbersAreReadStrictly) {
    form.edtEventId.SetText(" +41\t");
    EXPECT_EQ(form.ReadEventCounter(), int64_t{41});
    form.edtEventId.SetText("-9223372036854775808");
    EXPECT_EQ(form.ReadEventCounter(), INT64_MIN);
    form.edtEventId.SetText("9223372036854775808");
    EXPECT_FALSE(form.ReadEventCounter());
    form.edtEventId.SetText("0x10");
    EXPECT_FALSE(form.ReadEventCounter());
    form.edtEventId.SetText("4.0");
    EXPECT_FALSE(form.ReadEventCounter());

    form.edtBranchNumber.SetText("2147483648");
    EXPECT_FALSE(form.ReadBranchNumber());
    form.edtBranchNumber.SetText("\n-2147483648 ");
    EXPECT_EQ(form.ReadBranchNumber(), INT32_MIN);
    form.edtWorkplaceNumber.SetText("");
    EXPECT_FALSE(form.ReadWorkplaceNumber());
    form.edtWorkplaceNumber.SetText(" 3 ");
    EXPECT_EQ(form.ReadWorkplaceNumber(), 3);
}

TEST_F(ConfigurationTest, CounterComesFromItsFileThenConfigThenOne) {
    // Only config.ini has a counter.
    WriteFile(ConfigFile(), "[consumer]\nevent-counter=17\n");
    Restore();
    EXPECT_EQ(form.edtEventId.Text(), "17");

    // event-counter.ini wins over config.ini.
    WriteFile(CounterFile(), "[consumer]\nevent-counter=250\n");
    Restore();
    EXPECT_EQ(form.edtEventId.Text(), "250");

    // An unreadable counter file value falls back to config.ini's.
    WriteFile(CounterFile(), "[consumer]\nevent-counter=many\n");
    Restore();
    EXPECT_EQ(form.edtEventId.Text(), "17");

    // Neither: 1, whatever was typed before.
    std::filesystem::remove(CounterFile());
    std::filesystem::remove(ConfigFile());
    form.edtEventId.SetText("900");
    Restore();
    EXPECT_EQ(form.edtEventId.Text(), "1");
}

TEST_F(ConfigurationTest, SaveNeverTouchesTheCounterFile) {
    const std::string counter = "[consumer]\nevent-counter=77\n";
    WriteFile(CounterFile(), counter);
    form.edtEventId.SetText("12345");
    Save();
    ASSERT_TRUE(toolkit.Messages().empty()) << toolkit.Messages().front();
    EXPECT_EQ(ReadFile(CounterFile()), counter);
    EXPECT_TRUE(FileExists(ConfigFile()));
}

TEST_F(ConfigurationTest, SaveCreatesAMissingDataFolder) {
    testsupport::ScopedEnv nested("XDG_DATA_HOME", dataDir.Path() + "/new/data");
    form.edtSubscriptionId.SetText("nested");
    Save();
    ASSERT_TRUE(toolkit.Messages().empty()) << toolkit.Messages().front();
    EXPECT_EQ(IniText(ReadFile(dataDir.Path() + "/new/data/OrvelWebhookTester/config.ini"))
                  .Map()
                  .at("subscription-id"),
              "nested");
}

// Lowers the largest file this process may write, as a disk that is full would refuse.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        ok_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    bool Ok() const { return ok_; }

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
    bool ok_ = false;
};

TEST_F(ConfigurationTest, FailedWriteIsReportedAndKeepsTheOldFile) {
    form.edtSubscriptionId.SetText("first");
    Save();
    ASSERT_TRUE(toolkit.Messages().empty()) << toolkit.Messages().front();
    const std::string before = ReadFile(ConfigFile());

    form.edtSubscriptionId.SetText(std::string(4096, 'x'));
    {
        FileSizeLimit limit(before.size() + 10);
        ASSERT_TRUE(limit.Ok());
        Save();
    }
    ASSERT_EQ(toolkit.Messages().size(), 1u);
    EXPECT_NE(toolkit.Messages()[0].find(ConfigFile()), std::string::npos) << toolkit.Messages()[0];
    EXPECT_EQ(ReadFile(ConfigFile()), before);
    // No half-written temporary file is left behind.
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(Folder()))
        files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1u);

    Restore();
    EXPECT_EQ(form.edtSubscriptionId.Text(), "first");
}

TEST_F(ConfigurationTest, ReadOnlyFolderIsReportedAndKeepsTheOldFile) {
    if (geteuid() == 0)
        GTEST_SKIP()
            << "root writes into read-only folders; FailedWriteIsReportedAndKeepsTheOldFile covers root";
    form.edtSubscriptionId.SetText("first");
    Save();
    const std::string before = ReadFile(ConfigFile());

    ASSERT_EQ(chmod(Folder().c_str(), 0500), 0);
    form.edtSubscriptionId.SetText("second");
    Save();
    chmod(Folder().c_str(), 0700);

    ASSERT_EQ(toolkit.Messages().size(), 1u);
    EXPECT_NE(toolkit.Messages()[0].find(ConfigFile()), std::string::npos) << toolkit.Messages()[0];
    EXPECT_EQ(ReadFile(ConfigFile()), before);
}

TEST_F(ConfigurationTest, DamagedConfigRestoresTheDefaults) {
    std::mt19937 random(20240611);
    std::string noise(8192, '\0');
    for (char& c : noise)
        c = static_cast<char>(random() & 0xFF);
    WriteFile(ConfigFile(), noise);

    form.edtSubscriptionId.SetText("typed");
    form.btnStartSessionClick();
    form.spdRegelToevoegenClick();
    Restore();

    EXPECT_TRUE(toolkit.Messages().empty());
    EXPECT_EQ(form.edtSubscriptionId.Text(), "");
    EXPECT_EQ(form.edtEventId.Text(), "1");
    EXPECT_EQ(form.edtBranchNumber.Text(), "1");
    EXPECT_EQ(form.PageControl1.ActivePageIndex(), 2);
    EXPECT_EQ(form.PageControl2.ActivePageIndex(), 3);
    EXPECT_EQ(form.edtPaymentMethod.Text(), "K_EXTERNAL_PAYMENT");
    EXPECT_TRUE(form.session.sessionId.IsNull());
    EXPECT_TRUE(form.session.lines.empty());
    EXPECT_EQ(form.gridSession.RowCount(), form.gridSession.FixedRows());

    // The damaged file is replaced by a sound one on the next save.
    Save();
    ASSERT_TRUE(toolkit.Messages().empty()) << toolkit.Messages().front();
    EXPECT_EQ(Config().sections, std::vector<std::string>{"[consumer]"});
}

TEST_F(ConfigurationTest, TextWithALineBreakIsRefusedAndTheOldFileKept) {
    form.edtSubscriptionId.SetText("first");
    Save();
    const std::string before = ReadFile(ConfigFile());

    form.spdRegelToevoegenClick();
    Type("text", 0, "two\nlines");
    Save();
    ASSERT_EQ(toolkit.Messages().size(), 1u);
    EXPECT_NE(toolkit.Messages()[0].find("config.ini"), std::string::npos) << toolkit.Messages()[0];
    EXPECT_EQ(ReadFile(ConfigFile()), before);
}

// A save cut short between writing its temporary file and renaming it over the old one (the
// process ended there) leaves that file behind. The next start removes what interrupted saves of
// either file left, and nothing else; the settings read are those of the last complete save.
TEST_F(ConfigurationTest, TheNextStartRemovesWhatInterruptedSavesLeft) {
    form.edtSubscriptionId.SetText("kept");
    Save();
    const std::string saved = ReadFile(ConfigFile());

    // The save of "lost" ends its process right before the rename.
    form.edtSubscriptionId.SetText("lost");
    EXPECT_EXIT(
        {
            IniFile::SetBeforeReplaceHookForTesting([](const std::string&) { std::_Exit(0); });
            form.btnConfigOpslaanClick();
        },
        ::testing::ExitedWithCode(0), "");
    std::vector<std::string> left = FilesIn(Folder());
    ASSERT_EQ(left.size(), 2u);
    ASSERT_EQ(left[0], "config.ini");
    const std::string interrupted = Folder() + "/" + left[1];
    EXPECT_EQ(left[1].rfind("config.ini.tmp-", 0), 0u) << left[1];
    EXPECT_NE(ReadFile(interrupted).find("subscription-id=lost\n"), std::string::npos);
    EXPECT_EQ(ReadFile(ConfigFile()), saved);

    // What an interrupted counter save leaves, and names of files that are no such leftover.
    WriteFile(Folder() + "/event-counter.ini.tmp-Ab12Cd", "[consumer]\nevent-counter=9\n");
    const std::vector<std::string> others = {"config.ini.tmp-", "config.ini.tmp-Ab12Cd7",
                                             "notes.ini.tmp-Ab12Cd", "xconfig.ini.tmp-Ab12Cd"};
    for (const std::string& name : others)
        WriteFile(Folder() + "/" + name, "mine");

    HeadlessToolkit nextToolkit;
    TForm1 next{nextToolkit};
    next.FormShow();
    EXPECT_TRUE(nextToolkit.Messages().empty()) << nextToolkit.Messages().front();
    EXPECT_EQ(next.edtSubscriptionId.Text(), "kept");
    EXPECT_EQ(next.edtEventId.Text(), "1");
    std::vector<std::string> expected = others;
    expected.push_back("config.ini");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FilesIn(Folder()), expected);
}

} // namespace
