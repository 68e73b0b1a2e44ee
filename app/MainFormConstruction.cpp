#include "MainFormUnit.h"

#include "Application.h"
#include "OrvLib.h"
#include "Uuid.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <chrono>
#include <exception>
#include <iterator>
#include <utility>

using Tarn::Webhooks::WebhookConsumerClient;

TForm1::TForm1(Toolkit& toolkit_)
    : TControl("Form1", "OrvelPOS Webhook Tester"), toolkit(toolkit_),
      clientFactory([] { return boost::make_shared<WebhookConsumerClient>(); }),
      // Settings panel
      Panel1("Panel1"), edtSubscriptionId("edtSubscriptionId", "", "Subscription ID:"),
      edtSecret("edtSecret", "", "Secret:"), btnCreateSecret("btnCreateSecret", "Create secret"),
      edtBaseURL("edtBaseURL", "", "Base URL:"), chkSelfSigned("chkSelfSigned", "Self-signed"),
      edtEventId("edtEventId", "1", "Event Counter:"), chkBlockingCall("chkBlockingCall", "Blocking call"),
      edtBranchNumber("edtBranchNumber", "1", "Branch:"),
      edtWorkplaceNumber("edtWorkplaceNumber", "1", "Workplace:"),
      btnConfigOpslaan("btnConfigOpslaan", "Save"), btnConfigInlezen("btnConfigInlezen", "Restore"),
      chkRecordScenario("chkRecordScenario", "Record"), btnSaveScenario("btnSaveScenario", "Save scenario…"),
      // HMAC tab
      TabSheetHMAC("TabSheetHMAC", "HMAC"), mmMessage("mmMessage"),
      btnGenerateHMAC("btnGenerateHMAC", "Generate"), edtSignature("edtSignature"),
      // Session tab
      TabSheetSession("TabSheetSession", "Session"), edtSessionId("edtSessionId", "", "Session ID:"),
      btnGenerate("btnGenerate", "Generate"), gridSession("gridSession"),
      spdRegelToevoegen("spdRegelToevoegen", "+"), spdRegelVerwijderen("spdRegelVerwijderen", "-"),
      spdStartSession("spdStartSession", "startSession"),
      spdAddSessionLine("spdAddSessionLine", "addSessionLine"),
      spdUpdateSessionLine("spdUpdateSessionLine", "updateSessionLine"),
      spdRemoveSessionLine("spdRemoveSessionLine", "removeSessionLine"),
      spdPauseSession("spdPauseSession", "pauseSession"),
      spdResumeSession("spdResumeSession", "resumeSession"),
      spdStartPayment("spdStartPayment", "startPayment"),
      spdCancelPayment("spdCancelPayment", "cancelPayment"),
      spdMergeSession("spdMergeSession", "mergeSession"),
      spdCancelSession("spdCancelSession", "cancelSession"),
      spdCompleteSession("spdCompleteSession", "completeSession"),
      spdCreditSession("spdCreditSession", "creditSession"),
      // Dialog tab
      TabSheetDialog("TabSheetDialog", "Dialog"), edtDialogTitle("edtDialogTitle", "", "dialogTitle:"),
      edtRequired("edtRequired", "", "required:"),
      edtAllowMultipleOptions("edtAllowMultipleOptions", "", "allowMultipleOptions"),
      spdButton1("spdButton1", "1"), spdButton2("spdButton2", "2"), spdButton3("spdButton3", "3"),
      spdButton4("spdButton4", "4"), spdButton5("spdButton5", "5"),
      spdConfirmDialog("spdConfirmDialog", "Confirm dialog"), spdSkipDialog("spdSkipDialog", "Skip dialog"),
      // scanCode tab
      TabSheetScanCode("TabSheetScanCode", "scanCode"), edtCode("edtCode", "", "Code:"),
      cmbCodeType("cmbCodeType"), spdScanCode("spdScanCode", "scanCode"),
      edtScanCodeRecognized("edtScanCodeRecognized", "", "recognized:"),
      edtScanCodeMessage("edtScanCodeMessage", "", "message:"),
      edtScanCodeCustomerMessage("edtScanCodeCustomerMessage", "", "customerMessage:"),
      edtScanCodeRelationNumber("edtScanCodeRelationNumber", "", "relationNumber:"),
      // externalPayment tab
      TabSheetExternalPayment("TabSheetExternalPayment", "externalPayment"),
      edtPaymentMethod("edtPaymentMethod", "K_EXTERNAL_PAYMENT", "method:"),
      edtExternalPaymentId("edtExternalPaymentId", "", "externalPaymentId:"),
      spdStartExternalPayment("spdStartExternalPayment", "startExternalPayment"),
      spdPollExternalPayment("spdPollExternalPayment", "pollExternalPayment"),
      spdRequestCancelExternalPayment("spdRequestCancelExternalPayment", "requestCancelExternalPayment"),
      spdCancelExternalPayment("spdCancelExternalPayment", "cancelExternalPayment"),
      edtExternalPaymentStarted("edtExternalPaymentStarted", "", "started:"),
      edtExternalPaymentConfirmed("edtExternalPaymentConfirmed", "", "confirmed"),
      edtExternalPaymentCancelled("edtExternalPaymentCancelled", "", "cancelled:"),
      edtExternalPaymentMessage("edtExternalPaymentMessage", "", "message:"),
      edtExternalPaymentCustomerMessage("edtExternalPaymentCustomerMessage", "", "customerMessage:"),
      PageControl1("PageControl1", {&TabSheetHMAC, &TabSheetSession, &TabSheetDialog, &TabSheetScanCode,
                                    &TabSheetExternalPayment}),
      // Panel2
      Panel2("Panel2"), txtWebhookUrl("txtWebhookUrl", "", "Webhook URL:"),
      txtDebugFile("txtDebugFile", "", "Debug file:"),
      edtConfigBestand("edtConfigBestand", "", "Configuration:"), mmMessages("mmMessages", "", "Messages:"),
      // Status strip
      pnlHttpResponse("pnlHttpResponse", "HTTP RESPONSE CODE"),
      // PageControl2
      TabSheet1("TabSheet1", "Request Headers"), lvRequestHeaders("lvRequestHeaders", {"Header", "Waarde"}),
      TabSheet2("TabSheet2", "Request Body"), mmRequestBody("mmRequestBody"),
      TabSheet3("TabSheet3", "Response Headers"),
      lvResponseHeaders("lvResponseHeaders", {"Header", "Waarde"}), TabSheet4("TabSheet4", "Response Body"),
      mmResponseBody("mmResponseBody"),
      TabSheetErrorRequestHeaders("TabSheetErrorRequestHeaders", "Error Request Headers"),
      lvErrorRequestHeaders("lvErrorRequestHeaders", {"Header", "Waarde"}),
      TabSheetErrorRequestBody("TabSheetErrorRequestBody", "Error Request Body"),
      mmErrorRequestBody("mmErrorRequestBody"),
      PageControl2("PageControl2",
                   {&TabSheet1, &TabSheet2, &TabSheet3, &TabSheet4, &TabSheetErrorRequestHeaders,
                    &TabSheetErrorRequestBody, &TabSheetChecks, &TabSheetHistory}),
      // Checks (PageControl2 only keeps the tab's address)
      TabSheetChecks("TabSheetChecks", "Checks"), lvChecks("lvChecks", {"Check", "Result", "Detail"}),
      pnlVerdict("pnlVerdict"), edtTiming("edtTiming"), btnCancelExchange("btnCancelExchange", "Cancel"),
      // History
      TabSheetHistory("TabSheetHistory", "History"), edtHistoryFilter("edtHistoryFilter", "", "Filter:"),
      lvHistory("lvHistory", {"Time", "Event", "Counter", "Status", "Verdict", "ms"}),
      btnHistoryResend("btnHistoryResend", "Resend as is"),
      btnHistoryCopyCurl("btnHistoryCopyCurl", "Copy as curl"),
      btnHistoryCopyResponse("btnHistoryCopyResponse", "Copy response"),
      btnHistoryClear("btnHistoryClear", "Clear"), mmHistoryRequest("mmHistoryRequest"),
      mmHistoryResponse("mmHistoryResponse"),
      lvHistoryChecks("lvHistoryChecks", {"Check", "Result", "Detail"}),
      // A history that cannot be written is said once; the tester goes on without it.
      historyFile_([toolkit = &toolkit_, told = historyFailureTold_](std::exception_ptr failure) {
          if (told->exchange(true))
              return;
          toolkit->Queue([toolkit, failure] {
              try {
                  std::rethrow_exception(failure);
              } catch (const std::exception& error) {
                  toolkit->ShowMessage(std::string(error.what()) +
                                       "\nThe tester goes on without keeping its history.");
              }
          });
      }),
      // A counter that could not be stored is told the way a failed button is, on the window's
      // thread; the toolkit outlives the window. A send after a quiet spell is written at once; a
      // chain of polls writes the counter four times a second rather than after each of its
      // thousand-odd sends (each write creates and renames a file, which costs the sends more
      // than the write itself).
      counterWriter_(
          [toolkit = &toolkit_](std::exception_ptr failure) {
              toolkit->Queue([toolkit, failure] { Application::HandleException(*toolkit, failure); });
          },
          std::chrono::milliseconds(250)) {
    // 1. The rest of the form: fonts, states and items.
    for (TControl* control : std::initializer_list<TControl*>{
             &edtSubscriptionId, &edtSecret, &edtBaseURL, &edtEventId, &edtBranchNumber, &edtWorkplaceNumber,
             &edtSignature, &edtSessionId, &txtWebhookUrl, &txtDebugFile, &edtConfigBestand, &mmRequestBody,
             &mmResponseBody, &mmErrorRequestBody})
        control->SetFixedPitch(true);

    for (TControl* button : std::initializer_list<TControl*>{
             &spdStartSession, &spdAddSessionLine, &spdUpdateSessionLine, &spdRemoveSessionLine,
             &spdPauseSession, &spdResumeSession, &spdStartPayment, &spdCancelPayment, &spdMergeSession,
             &spdCancelSession, &spdCompleteSession, &spdCreditSession, &spdConfirmDialog, &spdSkipDialog})
        button->SetFontColor(clRed);

    edtSignature.SetReadOnly(true);

    edtDialogTitle.SetEnabled(false);
    edtRequired.SetEnabled(false);
    edtAllowMultipleOptions.SetEnabled(false);

    cmbCodeType.SetItems({"barcode", "rfid", "qrcode"});
    cmbCodeType.SetItemIndex(0);
    for (TEdit* box : {&edtScanCodeRecognized, &edtScanCodeMessage, &edtScanCodeCustomerMessage,
                       &edtScanCodeRelationNumber})
        box->SetReadOnly(true);

    spdPollExternalPayment.SetEnabled(false);
    spdRequestCancelExternalPayment.SetEnabled(false);
    spdCancelExternalPayment.SetEnabled(false);
    for (TEdit* box : {&edtExternalPaymentStarted, &edtExternalPaymentConfirmed, &edtExternalPaymentCancelled,
                       &edtExternalPaymentMessage, &edtExternalPaymentCustomerMessage})
        box->SetReadOnly(true);

    pnlHttpResponse.SetBold(true);
    pnlHttpResponse.SetFontColor(clBlack);
    pnlHttpResponse.SetColor(clBtnFace);

    TabSheetErrorRequestHeaders.SetVisible(false);
    TabSheetErrorRequestBody.SetVisible(false);

    pnlVerdict.SetBold(true);
    pnlVerdict.SetFontColor(clBlack);
    edtTiming.SetReadOnly(true);
    btnCancelExchange.SetEnabled(false);
    exchangeListeners.push_back([this](const ExchangeRecord& record) { ShowChecks(record); });
    DescribeControls();

    for (TControl* view :
         std::initializer_list<TControl*>{&mmHistoryRequest, &mmHistoryResponse, &lvHistoryChecks}) {
        view->SetFixedPitch(true);
        view->SetReadOnly(true);
    }
    for (TButton* button :
         {&btnHistoryResend, &btnHistoryCopyCurl, &btnHistoryCopyResponse, &btnHistoryClear})
        button->SetEnabled(false);
    edtHistoryFilter.Changed.Connect([this] { edtHistoryFilterChange(); });
    lvHistory.OnSelectItem = [this] { lvHistorySelectItem(); };
    exchangeListeners.push_back([this](const ExchangeRecord& record) { AddToHistory(record); });

    PageControl1.SetActivePage(TabSheetSession);
    PageControl2.SetActivePageIndex(0);

    gridSession.OnEditCellExit = [this](int column, int row, bool flag) {
        gridSessionEditCellExit(&gridSession, column, row, flag);
    };

    // 2. to 6. The window's own state.
    productName = "OrvelWebhookTester";
    lastEventName.clear();
    senderId = OrvelUtility::Uuid::Create();
    session = Tarn::Webhooks::Session();
    externalPayment = Tarn::Webhooks::ExternalPayment();
    gridView = std::make_unique<Tarn::GridViewClass>();
    pollingActive = false;
    pollWithDialog = false;
    pollTask.reset();

    // 7. Product identification.
    g_ProductName = "OrvelWebhookTester";
    g_ProductVersion = "1.14.0";
}

