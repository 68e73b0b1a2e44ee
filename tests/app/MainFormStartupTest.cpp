// The window as the user first sees it: right after construction, and after it is shown.
#include "HeadlessToolkit.h"
#include "MainFormUnit.h"
#include "OrvLib.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

enum Flags : unsigned {
    None = 0,
    Disabled = 1u << 0,
    Hidden = 1u << 1,
    ReadOnly = 1u << 2,
    Fixed = 1u << 3, // fixed-pitch font
    Red = 1u << 4,   // red caption
    Bold = 1u << 5,
};

struct Expected {
    const char* name;
    const char* caption; // a button's caption, an edit box's text, a tab's title
    const char* label;   // the label beside the control
    unsigned flags;
};

// Every control of the form, in form order, as the form defines it.
const std::vector<Expected> kForm = {
    {"Panel1", "", "", None},
    {"edtSubscriptionId", "", "Subscription ID:", Fixed},
    {"edtSecret", "", "Secret:", Fixed},
    {"btnCreateSecret", "Create secret", "", None},
    {"edtBaseURL", "", "Base URL:", Fixed},
    {"chkSelfSigned", "Self-signed", "", None},
    {"edtEventId", "1", "Event Counter:", Fixed},
    {"chkBlockingCall", "Blocking call", "", None},
    {"edtBranchNumber", "1", "Branch:", Fixed},
    {"edtWorkplaceNumber", "1", "Workplace:", Fixed},
    {"btnConfigOpslaan", "Save", "", None},
    {"btnConfigInlezen", "Restore", "", None},
    {"chkRecordScenario", "Record", "", None},
    {"btnSaveScenario", "Save scenario…", "", None},

    {"PageControl1", "", "", None},
    {"TabSheetHMAC", "HMAC", "", None},
    {"mmMessage", "", "", None},
    {"btnGenerateHMAC", "Generate", "", None},
    {"edtSignature", "", "", ReadOnly | Fixed},

    {"TabSheetSession", "Session", "", None},
    {"edtSessionId", "", "Session ID:", Fixed},
    {"btnGenerate", "Generate", "", None},
    {"gridSession", "", "", None},
    {"spdRegelToevoegen", "+", "", None},
    {"spdRegelVerwijderen", "-", "", None},
    {"spdStartSession", "startSession", "", Red},
    {"spdAddSessionLine", "addSessionLine", "", Red},
    {"spdUpdateSessionLine", "updateSessionLine", "", Red},
    {"spdRemoveSessionLine", "removeSessionLine", "", Red},
    {"spdPauseSession", "pauseSession", "", Red},
    {"spdResumeSession", "resumeSession", "", Red},
    {"spdStartPayment", "startPayment", "", Red},
    {"spdCancelPayment", "cancelPayment", "", Red},
    {"spdMergeSession", "mergeSession", "", Red},
    {"spdCancelSession", "cancelSession", "", Red},
    {"spdCompleteSession", "completeSession", "", Red},
    {"spdCreditSession", "creditSession", "", Red},

    {"TabSheetDialog", "Dialog", "", None},
    {"edtDialogTitle", "", "dialogTitle:", Disabled},
    {"edtRequired", "", "required:", Disabled},
    {"edtAllowMultipleOptions", "", "allowMultipleOptions", Disabled},
    {"spdButton1", "1", "", None},
    {"spdButton2", "2", "", None},
    {"spdButton3", "3", "", None},
    {"spdButton4", "4", "", None},
    {"spdButton5", "5", "", None},
    {"spdConfirmDialog", "Confirm dialog", "", Red},
    {"spdSkipDialog", "Skip dialog", "", Red},

    {"TabSheetScanCode", "scanCode", "", None},
    {"edtCode", "", "Code:", None},
    {"cmbCodeType", "", "", None},
    {"spdScanCode", "scanCode", "", None},
    {"edtScanCodeRecognized", "", "recognized:", ReadOnly},
    {"edtScanCodeMessage", "", "message:", ReadOnly},
    {"edtScanCodeCustomerMessage", "", "customerMessage:", ReadOnly},
    {"edtScanCodeRelationNumber", "", "relationNumber:", ReadOnly},

    {"TabSheetExternalPayment", "externalPayment", "", None},
    {"edtPaymentMethod", "K_EXTERNAL_PAYMENT", "method:", None},
    {"edtExternalPaymentId", "", "externalPaymentId:", None},
    {"spdStartExternalPayment", "startExternalPayment", "", None},
    {"spdPollExternalPayment", "pollExternalPayment", "", Disabled},
    {"spdRequestCancelExternalPayment", "requestCancelExternalPayment", "", Disabled},
    {"spdCancelExternalPayment", "cancelExternalPayment", "", Disabled},
    {"edtExternalPaymentStarted", "", "started:", ReadOnly},
    {"edtExternalPaymentConfirmed", "", "confirmed", ReadOnly},
    {"edtExternalPaymentCancelled", "", "cancelled:", ReadOnly},
    {"edtExternalPaymentMessage", "", "message:", ReadOnly},
    {"edtExternalPaymentCustomerMessage", "", "customerMessage:", ReadOnly},

    {"Panel2", "", "", None},
    {"txtWebhookUrl", "", "Webhook URL:", Fixed},
    {"txtDebugFile", "", "Debug file:", Fixed},
    {"edtConfigBestand", "", "Configuration:", Fixed},
    {"mmMessages", "", "Messages:", None},

    {"pnlHttpResponse", "HTTP RESPONSE CODE", "", Bold},
    {"pnlVerdict", "", "", Bold},
    {"edtTiming", "", "", ReadOnly},
    {"btnCancelExchange", "Cancel", "", Disabled},

    {"PageControl2", "", "", None},
    {"TabSheet1", "Request Headers", "", None},
    {"lvRequestHeaders", "", "", None},
    {"TabSheet2", "Request Body", "", None},
    {"mmRequestBody", "", "", Fixed},
    {"TabSheet3", "Response Headers", "", None},
    {"lvResponseHeaders", "", "", None},
    {"TabSheet4", "Response Body", "", None},
    {"mmResponseBody", "", "", Fixed},
    {"TabSheetErrorRequestHeaders", "Error Request Headers", "", Hidden},
    {"lvErrorRequestHeaders", "", "", None},
    {"TabSheetErrorRequestBody", "Error Request Body", "", Hidden},
    {"mmErrorRequestBody", "", "", Fixed},
    {"TabSheetChecks", "Checks", "", None},
    {"lvChecks", "", "", None},
    {"TabSheetHistory", "History", "", None},
    {"edtHistoryFilter", "", "Filter:", None},
    {"lvHistory", "", "", None},
    {"btnHistoryResend", "Resend as is", "", Disabled},
    {"btnHistoryCopyCurl", "Copy as curl", "", Disabled},
    {"btnHistoryCopyResponse", "Copy response", "", Disabled},
    {"btnHistoryClear", "Clear", "", Disabled},
    {"mmHistoryRequest", "", "", ReadOnly | Fixed},
    {"mmHistoryResponse", "", "", ReadOnly | Fixed},
    {"lvHistoryChecks", "", "", ReadOnly | Fixed},
};

