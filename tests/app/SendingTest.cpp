// Pressing event buttons: the dispatcher, the event counter, client set-up, the events of the
// main group and how their answers are taken in.

#include "ConsumerWindowTest.h"

#include "WireFormat.h"

#include <algorithm>

using namespace Tarn::Webhooks;

namespace {

std::vector<TSpeedButton*> SendControls(TForm1& f) {
    return {&f.spdStartSession,      &f.spdScanCode,      &f.spdAddSessionLine, &f.spdUpdateSessionLine,
            &f.spdRemoveSessionLine, &f.spdPauseSession,  &f.spdResumeSession,  &f.spdMergeSession,
            &f.spdStartPayment,      &f.spdCancelPayment, &f.spdCancelSession,  &f.spdCompleteSession,
            &f.spdCreditSession,     &f.spdConfirmDialog, &f.spdSkipDialog,     &f.spdButton1,
            &f.spdButton2,           &f.spdButton3,       &f.spdButton4,        &f.spdButton5};
}

} // namespace

using SendingTest = ConsumerWindowTest;

TEST_F(SendingTest, StartSessionGoesOutSignedAndCountsTheEvent) {
    form->edtEventId.SetText(" 41 ");
    form->edtBranchNumber.SetText("12");
    form->edtWorkplaceNumber.SetText("3");
    EXPECT_EQ(Press(&TForm1::spdStartSessionClick), "");

    ASSERT_EQ(Log().size(), 1u);
    EXPECT_EQ(Log()[0]["event"].asString(), "startSession");
    EXPECT_TRUE(Log()[0]["signatureValid"].asBool());
    const Json::Value body = Body(0);
    EXPECT_EQ(body["header"]["eventCounter"].asInt64(), 41);
    EXPECT_TRUE(body["header"]["blockingCall"].asBool());
    EXPECT_EQ(body["sender"]["branchNumber"].asInt(), 12);
    EXPECT_EQ(body["sender"]["workplaceNumber"].asInt(), 3);
    EXPECT_EQ(body["sender"]["senderId"].asString(), form->senderId.ToString());
    EXPECT_EQ(body["session"]["sessionId"].asString(), form->session.sessionId.ToString());
    EXPECT_FALSE(body.isMember("dialog"));

    // The counter moves on, in the box and in its file.
    EXPECT_EQ(form->edtEventId.Text(), "42");
    form->FlushEventCounter();
    EXPECT_NE(testsupport::ReadFile(form->EventCounterFilePath()).find("42"), std::string::npos);

    EXPECT_EQ(form->txtWebhookUrl.Text(), consumer->BaseUrl() + "startSession");
    EXPECT_EQ(form->PageControl1.ActivePage(), &form->TabSheetSession);
    EXPECT_EQ(testsupport::ParseJson(form->mmRequestBody.Text()), Body(0));
    EXPECT_EQ(form->mmRequestBody.Text().find('\n'), std::string::npos);

    // Every request header is listed, in the order of their names.
    const auto& rows = form->lvRequestHeaders.Items();
    std::vector<std::string> names;
    for (const auto& row : rows)
        names.push_back(row[0]);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    const auto signature =
        std::find_if(rows.begin(), rows.end(), [](const auto& r) { return r[0] == "X-Orvel-Signature"; });
    ASSERT_NE(signature, rows.end());
    EXPECT_EQ((*signature)[1], testsupport::Sign(kSecret, form->mmRequestBody.Text()));
}

