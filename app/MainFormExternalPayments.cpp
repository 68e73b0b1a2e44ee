// External payments: the payment under way, prepared from its tab, and the sends of its four
// events.

#include "Application.h"
#include "EventExchange.h"
#include "MainFormUnit.h"

#include "BaseUrl.h"
#include "Exception.h"
#include "WireFormat.h"

#include <boost/optional.hpp>
#include <boost/variant/get.hpp>

#include <exception>
#include <memory>
#include <thread>

using namespace Tarn::Webhooks;

namespace {

const char* const kDefaultPaymentMethod = "K_EXTERNAL_PAYMENT";
const char* const kPollEvent = "pollExternalPayment";

const char* BoolText(bool value) {
    return value ? "true" : "false";
}

} // namespace

void TForm1::PrepareExternalPayment() {
    ResetExternalPaymentTab();
    bool changed = false;
    // An empty box keeps the id of the last payment.
    if (!edtExternalPaymentId.Text().empty())
        externalPayment.externalPaymentId = Uuid(edtExternalPaymentId.Text());
    if (externalPayment.externalPaymentId.IsNull()) {
        externalPayment.externalPaymentId = Uuid::Create();
        changed = true;
    }
    if (edtPaymentMethod.Text().empty()) {
        edtPaymentMethod.SetText(kDefaultPaymentMethod);
        changed = true;
    }
    externalPayment.method = edtPaymentMethod.Text();
    if (changed)
        ShowExternalPaymentId();
}

void TForm1::ShowExternalPaymentId() {
    if (!session.sessionId.IsNull())
        edtExternalPaymentId.SetText(externalPayment.externalPaymentId.ToFormattedString());
    toolkit.ProcessMessages();
}

void TForm1::ResetExternalPaymentTab() {
    pollingActive = false;
    edtExternalPaymentStarted.SetText("");
    edtExternalPaymentConfirmed.SetText("");
    edtExternalPaymentCancelled.SetText("");
    edtExternalPaymentMessage.SetText("");
    edtExternalPaymentCustomerMessage.SetText("");
    spdStartExternalPayment.SetCaption("startExternalPayment");
    spdPollExternalPayment.SetCaption("pollExternalPayment");
    spdRequestCancelExternalPayment.SetCaption("requestCancelExternalPayment");
    spdCancelExternalPayment.SetCaption("cancelExternalPayment");
    SetExternalPaymentButtons(true, false);
}

void TForm1::SetExternalPaymentButtons(bool startEnabled, bool othersEnabled) {
    spdStartExternalPayment.SetEnabled(startEnabled);
    spdPollExternalPayment.SetEnabled(othersEnabled);
    spdRequestCancelExternalPayment.SetEnabled(othersEnabled);
    spdCancelExternalPayment.SetEnabled(othersEnabled);
}

bool TForm1::StopPolling() {
    pollingActive = false;
    // Every poll that runs or waits to start is cancelled, not only the latest: an answer must
    // never come in after a cancel.
    bool cancelled = false;
    std::lock_guard<std::mutex> lock(tasksMutex_);
    for (const std::shared_ptr<BackgroundTask>& task : tasks_) {
        const bool waitingToStart = !task->HasStarted() && !task->IsCancelled();
        if (task->IsRunning() || waitingToStart) {
            task->Cancel();
            cancelled = true;
        }
    }
    return cancelled;
}

void TForm1::FillExternalPayment(ExternalPaymentEvent& event) {
    externalPayment.amount = event.session.totalAmount.value_or(0.0);
    externalPayment.description = externalPayment.method;
    event.externalPayment = externalPayment;
}

