#pragma once

// The part that every send handler shares: from recording the event name to the checked
// exchange (client set-up, event record, counter, sender, dialog answer, the client call and
// VerifyResponse), and the answer path of the handlers that read typed answers.

#include "Exception.h"
#include "MainFormUnit.h"

#include <boost/make_shared.hpp>
#include <boost/optional.hpp>
#include <boost/variant/apply_visitor.hpp>
#include <boost/variant/get.hpp>
#include <boost/variant/static_visitor.hpp>

#include <exception>
#include <functional>
#include <string>

// What sets one event apart from the others on the common path.
template <typename EventT> struct EventSteps {
    using Operation = Tarn::Webhooks::WebhookResult (Tarn::Webhooks::WebhookConsumerClient::*)(const EventT&);
    using Hook = std::function<void(EventT&)>;

    EventSteps(std::string name, TTabSheet& tab, Operation op)
        : eventName(std::move(name)), firstTab(&tab), operation(op) {}

    std::string eventName;
    TTabSheet* firstTab;
    Operation operation;
    Hook beforeSession; // before the session is copied into the event
    Hook afterCounter;  // after counter, blocking flag and sender are in the event
    Hook beforeSend;    // after the dialog answer, right before the client call
    // Shows "Bezig..." during the call and lets the window paint it.
    TSpeedButton* busyButton = nullptr;
};

// One send made and checked: the event, its client, the status VerifyResponse gave and the
// document it accepted.
template <typename EventT> class EventExchange {
public:
    // Runs the steps in order; throws the send errors ("Please enter session details first.",
    // "Invalid Event Counter entered." and those of the hooks) before anything is sent.
    static EventExchange Run(TForm1& form, const EventSteps<EventT>& steps, bool withDialog);
    // Client and event as Run makes them, up to the client call (the name and tab are left to
    // the caller): for a send whose call runs elsewhere, such as a background poll.
    static EventExchange Prepare(TForm1& form, const EventSteps<EventT>& steps, bool withDialog);

    boost::shared_ptr<EventT> event;
    TForm1::ClientPtr client;
    int status = -1;
    boost::optional<Json::Value> json;
};

template <typename EventT>
EventExchange<EventT> EventExchange<EventT>::Run(TForm1& form, const EventSteps<EventT>& steps,
                                                 bool withDialog) {
    form.lastEventName = steps.eventName;
    form.PageControl1.SetActivePage(*steps.firstTab);
    EventExchange exchange = Prepare(form, steps, withDialog);
    EventT& event = *exchange.event;

    if (steps.busyButton) {
        steps.busyButton->SetCaption("Bezig...");
        form.toolkit.ProcessMessages();
    }
    // The exchange runs through the toolkit so the window keeps painting. A failure of the
    // client is held until the button has its caption back, then raised.
    Tarn::Webhooks::WebhookResult result;
    TForm1::AnswerDigest digest;
    std::exception_ptr failure;
    Tarn::Webhooks::WebhookConsumerClient& client = *exchange.client;
    form.RunExchange(exchange.client, [&] {
        try {
            result = (client.*steps.operation)(event);
            digest = TForm1::DigestAnswer(client, result);
        } catch (...) {
            failure = std::current_exception();
        }
    });
    if (steps.busyButton) {
        steps.busyButton->SetCaption(steps.eventName);
        form.toolkit.ProcessMessages();
    }
    if (failure)
        std::rethrow_exception(failure);

    exchange.status = form.VerifyResponse(exchange.client, exchange.event, result, std::move(digest), exchange.json);
    return exchange;
}

