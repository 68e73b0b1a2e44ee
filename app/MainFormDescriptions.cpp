// What each control is for, as tooltips and for assistive technology, and what goes in the
// empty settings boxes. The captions stay as they are; the Dutch ones are explained here.

#include "MainFormUnit.h"

#include <string>
#include <utility>

void TForm1::DescribeControls() {
    const std::pair<TControl*, const char*> descriptions[] = {
        {&edtSubscriptionId, "The subscription id your consumer was registered with; sent in every event."},
        {&edtSecret, "The shared secret that signs every request and every answer (HMAC-SHA256)."},
        {&btnCreateSecret, "Makes a new random secret; give the same secret to your consumer."},
        {&edtBaseURL, "Your consumer's address; the event name is added to it for each event."},
        {&chkSelfSigned, "Accepts any certificate of the consumer, as curl's -k does: not only a self-signed one, "
                         "but also one for another host name or one that has expired. Use it for a test "
                         "consumer only."},
        {&edtEventId, "The counter of the next event; it goes up by one after each send."},
        {&chkBlockingCall, "Send events as blocking calls: the till waits for and applies your answer."},
        {&edtBranchNumber, "The branch number the till sends as its sender."},
        {&edtWorkplaceNumber, "The workplace (till) number the till sends as its sender."},
        {&btnConfigOpslaan, "Stores these settings in the configuration file."},
        {&btnConfigInlezen, "Reads the settings back from the configuration file."},
        {&mmMessage, "A text to sign with the secret."},
        {&btnGenerateHMAC, "Signs the text above with the secret."},
        {&edtSignature, "The signature of the text, as the X-Orvel-Signature header carries it."},
        {&edtSessionId, "The id of the current sale (session)."},
        {&btnGenerate, "Starts a new sale with a new session id and sends startSession."},
        {&gridSession, "The lines of the sale; type in a cell to change it."},
        {&spdRegelToevoegen, "Adds a line to the sale."},
        {&spdRegelVerwijderen, "Removes the selected line from the sale."},
        {&edtDialogTitle, "The title of the dialog your consumer asked for."},
        {&edtRequired, "Whether the dialog must be answered."},
        {&edtAllowMultipleOptions, "Whether more than one option may be chosen."},
        {&spdConfirmDialog, "Sends the chosen options as the dialog's answer."},
        {&spdSkipDialog, "Sends the event again without answering the dialog."},
        {&edtCode, "The code the till scanned."},
        {&cmbCodeType, "The kind of code scanned."},
        {&edtScanCodeRecognized, "Whether your consumer recognized the code."},
        {&edtScanCodeMessage, "The message your consumer gave for the till."},
        {&edtScanCodeCustomerMessage, "The message your consumer gave for the customer."},
        {&edtScanCodeRelationNumber, "The relation (customer) number your consumer found."},
        {&edtPaymentMethod, "The payment method the external payment is made with."},
        {&edtExternalPaymentId, "The id your consumer gave the external payment."},
        {&edtExternalPaymentStarted, "Whether your consumer started the payment."},
        {&edtExternalPaymentConfirmed, "Whether your consumer confirmed the payment."},
        {&edtExternalPaymentCancelled, "Whether your consumer cancelled the payment."},
        {&edtExternalPaymentMessage, "The message your consumer gave for the till."},
        {&edtExternalPaymentCustomerMessage, "The message your consumer gave for the customer."},
        {&txtWebhookUrl, "The address the last event went to."},
        {&txtDebugFile, "The file the last exchange was written to."},
        {&edtConfigBestand, "The configuration file the settings are stored in."},
        {&mmMessages, "What the last send reported: errors and your consumer's messages."},
        {&pnlHttpResponse, "The HTTP status of your consumer's answer: green for 200, red for 400 or no answer."},
        {&pnlVerdict, "The verdict of the checks on the last answer."},
        {&edtTiming, "How long the last exchange took."},
        {&btnCancelExchange, "Ends the exchange in flight (Esc): for a consumer that does not answer."},
        {&chkRecordScenario, "Records each press and edit as a step of a scenario, with what the window showed."},
        {&btnSaveScenario, "Saves the recorded steps as a scenario file for orvel-webhook-tester-run."},
        {&lvRequestHeaders, "The headers of the request sent (Waarde: value)."},
        {&mmRequestBody, "The body of the request sent."},
        {&lvResponseHeaders, "The headers of your consumer's answer (Waarde: value)."},
        {&mmResponseBody, "The body of your consumer's answer."},
        {&lvErrorRequestHeaders, "The headers of the error report sent to your consumer (Waarde: value)."},
        {&mmErrorRequestBody, "The body of the error report sent to your consumer."},
        {&lvChecks, "Each check made on the last answer and its result."},
        {&edtHistoryFilter, "Shows only the exchanges whose event, status, verdict or bodies contain this text."},
        {&lvHistory, "Every exchange of this and earlier runs, newest first; choose one to see it whole."},
        {&btnHistoryResend, "Sends the chosen request again byte for byte, with its own signature: a duplicate "
                            "delivery. Nothing of the answer reaches the sale."},
        {&btnHistoryCopyCurl, "Copies a curl command that sends the chosen request exactly as it was sent."},
        {&btnHistoryCopyResponse, "Copies the chosen answer: its status line, headers and body."},
        {&btnHistoryClear, "Empties the history, after asking."},
        {&mmHistoryRequest, "The chosen request: its line, headers and body."},
        {&mmHistoryResponse, "The chosen answer: its status line, headers and body."},
        {&lvHistoryChecks, "The checks made on the chosen answer and its verdict."},
    };
    for (const auto& [control, description] : descriptions)
        control->SetDescription(description);

    // The event buttons show "Bezig..." while their call runs.
    const std::string busy = " While the call runs the button reads \"Bezig...\" (busy).";
    for (TSpeedButton* button :
         {&spdStartSession, &spdAddSessionLine, &spdUpdateSessionLine, &spdRemoveSessionLine, &spdPauseSession,
          &spdResumeSession, &spdStartPayment, &spdCancelPayment, &spdMergeSession, &spdCancelSession,
          &spdCreditSession, &spdScanCode, &spdStartExternalPayment, &spdPollExternalPayment,
          &spdRequestCancelExternalPayment, &spdCancelExternalPayment})
        button->SetDescription("Sends the " + button->Caption() + " event to your consumer." + busy);
    spdCompleteSession.SetDescription("Sends the completeSession event; the receipt (KASSABON) is shown with "
                                      "your consumer's footers." +
                                      busy);
    for (TSpeedButton* option : {&spdButton1, &spdButton2, &spdButton3, &spdButton4, &spdButton5})
        option->SetDescription("Chooses this option of the dialog.");

    edtSubscriptionId.SetPlaceholderText("the id your consumer was registered with");
    edtSecret.SetPlaceholderText("the shared secret, or press Create secret");
    edtBaseURL.SetPlaceholderText("https://your-consumer.example/webhooks/");
    edtCode.SetPlaceholderText("a barcode, RFID or QR code");
    edtExternalPaymentId.SetPlaceholderText("given by your consumer's answer");
}
