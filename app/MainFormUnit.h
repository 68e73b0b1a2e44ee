#pragma once

// The main window of the tester as a model: every control of the form under its form name,
// the window's own state, and the operations behind its buttons. Nothing here knows about a
// windowing toolkit; the Toolkit interface supplies message boxes and the window's thread.

#include "BackgroundTask.h"
#include "BackgroundWriter.h"
#include "Controls.h"
#include "ExchangeRecord.h"
#include "GridViewClass.h"
#include "History.h"
#include "TGridControl.h"
#include "Toolkit.h"

#include "EventRecords.h"
#include "ResponseRecords.h"
#include "UTF8String.h"
#include "WebhookConsumerClient.h"

#include <boost/optional.hpp>
#include <boost/shared_ptr.hpp>
#include <json/value.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TForm1 : public TControl {
public:
    using ClientPtr = boost::shared_ptr<Tarn::Webhooks::WebhookConsumerClient>;
    using EventPtr = boost::shared_ptr<Tarn::Webhooks::WebhookEvent>;

    explicit TForm1(Toolkit& toolkit);
    // Cancels running poll tasks and waits for them: no task outlives the window. Closes the
    // toolkit first (Toolkit::Close), so a task waiting for the window's thread is released.
    ~TForm1() override;

    Toolkit& toolkit;

    // Makes the client of each send; tests may give clients shorter time-outs.
    std::function<ClientPtr()> clientFactory;

    // --- Settings panel ---------------------------------------------------------------------
    TPanel Panel1;
    TEdit edtSubscriptionId;
    TEdit edtSecret;
    TButton btnCreateSecret;
    TEdit edtBaseURL;
    TCheckBox chkSelfSigned;
    TEdit edtEventId;
    TCheckBox chkBlockingCall;
    TEdit edtBranchNumber;
    TEdit edtWorkplaceNumber;
    TButton btnConfigOpslaan;
    TButton btnConfigInlezen;
    // Beside Save and Restore: what the user does, recorded as a scenario to be run again.
    TCheckBox chkRecordScenario;
    TButton btnSaveScenario;

    // --- PageControl1 -----------------------------------------------------------------------
    TTabSheet TabSheetHMAC;
    TMemo mmMessage;
    TButton btnGenerateHMAC;
    TEdit edtSignature;

    TTabSheet TabSheetSession;
    TEdit edtSessionId;
    TButton btnGenerate;
    TGridControl gridSession;
    TSpeedButton spdRegelToevoegen;
    TSpeedButton spdRegelVerwijderen;
    TSpeedButton spdStartSession;
    TSpeedButton spdAddSessionLine;
    TSpeedButton spdUpdateSessionLine;
    TSpeedButton spdRemoveSessionLine;
    TSpeedButton spdPauseSession;
    TSpeedButton spdResumeSession;
    TSpeedButton spdStartPayment;
    TSpeedButton spdCancelPayment;
    TSpeedButton spdMergeSession;
    TSpeedButton spdCancelSession;
    TSpeedButton spdCompleteSession;
    TSpeedButton spdCreditSession;

    TTabSheet TabSheetDialog;
    TEdit edtDialogTitle;
    TEdit edtRequired;
    TEdit edtAllowMultipleOptions;
    TSpeedButton spdButton1;
    TSpeedButton spdButton2;
    TSpeedButton spdButton3;
    TSpeedButton spdButton4;
    TSpeedButton spdButton5;
    TSpeedButton spdConfirmDialog;
    TSpeedButton spdSkipDialog;

    TTabSheet TabSheetScanCode;
    TEdit edtCode;
    TComboBox cmbCodeType;
    TSpeedButton spdScanCode;
    TEdit edtScanCodeRecognized;
    TEdit edtScanCodeMessage;
    TEdit edtScanCodeCustomerMessage;
    TEdit edtScanCodeRelationNumber;

    TTabSheet TabSheetExternalPayment;
    TEdit edtPaymentMethod;
    TEdit edtExternalPaymentId;
    TSpeedButton spdStartExternalPayment;
    TSpeedButton spdPollExternalPayment;
    TSpeedButton spdRequestCancelExternalPayment;
    TSpeedButton spdCancelExternalPayment;
    TEdit edtExternalPaymentStarted;
    TEdit edtExternalPaymentConfirmed;
    TEdit edtExternalPaymentCancelled;
    TEdit edtExternalPaymentMessage;
    TEdit edtExternalPaymentCustomerMessage;

    TPageControl PageControl1;

    // --- Panel2 -----------------------------------------------------------------------------
    TPanel Panel2;
    TEdit txtWebhookUrl;
    TEdit txtDebugFile;
    TEdit edtConfigBestand;
    TMemo mmMessages;

    // --- Status strip -----------------------------------------------------------------------
    TPanel pnlHttpResponse;

    // --- PageControl2 -----------------------------------------------------------------------
    TTabSheet TabSheet1;
    TListView lvRequestHeaders;
    TTabSheet TabSheet2;
    TMemo mmRequestBody;
    TTabSheet TabSheet3;
    TListView lvResponseHeaders;
    TTabSheet TabSheet4;
    TMemo mmResponseBody;
    TTabSheet TabSheetErrorRequestHeaders;
    TListView lvErrorRequestHeaders;
    TTabSheet TabSheetErrorRequestBody;
    TMemo mmErrorRequestBody;

    TPageControl PageControl2;

    // --- Checks: why an answer was accepted or refused, and how long the exchange took -------
    TTabSheet TabSheetChecks; // the last tab of PageControl2
    TListView lvChecks;
    TPanel pnlVerdict; // beside the status strip
    TEdit edtTiming;   // beside the status strip, read-only

    // --- Cancel: ends the blocking exchange in flight ----------------------------------------
    TButton btnCancelExchange; // beside the status strip; enabled only while an exchange blocks

    // --- History: every exchange of this and earlier runs ------------------------------------
    TTabSheet TabSheetHistory; // after Checks, at the end of PageControl2
    TEdit edtHistoryFilter;
    TListView lvHistory; // newest first
    TButton btnHistoryResend;
    TButton btnHistoryCopyCurl;
    TButton btnHistoryCopyResponse;
    TButton btnHistoryClear;
    // The chosen entry whole, read-only and fixed-pitch.
    TMemo mmHistoryRequest;
    TMemo mmHistoryResponse;
    TListView lvHistoryChecks;

    // --- Window state -----------------------------------------------------------------------
    UTF8String productName;
    std::string lastEventName;
    OrvelUtility::Uuid senderId;
    Tarn::Webhooks::Session session;
    Tarn::Webhooks::ExternalPayment externalPayment;
    std::unique_ptr<Tarn::GridViewClass> gridView;
    bool pollingActive = false;
    bool pollWithDialog = false;
    std::shared_ptr<BackgroundTask> pollTask;

    // Every control of the form, in form order (for the drawing layer and the tests); the form
    // itself is not in the list.
    std::vector<TControl*> AllControls();

    // A background task, not yet started, that the window keeps track of: closing the window
    // cancels it and waits for it. Every task of the window is made here.
    std::shared_ptr<BackgroundTask> CreateBackgroundTask(BackgroundTask::Body body);

    // --- Presses ---------------------------------------------------------------------------
    // Told of every press of a button, before and after its handler, on the window's thread.
    class PressListener {
    public:
        virtual ~PressListener() = default;
        virtual void BeforePress(const TControl& control) = 0;
        virtual void AfterPress(const TControl& control) = 0;
    };
    std::vector<PressListener*> pressListeners;
    // A press of a button the way the user makes one: refused (false) while the button is
    // disabled; otherwise the form's handler of the button runs between the listeners'
    // BeforePress and AfterPress, and an exception it throws goes to the exception display.
    // A button the form has no handler for (btnSaveScenario) is left to the listeners.
    bool Press(TControl& control);

    // --- Start-up ---------------------------------------------------------------------------
    void FormShow();

    // --- Configuration ----------------------------------------------------------------------
    std::string ConfigFilePath() const;
    std::string EventCounterFilePath() const;
    void btnConfigOpslaanClick();
    void btnConfigInlezenClick();
    // Hands the counter to the window's file writer: the file is written off the window's
    // thread, and a failure to write it reaches the exception display afterwards.
    void SaveEventCounter();
    void LoadEventCounter();
    // Returns once every counter handed over by SaveEventCounter is in its file.
    void FlushEventCounter();

    // --- Sending ----------------------------------------------------------------------------
    void SendEvent(bool withDialog, const std::string& eventName);
    ClientPtr CreateClient();
    std::string NormalizedBaseUrl() const;
    boost::optional<int64_t> ReadEventCounter() const;
    boost::optional<int32_t> ReadBranchNumber() const;
    boost::optional<int32_t> ReadWorkplaceNumber() const;
    void AdvanceEventCounter();
    void SetSendControlsEnabled(bool enabled);
    // Runs call, an exchange of client, through the toolkit's RunBlocking with btnCancelExchange
    // enabled; Cancel ends it at once.
    void RunExchange(const ClientPtr& client, const std::function<void()>& call);
    // Ends the blocking exchange in flight, if any: it shows as a transport error. The one
    // handler that may be called from any thread (the window's is blocked in the exchange).
    void btnCancelExchangeClick();

    void spdStartSessionClick();
    void spdScanCodeClick();
    void spdAddSessionLineClick();
    void spdUpdateSessionLineClick();
    void spdRemoveSessionLineClick();
    void spdPauseSessionClick();
    void spdResumeSessionClick();
    void spdStartPaymentClick();
    void spdCancelPaymentClick();
    void spdMergeSessionClick();
    void spdCancelSessionClick();
    void spdCompleteSessionClick();
    void spdCreditSessionClick();
    void spdStartExternalPaymentClick();
    void spdPollExternalPaymentClick();
    void spdRequestCancelExternalPaymentClick();
    void spdCancelExternalPaymentClick();

    // --- Session editor ---------------------------------------------------------------------
    void SetUpSessionGrid();
    void ShowSession();
    void btnStartSessionClick();
    void spdRegelToevoegenClick();
    void spdRegelVerwijderenClick();
    bool ReadSessionFromGrid();
    void gridSessionEditCellExit(TControl* sender, int column, int row, bool flag);
    boost::optional<double> LineTotal(const Tarn::Webhooks::SessionLine& line) const;
    Tarn::Webhooks::Session CurrentSession();
    int SelectedLineIndex() const;
    // The display form of a number in the grid and the receipt.
    std::string FormatNumber(double value) const;

    // --- Exchange display -------------------------------------------------------------------
    // What the answer's checks need that costs time on a big answer: the signature it should
    // carry and its body read as JSON. Worked out on the thread of the exchange, so the window's
    // thread only compares.
    struct AnswerDigest {
        std::string expectedSignature;
        bool bodyIsJson = false;
        Json::Value json;
        std::vector<std::string> bodyLines; // for mmResponseBody
    };
    // Thread-safe: reads only the client's secret and the answer.
    static AnswerDigest DigestAnswer(const Tarn::Webhooks::WebhookConsumerClient& client,
                                     const Tarn::Webhooks::WebhookResult& result);
    int VerifyResponse(const ClientPtr& client, const EventPtr& event,
                       const Tarn::Webhooks::WebhookResult& result, AnswerDigest digest,
                       boost::optional<Json::Value>& json);
    void ReportErrorToConsumer(const Tarn::Webhooks::Error& error, const ClientPtr& client,
                               const EventPtr& event);
    void ResetExchangeDisplay();
    // The request of the client's last exchange in the request tabs (the error tabs for a report).
    void ShowRequest(const ClientPtr& client, bool errorReport);
    void ShowHttpStatus(int httpCode, short curlCode, const std::string& reasonPhrase);
    void SetErrorTabsVisible(bool visible);
    void AddMessages(const std::vector<UTF8String>& texts, bool clearFirst);

    // --- Exchange records -------------------------------------------------------------------
    // Told of every exchange once its send is over (the answer read and applied), in the order
    // the exchanges were made: an event's record comes before the record of its error report.
    std::vector<std::function<void(const ExchangeRecord&)>> exchangeListeners;
    // Hands the records of the send that has ended to the listeners.
    void PublishExchanges();
    // Adds a line saying what was read from or done with the answer of the event being sent; no
    // line when no exchange of the send under way has been made.
    void NoteExchange(const std::string& check, const std::string& detail);

    // --- Checks -----------------------------------------------------------------------------
    // The Checks tab, pnlVerdict and edtTiming for an exchange (an error report adds its lines
    // to those of the event it reports on).
    void ShowChecks(const ExchangeRecord& record);
    void ResetChecksDisplay();
    // The rows the Checks tab shows for an event's record.
    static std::vector<std::vector<std::string>> CheckRows(const ExchangeRecord& record,
                                                           char decimalSeparator);

    // --- History ----------------------------------------------------------------------------
    std::string HistoryFilePath() const;
    // Reads history.jsonl into the list; damaged lines are counted in one message.
    void LoadHistory();
    // Returns once every entry so far is in history.jsonl.
    void FlushHistory();
    const History& HistoryEntries() const { return history_; }
    void edtHistoryFilterChange();
    void lvHistorySelectItem();
    // Sends the chosen request again as it was: a duplicate delivery, checked and shown but
    // never applied; the event counter stays.
    void btnHistoryResendClick();
    void btnHistoryCopyCurlClick();
    void btnHistoryCopyResponseClick();
    void btnHistoryClearClick();

    // --- Line changes -----------------------------------------------------------------------
    bool ApplyDefaultResp(const Tarn::Webhooks::DefaultResp& response, const ClientPtr& client,
                          const EventPtr& event);
    bool ApplyLineChanges(const std::vector<Tarn::Webhooks::LineChangeResp>& changes,
                          Tarn::Webhooks::Error& error);
    bool ApplyLineAdditions(const std::vector<Tarn::Webhooks::LineAdditionResp>& additions,
                            Tarn::Webhooks::Error& error);
    bool ApplyLineDeletions(const std::vector<Tarn::Webhooks::LineDeletionResp>& deletions,
                            Tarn::Webhooks::Error& error);
    void ShowResultError(const Tarn::Webhooks::ErrorResp& response);

    // --- Dialogs and scan codes -------------------------------------------------------------
    void ResetDialogTab();
    void ShowDialog(const Tarn::Webhooks::DialogResp& response);
    void ToggleDialogOption(int n, bool deselectOnly);
    Tarn::Webhooks::DialogReq BuildDialogAnswer();
    void spdButton1Click();
    void spdButton2Click();
    void spdButton3Click();
    void spdButton4Click();
    void spdButton5Click();
    void spdConfirmDialogClick();
    void spdSkipDialogClick();
    void ShowScanCodeResult(const Tarn::Webhooks::ScanCodeResp& response);

    // --- Receipt ----------------------------------------------------------------------------
    std::string BuildReceiptFooter(const Tarn::Webhooks::CompleteSessionResp& response) const;
    std::string BuildReceipt(const std::string& footer) const;

    // --- External payments ------------------------------------------------------------------
    void PrepareExternalPayment();
    void ResetExternalPaymentTab();
    void SetExternalPaymentButtons(bool startEnabled, bool othersEnabled);
    bool StopPolling();
    void ShowExternalPaymentId();
    void FillExternalPayment(Tarn::Webhooks::ExternalPaymentEvent& event);
    bool ApplyExternalPaymentResp(const Tarn::Webhooks::ExternalPaymentResp& response, const EventPtr& event,
                                  const ClientPtr& client);

    // --- HMAC -------------------------------------------------------------------------------
    void btnGenerateHMACClick();
    void btnCreateSecretClick();

