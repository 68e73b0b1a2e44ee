// The raw exchange on screen (request, response, status strip) and the checks every answer of
// a consumer must pass; a failed check goes back to the consumer as an error event.

#include "MainFormUnit.h"

#include "OrvLib.h"
#include "ToJSON.h"
#include "WireFormat.h"

#include <boost/make_shared.hpp>

#include <string>

using namespace Tarn::Webhooks;

namespace {

const char* const kSignatureHeader = "X-Orvel-Signature";

void ShowHeaders(TListView& list, const std::map<std::string, std::string>& headers) {
    std::vector<std::vector<std::string>> rows;
    rows.reserve(headers.size());
    for (const auto& header : headers)
        rows.push_back({header.first, header.second});
    list.SetItems(std::move(rows));
}

} // namespace

void TForm1::ResetExchangeDisplay() {
    SetErrorTabsVisible(false);
    ShowHttpStatus(-1, 0, "");
    lvRequestHeaders.Clear();
    mmRequestBody.Clear();
    lvResponseHeaders.Clear();
    mmResponseBody.Clear();
    lvErrorRequestHeaders.Clear();
    mmErrorRequestBody.Clear();
    txtWebhookUrl.SetText("");
    txtDebugFile.SetText("");
    ResetChecksDisplay();
}

void TForm1::ShowHttpStatus(int httpCode, short curlCode, const std::string& reasonPhrase) {
    std::string caption = "HTTP RESPONSE CODE";
    TColor background = clBtnFace;
    TColor text = clBlack;
    if (httpCode >= 0) {
        caption = std::to_string(httpCode) + " " + reasonPhrase;
        if (httpCode == 200) {
            background = clGreen;
            text = clHighlightText;
        } else if (httpCode == 400) {
            background = clRed;
            text = clHighlightText;
        }
    } else if (curlCode > 0) {
        caption = "CURL CODE: " + std::to_string(curlCode) + " - " + CurlCodeToString(curlCode);
        background = clRed;
        text = clHighlightText;
    }
    pnlHttpResponse.SetCaption(caption);
    pnlHttpResponse.SetColor(background);
    pnlHttpResponse.SetFontColor(text);
}

void TForm1::SetErrorTabsVisible(bool visible) {
    TabSheetErrorRequestHeaders.SetVisible(visible);
    TabSheetErrorRequestBody.SetVisible(visible);
}

void TForm1::AddMessages(const std::vector<UTF8String>& texts, bool clearFirst) {
    if (clearFirst)
        mmMessages.Clear();
    for (const UTF8String& text : texts)
        mmMessages.Add(text);
}

TForm1::AnswerDigest TForm1::DigestAnswer(const WebhookConsumerClient& client, const WebhookResult& result) {
    AnswerDigest digest;
    const std::string& body = result.response.GetBody();
    digest.bodyLines = TMemo::SplitLines(body);
    if (result.response.GetResult() < 0 || result.curlCode != 0)
        return digest;
    digest.expectedSignature = client.sign(body);
    digest.bodyIsJson = Tarn::ToJSON(body, digest.json);
    return digest;
}

void TForm1::ShowRequest(const ClientPtr& client, bool errorReport) {
    SetErrorTabsVisible(errorReport);
    (errorReport ? mmErrorRequestBody : mmRequestBody).SetText(client->GetBody());
    ShowHeaders(errorReport ? lvErrorRequestHeaders : lvRequestHeaders, client->GetHeaders());
}

int TForm1::VerifyResponse(const ClientPtr& client, const EventPtr& event, const WebhookResult& result,
                           AnswerDigest digest, boost::optional<Json::Value>& json) {
    const bool isErrorReport = dynamic_cast<const ErrorEvent*>(event.get()) != nullptr;
    ShowRequest(client, isErrorReport);
    const auto* report = dynamic_cast<const ErrorEvent*>(event.get());
    const WebhookEvent& named = report && report->event ? *report->event : *event;
    const auto* counted = dynamic_cast<const DefaultEvent*>(&named);
    ExchangeRecord& record =
        BeginExchange(client, result, isErrorReport ? ExchangeKind::ErrorReport : ExchangeKind::Event,
                      EventNameOf(named), counted ? counted->header.eventCounter : 0);

    // The answer to an error report is neither shown nor checked.
    if (isErrorReport) {
        record.verdict = kVerdictNotChecked;
        return -1;
    }
    return CheckAnswer(record, result, std::move(digest), json,
                       [&](const Error& error) { ReportErrorToConsumer(error, client, event); });
}