bool TForm1::ApplyExternalPaymentResp(const ExternalPaymentResp& response, const EventPtr& event,
                                      const ClientPtr& client) {
    ResetExternalPaymentTab();
    if (response.externalPaymentId != externalPayment.externalPaymentId) {
        ReportErrorToConsumer(Error(DbStringFromWebhookErrorCode(ewecExternalPaymentIdMismatch),
                                    "The externalPaymentId in the response does not match the "
                                    "externalPaymentId in the request."),
                              client, event);
        NoteExchange("Payment state", "refused: the externalPaymentId does not match the request's");
        return false;
    }
    bool pollAgain = true;
    if (response.started) {
        edtExternalPaymentStarted.SetText(BoolText(*response.started));
        if (*response.started)
            SetExternalPaymentButtons(false, true);
    }
    // Any confirmed, true or false, settles the payment.
    if (response.confirmed) {
        edtExternalPaymentConfirmed.SetText(BoolText(*response.confirmed));
        SetExternalPaymentButtons(true, false);
        pollAgain = false;
    }
    if (response.cancelled) {
        edtExternalPaymentCancelled.SetText(BoolText(*response.cancelled));
        if (*response.cancelled) {
            StopPolling();
            SetExternalPaymentButtons(true, false);
            pollAgain = false;
        }
    }
    edtExternalPaymentMessage.SetText(response.message.value_or(UTF8String()));
    edtExternalPaymentCustomerMessage.SetText(response.customerMessage.value_or(UTF8String()));
    NoteExchange("Payment state", pollAgain ? "open, polled again" : "settled, polling ends");
    if (pollAgain) {
        toolkit.ProcessMessages();
        spdPollExternalPaymentClick();
    }
    return true;
}

namespace {

// Client set-up, event, payment and the checked exchange of one external-payment event.
template <typename EventT>
EventExchange<EventT> RunPaymentExchange(TForm1& form, const char* name,
                                         typename EventSteps<EventT>::Operation operation,
                                         TSpeedButton* busyButton, bool withDialog) {
    EventSteps<EventT> steps(name, form.TabSheetExternalPayment, operation);
    steps.beforeSend = [&form](EventT& event) { form.FillExternalPayment(event); };
    steps.busyButton = busyButton;
    return EventExchange<EventT>::Run(form, steps, withDialog);
}

// The answer of a start, request-cancel or cancel send: read whenever there is a document; a
// payment answer is taken in only for a blocking call.
template <typename EventT>
void TakeInPaymentAnswer(TForm1& form, const EventExchange<EventT>& exchange,
                         JsonParseResult<ExternalPaymentResult> (*reader)(const Json::Value&)) {
    const auto parsed = ReadAnswer(exchange, reader);
    if (parsed)
        form.AddMessages(parsed->messages, false);
    ApplyTypedAnswer<ExternalPaymentResp>(form, exchange, parsed, [&](const ExternalPaymentResp& response) {
        if (form.ApplyExternalPaymentResp(response, exchange.event, exchange.client))
            form.ApplyDefaultResp(response, exchange.client, exchange.event);
    });
}

using PollExchange = EventExchange<PollExternalPaymentEvent>;

// What a poll's answer asks for, whatever the blocking flag: a dialog is shown, a payment
// answer decides about the next poll, an answer without a result asks for the next poll at
// once. bodyEmpty tells an empty answer (no document, poll again) from a body the checks
// refused (no document either, but polling ends).
void TakeInPollAnswer(TForm1& form, const PollExchange& exchange,
                      const boost::optional<JsonParseResult<ExternalPaymentResult>>& parsed, bool bodyEmpty) {
    if (exchange.status != 200 && exchange.status != 400)
        return;
    if (!parsed) {
        if (bodyEmpty)
            form.spdPollExternalPaymentClick();
        return;
    }
    NoteAnswerRead(form, *parsed);
    if (parsed->parseError) {
        form.mmMessages.Add("ERROR : " + parsed->parseError->message);
        return;
    }
    if (!parsed->result) {
        form.spdPollExternalPaymentClick();
        return;
    }
    const ExternalPaymentResult& result = *parsed->result;
    if (const auto* error = boost::get<ErrorResp>(&result)) {
        form.ShowResultError(*error);
    } else if (const auto* dialog = boost::get<DialogResp>(&result)) {
        form.PageControl1.SetActivePage(form.TabSheetDialog);
        form.ShowDialog(*dialog);
    } else if (const auto* payment = boost::get<ExternalPaymentResp>(&result)) {
        // ApplyExternalPaymentResp has already dispatched the next poll when the payment is open.
        if (form.ApplyExternalPaymentResp(*payment, exchange.event, exchange.client))
            form.ApplyDefaultResp(*payment, exchange.client, exchange.event);
    } else if (const auto* answer = boost::get<DefaultResp>(&result)) {
        form.ApplyDefaultResp(*answer, exchange.client, exchange.event);
    }
}

} // namespace