class MainFormStartupTest : public ::testing::Test {
protected:
    testsupport::TempDir dataHome;
    testsupport::ScopedEnv xdg{"XDG_DATA_HOME", dataHome.Path()};
    HeadlessToolkit toolkit;
    std::unique_ptr<TForm1> form = std::make_unique<TForm1>(toolkit);

    int Column(const std::string& caption) const {
        const auto& columns = form->gridSession.Columns();
        for (std::size_t i = 0; i < columns.size(); ++i)
            if (columns[i].caption == caption)
                return static_cast<int>(i);
        return -1;
    }
};

} // namespace

TEST_F(MainFormStartupTest, EveryControlIsBuiltAsTheFormDefinesIt) {
    const std::vector<TControl*> controls = form->AllControls();
    std::vector<std::string> names;
    for (const TControl* control : controls)
        names.push_back(control->Name());
    std::vector<std::string> expectedNames;
    for (const auto& e : kForm)
        expectedNames.push_back(e.name);
    ASSERT_EQ(expectedNames, names);

    for (std::size_t i = 0; i < controls.size(); ++i) {
        const TControl& c = *controls[i];
        const Expected& e = kForm[i];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(e.caption, c.Caption());
        EXPECT_EQ(e.label, c.LabelText());
        EXPECT_EQ(!(e.flags & Disabled), c.Enabled());
        EXPECT_EQ(!(e.flags & Hidden), c.Visible());
        EXPECT_EQ(bool(e.flags & ReadOnly), c.ReadOnly());
        EXPECT_EQ(bool(e.flags & Fixed), c.FixedPitch());
        EXPECT_EQ(bool(e.flags & Red), c.FontColor() == clRed);
        EXPECT_EQ(bool(e.flags & Bold), c.Bold());
    }
}