int TForm1::CheckAnswer(ExchangeRecord& record, const WebhookResult& result, AnswerDigest digest,
                        boost::optional<Json::Value>& json, const std::function<void(const Error&)>& report) {
    const std::string& body = result.response.GetBody();
    mmResponseBody.SetLines(std::move(digest.bodyLines));

    const int httpCode = result.response.GetResult();
    const short curlCode = result.curlCode;
    ShowHttpStatus(httpCode, curlCode, result.response.GetReasonPhrase());
    if (result.endedByClient) {
        // The client knows why it ended the exchange; its reason says more than the bare code.
        pnlHttpResponse.SetCaption(result.errorText);
        mmMessages.Add(result.errorText);
    }
    if (httpCode < 0 || curlCode != 0) {
        lvResponseHeaders.Clear();
        record.verdict = kVerdictNoAnswer;
        return httpCode;
    }
    ShowHeaders(lvResponseHeaders, result.response.GetHeaders());

    // The answer checks in the order they are made; the first that fails is reported and the
    // ones after it are not made.
    enum AnswerCheck { SignaturePresent, SignatureEqual, ContentType, ValidJson, AnswerCheckCount };
    static const char* const checkNames[AnswerCheckCount] = {"Signature present", "Signature equal",
                                                              "Content-Type", "JSON"};
    auto conclude = [&record](int failed, const Error* error) {
        for (int check = 0; check < AnswerCheckCount; ++check) {
            const CheckResult outcome = check < failed    ? CheckResult::Pass
                                        : check == failed ? CheckResult::Fail
                                                          : CheckResult::NotChecked;
            record.checks.push_back({checkNames[check], outcome, check == failed ? error->message : ""});
        }
        record.verdict = error ? error->errorCode : kVerdictPass;
    };
    auto refuse = [&](int failed, int code, const char* message) {
        const Error error(DbStringFromWebhookErrorCode(code), message);
        conclude(failed, &error);
        ExplainRefusal(record, code, result);
        if (report)
            report(error);
    };

    const std::string& expected = digest.expectedSignature;
    const std::string received = result.response.GetHeader(kSignatureHeader);
    if (received.empty()) {
        refuse(SignaturePresent, ewecMissingSignature, "You did not supply the X-Orvel-Signature header.");
        return -1;
    }
    if (expected != received) {
        refuse(SignatureEqual, ewecInvalidSignature, "You did not properly calculate the X-Orvel-Signature header.");
        return -1;
    }

    const std::string contentType = result.response.GetHeader("Content-Type");
    if (contentType.empty()) {
        refuse(ContentType, ewecMissingContentType, "You did not supply the Content-Type header.");
        return -1;
    }
    if (contentType != "application/json") {
        refuse(ContentType, ewecInvalidContentType, "You supplied an invalid Content-Type header.");
        return -1;
    }

    if (digest.bodyIsJson) {
        json = std::move(digest.json);
        conclude(AnswerCheckCount, nullptr);
    } else if (!body.empty()) {
        refuse(ValidJson, ewecInvalidJson, "You returned invalid JSON.");
    } else {
        conclude(AnswerCheckCount, nullptr);
    }
    return httpCode;
}

void TForm1::ReportErrorToConsumer(const Error& error, const ClientPtr& client, const EventPtr& event) {
    if (dynamic_cast<const ErrorEvent*>(event.get()))
        return;
    mmMessages.Add("[" + error.errorCode + "] " + error.message);

    auto report = boost::make_shared<ErrorEvent>();
    report->error = error;
    report->event = event;

    // The name is the failed event's own, so a report from a background poll names that poll
    // even when the window has sent another event meanwhile.
    WebhookResult result;
    RunExchange(client, [&] { result = client->sendError(EventNameOf(*event), *report); });

    // The answer to a report is not checked, so it needs no digest.
    boost::optional<Json::Value> ignored;
    VerifyResponse(client, report, result, AnswerDigest(), ignored);
}

ExchangeRecord& TForm1::BeginExchange(const ClientPtr& client, const WebhookResult& result, ExchangeKind kind,
                                      const std::string& eventName, int64_t eventCounter) {
    ExchangeRecord record;
    record.kind = kind;
    record.time = orvlib::NowIso8601();
    record.eventName = eventName;
    record.eventCounter = eventCounter;
    record.url = result.url;
    record.selfSigned = chkSelfSigned.Checked();
    record.requestHeaders = client->GetHeaders();
    record.requestBody = client->GetBody();
    record.httpStatus = result.response.GetResult();
    record.reasonPhrase = result.response.GetReasonPhrase();
    record.curlCode = result.curlCode;
    if (result.curlCode != 0)
        record.transportError = result.errorText.empty() ? CurlCodeToString(result.curlCode) : result.errorText;
    record.responseHeaders = result.response.GetHeaders();
    record.responseBody = result.response.GetBody();
    record.timing = result.timing;
    if (record.httpStatus >= 0 && record.curlCode == 0) {
        previousAnswerBody_ = std::move(lastAnswerBody_);
        lastAnswerBody_ = record.responseBody;
    }
    pendingExchanges_.push_back(std::move(record));
    return pendingExchanges_.back();
}

ExchangeRecord* TForm1::CurrentExchange() {
    for (auto record = pendingExchanges_.rbegin(); record != pendingExchanges_.rend(); ++record)
        if (record->kind == ExchangeKind::Event)
            return &*record;
    return nullptr;
}

void TForm1::NoteExchange(const std::string& check, const std::string& detail) {
    if (ExchangeRecord* record = CurrentExchange())
        record->checks.push_back({check, CheckResult::Info, detail});
}

void TForm1::PublishExchanges() {
    // A poll's answer is shown once the poll it dispatched has gone out (see TakeInPoll).
    if (takingInPoll_)
        return;
    std::deque<ExchangeRecord> records;
    records.swap(pendingExchanges_);
    for (const ExchangeRecord& record : records)
        for (const auto& listener : exchangeListeners)
            listener(record);
}
