// completeSession and the receipt it prints: the session lines on screen and the footer items
// of the consumer's answer.

#include "EventExchange.h"
#include "MainFormUnit.h"

#include "WireFormat.h"

#include <string>

using namespace Tarn::Webhooks;

std::string TForm1::BuildReceiptFooter(const CompleteSessionResp& response) const {
    std::string footer;
    for (const ReceiptFooterResp& item : response.receiptFooters) {
        if (item.text && !item.text->empty())
            footer += *item.text;
        if (item.barcode) {
            if (!footer.empty())
                footer += "\n\n";
            footer += "[" + item.barcode->barcodeType + "] " + item.barcode->barcodeValue;
        }
    }
    return footer;
}

std::string TForm1::BuildReceipt(const std::string& footer) const {
    std::string receipt = "KASSABON\n========\n";
    for (const SessionLine& line : session.lines) {
        std::string text;
        if (line.articleNumber)
            text += std::to_string(*line.articleNumber) + "x ";
        text += line.text;
        if (line.totalAmount)
            text += " = " + FormatNumber(*line.totalAmount);
        if (!text.empty())
            receipt += text + "\n";
    }
    if (!footer.empty())
        receipt += "\n" + footer;
    return receipt;
}

void TForm1::SendCompleteSession(bool withDialog) {
    // The tester adds no payments: the request goes out with an empty list.
    const EventSteps<CompleteSessionEvent> steps("completeSession", TabSheetSession,
                                                 &WebhookConsumerClient::completeSession);
    const auto exchange = EventExchange<CompleteSessionEvent>::Run(*this, steps, withDialog);

    const auto parsed = ReadAnswer(exchange, &parseCompleteSessionResult);
    if (parsed)
        AddMessages(parsed->messages, false);

    std::string footer;
    ApplyTypedAnswer<CompleteSessionResp>(*this, exchange, parsed, [&](const CompleteSessionResp& response) {
        footer = BuildReceiptFooter(response);
    });

    // The receipt is printed whatever the answer was; the send ends when it is closed.
    NoteExchange("Receipt", footer.empty() ? "shown without footers" : "shown with the consumer's footers");
    toolkit.ShowMessage(BuildReceipt(footer));
}
