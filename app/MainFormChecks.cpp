// The Checks tab, the verdict strip and the timing box: every exchange's record in words, so a
// consumer's developer reads why an answer was refused instead of guessing.

#include "MainFormUnit.h"

#include "AnswerDiagnosis.h"

#include <cstdio>

using namespace Tarn::Webhooks;

namespace {

using Row = std::vector<std::string>;

const char* const kSignatureDiagnosis = "Signature diagnosis";

// Milliseconds with one decimal, in the user's decimal separator.
std::string Ms(double value, char separator) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value < 0 ? 0.0 : value);
    for (char* c = text; *c; ++c)
        if (*c == '.' || *c == ',')
            *c = separator;
    return text;
}

bool Answered(const ExchangeRecord& record) {
    return record.curlCode == 0 && record.httpStatus >= 0;
}

std::string TransportText(const ExchangeRecord& record) {
    if (Answered(record))
        return std::to_string(record.httpStatus) + " " + record.reasonPhrase;
    const std::string curlText = CurlCodeToString(record.curlCode);
    std::string text = "CURL CODE: " + std::to_string(record.curlCode) + " - " + curlText;
    if (!record.transportError.empty() && record.transportError != curlText)
        text += ": " + record.transportError;
    return text;
}

bool NothingSent(const WebhookTiming& timing) {
    return timing.totalMs <= 0 && timing.bytesSent == 0;
}

std::string TimingLine(const WebhookTiming& timing, char separator) {
    if (NothingSent(timing))
        return "nothing was sent";
    std::string line = "name look-up " + Ms(timing.nameLookupMs, separator) + " ms, connect " +
                       Ms(timing.connectMs, separator) + " ms, ";
    if (timing.tlsMs > 0)
        line += "TLS " + Ms(timing.tlsMs, separator) + " ms, ";
    return line + "first byte " + Ms(timing.firstByteMs, separator) + " ms, total " +
           Ms(timing.totalMs, separator) + " ms; " + std::to_string(timing.bytesSent) + " bytes sent, " +
           std::to_string(timing.bytesReceived) + " received";
}

std::string TimingSummary(const WebhookTiming& timing, char separator) {
    if (NothingSent(timing))
        return "";
    std::string summary = Ms(timing.totalMs, separator) + " ms (connect " + Ms(timing.connectMs, separator);
    if (timing.tlsMs > 0)
        summary += ", TLS " + Ms(timing.tlsMs, separator);
    return summary + ", first byte " + Ms(timing.firstByteMs, separator) + ")";
}

} // namespace

std::vector<Row> TForm1::CheckRows(const ExchangeRecord& record, char separator) {
    std::vector<Row> rows;
    rows.push_back({"Request", "", "POST " + record.url});
    rows.push_back(
        {"Transport",
         Answered(record) ? CheckResultText(CheckResult::Pass) : CheckResultText(CheckResult::Fail),
         TransportText(record)});
    rows.push_back({"Timing", "", TimingLine(record.timing, separator)});
    for (const ExchangeCheck& check : record.checks)
        rows.push_back({check.check, CheckResultText(check.result), check.detail});
    if (record.selfSigned)
        rows.push_back(
            {"TLS", "", "certificate not verified: any signer, host name and expiry date accepted"});
    else if (record.url.compare(0, 8, "https://") == 0)
        rows.push_back({"TLS", "", "certificate and host name verified"});
    return rows;
}

void TForm1::ShowChecks(const ExchangeRecord& record) {
    const char separator = toolkit.DecimalSeparator();
    if (record.kind == ExchangeKind::ErrorReport) {
        std::vector<Row> rows(lvChecks.Items().begin(), lvChecks.Items().end());
        rows.push_back({"Error report", "", "POST " + record.url + ": " + TransportText(record)});
        lvChecks.SetItems(std::move(rows));
        return;
    }
    lvChecks.SetItems(CheckRows(record, separator));
    edtTiming.SetText(TimingSummary(record.timing, separator));
    pnlVerdict.SetCaption(record.Accepted()                    ? "Answer accepted"
                          : record.verdict == kVerdictNoAnswer ? "No answer"
                                                               : "Answer refused: " + record.verdict);
    pnlVerdict.SetColor(record.Accepted() ? clGreen : clRed);
    pnlVerdict.SetFontColor(clHighlightText);
}

void TForm1::ResetChecksDisplay() {
    lvChecks.Clear();
    pnlVerdict.SetCaption("");
    pnlVerdict.SetColor(clBtnFace);
    pnlVerdict.SetFontColor(clBlack);
    edtTiming.SetText("");
}

void TForm1::ExplainRefusal(ExchangeRecord& record, int errorCode, const WebhookResult& result) {
    switch (errorCode) {
    case ewecMissingSignature:
    case ewecInvalidSignature: {
        const SignatureEvidence evidence{edtSecret.Text(), record.requestBody, record.responseBody,
                                         result.response.GetHeader("X-Orvel-Signature"), previousAnswerBody_};
        for (const SignatureFinding& finding : DiagnoseSignature(evidence))
            record.checks.push_back({kSignatureDiagnosis, CheckResult::Info, finding.text});
        break;
    }
    case ewecMissingContentType:
    case ewecInvalidContentType:
        record.checks.push_back({"Content-Type received", CheckResult::Info,
                                 DescribeContentType(result.response.GetHeader("Content-Type"))});
        break;
    case ewecInvalidJson:
        record.checks.push_back({"JSON reader", CheckResult::Info, DescribeJsonFault(record.responseBody)});
        break;
    default:
        break;
    }
}