TEST_F(SendingTest, EventsGoOutUnderTheirOwnNames) {
    SelectLine(AddLine("1", "Tea", "1", "2"));
    const std::vector<std::pair<void (TForm1::*)(), std::string>> buttons = {
        {&TForm1::spdStartSessionClick, "startSession"},
        {&TForm1::spdScanCodeClick, "scanCode"},
        {&TForm1::spdAddSessionLineClick, "addSessionLine"},
        {&TForm1::spdUpdateSessionLineClick, "updateSessionLine"},
        {&TForm1::spdPauseSessionClick, "pauseSession"},
        {&TForm1::spdResumeSessionClick, "resumeSession"},
        {&TForm1::spdStartPaymentClick, "startPayment"},
        {&TForm1::spdCancelPaymentClick, "cancelPayment"},
        {&TForm1::spdMergeSessionClick, "mergeSession"},
        {&TForm1::spdCancelSessionClick, "cancelSession"},
        {&TForm1::spdCreditSessionClick, "creditSession"},
        {&TForm1::spdCompleteSessionClick, "completeSession"},
        {&TForm1::spdRemoveSessionLineClick, "removeSessionLine"},
    };
    // Refilling the grid drops the selection: the line events get theirs each time.
    for (const auto& button : buttons) {
        SelectLine(0);
        EXPECT_EQ(Press(button.first), "") << button.second;
    }

    const std::vector<Json::Value> log = Log();
    ASSERT_EQ(log.size(), buttons.size());
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        EXPECT_EQ(log[i]["event"].asString(), buttons[i].second);
        EXPECT_EQ(Body(i)["header"]["eventCounter"].asInt64(), static_cast<int64_t>(i) + 1);
    }
    EXPECT_EQ(form->edtEventId.Text(), std::to_string(buttons.size() + 1));
    // Credits and completions carry an empty payments list.
    EXPECT_TRUE(Body(10)["request"]["payments"].isArray());
    EXPECT_EQ(Body(10)["request"]["payments"].size(), 0u);
}

TEST_F(SendingTest, UnreadableNumbers) {
    // A branch that is no number and an empty workplace go out as 1.
    form->edtBranchNumber.SetText("abc");
    form->edtWorkplaceNumber.SetText("");
    EXPECT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_EQ(LastBody()["sender"]["branchNumber"].asInt(), 1);
    EXPECT_EQ(LastBody()["sender"]["workplaceNumber"].asInt(), 1);

    // A counter that is not a whole number stops the send before anything goes out.
    form->edtEventId.SetText("4x");
    EXPECT_EQ(Press(&TForm1::spdStartSessionClick), "Invalid Event Counter entered.");
    EXPECT_EQ(Log().size(), 1u);
    EXPECT_EQ(form->edtEventId.Text(), "4x");
    for (TSpeedButton* button : SendControls(*form))
        EXPECT_TRUE(button->Enabled()) << button->Name();
    EXPECT_TRUE(form->gridSession.EditorVisible());

    form->edtEventId.SetText("99999999999999999999");
    EXPECT_EQ(Press(&TForm1::spdPauseSessionClick), "Invalid Event Counter entered.");
    EXPECT_EQ(Log().size(), 1u);
}

TEST_F(SendingTest, TheLargestCounterHasNoSuccessor) {
    form->edtEventId.SetText("9223372036854775807");
    EXPECT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_EQ(LastBody()["header"]["eventCounter"].asInt64(), INT64_MAX);
    EXPECT_EQ(form->edtEventId.Text(), "9223372036854775807");
}

TEST_F(SendingTest, NoSessionId) {
    form->session.sessionId = Uuid();
    form->ShowSession();
    form->PageControl1.SetActivePage(form->TabSheetDialog);
    form->mmMessages.Add("from an earlier send");
    form->edtEventId.SetText("7");

    EXPECT_EQ(Press(&TForm1::spdStartSessionClick), "Please enter session details first.");
    EXPECT_EQ(form->PageControl1.ActivePage(), &form->TabSheetSession);
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(form->edtEventId.Text(), "7");
    EXPECT_TRUE(form->mmMessages.Lines().empty());
    EXPECT_EQ(form->txtWebhookUrl.Text(), consumer->BaseUrl() + "startSession");
    EXPECT_EQ(form->lastEventName, "startSession");

    // The scan-code event also switches back to the Session tab for this.
    EXPECT_EQ(Press(&TForm1::spdScanCodeClick), "Please enter session details first.");
    EXPECT_EQ(form->PageControl1.ActivePage(), &form->TabSheetSession);
}