TEST_F(MainFormStartupTest, ListsTabsAndStatusStripStartAsTheFormDefinesThem) {
    EXPECT_EQ("Form1", form->Name());
    EXPECT_EQ("OrvelPOS Webhook Tester", form->Caption());

    EXPECT_EQ((std::vector<std::string>{"barcode", "rfid", "qrcode"}), form->cmbCodeType.Items());
    EXPECT_EQ(0, form->cmbCodeType.ItemIndex());
    EXPECT_FALSE(form->chkSelfSigned.Checked());
    EXPECT_FALSE(form->chkBlockingCall.Checked());

    for (const TListView* list :
         {&form->lvRequestHeaders, &form->lvResponseHeaders, &form->lvErrorRequestHeaders}) {
        EXPECT_EQ((std::vector<std::string>{"Header", "Waarde"}), list->Columns()) << list->Name();
        EXPECT_TRUE(list->Items().empty()) << list->Name();
    }
    for (const TMemo* memo : {&form->mmMessage, &form->mmMessages, &form->mmRequestBody,
                              &form->mmResponseBody, &form->mmErrorRequestBody})
        EXPECT_TRUE(memo->Lines().empty()) << memo->Name();

    const std::vector<TTabSheet*> pages1 = {&form->TabSheetHMAC, &form->TabSheetSession,
                                            &form->TabSheetDialog, &form->TabSheetScanCode,
                                            &form->TabSheetExternalPayment};
    EXPECT_EQ(pages1, form->PageControl1.Pages());
    EXPECT_EQ(&form->TabSheetSession, form->PageControl1.ActivePage());
    EXPECT_EQ(1, form->PageControl1.ActivePageIndex());

    const std::vector<TTabSheet*> pages2 = {&form->TabSheet1,
                                            &form->TabSheet2,
                                            &form->TabSheet3,
                                            &form->TabSheet4,
                                            &form->TabSheetErrorRequestHeaders,
                                            &form->TabSheetErrorRequestBody,
                                            &form->TabSheetChecks,
                                            &form->TabSheetHistory};
    EXPECT_EQ(pages2, form->PageControl2.Pages());
    EXPECT_EQ(0, form->PageControl2.ActivePageIndex());

    EXPECT_EQ(clBlack, form->pnlHttpResponse.FontColor());
    EXPECT_EQ(clBtnFace, form->pnlHttpResponse.Color());

    // Every name once.
    std::set<std::string> names;
    for (const TControl* control : form->AllControls())
        EXPECT_TRUE(names.insert(control->Name()).second) << control->Name();
}

TEST_F(MainFormStartupTest, WindowStateStartsEmptyWithAFreshSenderId) {
    EXPECT_EQ("OrvelWebhookTester", form->productName);
    EXPECT_EQ("", form->lastEventName);
    EXPECT_FALSE(form->senderId.IsNull());
    EXPECT_TRUE(form->session.sessionId.IsNull());
    EXPECT_TRUE(form->session.lines.empty());
    EXPECT_FALSE(form->session.totalAmount);
    EXPECT_TRUE(form->externalPayment.externalPaymentId.IsNull());
    EXPECT_FALSE(form->externalPayment.method);
    EXPECT_FALSE(form->externalPayment.amount);
    EXPECT_NE(nullptr, form->gridView);
    EXPECT_FALSE(form->pollingActive);
    EXPECT_FALSE(form->pollWithDialog);
    EXPECT_EQ(nullptr, form->pollTask);
    EXPECT_TRUE(form->clientFactory);

    // Another window (another run) has another sender id.
    HeadlessToolkit otherToolkit;
    TForm1 other(otherToolkit);
    EXPECT_FALSE(other.senderId.IsNull());
    EXPECT_NE(form->senderId, other.senderId);
}

TEST_F(MainFormStartupTest, ConstructionSetsTheProductIdentification) {
    g_ProductName = "something else";
    g_ProductVersion = "0.0";
    HeadlessToolkit otherToolkit;
    TForm1 other(otherToolkit);
    EXPECT_EQ("OrvelWebhookTester", g_ProductName);
    EXPECT_EQ("1.14.0", g_ProductVersion);
}

