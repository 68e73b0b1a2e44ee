// The two files of the tester in the user's data folder: config.ini (the settings panel, the
// session being edited and the active tabs; written by "Save", read by "Restore" and at
// start-up) and event-counter.ini (the counter the next event carries; written after every send).

#include "MainFormUnit.h"

#include "IniFile.h"
#include "OrvLib.h"
#include "Uuid.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <utility>

using OrvelUtility::Uuid;
using Tarn::Webhooks::ExternalDiscount;
using Tarn::Webhooks::SessionLine;

namespace {

const std::string kSection = "consumer";
const char* const kDefaultPaymentMethod = "K_EXTERNAL_PAYMENT";

// Decimals are stored as whole hundredths so that the file does not depend on a locale.
std::string HundredthsText(double value) {
    const double hundredths = rondaf(value * 100, 0);
    if (std::fabs(hundredths) < 9.0e18)
        return std::to_string(static_cast<int64_t>(hundredths));
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.0f", hundredths);
    return buffer;
}

// The keys of line n: a field prefix followed by n.
class LineKeys {
public:
    explicit LineKeys(std::size_t n) : number_(std::to_string(n)) {}
    std::string operator()(const char* prefix) const { return prefix + number_; }

private:
    std::string number_;
};

void WriteHundredths(IniFile& ini, const std::string& key, const boost::optional<double>& value) {
    if (value)
        ini.WriteString(kSection, key, HundredthsText(*value));
}

void WriteId(IniFile& ini, const std::string& key, const Uuid& id) {
    ini.WriteString(kSection, key, id.ToString());
}

// A value as it stands in the file, "" when absent.
std::string ReadText(const IniFile& ini, const std::string& key) {
    return ini.ReadString(kSection, key, "");
}

// Only a non-empty text gives a value; text that is no whole number reads as 0.
boost::optional<double> ReadHundredths(const IniFile& ini, const std::string& key) {
    const std::string text = ReadText(ini, key);
    if (text.empty())
        return boost::none;
    int64_t hundredths = 0;
    if (!orvlib::TryParseInt64(text, hundredths))
        hundredths = 0;
    return rondaf(static_cast<double>(hundredths) / 100, 2);
}

void WriteLine(IniFile& ini, const SessionLine& line, const LineKeys& key) {
    WriteId(ini, key("session-line-id-"), *line.lineId);
    if (line.lineSetId)
        WriteId(ini, key("session-line-set-id-"), *line.lineSetId);
    if (line.articleNumber)
        ini.WriteString(kSection, key("session-line-article-number-"), std::to_string(*line.articleNumber));
    if (!line.text.empty())
        ini.WriteString(kSection, key("session-line-text-"), line.text);
    WriteHundredths(ini, key("session-line-quantity-"), line.quantity);
    WriteHundredths(ini, key("session-line-price-incl-"), line.priceIncl);
    if (line.vatCode)
        ini.WriteInteger(kSection, key("session-line-vat-code-"), *line.vatCode);
    WriteHundredths(ini, key("session-line-vat-percentage-"), line.vatPercentage);
    WriteHundredths(ini, key("session-line-discount-percentage-"), line.discountPercentage);
    WriteHundredths(ini, key("session-line-discount-amount-"), line.discountAmount);
    if (line.supplierArticleNumber)
        ini.WriteString(kSection, key("session-line-supplier-article-number-"), *line.supplierArticleNumber);
    if (line.pluNumber)
        ini.WriteString(kSection, key("session-line-plu-number-"), *line.pluNumber);
    if (line.extArticleId)
        ini.WriteString(kSection, key("session-line-ext-article-id-"), *line.extArticleId);
    if (line.externalDiscount) {
        const ExternalDiscount& discount = *line.externalDiscount;
        WriteId(ini, key("session-line-external-discount-id-"), discount.discountId);
        WriteHundredths(ini, key("session-line-external-discount-percentage-"), discount.discountPercentage);
        WriteHundredths(ini, key("session-line-external-discount-amount-"), discount.discountAmount);
        ini.WriteString(kSection, key("session-line-external-discount-description-"),
                        discount.discountDescription);
    }
}

boost::optional<UTF8String> ReadNonEmpty(const IniFile& ini, const std::string& key) {
    const std::string text = ReadText(ini, key);
    if (text.empty())
        return boost::none;
    return text;
}

// Reads line n into a default line; false when its id is missing or null, which ends the list.
bool ReadLine(const IniFile& ini, const LineKeys& key, SessionLine& line) {
    const Uuid lineId(ReadText(ini, key("session-line-id-")));
    if (lineId.IsNull())
        return false;
    line.lineId = lineId;

    const Uuid lineSetId(ReadText(ini, key("session-line-set-id-")));
    if (!lineSetId.IsNull())
        line.lineSetId = lineSetId;

    int64_t articleNumber = 0;
    if (!orvlib::TryParseInt64(ReadText(ini, key("session-line-article-number-")), articleNumber))
        articleNumber = 0;
    if (articleNumber > 0)
        line.articleNumber = articleNumber;

    line.text = ReadText(ini, key("session-line-text-"));
    line.quantity = ReadHundredths(ini, key("session-line-quantity-"));
    line.priceIncl = ReadHundredths(ini, key("session-line-price-incl-"));

    int32_t vatCode = 2;
    if (!orvlib::TryParseInt32(ReadText(ini, key("session-line-vat-code-")), vatCode))
        vatCode = 2;
    if (vatCode > -1)
        line.vatCode = vatCode;

    line.vatPercentage = ReadHundredths(ini, key("session-line-vat-percentage-"));
    line.discountPercentage = ReadHundredths(ini, key("session-line-discount-percentage-"));
    line.discountAmount = ReadHundredths(ini, key("session-line-discount-amount-"));
    line.supplierArticleNumber = ReadNonEmpty(ini, key("session-line-supplier-article-number-"));
    line.pluNumber = ReadNonEmpty(ini, key("session-line-plu-number-"));
    line.extArticleId = ReadNonEmpty(ini, key("session-line-ext-article-id-"));

    const Uuid discountId(ReadText(ini, key("session-line-external-discount-id-")));
    if (!discountId.IsNull()) {
        line.externalDiscount.emplace();
        ExternalDiscount& discount = *line.externalDiscount;
        discount.discountId = discountId;
        discount.discountPercentage = ReadHundredths(ini, key("session-line-external-discount-percentage-"));
        discount.discountAmount = ReadHundredths(ini, key("session-line-external-discount-amount-"));
        discount.discountDescription = ReadText(ini, key("session-line-external-discount-description-"));
    }
    return true;
}

// Spaces and control characters around a typed number do not count.
std::string TrimBlanks(const std::string& text) {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

} // namespace

std::string TForm1::ConfigFilePath() const {
    return orvlib::JoinPath(orvlib::GetUserLocalAppDataPath(), "config.ini");
}

std::string TForm1::EventCounterFilePath() const {
    return orvlib::JoinPath(orvlib::GetUserLocalAppDataPath(), "event-counter.ini");
}

boost::optional<int64_t> TForm1::ReadEventCounter() const {
    int64_t value = 0;
    if (!orvlib::TryParseInt64(TrimBlanks(edtEventId.Text()), value))
        return boost::none;
    return value;
}

boost::optional<int32_t> TForm1::ReadBranchNumber() const {
    int32_t value = 0;
    if (!orvlib::TryParseInt32(TrimBlanks(edtBranchNumber.Text()), value))
        return boost::none;
    return value;
}

boost::optional<int32_t> TForm1::ReadWorkplaceNumber() const {
    int32_t value = 0;
    if (!orvlib::TryParseInt32(TrimBlanks(edtWorkplaceNumber.Text()), value))
        return boost::none;
    return value;
}

void TForm1::btnConfigOpslaanClick() {
    // The session as the developer sees it; an unreadable session id stops the save here.
    if (!ReadSessionFromGrid())
        return;

    // The section is written anew: keys of lines that no longer exist must not survive.
    IniFile ini(ConfigFilePath(), kSection);

    ini.WriteString(kSection, "subscription-id", edtSubscriptionId.Text());
    ini.WriteString(kSection, "secret", edtSecret.Text());
    ini.WriteString(kSection, "base-url", edtBaseURL.Text());
    ini.WriteBool(kSection, "self-signed", chkSelfSigned.Checked());
    ini.WriteInteger(kSection, "branch-number", ReadBranchNumber().value_or(1));
    ini.WriteInteger(kSection, "workplace-number", ReadWorkplaceNumber().value_or(1));
    ini.WriteBool(kSection, "blocking-call", chkBlockingCall.Checked());
    WriteId(ini, "session-id", session.sessionId);

    // A line's number is its position in the list; a line without id leaves its number unused.
    for (std::size_t n = 0; n < session.lines.size(); ++n) {
        if (session.lines[n].lineId)
            WriteLine(ini, session.lines[n], LineKeys(n));
    }

    ini.WriteString(kSection, "scanned-code", edtCode.Text());
    ini.WriteInteger(kSection, "active-page-index", PageControl1.ActivePageIndex());
    ini.WriteInteger(kSection, "active-page-2-index", PageControl2.ActivePageIndex());
    ini.WriteString(kSection, "external-payment-method", edtPaymentMethod.Text());
    ini.WriteString(kSection, "external-payment-id", edtExternalPaymentId.Text());

    ini.UpdateFile();
}

void TForm1::btnConfigInlezenClick() {
    // Without a usable data folder both files read as missing: the window still gets the
    // defaults, and the reason is raised once they are in place.
    std::exception_ptr folderProblem;
    std::string path;
    try {
        path = ConfigFilePath();
    } catch (const std::exception&) {
        folderProblem = std::current_exception();
    }
    edtConfigBestand.SetText(path);

    // What a save cut short left behind goes before the file is read; saves of it run only
    // on this thread.
    if (!folderProblem)
        IniFile::RemoveInterruptedSaves(path);
    const IniFile ini(path);

    edtSubscriptionId.SetText(ini.ReadString(kSection, "subscription-id", ""));
    edtSecret.SetText(ini.ReadString(kSection, "secret", ""));
    edtBaseURL.SetText(ini.ReadString(kSection, "base-url", ""));
    chkSelfSigned.SetChecked(ini.ReadBool(kSection, "self-signed", false));
    edtEventId.SetText(std::to_string(ini.ReadInteger(kSection, "event-counter", 1)));
    edtBranchNumber.SetText(std::to_string(ini.ReadInteger(kSection, "branch-number", 1)));
    edtWorkplaceNumber.SetText(std::to_string(ini.ReadInteger(kSection, "workplace-number", 1)));
    chkBlockingCall.SetChecked(ini.ReadBool(kSection, "blocking-call", false));

    session.sessionId = Uuid(ini.ReadString(kSection, "session-id", ""));

    // The stored lines replace whatever the grid showed; a gap ends the list.
    session.lines.clear();
    for (std::size_t n = 0;; ++n) {
        SessionLine line;
        if (!ReadLine(ini, LineKeys(n), line))
            break;
        session.lines.push_back(std::move(line));
    }

    edtCode.SetText(ini.ReadString(kSection, "scanned-code", ""));
    PageControl1.SetActivePageIndex(ini.ReadInteger(kSection, "active-page-index", 2));
    PageControl2.SetActivePageIndex(ini.ReadInteger(kSection, "active-page-2-index", 3));
    edtPaymentMethod.SetText(ini.ReadString(kSection, "external-payment-method", kDefaultPaymentMethod));
    edtExternalPaymentId.SetText(ini.ReadString(kSection, "external-payment-id", ""));

    if (!folderProblem)
        LoadEventCounter();
    ShowSession();
    if (folderProblem)
        std::rethrow_exception(folderProblem);
}

namespace {
// The counter as event-counter.ini holds it: its low 32 bits, 1 when the field is no number.
int32_t StoredCounter(const boost::optional<int64_t>& counter) {
    if (!counter)
        return 1;
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(*counter)));
}
} // namespace

void TForm1::SaveEventCounter() {
    // The path is settled here, on the window's thread: a data folder that cannot be made is
    // told by the send itself.
    const std::string path = EventCounterFilePath();
    const int32_t counter = StoredCounter(ReadEventCounter());
    // Rewritten after every send: an atomic replace is enough, a flush per press is not worth it,
    // and the press does not wait for it.
    counterWriter_.Post([path, counter] {
        IniFile ini(path, kSection);
        ini.WriteInteger(kSection, "event-counter", counter);
        ini.UpdateFile(IniFile::Durability::Atomic);
    });
}

void TForm1::LoadEventCounter() {
    // No counter save runs once the writer is flushed.
    FlushEventCounter();
    const std::string path = EventCounterFilePath();
    IniFile::RemoveInterruptedSaves(path);
    const IniFile ini(path);
    edtEventId.SetText(
        std::to_string(ini.ReadInteger(kSection, "event-counter", StoredCounter(ReadEventCounter()))));
}

void TForm1::FlushEventCounter() {
    counterWriter_.Flush();
}