TEST_F(SendingTest, BaseUrlIsNormalized) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"pos.example/hooks", "https://pos.example/hooks/"},
        {"http://pos.example/hooks/", "http://pos.example/hooks/"},
        {"https://pos.example", "https://pos.example/"},
        {"HTTP://pos.example/", "https://HTTP://pos.example/"},
        {"Https://pos.example", "https://Https://pos.example/"},
        {"", "https://"},
    };
    for (const auto& c : cases) {
        form->edtBaseURL.SetText(c.first);
        EXPECT_EQ(form->NormalizedBaseUrl(), c.second) << c.first;
    }

    // A base URL without the final "/" still reaches the consumer, at the event's address.
    std::string base = consumer->BaseUrl();
    ASSERT_EQ(base.back(), '/');
    base.pop_back();
    form->edtBaseURL.SetText(base);
    EXPECT_EQ(Press(&TForm1::spdCancelSessionClick), "");
    EXPECT_EQ(form->txtWebhookUrl.Text(), base + "/cancelSession");
    ASSERT_EQ(Log().size(), 1u);
    EXPECT_EQ(Log()[0]["event"].asString(), "cancelSession");
}

TEST_F(SendingTest, ControlsAreBusyDuringTheSendAndFreeAfterIt) {
    // The client is made in the middle of the send: what the window looks like then is what the
    // user sees during the exchange.
    std::vector<std::string> enabledDuringSend;
    bool editorVisibleDuringSend = true;
    auto makeClient = form->clientFactory;
    TForm1::ClientPtr client;
    form->clientFactory = [&] {
        for (TSpeedButton* button : SendControls(*form)) {
            if (button->Enabled())
                enabledDuringSend.push_back(button->Name());
        }
        editorVisibleDuringSend = form->gridSession.EditorVisible();
        client = makeClient();
        return client;
    };
    form->spdStartExternalPayment.SetEnabled(false);

    EXPECT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_TRUE(enabledDuringSend.empty());
    EXPECT_FALSE(editorVisibleDuringSend);
    // All twenty come back enabled, Confirm and Skip included; the external-payment buttons are
    // not the dispatcher's.
    for (TSpeedButton* button : SendControls(*form))
        EXPECT_TRUE(button->Enabled()) << button->Name();
    EXPECT_TRUE(form->gridSession.EditorVisible());
    EXPECT_FALSE(form->spdStartExternalPayment.Enabled());
    EXPECT_FALSE(form->spdButton1.Visible());
    ASSERT_TRUE(client);
    EXPECT_EQ(form->txtDebugFile.Text(), client->debugFile);
}

TEST_F(SendingTest, ResendingTheLastEvent) {
    // Before any send there is nothing to send again.
    EXPECT_EQ(Send(false, ""), "Cannot (re)send event: ");
    EXPECT_EQ(Send(false, "StartSession"), "Cannot (re)send event: StartSession");
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(form->edtEventId.Text(), "1");
    for (TSpeedButton* button : SendControls(*form))
        EXPECT_TRUE(button->Enabled()) << button->Name();

    EXPECT_EQ(Press(&TForm1::spdPauseSessionClick), "");
    EXPECT_EQ(Send(true, ""), "");
    ASSERT_EQ(Log().size(), 2u);
    EXPECT_EQ(Log()[1]["event"].asString(), "pauseSession");
    EXPECT_EQ(Body(1)["header"]["eventCounter"].asInt64(), 2);
    EXPECT_TRUE(Body(1)["dialog"]["optionIds"].isArray());
    EXPECT_EQ(form->edtEventId.Text(), "3");

    // A name that is no event clears the display and sends nothing.
    EXPECT_EQ(Send(false, "bogus"), "Cannot (re)send event: bogus");
    EXPECT_EQ(form->txtWebhookUrl.Text(), "");
    EXPECT_EQ(form->txtDebugFile.Text(), "");
    EXPECT_EQ(form->mmRequestBody.Text(), "");
    EXPECT_EQ(form->pnlHttpResponse.Caption(), "HTTP RESPONSE CODE");
    EXPECT_EQ(Log().size(), 2u);
    EXPECT_EQ(form->edtEventId.Text(), "3");
}

