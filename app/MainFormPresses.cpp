// Every button's press goes through Press, so that whoever listens (the scenario recorder) sees
// the same presses, in the same order, from the Qt window, the tests and the scenario runner.

#include "Application.h"
#include "MainFormUnit.h"

#include <utility>

bool TForm1::Press(TControl& control) {
    if (!control.Enabled())
        return false;
    using Handler = void (TForm1::*)();
    const std::pair<const TControl*, Handler> handlers[] = {
        {&btnCreateSecret, &TForm1::btnCreateSecretClick},
        {&btnConfigOpslaan, &TForm1::btnConfigOpslaanClick},
        {&btnConfigInlezen, &TForm1::btnConfigInlezenClick},
        {&btnGenerateHMAC, &TForm1::btnGenerateHMACClick},
        {&btnGenerate, &TForm1::btnStartSessionClick},
        {&spdRegelToevoegen, &TForm1::spdRegelToevoegenClick},
        {&spdRegelVerwijderen, &TForm1::spdRegelVerwijderenClick},
        {&spdStartSession, &TForm1::spdStartSessionClick},
        {&spdAddSessionLine, &TForm1::spdAddSessionLineClick},
        {&spdUpdateSessionLine, &TForm1::spdUpdateSessionLineClick},
        {&spdRemoveSessionLine, &TForm1::spdRemoveSessionLineClick},
        {&spdPauseSession, &TForm1::spdPauseSessionClick},
        {&spdResumeSession, &TForm1::spdResumeSessionClick},
        {&spdStartPayment, &TForm1::spdStartPaymentClick},
        {&spdCancelPayment, &TForm1::spdCancelPaymentClick},
        {&spdMergeSession, &TForm1::spdMergeSessionClick},
        {&spdCancelSession, &TForm1::spdCancelSessionClick},
        {&spdCompleteSession, &TForm1::spdCompleteSessionClick},
        {&spdCreditSession, &TForm1::spdCreditSessionClick},
        {&spdButton1, &TForm1::spdButton1Click},
        {&spdButton2, &TForm1::spdButton2Click},
        {&spdButton3, &TForm1::spdButton3Click},
        {&spdButton4, &TForm1::spdButton4Click},
        {&spdButton5, &TForm1::spdButton5Click},
        {&spdConfirmDialog, &TForm1::spdConfirmDialogClick},
        {&spdSkipDialog, &TForm1::spdSkipDialogClick},
        {&spdScanCode, &TForm1::spdScanCodeClick},
        {&spdStartExternalPayment, &TForm1::spdStartExternalPaymentClick},
        {&spdPollExternalPayment, &TForm1::spdPollExternalPaymentClick},
        {&spdRequestCancelExternalPayment, &TForm1::spdRequestCancelExternalPaymentClick},
        {&spdCancelExternalPayment, &TForm1::spdCancelExternalPaymentClick},
        {&btnHistoryResend, &TForm1::btnHistoryResendClick},
        {&btnHistoryCopyCurl, &TForm1::btnHistoryCopyCurlClick},
        {&btnHistoryCopyResponse, &TForm1::btnHistoryCopyResponseClick},
        {&btnHistoryClear, &TForm1::btnHistoryClearClick},
    };
    Handler handler = nullptr;
    for (const auto& [button, buttonHandler] : handlers)
        if (button == &control)
            handler = buttonHandler;

    for (PressListener* listener : pressListeners)
        listener->BeforePress(control);
    if (handler)
        Application::Run(toolkit, [this, handler] { (this->*handler)(); });
    for (PressListener* listener : pressListeners)
        listener->AfterPress(control);
    return true;
}