private:
    // Tooltips and placeholder texts.
    void DescribeControls();

    // Send handlers, reached only through SendEvent.
    void SendStartSession(bool withDialog);
    void SendScanCode(bool withDialog);
    void SendAddSessionLine(bool withDialog);
    void SendUpdateSessionLine(bool withDialog);
    void SendRemoveSessionLine(bool withDialog);
    void SendPauseSession(bool withDialog);
    void SendResumeSession(bool withDialog);
    void SendStartPayment(bool withDialog);
    void SendCancelPayment(bool withDialog);
    void SendMergeSession(bool withDialog);
    void SendCancelSession(bool withDialog);
    void SendCompleteSession(bool withDialog);
    void SendCreditSession(bool withDialog);
    void SendStartExternalPayment(bool withDialog);
    void DispatchPoll(bool withDialog);
    void SendRequestCancelExternalPayment(bool withDialog);
    void SendCancelExternalPayment(bool withDialog);
    // The client and event of a poll, built on the window's thread for the task that sends them.
    struct PreparedPoll {
        ClientPtr client;
        boost::shared_ptr<Tarn::Webhooks::PollExternalPaymentEvent> event;
        std::weak_ptr<BackgroundTask> task;
        // The client of the poll before, let go by this poll's task (see RunPoll).
        ClientPtr previousClient;
    };
    void RunPoll(BackgroundTask& task, const std::shared_ptr<PreparedPoll>& poll);
    void TakeInPoll(BackgroundTask& task, PreparedPoll& poll, const Tarn::Webhooks::WebhookResult& result,
                    AnswerDigest digest, const std::exception_ptr& failure);

    // Item handles of the grid's columns, in column order.
    struct GridItems {
        int number = -1, lineId = -1, lineSetId = -1, articleNumber = -1, text = -1, quantity = -1,
            priceIncl = -1, vatCode = -1, vatPercentage = -1, discountPercentage = -1, discountAmount = -1,
            supplierArticleNumber = -1, pluNumber = -1, extArticleId = -1, extDiscountId = -1,
            extDiscountPercentage = -1, extDiscountAmount = -1, extDiscountDescription = -1, total = -1;
    } items;

    // Option button n (1 to 5); nullptr for any other n.
    TSpeedButton* OptionButton(int n);

    // A record for the exchange VerifyResponse is looking at, kept until PublishExchanges.
    ExchangeRecord& BeginExchange(const ClientPtr& client, const Tarn::Webhooks::WebhookResult& result,
                                  ExchangeKind kind, const std::string& eventName, int64_t eventCounter);
    // The answer's status, headers and body on screen and its checks in record; a refused
    // answer goes to report (when given). Returns the HTTP status, -1 for a refused answer.
    int CheckAnswer(ExchangeRecord& record, const Tarn::Webhooks::WebhookResult& result, AnswerDigest digest,
                    boost::optional<Json::Value>& json,
                    const std::function<void(const Tarn::Webhooks::Error&)>& report);
    // The record of the event whose answer is being read and applied; nullptr when none.
    ExchangeRecord* CurrentExchange();
    std::deque<ExchangeRecord> pendingExchanges_; // a deque: a record's place stays while reports are added
    // Why an answer was refused, after its checks in the record: diagnosis, Content-Type, JSON.
    void ExplainRefusal(ExchangeRecord& record, int errorCode, const Tarn::Webhooks::WebhookResult& result);
    // The consumer's last two answer bodies: a consumer may sign its previous answer.
    std::string lastAnswerBody_;
    std::string previousAnswerBody_;

    // Every task made by CreateBackgroundTask (the polls) that may still run: StopPolling
    // cancels them all, the destructor waits for them.
    std::mutex tasksMutex_;
    std::vector<std::shared_ptr<BackgroundTask>> tasks_;
    // The client of the last poll whose answer asked for another, waiting for that poll's task.
    ClientPtr previousPollClient_;
    // While TakeInPoll runs: the next poll it dispatched, started before the exchange is shown.
    bool takingInPoll_ = false;
    std::function<void()> nextPollStart_;

    // The client of the blocking exchange in flight, for btnCancelExchangeClick.
    std::mutex exchangeMutex_;
    ClientPtr exchangeInFlight_;

    // The history's entries, those the filter shows (lvHistory's rows, newest first), and its file.
    void AddToHistory(const ExchangeRecord& record);
    void ShowHistoryEntries();
    void ShowHistoryEntry();
    std::shared_ptr<const ExchangeRecord> ChosenHistoryRecord() const;
    History history_;
    std::deque<History::EntryPtr> shownHistory_;
    std::string historyFilter_; // as applied to shownHistory_, in lower case
    std::shared_ptr<std::atomic<bool>> historyFailureTold_ = std::make_shared<std::atomic<bool>>(false);
    HistoryFile historyFile_;

    // Writes event-counter.ini. Declared last, so it is destroyed first: the last counter is
    // in its file before anything else of the window goes.
    BackgroundWriter counterWriter_;
};