TEST_F(SendingTest, NonBlockingAnswersAreShownButNotApplied) {
    const int line = AddLine("1", "Tea", "1", "2");
    const std::string lineId = form->session.lines[line].lineId->ToString();
    Answers("startSession", R"([{"body": {"lineDeletions": [{"lineId": ")" + lineId + R"("}], "bogus": 1}},
                                {"body": {"dialog": {"dialogTitle": "Age?", "options": [{"id": 1, "text": "18+"}]}}}])");
    form->chkBlockingCall.SetChecked(false);

    EXPECT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_FALSE(LastBody()["header"]["blockingCall"].asBool());
    EXPECT_NE(form->mmResponseBody.Text().find("lineDeletions"), std::string::npos);
    EXPECT_EQ(form->pnlHttpResponse.Color(), clGreen);
    EXPECT_EQ(form->session.lines.size(), 1u);
    EXPECT_TRUE(form->mmMessages.Lines().empty());

    EXPECT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_FALSE(form->spdButton1.Visible());
    EXPECT_EQ(form->edtDialogTitle.Text(), "");
    EXPECT_EQ(form->PageControl1.ActivePage(), &form->TabSheetSession);
    EXPECT_EQ(form->edtEventId.Text(), "3");
}

TEST_F(SendingTest, BlockingAnswersAreApplied) {
    const int line = AddLine("1", "Tea", "1", "2");
    const std::string lineId = form->session.lines[line].lineId->ToString();
    Answers("startSession", R"([{"body": {"lineDeletions": [{"lineId": ")" + lineId + R"("}], "bogus": 1}},
                                {"body": {"dialog": {"dialogTitle": "Age?", "options": [{"id": 1, "text": "18+"}]}}},
                                {"body": {"error": {"errorCode": "E1", "message": "no"}}},
                                {"body": {"lineChanges": "oops"}}])");

    EXPECT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_TRUE(form->session.lines.empty());
    EXPECT_EQ(DataRows(), 0);
    // The reader's remark on the unknown key is shown.
    ASSERT_EQ(form->mmMessages.Lines().size(), 1u);
    EXPECT_NE(form->mmMessages.Lines()[0].find("bogus"), std::string::npos);

    EXPECT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_EQ(form->PageControl1.ActivePage(), &form->TabSheetDialog);
    EXPECT_EQ(form->edtDialogTitle.Text(), "Age?");
    EXPECT_TRUE(form->spdButton1.Visible());

    // The main group does not act on an error answer.
    EXPECT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_TRUE(form->mmMessages.Lines().empty());

    EXPECT_EQ(Press(&TForm1::spdStartSessionClick), "");
    ASSERT_EQ(form->mmMessages.Lines().size(), 1u);
    EXPECT_EQ(form->mmMessages.Lines()[0].rfind("ERROR : lineChanges", 0), 0u) << form->mmMessages.Lines()[0];
}

TEST_F(SendingTest, StatusOtherThan200IsNotRead) {
    const int line = AddLine("1", "Tea", "1", "2");
    const std::string lineId = form->session.lines[line].lineId->ToString();
    Answers("cancelPayment",
            R"([{"status": 400, "body": {"lineDeletions": [{"lineId": ")" + lineId + R"("}], "x": 1}}])");

    EXPECT_EQ(Press(&TForm1::spdCancelPaymentClick), "");
    EXPECT_EQ(form->pnlHttpResponse.Color(), clRed);
    EXPECT_EQ(form->session.lines.size(), 1u);
    EXPECT_TRUE(form->mmMessages.Lines().empty());
    EXPECT_EQ(form->edtEventId.Text(), "2");
}