void TForm1::SendStartExternalPayment(bool withDialog) {
    const auto exchange = RunPaymentExchange<StartExternalPaymentEvent>(
        *this, "startExternalPayment", &WebhookConsumerClient::startExternalPayment, &spdStartExternalPayment,
        withDialog);
    TakeInPaymentAnswer(*this, exchange, &parseStartExternalPaymentResult);
}

void TForm1::SendRequestCancelExternalPayment(bool withDialog) {
    const auto exchange = RunPaymentExchange<RequestCancelExternalPaymentEvent>(
        *this, "requestCancelExternalPayment", &WebhookConsumerClient::requestCancelExternalPayment,
        &spdRequestCancelExternalPayment, withDialog);
    TakeInPaymentAnswer(*this, exchange, &parseRequestCancelExternalPaymentResult);
}

void TForm1::SendCancelExternalPayment(bool withDialog) {
    StopPolling();
    ResetExternalPaymentTab();
    const auto exchange = RunPaymentExchange<CancelExternalPaymentEvent>(
        *this, "cancelExternalPayment", &WebhookConsumerClient::cancelExternalPayment,
        &spdCancelExternalPayment, withDialog);
    TakeInPaymentAnswer(*this, exchange, &parseCancelExternalPaymentResult);
}

// --- Polling ----------------------------------------------------------------------------------

// A poll goes through three hands. The dispatch (inside SendEvent, on the window's thread) claims
// polling and leaves the poll's event to be built once the send that dispatched it has counted:
// when the window is back in its message loop, or, dispatched by a poll's answer, as soon as
// TakeInPoll has applied that answer. That step builds the event and client and starts the
// task, which does only the exchange, off the window's thread, and hands the answer back to the
// window to be taken in. So a poll crosses between the threads twice, and neither side waits for
// the other: the task's thread is free at once for the next poll, which the answer usually asks
// for.
void TForm1::DispatchPoll(bool withDialog) {
    lastEventName = kPollEvent;
    PageControl1.SetActivePage(TabSheetExternalPayment);
    pollWithDialog = withDialog;
    if (pollingActive) {
        // The poll in flight goes on, and stays the window's task, so StopPolling still reaches it.
        toolkit.ShowMessage("Please wait. We are already polling.");
        return;
    }
    // Refused here, not when the queued step makes the client: a refused poll is not counted.
    const std::string urlProblem = BaseUrlProblem(edtBaseURL.Text());
    if (!urlProblem.empty())
        throw Exception(urlProblem);
    pollingActive = true;

    auto prepared = std::make_shared<PreparedPoll>();
    pollTask = CreateBackgroundTask([this, prepared](BackgroundTask& task) { RunPoll(task, prepared); });
    const std::weak_ptr<BackgroundTask> weakTask = pollTask;
    auto start = [this, weakTask, prepared] {
        // Let go here when no poll takes it over.
        ClientPtr previousClient = std::move(previousPollClient_);
        const std::shared_ptr<BackgroundTask> task = weakTask.lock();
        // Cancelled, or no longer the window's poll (a later dispatch took its place), before the
        // window got to it: nothing is sent.
        if (!task || task->IsCancelled())
            return;
        if (task != pollTask) {
            task->Cancel();
            return;
        }
        try {
            EventSteps<PollExternalPaymentEvent> steps(kPollEvent, TabSheetExternalPayment,
                                                       &WebhookConsumerClient::pollExternalPayment);
            steps.beforeSend = [this](PollExternalPaymentEvent& event) { FillExternalPayment(event); };
            PollExchange exchange = PollExchange::Prepare(*this, steps, pollWithDialog);
            // Its trace is written when the next poll's task lets the client go; its connection
            // is closed by this poll's task once the answer is handed over.
            exchange.client->DeferTraceWrites();
            exchange.client->DeferConnectionCloses();
            prepared->client = exchange.client;
            prepared->event = exchange.event;
            prepared->task = task;
            prepared->previousClient = std::move(previousClient);
            spdPollExternalPayment.SetCaption("Bezig...");
            task->Start();
        } catch (...) {
            // Shown like any send error; a poll that never went out must not block the next.
            task->Cancel(); // it will never start
            pollingActive = false;
            spdPollExternalPayment.SetCaption(kPollEvent);
            Application::HandleException(toolkit, std::current_exception());
        }
    };
    if (takingInPoll_) {
        nextPollStart_ = std::move(start);
        return;
    }
    // A closing window drops queued work: the task then never starts.
    toolkit.Queue(std::move(start));
}

