// The dispatcher, the event buttons and the send handlers of the events whose answer is a
// default answer, a dialog or an error (the main group).

#include "EventExchange.h"
#include "Exception.h"
#include "MainFormUnit.h"

#include "BaseUrl.h"
#include "WireFormat.h"

#include <boost/make_shared.hpp>
#include <boost/variant/get.hpp>

#include <cstdint>
#include <limits>

using namespace Tarn::Webhooks;

namespace {

// Steps 12 to 14 of a main-group send: a blocking call answered with 200 and a document is
// read; a dialog goes to the dialog tab, a default answer is applied, an error answer is left.
template <typename EventT, typename ResultT>
void SendMainGroupEvent(TForm1& form, const EventSteps<EventT>& steps,
                        JsonParseResult<ResultT> (*reader)(const Json::Value&), bool withDialog,
                        bool parseErrorEmptiesScanCode = false) {
    const EventExchange<EventT> exchange = EventExchange<EventT>::Run(form, steps, withDialog);
    if (!exchange.event->header.blockingCall)
        return;
    if (exchange.status != 200 || !exchange.json)
        return;

    const JsonParseResult<ResultT> parsed = reader(*exchange.json);
    form.AddMessages(parsed.messages, false);
    NoteAnswerRead(form, parsed);
    if (parsed.parseError) {
        if (parseErrorEmptiesScanCode) {
            form.edtScanCodeRecognized.SetText("");
            form.edtScanCodeMessage.SetText("");
            form.edtScanCodeCustomerMessage.SetText("");
            form.edtScanCodeRelationNumber.SetText("");
        }
        form.mmMessages.Add("ERROR : " + parsed.parseError->message);
        return;
    }
    if (!parsed.result)
        return;
    if (const auto* dialog = boost::get<DialogResp>(&*parsed.result)) {
        form.PageControl1.SetActivePage(form.TabSheetDialog);
        form.ShowDialog(*dialog);
    } else if (const auto* answer = boost::get<DefaultResp>(&*parsed.result)) {
        form.ApplyDefaultResp(*answer, exchange.client, exchange.event);
    }
}

template <typename EventT>
EventSteps<EventT> SessionSteps(TForm1& form, const char* name,
                                typename EventSteps<EventT>::Operation operation) {
    return EventSteps<EventT>(name, form.TabSheetSession, operation);
}

} // namespace

// --- Dispatcher -------------------------------------------------------------------------------

void TForm1::SendEvent(bool withDialog, const std::string& eventName) {
    using Handler = void (TForm1::*)(bool);
    struct Route {
        const char* name;
        Handler handler;
    };
    static const Route routes[] = {
        {"startSession", &TForm1::SendStartSession},
        {"scanCode", &TForm1::SendScanCode},
        {"addSessionLine", &TForm1::SendAddSessionLine},
        {"updateSessionLine", &TForm1::SendUpdateSessionLine},
        {"removeSessionLine", &TForm1::SendRemoveSessionLine},
        {"pauseSession", &TForm1::SendPauseSession},
        {"resumeSession", &TForm1::SendResumeSession},
        {"startPayment", &TForm1::SendStartPayment},
        {"cancelPayment", &TForm1::SendCancelPayment},
        {"mergeSession", &TForm1::SendMergeSession},
        {"cancelSession", &TForm1::SendCancelSession},
        {"completeSession", &TForm1::SendCompleteSession},
        {"creditSession", &TForm1::SendCreditSession},
        {"startExternalPayment", &TForm1::SendStartExternalPayment},
        {"pollExternalPayment", &TForm1::DispatchPoll},
        {"requestCancelExternalPayment", &TForm1::SendRequestCancelExternalPayment},
        {"cancelExternalPayment", &TForm1::SendCancelExternalPayment},
    };

    const std::string name = eventName.empty() ? lastEventName : eventName;
    if (!ReadSessionFromGrid())
        return;
    ResetExchangeDisplay();
    SetSendControlsEnabled(false);
    try {
        const Route* route = nullptr;
        for (const Route& candidate : routes) {
            if (name == candidate.name) {
                route = &candidate;
                break;
            }
        }
        if (!route)
            throw Exception("Cannot (re)send event: " + name);
        (this->*route->handler)(withDialog);
    } catch (...) {
        SetSendControlsEnabled(true);
        PublishExchanges();
        throw;
    }
    SetSendControlsEnabled(true);
    AdvanceEventCounter();
    PublishExchanges();
}