TEST_F(SendingTest, PauseAndResumeParseErrorsEmptyTheScanCodeBoxes) {
    for (auto event : {std::make_pair(&TForm1::spdPauseSessionClick, "pauseSession"),
                       std::make_pair(&TForm1::spdResumeSessionClick, "resumeSession")}) {
        Answers(event.second, R"([{"body": {"dialog": {"options": [{"text": "no id"}]}}}])");
        form->edtScanCodeRecognized.SetText("true");
        form->edtScanCodeMessage.SetText("m");
        form->edtScanCodeCustomerMessage.SetText("c");
        form->edtScanCodeRelationNumber.SetText("1");
        EXPECT_EQ(Press(event.first), "");
        EXPECT_EQ(form->edtScanCodeRecognized.Text(), "") << event.second;
        EXPECT_EQ(form->edtScanCodeMessage.Text(), "");
        EXPECT_EQ(form->edtScanCodeCustomerMessage.Text(), "");
        EXPECT_EQ(form->edtScanCodeRelationNumber.Text(), "");
        ASSERT_FALSE(form->mmMessages.Lines().empty());
        EXPECT_EQ(form->mmMessages.Lines().back().rfind("ERROR : ", 0), 0u);
    }

    // Other events leave the boxes alone.
    Answers("startPayment", R"([{"body": {"dialog": {"options": [{"text": "no id"}]}}}])");
    form->edtScanCodeMessage.SetText("m");
    EXPECT_EQ(Press(&TForm1::spdStartPaymentClick), "");
    EXPECT_EQ(form->edtScanCodeMessage.Text(), "m");
    EXPECT_EQ(form->mmMessages.Lines().back().rfind("ERROR : ", 0), 0u);
}

TEST_F(SendingTest, MergeSessionContinuesUnderANewId) {
    const Uuid oldId = form->session.sessionId;
    EXPECT_EQ(Press(&TForm1::spdMergeSessionClick), "");
    const Uuid newId = form->session.sessionId;
    EXPECT_NE(newId, oldId);
    EXPECT_FALSE(newId.IsNull());
    EXPECT_EQ(form->edtSessionId.Text(), newId.ToFormattedString());
    EXPECT_EQ(LastBody()["session"]["sessionId"].asString(), oldId.ToString());
    EXPECT_EQ(LastBody()["request"]["mergedSessionId"].asString(), newId.ToString());

    // The new id stays even when the exchange fails.
    form->edtBaseURL.SetText("http://127.0.0.1:1/");
    EXPECT_EQ(Press(&TForm1::spdMergeSessionClick), "");
    EXPECT_NE(form->session.sessionId, newId);
    EXPECT_EQ(form->edtSessionId.Text(), form->session.sessionId.ToFormattedString());
    EXPECT_EQ(form->pnlHttpResponse.Color(), clRed);
}

TEST_F(SendingTest, CreditSessionIsAnsweredLikeAStart) {
    Answers("creditSession",
            R"([{"body": {"dialog": {"dialogTitle": "Why?", "options": [{"id": 3, "text": "Broken"}]}}},
                                 {"body": {"lineAdditions": [{"text": "Refund fee"}]}}])");
    EXPECT_EQ(Press(&TForm1::spdCreditSessionClick), "");
    EXPECT_EQ(form->edtDialogTitle.Text(), "Why?");
    EXPECT_EQ(form->spdButton1.Caption(), "[3] Broken");
    EXPECT_EQ(Press(&TForm1::spdCreditSessionClick), "");
    ASSERT_EQ(form->session.lines.size(), 1u);
    EXPECT_EQ(form->session.lines[0].text, "Refund fee");
    // No receipt for a credit.
    EXPECT_TRUE(toolkit.Messages().empty());
}

// --- The three line events ---------------------------------------------------------------------

TEST_F(SendingTest, AddAndUpdateSendTheSelectedLine) {
    AddLine("7", "Soup", "2", "3,5");
    form->edtEventId.SetText("x");
    // The counter is checked before the selection.
    EXPECT_EQ(Press(&TForm1::spdAddSessionLineClick), "Invalid Event Counter entered.");
    form->edtEventId.SetText("5");
    EXPECT_EQ(Press(&TForm1::spdAddSessionLineClick), "No Session Line selected.");
    EXPECT_EQ(Press(&TForm1::spdUpdateSessionLineClick), "No Session Line selected.");
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(form->edtEventId.Text(), "5");

    SelectLine(0);
    EXPECT_EQ(Press(&TForm1::spdAddSessionLineClick), "");
    Json::Value sent = LastBody()["request"]["line"];
    EXPECT_EQ(sent["lineId"].asString(), form->session.lines[0].lineId->ToString());
    EXPECT_EQ(sent["text"].asString(), "Soup");
    EXPECT_DOUBLE_EQ(sent["totalAmount"].asDouble(), 7.0);

    Type("quantity", 0, "3");
    SelectLine(0);
    EXPECT_EQ(Press(&TForm1::spdUpdateSessionLineClick), "");
    EXPECT_EQ(Log().back()["event"].asString(), "updateSessionLine");
    EXPECT_DOUBLE_EQ(LastBody()["request"]["line"]["totalAmount"].asDouble(), 10.5);
    EXPECT_EQ(LastBody()["session"]["lines"].size(), 1u);
}

