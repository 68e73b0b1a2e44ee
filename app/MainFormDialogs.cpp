#include "MainFormUnit.h"

#include "EventExchange.h"
#include "Exception.h"
#include "WireFormat.h"

#include <cstddef>
#include <string>

// The dialog tab at rest: no option shown or chosen, nothing to confirm or skip. Title, flags,
// captions and option ids keep what the last dialog put there.
void TForm1::ResetDialogTab() {
    for (int n = 1; n <= 5; ++n) {
        TSpeedButton* button = OptionButton(n);
        button->SetVisible(false);
        button->SetHint("");
        button->SetBold(false);
    }
    spdSkipDialog.SetEnabled(false);
    spdConfirmDialog.SetEnabled(false);
}

// --- Showing and answering a dialog -----------------------------------------------------------

void TForm1::ShowDialog(const Tarn::Webhooks::DialogResp& response) {
    NoteExchange("Dialog", "\"" + response.dialogTitle + "\" with " + std::to_string(response.options.size()) + " options");
    ResetDialogTab();
    edtDialogTitle.SetText(response.dialogTitle);
    edtRequired.SetText(response.required ? "true" : "false");
    edtAllowMultipleOptions.SetText(response.allowMultipleOptions ? "true" : "false");
    // Five buttons: options from the sixth on cannot be chosen.
    for (std::size_t i = 0; i < response.options.size() && i < 5; ++i) {
        const Tarn::Webhooks::DialogOption& option = response.options[i];
        TSpeedButton* button = OptionButton(static_cast<int>(i) + 1);
        button->SetVisible(true);
        button->SetHint("");
        button->SetTag(option.id);
        button->SetCaption("[" + std::to_string(option.id) + "] " + option.text);
    }
    spdSkipDialog.SetEnabled(true);
    spdConfirmDialog.SetEnabled(true);
}

// The hint text is the selection mark ("selected" or empty); the bold caption shows it.
void TForm1::ToggleDialogOption(int n, bool deselectOnly) {
    TSpeedButton* button = OptionButton(n);
    if (!button)
        return;
    const bool wasSelected = deselectOnly || !button->Hint().empty();
    if (edtAllowMultipleOptions.Text() != "true") {
        for (int other = 1; other <= 5; ++other) {
            OptionButton(other)->SetHint("");
            OptionButton(other)->SetBold(false);
        }
    }
    button->SetHint("");
    button->SetBold(false);
    if (!wasSelected) {
        button->SetHint("selected");
        button->SetBold(true);
    }
}

Tarn::Webhooks::DialogReq TForm1::BuildDialogAnswer() {
    Tarn::Webhooks::DialogReq answer;
    for (int n = 1; n <= 5; ++n) {
        const TSpeedButton* button = OptionButton(n);
        if (!button->Hint().empty())
            answer.optionIds.push_back(button->Tag());
    }
    ResetDialogTab();
    return answer;
}

void TForm1::spdButton1Click() {
    ToggleDialogOption(1, false);
}
void TForm1::spdButton2Click() {
    ToggleDialogOption(2, false);
}
void TForm1::spdButton3Click() {
    ToggleDialogOption(3, false);
}
void TForm1::spdButton4Click() {
    ToggleDialogOption(4, false);
}
void TForm1::spdButton5Click() {
    ToggleDialogOption(5, false);
}

void TForm1::spdConfirmDialogClick() {
    bool anySelected = false;
    for (int n = 1; n <= 5; ++n)
        anySelected = anySelected || !OptionButton(n)->Hint().empty();
    if (edtRequired.Text() == "true" && !anySelected)
        throw Exception("You are required to select an option.");
    // The last event goes out again, now with the answer attached.
    SendEvent(true, "");
}

void TForm1::spdSkipDialogClick() {
    for (int n = 1; n <= 5; ++n)
        ToggleDialogOption(n, true);
    spdConfirmDialogClick();
}

// --- Scan codes -------------------------------------------------------------------------------

void TForm1::ShowScanCodeResult(const Tarn::Webhooks::ScanCodeResp& response) {
    NoteExchange("Scan code", response.recognized ? "recognized" : "not recognized");
    edtScanCodeRecognized.SetText(response.recognized ? "true" : "false");
    edtScanCodeMessage.SetText(response.message);
    edtScanCodeCustomerMessage.SetText(response.customerMessage);
    edtScanCodeRelationNumber.SetText(response.relationNumber ? std::to_string(*response.relationNumber)
                                                              : std::string());
}

void TForm1::SendScanCode(bool withDialog) {
    using namespace Tarn::Webhooks;
    EventSteps<ScanCodeEvent> steps("scanCode", TabSheetScanCode, &WebhookConsumerClient::scanCode);
    // The type follows the position in the list, not its text; the code goes out as typed.
    steps.afterCounter = [this](ScanCodeEvent& event) {
        const int index = cmbCodeType.ItemIndex();
        event.request.codeType = index == 1 ? "rfid" : index == 2 ? "qrcode" : "barcode";
        event.request.code = edtCode.Text();
    };
    const auto exchange = EventExchange<ScanCodeEvent>::Run(*this, steps, withDialog);

    const auto parsed = ReadAnswer(exchange, &parseScanCodeResult);
    if (parsed)
        AddMessages(parsed->messages, false);

    edtScanCodeRecognized.SetText("");
    edtScanCodeMessage.SetText("");
    edtScanCodeCustomerMessage.SetText("");
    edtScanCodeRelationNumber.SetText("");

    ApplyTypedAnswer<ScanCodeResp>(*this, exchange, parsed, [&](const ScanCodeResp& response) {
        ShowScanCodeResult(response);
        ApplyDefaultResp(response, exchange.client, exchange.event);
    });
}