TForm1::ClientPtr TForm1::CreateClient() {
    mmMessages.Clear();
    mmResponseBody.Clear();
    // Refused before a client exists: nothing is looked up, sent or counted.
    const std::string urlProblem = BaseUrlProblem(edtBaseURL.Text());
    if (!urlProblem.empty())
        throw Exception(urlProblem);
    const std::string baseUrl = NormalizedBaseUrl();
    txtWebhookUrl.SetText(baseUrl + lastEventName);

    ClientPtr client = clientFactory ? clientFactory() : boost::make_shared<WebhookConsumerClient>();
    client->Init(edtSubscriptionId.Text(), edtSecret.Text(), baseUrl, !chkSelfSigned.Checked());
    txtDebugFile.SetText(client->debugFile);

    if (session.sessionId.IsNull()) {
        PageControl1.SetActivePage(TabSheetSession);
        throw Exception("Please enter session details first.");
    }
    return client;
}

std::string TForm1::NormalizedBaseUrl() const {
    std::string url = edtBaseURL.Text();
    if (url.compare(0, 8, "https://") != 0 && url.compare(0, 7, "http://") != 0)
        url = "https://" + url;
    if (url.back() != '/')
        url += '/';
    return url;
}

void TForm1::AdvanceEventCounter() {
    // The largest counter has no successor; it stays rather than turning negative.
    const boost::optional<int64_t> counter = ReadEventCounter();
    if (counter && *counter < std::numeric_limits<int64_t>::max())
        edtEventId.SetText(std::to_string(*counter + 1));
    SaveEventCounter();
}

void TForm1::RunExchange(const ClientPtr& client, const std::function<void()>& call) {
    // However the call ends, the button is off again and the client no longer reachable.
    struct EndOfExchange {
        TForm1& form;
        ~EndOfExchange() {
            form.btnCancelExchange.SetEnabled(false);
            const std::lock_guard<std::mutex> lock(form.exchangeMutex_);
            form.exchangeInFlight_.reset();
        }
    };
    {
        const std::lock_guard<std::mutex> lock(exchangeMutex_);
        exchangeInFlight_ = client;
    }
    const EndOfExchange end{*this};
    btnCancelExchange.SetEnabled(true);
    toolkit.RunBlocking(call);
}

void TForm1::btnCancelExchangeClick() {
    ClientPtr client;
    {
        const std::lock_guard<std::mutex> lock(exchangeMutex_);
        client = exchangeInFlight_;
    }
    if (client)
        client->Cancel();
}

void TForm1::SetSendControlsEnabled(bool enabled) {
    if (enabled)
        gridView->ShowEditor();
    else
        gridView->HideEditor();
    for (TSpeedButton* button :
         {&spdStartSession,      &spdScanCode,      &spdAddSessionLine, &spdUpdateSessionLine,
          &spdRemoveSessionLine, &spdPauseSession,  &spdResumeSession,  &spdMergeSession,
          &spdStartPayment,      &spdCancelPayment, &spdCancelSession,  &spdCompleteSession,
          &spdCreditSession,     &spdConfirmDialog, &spdSkipDialog,     &spdButton1,
          &spdButton2,           &spdButton3,       &spdButton4,        &spdButton5})
        button->SetEnabled(enabled);
}

// --- Event buttons ----------------------------------------------------------------------------

void TForm1::spdStartSessionClick() {
    SendEvent(false, "startSession");
}
void TForm1::spdScanCodeClick() {
    SendEvent(false, "scanCode");
}
void TForm1::spdAddSessionLineClick() {
    SendEvent(false, "addSessionLine");
}
void TForm1::spdUpdateSessionLineClick() {
    SendEvent(false, "updateSessionLine");
}

void TForm1::spdRemoveSessionLineClick() {
    SendEvent(false, "removeSessionLine");
    ShowSession();
}

void TForm1::spdPauseSessionClick() {
    SendEvent(false, "pauseSession");
}
void TForm1::spdResumeSessionClick() {
    SendEvent(false, "resumeSession");
}
void TForm1::spdStartPaymentClick() {
    SendEvent(false, "startPayment");
}
void TForm1::spdCancelPaymentClick() {
    SendEvent(false, "cancelPayment");
}
void TForm1::spdMergeSessionClick() {
    SendEvent(false, "mergeSession");
}
void TForm1::spdCancelSessionClick() {
    SendEvent(false, "cancelSession");
}
void TForm1::spdCompleteSessionClick() {
    SendEvent(false, "completeSession");
}
void TForm1::spdCreditSessionClick() {
    SendEvent(false, "creditSession");
}

void TForm1::spdStartExternalPaymentClick() {
    PrepareExternalPayment();
    SendEvent(false, "startExternalPayment");
}

void TForm1::spdPollExternalPaymentClick() {
    SendEvent(false, "pollExternalPayment");
}
void TForm1::spdRequestCancelExternalPaymentClick() {
    SendEvent(false, "requestCancelExternalPayment");
}
void TForm1::spdCancelExternalPaymentClick() {
    SendEvent(false, "cancelExternalPayment");
}

// --- Send handlers of the main group ------------------------------------------------------------

