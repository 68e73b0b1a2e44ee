// External payments: the payment under way, prepared from its tab, and the sends of its four
// events.

#include "EventExchange.h"
#include "MainFormUnit.h"

#include "WireFormat.h"

using namespace Tarn::Webhooks;

namespace {

const char* const kDefaultPaymentMethod = "K_EXTERNAL_PAYMENT";

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
    if (pollTask && pollTask->IsRunning()) {
        pollTask->Cancel();
        return true;
    }
    return false;
}

void TForm1::FillExternalPayment(ExternalPaymentEvent& event) {
    externalPayment.amount = event.session.totalAmount.value_or(0.0);
    externalPayment.description = externalPayment.method;
    event.externalPayment = externalPayment;
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

} // namespace

// The answers of the external-payment events are taken in by the external-payment answer path;
// these handlers send the event and show and check the exchange.

void TForm1::SendStartExternalPayment(bool withDialog) {
    RunPaymentExchange<StartExternalPaymentEvent>(*this, "startExternalPayment",
                                                  &WebhookConsumerClient::startExternalPayment,
                                                  &spdStartExternalPayment, withDialog);
}

void TForm1::SendRequestCancelExternalPayment(bool withDialog) {
    RunPaymentExchange<RequestCancelExternalPaymentEvent>(
        *this, "requestCancelExternalPayment", &WebhookConsumerClient::requestCancelExternalPayment,
        &spdRequestCancelExternalPayment, withDialog);
}

void TForm1::SendCancelExternalPayment(bool withDialog) {
    StopPolling();
    ResetExternalPaymentTab();
    RunPaymentExchange<CancelExternalPaymentEvent>(*this, "cancelExternalPayment",
                                                   &WebhookConsumerClient::cancelExternalPayment,
                                                   &spdCancelExternalPayment, withDialog);
}

void TForm1::DispatchPoll(bool withDialog) {
    pollWithDialog = withDialog;
    RunPaymentExchange<PollExternalPaymentEvent>(*this, "pollExternalPayment",
                                                 &WebhookConsumerClient::pollExternalPayment,
                                                 &spdPollExternalPayment, withDialog);
}