// The body of a poll task: the exchange of the poll that the window has prepared; its answer is
// then taken in on the window's thread, and the task runs until it has been. A closing window
// drops the answer.
void TForm1::RunPoll(BackgroundTask& task, const std::shared_ptr<PreparedPoll>& poll) {
    WebhookResult result;
    AnswerDigest digest;
    std::exception_ptr failure;
    // Cancelling the task (StopPolling, a closing window) ends the exchange at once.
    task.SetCancelAction([client = poll->client] { client->Cancel(); });
    try {
        result = poll->client->pollExternalPayment(*poll->event);
        digest = DigestAnswer(*poll->client, result);
    } catch (...) {
        failure = std::current_exception();
    }
    task.SetCancelAction(nullptr);
    // Taken while the client is still this task's: once the answer is handed over, it is the window's.
    FinishedConnections connections = poll->client->TakeFinishedConnections();
    // The task itself is reached through the window's list of tasks, which keeps it while it runs.
    toolkit.Queue([this, poll, result = std::move(result), digest = std::move(digest),
                   failure = std::move(failure), running = task.KeepRunning()]() mutable {
        if (const std::shared_ptr<BackgroundTask> self = poll->task.lock())
            TakeInPoll(*self, *poll, result, std::move(digest), failure);
    });
    // The window's thread, woken by the hand-over, is often put on this very processor: giving
    // way lets it take the answer in now rather than after the clean-up below.
    std::this_thread::yield();
    // Closing this exchange's connection and letting the last poll's client go are work that
    // neither the window nor the next poll need wait for; here they overlap with the window
    // taking in the answer.
    connections.Close();
    poll->previousClient.reset();
}

// A poll's answer, on the window's thread.
void TForm1::TakeInPoll(BackgroundTask& task, PreparedPoll& poll, const WebhookResult& result,
                        AnswerDigest digest, const std::exception_ptr& failure) {
    // A cancelled poll's answer is not shown, read or applied, and no poll follows.
    if (task.IsCancelled())
        return;
    spdPollExternalPayment.SetCaption(kPollEvent);
    PollExchange exchange;
    exchange.client = std::move(poll.client);
    exchange.event = std::move(poll.event);
    bool answerTakenIn = false;
    std::exception_ptr takeInFailure;
    takingInPoll_ = true;
    try {
        if (failure)
            std::rethrow_exception(failure);
        exchange.status = VerifyResponse(exchange.client, exchange.event, result, std::move(digest), exchange.json);
        const auto parsed = ReadAnswer(exchange, &parsePollExternalPaymentResult);
        if (parsed)
            AddMessages(parsed->messages, false);
        pollingActive = false;
        answerTakenIn = true;
        TakeInPollAnswer(*this, exchange, parsed, result.response.GetBody().empty());
    } catch (...) {
        if (!answerTakenIn)
            pollingActive = false;
        takeInFailure = std::current_exception();
    }
    takingInPoll_ = false;
    // The next poll's task lets the client go; without a next poll it goes here.
    if (pollingActive)
        previousPollClient_ = std::move(exchange.client);
    // The next poll goes out before this exchange is shown: the window's work on the Checks and
    // History tabs then overlaps that poll's exchange.
    if (nextPollStart_) {
        const std::function<void()> start = std::move(nextPollStart_);
        nextPollStart_ = nullptr;
        start();
    }
    PublishExchanges();
    if (takeInFailure)
        Application::HandleException(toolkit, takeInFailure);
}