TEST_F(MainFormStartupTest, FirstShowingWithoutConfiguration) {
    form->FormShow();

    EXPECT_EQ("OrvelPOS Webhook Tester v1.14.0", form->Caption());

    EXPECT_EQ("", form->edtSubscriptionId.Text());
    EXPECT_EQ("", form->edtSecret.Text());
    EXPECT_EQ("", form->edtBaseURL.Text());
    EXPECT_EQ("1", form->edtEventId.Text());
    EXPECT_EQ("1", form->edtBranchNumber.Text());
    EXPECT_EQ("1", form->edtWorkplaceNumber.Text());
    EXPECT_FALSE(form->chkSelfSigned.Checked());
    EXPECT_FALSE(form->chkBlockingCall.Checked());
    EXPECT_EQ(dataHome.Path() + "/OrvelWebhookTester/config.ini", form->edtConfigBestand.Text());
    EXPECT_EQ(&form->TabSheetDialog, form->PageControl1.ActivePage());
    EXPECT_EQ(&form->TabSheet4, form->PageControl2.ActivePage());
    EXPECT_EQ("Please click Generate to start a new Session ID.", form->edtSessionId.Text());

    // The grid: title row with the 19 columns, no data rows.
    EXPECT_EQ(19, form->gridSession.ColumnCount());
    EXPECT_EQ(1, form->gridSession.RowCount());

    // The dialog tab is idle: no option button, nothing to confirm or skip.
    for (const TSpeedButton* option :
         {&form->spdButton1, &form->spdButton2, &form->spdButton3, &form->spdButton4, &form->spdButton5}) {
        EXPECT_FALSE(option->Visible()) << option->Name();
        EXPECT_EQ("", option->Hint()) << option->Name();
    }
    EXPECT_FALSE(form->spdConfirmDialog.Enabled());
    EXPECT_FALSE(form->spdSkipDialog.Enabled());

    EXPECT_TRUE(toolkit.Messages().empty());
}

TEST_F(MainFormStartupTest, EditingAGridCellReachesTheSessionEditor) {
    form->FormShow();
    form->spdRegelToevoegenClick();
    ASSERT_EQ(2, form->gridSession.RowCount());

    const int articleNumber = Column("articleNumber");
    const int quantity = Column("quantity");
    const int priceIncl = Column("priceIncl");
    const int total = Column("Total");
    ASSERT_GE(articleNumber, 0);
    ASSERT_GE(quantity, 0);
    ASSERT_GE(priceIncl, 0);
    ASSERT_GE(total, 0);

    form->gridSession.EditCell(articleNumber, 1, "1");
    form->gridSession.EditCell(quantity, 1, "2");
    form->gridSession.EditCell(priceIncl, 1, "10");

    ASSERT_EQ(1u, form->session.lines.size());
    ASSERT_TRUE(form->session.lines[0].quantity);
    EXPECT_EQ(2.0, *form->session.lines[0].quantity);
    EXPECT_EQ("20", form->gridSession.Cell(total, 1));
}

TEST_F(MainFormStartupTest, ResetDialogTabHidesAndClearsTheOptionsOnly) {
    form->edtDialogTitle.SetText("Pick one");
    form->edtRequired.SetText("true");
    form->edtAllowMultipleOptions.SetText("false");
    for (TSpeedButton* option :
         {&form->spdButton1, &form->spdButton2, &form->spdButton3, &form->spdButton4, &form->spdButton5}) {
        option->SetVisible(true);
        option->SetHint("selected");
        option->SetBold(true);
        option->SetCaption("[" + option->Name() + "] text");
        option->SetTag(-7);
    }
    form->spdConfirmDialog.SetEnabled(true);
    form->spdSkipDialog.SetEnabled(true);

    form->ResetDialogTab();

    for (const TSpeedButton* option :
         {&form->spdButton1, &form->spdButton2, &form->spdButton3, &form->spdButton4, &form->spdButton5}) {
        SCOPED_TRACE(option->Name());
        EXPECT_FALSE(option->Visible());
        EXPECT_EQ("", option->Hint());
        EXPECT_FALSE(option->Bold());
        EXPECT_EQ("[" + option->Name() + "] text", option->Caption());
        EXPECT_EQ(-7, option->Tag());
    }
    EXPECT_FALSE(form->spdConfirmDialog.Enabled());
    EXPECT_FALSE(form->spdSkipDialog.Enabled());
    EXPECT_EQ("Pick one", form->edtDialogTitle.Text());
    EXPECT_EQ("true", form->edtRequired.Text());
    EXPECT_EQ("false", form->edtAllowMultipleOptions.Text());
}

TEST_F(MainFormStartupTest, ClosingTheWindowReleasesATaskWaitingForIt) {
    std::atomic<bool> asked{false};
    auto task = form->CreateBackgroundTask([&](BackgroundTask& self) {
        while (!self.IsCancelled()) {
            asked = true;
            if (!toolkit.Synchronize([] {}))
                return;
        }
    });
    task->Start();
    // Let the task run a round with the window, then leave it waiting: nobody pumps any more.
    ASSERT_TRUE(toolkit.PumpUntil([&] { return asked.load(); }));

    form.reset(); // must neither hang nor leave the task running

    EXPECT_FALSE(task->IsRunning());
    EXPECT_TRUE(task->IsCancelled());
}