void TForm1::SendStartSession(bool withDialog) {
    SendMainGroupEvent(
        *this, SessionSteps<StartSessionEvent>(*this, "startSession", &WebhookConsumerClient::startSession),
        &parseStartSessionResult, withDialog);
}

namespace {

// The selected line of the grid, or the send error when there is none.
const SessionLine& SelectedLine(TForm1& form) {
    const int index = form.SelectedLineIndex();
    if (index < 0 || index >= static_cast<int>(form.session.lines.size()))
        throw Exception("No Session Line selected.");
    return form.session.lines[static_cast<std::size_t>(index)];
}

} // namespace

void TForm1::SendAddSessionLine(bool withDialog) {
    auto steps =
        SessionSteps<AddSessionLineEvent>(*this, "addSessionLine", &WebhookConsumerClient::addSessionLine);
    // The copy carries the line total that the session for sending has just computed.
    steps.afterCounter = [this](AddSessionLineEvent& event) { event.request.line = SelectedLine(*this); };
    SendMainGroupEvent(*this, steps, &parseAddSessionLineResult, withDialog);
}

void TForm1::SendUpdateSessionLine(bool withDialog) {
    auto steps = SessionSteps<UpdateSessionLineEvent>(*this, "updateSessionLine",
                                                      &WebhookConsumerClient::updateSessionLine);
    steps.afterCounter = [this](UpdateSessionLineEvent& event) { event.request.line = SelectedLine(*this); };
    SendMainGroupEvent(*this, steps, &parseUpdateSessionLineResult, withDialog);
}

void TForm1::SendRemoveSessionLine(bool withDialog) {
    auto steps = SessionSteps<RemoveSessionLineEvent>(*this, "removeSessionLine",
                                                      &WebhookConsumerClient::removeSessionLine);
    bool lineTaken = false;
    // The line leaves the model before the session is copied, so the event's session no longer
    // has it; the line itself goes out as it was, with the total of the previous send.
    steps.beforeSession = [this, &lineTaken](RemoveSessionLineEvent& event) {
        event.request.line = SelectedLine(*this);
        session.lines.erase(session.lines.begin() + SelectedLineIndex());
        lineTaken = true;
    };
    // Once the line is out of the model the grid must follow, however the send ends: reading
    // the grid relies on row i showing line i.
    try {
        SendMainGroupEvent(*this, steps, &parseRemoveSessionLineResult, withDialog);
    } catch (...) {
        if (lineTaken)
            ShowSession();
        throw;
    }
    if (lineTaken)
        ShowSession();
}

void TForm1::SendPauseSession(bool withDialog) {
    SendMainGroupEvent(
        *this, SessionSteps<PauseSessionEvent>(*this, "pauseSession", &WebhookConsumerClient::pauseSession),
        &parsePauseSessionResult, withDialog, true);
}

void TForm1::SendResumeSession(bool withDialog) {
    SendMainGroupEvent(
        *this,
        SessionSteps<ResumeSessionEvent>(*this, "resumeSession", &WebhookConsumerClient::resumeSession),
        &parseResumeSessionResult, withDialog, true);
}

void TForm1::SendStartPayment(bool withDialog) {
    SendMainGroupEvent(
        *this, SessionSteps<StartPaymentEvent>(*this, "startPayment", &WebhookConsumerClient::startPayment),
        &parseStartPaymentResult, withDialog);
}

void TForm1::SendCancelPayment(bool withDialog) {
    SendMainGroupEvent(
        *this,
        SessionSteps<CancelPaymentEvent>(*this, "cancelPayment", &WebhookConsumerClient::cancelPayment),
        &parseCancelPaymentResult, withDialog);
}

void TForm1::SendMergeSession(bool withDialog) {
    auto steps = SessionSteps<MergeSessionEvent>(*this, "mergeSession", &WebhookConsumerClient::mergeSession);
    // The event's session keeps the old id; the window continues under the new one, whatever
    // the consumer answers.
    steps.beforeSend = [this](MergeSessionEvent& event) {
        const Uuid merged = Uuid::Create();
        event.request.mergedSessionId = merged;
        session.sessionId = merged;
        ShowSession();
    };
    SendMainGroupEvent(*this, steps, &parseMergeSessionResult, withDialog);
}

void TForm1::SendCancelSession(bool withDialog) {
    SendMainGroupEvent(
        *this,
        SessionSteps<CancelSessionEvent>(*this, "cancelSession", &WebhookConsumerClient::cancelSession),
        &parseCancelSessionResult, withDialog);
}

void TForm1::SendCreditSession(bool withDialog) {
    // A credit is answered like a start: default answer, dialog or error.
    SendMainGroupEvent(
        *this,
        SessionSteps<CreditSessionEvent>(*this, "creditSession", &WebhookConsumerClient::creditSession),
        &parseStartSessionResult, withDialog);
}
