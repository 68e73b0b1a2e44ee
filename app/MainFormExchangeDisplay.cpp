// The raw exchange on screen (request, response, status strip) and the checks every answer of
// a consumer must pass; a failed check goes back to the consumer as an error event.

#include "MainFormUnit.h"

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

int TForm1::VerifyResponse(const ClientPtr& client, const EventPtr& event, const WebhookResult& result,
                           boost::optional<Json::Value>& json) {
    const bool isErrorReport = dynamic_cast<const ErrorEvent*>(event.get()) != nullptr;
    TListView& requestHeaders = isErrorReport ? lvErrorRequestHeaders : lvRequestHeaders;
    TMemo& requestBody = isErrorReport ? mmErrorRequestBody : mmRequestBody;
    SetErrorTabsVisible(isErrorReport);

    requestBody.SetText(client->GetBody());
    ShowHeaders(requestHeaders, client->GetHeaders());

    // The answer to an error report is neither shown nor checked.
    if (isErrorReport)
        return -1;

    const std::string& body = result.response.GetBody();
    mmResponseBody.SetText(body);

    const int httpCode = result.response.GetResult();
    const short curlCode = result.curlCode;
    ShowHttpStatus(httpCode, curlCode, result.response.GetReasonPhrase());
    if (httpCode < 0 || curlCode != 0) {
        lvResponseHeaders.Clear();
        return httpCode;
    }
    ShowHeaders(lvResponseHeaders, result.response.GetHeaders());

    const std::string expected = client->sign(body);
    const std::string received = result.response.GetHeader(kSignatureHeader);
    if (received.empty()) {
        ReportErrorToConsumer(Error(DbStringFromWebhookErrorCode(ewecMissingSignature),
                                    "You did not supply the X-Orvel-Signature header."),
                              client, event);
        return -1;
    }
    if (expected != received) {
        ReportErrorToConsumer(Error(DbStringFromWebhookErrorCode(ewecInvalidSignature),
                                    "You did not properly calculate the X-Orvel-Signature header."),
                              client, event);
        return -1;
    }

    const std::string contentType = result.response.GetHeader("Content-Type");
    if (contentType.empty()) {
        ReportErrorToConsumer(Error(DbStringFromWebhookErrorCode(ewecMissingContentType),
                                    "You did not supply the Content-Type header."),
                              client, event);
        return -1;
    }
    if (contentType != "application/json") {
        ReportErrorToConsumer(Error(DbStringFromWebhookErrorCode(ewecInvalidContentType),
                                    "You supplied an invalid Content-Type header."),
                              client, event);
        return -1;
    }

    Json::Value parsed;
    if (Tarn::ToJSON(body, parsed)) {
        json = std::move(parsed);
    } else if (!body.empty()) {
        ReportErrorToConsumer(
            Error(DbStringFromWebhookErrorCode(ewecInvalidJson), "You returned invalid JSON."), client,
            event);
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
    toolkit.RunBlocking([&] { result = client->sendError(EventNameOf(*event), *report); });

    boost::optional<Json::Value> ignored;
    VerifyResponse(client, report, result, ignored);
}