template <typename EventT>
EventExchange<EventT> EventExchange<EventT>::Prepare(TForm1& form, const EventSteps<EventT>& steps,
                                                     bool withDialog) {
    EventExchange exchange;
    exchange.client = form.CreateClient();
    exchange.event = boost::make_shared<EventT>();
    EventT& event = *exchange.event;

    if (steps.beforeSession)
        steps.beforeSession(event);
    event.session = form.CurrentSession();

    const boost::optional<int64_t> counter = form.ReadEventCounter();
    if (!counter)
        throw Exception("Invalid Event Counter entered.");
    event.header.eventCounter = *counter;
    event.header.blockingCall = form.chkBlockingCall.Checked();
    event.sender.branchNumber = form.ReadBranchNumber().value_or(1);
    event.sender.workplaceNumber = form.ReadWorkplaceNumber().value_or(1);
    event.sender.senderId = form.senderId;
    if (steps.afterCounter)
        steps.afterCounter(event);

    if (withDialog)
        event.dialog = form.BuildDialogAnswer();
    if (steps.beforeSend)
        steps.beforeSend(event);
    return exchange;
}

// What the result reader made of an answer, as a line of the exchange's record.
struct AnswerKindName : boost::static_visitor<std::string> {
    std::string operator()(const Tarn::Webhooks::DefaultResp&) const { return "default answer"; }
    std::string operator()(const Tarn::Webhooks::DialogResp&) const { return "dialog"; }
    std::string operator()(const Tarn::Webhooks::ErrorResp& error) const {
        return "error answer [" + error.errorCode + "] " + error.message;
    }
    std::string operator()(const Tarn::Webhooks::ScanCodeResp&) const { return "scan-code answer"; }
    std::string operator()(const Tarn::Webhooks::CompleteSessionResp&) const { return "receipt footers"; }
    std::string operator()(const Tarn::Webhooks::ExternalPaymentResp&) const { return "external payment"; }
};
template <typename ResultT>
void NoteAnswerRead(TForm1& form, const Tarn::Webhooks::JsonParseResult<ResultT>& parsed) {
    if (parsed.parseError)
        form.NoteExchange("Answer read", "could not be read: " + parsed.parseError->message);
    else if (parsed.result)
        form.NoteExchange("Answer read", boost::apply_visitor(AnswerKindName(), *parsed.result));
}

// The answer path of the handlers with a typed answer (scanCode, completeSession, the
// external-payment events): acts on 200 and 400, shows a ParseError and an ErrorResp whatever
// the blocking flag, and the other answers only for a blocking call. onTyped receives the
// event's own answer kind.
template <typename TypedResp, typename EventT, typename ResultT, typename OnTyped>
void ApplyTypedAnswer(TForm1& form, const EventExchange<EventT>& exchange,
                      const boost::optional<Tarn::Webhooks::JsonParseResult<ResultT>>& parsed,
                      OnTyped onTyped) {
    using namespace Tarn::Webhooks;
    if (exchange.status != 200 && exchange.status != 400)
        return;
    if (!parsed)
        return;
    NoteAnswerRead(form, *parsed);
    if (parsed->parseError) {
        form.mmMessages.Add("ERROR : " + parsed->parseError->message);
        return;
    }
    if (!parsed->result)
        return;
    const ResultT& result = *parsed->result;
    if (const auto* error = boost::get<ErrorResp>(&result)) {
        form.ShowResultError(*error);
        return;
    }
    if (!exchange.event->header.blockingCall)
        return;
    if (const auto* dialog = boost::get<DialogResp>(&result)) {
        form.PageControl1.SetActivePage(form.TabSheetDialog);
        form.ShowDialog(*dialog);
    } else if (const auto* typed = boost::get<TypedResp>(&result)) {
        onTyped(*typed);
    } else if (const auto* answer = boost::get<DefaultResp>(&result)) {
        form.ApplyDefaultResp(*answer, exchange.client, exchange.event);
    }
}

// The parse result of a checked exchange: empty when the exchange gave no JSON document.
template <typename ResultT, typename EventT>
boost::optional<Tarn::Webhooks::JsonParseResult<ResultT>>
ReadAnswer(const EventExchange<EventT>& exchange,
           Tarn::Webhooks::JsonParseResult<ResultT> (*reader)(const Json::Value&)) {
    if (!exchange.json)
        return boost::none;
    return reader(*exchange.json);
}