TForm1::~TForm1() {
    std::vector<std::shared_ptr<BackgroundTask>> tasks;
    {
        std::lock_guard<std::mutex> lock(tasksMutex_);
        tasks = tasks_;
    }
    for (const auto& task : tasks)
        task->Cancel();
    // A task may be waiting in Synchronize for this very thread: release it before waiting.
    toolkit.Close();
    for (const auto& task : tasks)
        task->Wait();
}

std::shared_ptr<BackgroundTask> TForm1::CreateBackgroundTask(BackgroundTask::Body body) {
    auto task = std::make_shared<BackgroundTask>(std::move(body));
    std::vector<std::shared_ptr<BackgroundTask>> released; // destroyed after the lock is let go
    std::lock_guard<std::mutex> lock(tasksMutex_);
    // A task that does not run and that nobody else holds can never run again: let it go, so a
    // long chain of polls does not pile up here.
    auto keep = std::partition(tasks_.begin(), tasks_.end(), [](const std::shared_ptr<BackgroundTask>& t) {
        return t->IsRunning() || t.use_count() > 1;
    });
    std::move(keep, tasks_.end(), std::back_inserter(released));
    tasks_.erase(keep, tasks_.end());
    tasks_.push_back(task);
    return task;
}

std::vector<TControl*> TForm1::AllControls() {
    return {
        &Panel1,
        &edtSubscriptionId,
        &edtSecret,
        &btnCreateSecret,
        &edtBaseURL,
        &chkSelfSigned,
        &edtEventId,
        &chkBlockingCall,
        &edtBranchNumber,
        &edtWorkplaceNumber,
        &btnConfigOpslaan,
        &btnConfigInlezen,
        &chkRecordScenario,
        &btnSaveScenario,

        &PageControl1,
        &TabSheetHMAC,
        &mmMessage,
        &btnGenerateHMAC,
        &edtSignature,

        &TabSheetSession,
        &edtSessionId,
        &btnGenerate,
        &gridSession,
        &spdRegelToevoegen,
        &spdRegelVerwijderen,
        &spdStartSession,
        &spdAddSessionLine,
        &spdUpdateSessionLine,
        &spdRemoveSessionLine,
        &spdPauseSession,
        &spdResumeSession,
        &spdStartPayment,
        &spdCancelPayment,
        &spdMergeSession,
        &spdCancelSession,
        &spdCompleteSession,
        &spdCreditSession,

        &TabSheetDialog,
        &edtDialogTitle,
        &edtRequired,
        &edtAllowMultipleOptions,
        &spdButton1,
        &spdButton2,
        &spdButton3,
        &spdButton4,
        &spdButton5,
        &spdConfirmDialog,
        &spdSkipDialog,

        &TabSheetScanCode,
        &edtCode,
        &cmbCodeType,
        &spdScanCode,
        &edtScanCodeRecognized,
        &edtScanCodeMessage,
        &edtScanCodeCustomerMessage,
        &edtScanCodeRelationNumber,

        &TabSheetExternalPayment,
        &edtPaymentMethod,
        &edtExternalPaymentId,
        &spdStartExternalPayment,
        &spdPollExternalPayment,
        &spdRequestCancelExternalPayment,
        &spdCancelExternalPayment,
        &edtExternalPaymentStarted,
        &edtExternalPaymentConfirmed,
        &edtExternalPaymentCancelled,
        &edtExternalPaymentMessage,
        &edtExternalPaymentCustomerMessage,

        &Panel2,
        &txtWebhookUrl,
        &txtDebugFile,
        &edtConfigBestand,
        &mmMessages,

        &pnlHttpResponse,
        &pnlVerdict,
        &edtTiming,
        &btnCancelExchange,

        &PageControl2,
        &TabSheet1,
        &lvRequestHeaders,
        &TabSheet2,
        &mmRequestBody,
        &TabSheet3,
        &lvResponseHeaders,
        &TabSheet4,
        &mmResponseBody,
        &TabSheetErrorRequestHeaders,
        &lvErrorRequestHeaders,
        &TabSheetErrorRequestBody,
        &mmErrorRequestBody,
        &TabSheetChecks,
        &lvChecks,
        &TabSheetHistory,
        &edtHistoryFilter,
        &lvHistory,
        &btnHistoryResend,
        &btnHistoryCopyCurl,
        &btnHistoryCopyResponse,
        &btnHistoryClear,
        &mmHistoryRequest,
        &mmHistoryResponse,
        &lvHistoryChecks,
    };
}

void TForm1::FormShow() {
    SetUpSessionGrid();
    SetCaption(Caption() + " v" + g_ProductVersion);
    // Settings that cannot be read must not keep the window from opening: the user learns why
    // from the exception display, as after any button.
    Application::Run(toolkit, [this] { btnConfigInlezenClick(); });
    LoadHistory();
    ResetDialogTab();
    ShowSession();
}

TSpeedButton* TForm1::OptionButton(int n) {
    switch (n) {
    case 1:
        return &spdButton1;
    case 2:
        return &spdButton2;
    case 3:
        return &spdButton3;
    case 4:
        return &spdButton4;
    case 5:
        return &spdButton5;
    default:
        return nullptr;
    }
}