TEST_F(SendingTest, RemoveSessionLine) {
    AddLine("1", "Tea", "1", "2");
    AddLine("2", "Cake", "1", "3");
    const Uuid cakeId = *form->session.lines[1].lineId;

    EXPECT_EQ(Press(&TForm1::spdRemoveSessionLineClick), "No Session Line selected.");
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(form->session.lines.size(), 2u);

    // The line goes with its total of the previous send.
    EXPECT_EQ(Press(&TForm1::spdStartSessionClick), "");
    SelectLine(1);
    EXPECT_EQ(Press(&TForm1::spdRemoveSessionLineClick), "");
    EXPECT_EQ(Log().back()["event"].asString(), "removeSessionLine");
    const Json::Value body = LastBody();
    EXPECT_EQ(body["request"]["line"]["lineId"].asString(), cakeId.ToString());
    EXPECT_DOUBLE_EQ(body["request"]["line"]["totalAmount"].asDouble(), 3.0);
    ASSERT_EQ(body["session"]["lines"].size(), 1u);
    EXPECT_EQ(body["session"]["lines"][0]["text"].asString(), "Tea");
    EXPECT_EQ(form->session.lines.size(), 1u);
    EXPECT_EQ(DataRows(), 1);
    EXPECT_EQ(Cell("text", 0), "Tea");
}

TEST_F(SendingTest, RemovedLineLeavesTheGridWhateverTheSendsOutcome) {
    AddLine("1", "Tea", "1", "2");
    AddLine("2", "Cake", "1", "3");
    AddLine("3", "Pie", "1", "4");

    // The counter fails after the line left the model: the grid must follow the model, or the
    // next read of the grid would write Pie's cells into Cake's successor.
    form->edtEventId.SetText("bad");
    SelectLine(0);
    EXPECT_EQ(Press(&TForm1::spdRemoveSessionLineClick), "Invalid Event Counter entered.");
    ASSERT_EQ(form->session.lines.size(), 2u);
    EXPECT_EQ(DataRows(), 2);
    EXPECT_EQ(Cell("text", 0), "Cake");
    EXPECT_EQ(Cell("text", 1), "Pie");
    form->edtEventId.SetText("1");
    EXPECT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_EQ(form->session.lines[0].text, "Cake");
    EXPECT_EQ(form->session.lines[1].text, "Pie");

    // A dialog answer re-sends removeSessionLine through the dispatcher alone; the then selected
    // line goes too, and the grid follows.
    Answers("removeSessionLine",
            R"([{"body": {"dialog": {"dialogTitle": "Sure?", "options": [{"id": 1, "text": "Yes"}]}}}])");
    SelectLine(0);
    EXPECT_EQ(Press(&TForm1::spdRemoveSessionLineClick), "");
    ASSERT_EQ(form->session.lines.size(), 1u);
    form->spdButton1Click();
    SelectLine(0);
    EXPECT_EQ(Press(&TForm1::spdConfirmDialogClick), "");
    EXPECT_EQ(Log().back()["event"].asString(), "removeSessionLine");
    EXPECT_EQ(LastBody()["dialog"]["optionIds"][0].asInt(), 1);
    EXPECT_EQ(LastBody()["request"]["line"]["text"].asString(), "Pie");
    EXPECT_TRUE(form->session.lines.empty());
    EXPECT_EQ(DataRows(), 0);
}
