// External payments as the developer follows them: the answers of the consumer in the five
// boxes, the four buttons, and the chain of background polls that runs until the payment is
// settled, pumped on the window's thread the way the window's message loop would.

#include "ConsumerWindowTest.h"

#include <algorithm>
#include <thread>

using namespace Tarn::Webhooks;

namespace {

// The consumer's answer for the payment it was asked about, with extra keys, e.g.
// PaymentBody(R"("started": true)").
std::string PaymentBody(const std::string& keys) {
    return R"({"externalPaymentId": "{{externalPayment.externalPaymentId}}", )" + keys + "}";
}
std::string Answer(const std::string& keys) {
    return R"({"body": )" + PaymentBody(keys) + "}";
}
std::string Delayed(const std::string& keys, int milliseconds) {
    return R"({"body": )" + PaymentBody(keys) + R"(, "faults": {"delayMs": )" + std::to_string(milliseconds) +
           "}}";
}

const char* const kAlreadyPolling = "Please wait. We are already polling.";

} // namespace

class ExternalPaymentTest : public ConsumerWindowTest {
protected:
    // startExternalPayment answered with "started": true, the poll answers as given.
    void StartPolling(const std::string& pollAnswers) {
        Scenario(R"({"events": {"startExternalPayment": [)" + Answer(R"("started": true)") +
                 R"(], "pollExternalPayment": )" + pollAnswers + "}}");
        AddLine("1", "Tea", "2", "6,25");
        ASSERT_EQ(Press(&TForm1::spdStartExternalPaymentClick), "");
    }

    std::vector<Json::Value> Requests(const std::string& event) const {
        std::vector<Json::Value> found;
        for (const Json::Value& entry : Log())
            if (entry["event"].asString() == event)
                found.push_back(entry);
        return found;
    }
    std::size_t Polls() const { return Requests("pollExternalPayment").size(); }

    // No poll in flight and none about to start.
    bool PollingOver() const {
        return !form->pollingActive && (!form->pollTask || !form->pollTask->IsRunning());
    }
    void PumpUntilPollingOver() {
        ASSERT_TRUE(toolkit.PumpUntil([&] { return PollingOver(); }));
    }
    // The poll has been sent and its answer not yet taken in.
    void PumpUntilPollInFlight(std::size_t polls) {
        ASSERT_TRUE(toolkit.PumpUntil([&] { return Polls() == polls && form->pollingActive; }));
    }

    bool Shown(const std::string& message) const {
        const std::vector<std::string> shown = toolkit.Messages();
        return std::find(shown.begin(), shown.end(), message) != shown.end();
    }
    bool InMessages(const std::string& text) const {
        const auto& lines = form->mmMessages.Lines();
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    }

    // "start/poll,requestCancel,cancel" as enabled (1) or disabled (0), e.g. "1/000".
    std::string Buttons() const {
        auto bit = [](const TSpeedButton& button) { return button.Enabled() ? '1' : '0'; };
        return std::string{bit(form->spdStartExternalPayment), '/', bit(form->spdPollExternalPayment),
                           bit(form->spdRequestCancelExternalPayment), bit(form->spdCancelExternalPayment)};
    }
    // started|confirmed|cancelled|message|customerMessage as the boxes show them.
    std::string Boxes() const {
        return form->edtExternalPaymentStarted.Text() + "|" + form->edtExternalPaymentConfirmed.Text() + "|" +
               form->edtExternalPaymentCancelled.Text() + "|" + form->edtExternalPaymentMessage.Text() + "|" +
               form->edtExternalPaymentCustomerMessage.Text();
    }
    int64_t Counter() const { return std::stoll(form->edtEventId.Text()); }
};

TEST_F(ExternalPaymentTest, StartedPaymentIsPolledUntilConfirmed) {
    const int64_t first = Counter();
    StartPolling(
        "[" + Answer(R"("started": true, "message": "Insert card")") + "," +
        Answer(R"("started": true, "cancelled": false, "message": "Enter PIN")") + "," +
        Answer(R"("started": true, "confirmed": true, "message": "Paid", "customerMessage": "Thank you",
                           "lineDeletions": [{"lineId": "{{session.lines[0].lineId}}"}])") +
        "]");
    // The answer to start: started, so start is off, the other three on, and a poll is on its way.
    EXPECT_EQ(Boxes(), "true||||");
    EXPECT_EQ(Buttons(), "0/111");
    ASSERT_TRUE(form->pollTask);

    PumpUntilPollingOver();
    EXPECT_EQ(Polls(), 3u);
    EXPECT_EQ(Boxes(), "true|true||Paid|Thank you");
    EXPECT_EQ(Buttons(), "1/000");
    EXPECT_EQ(form->spdPollExternalPayment.Caption(), "pollExternalPayment");
    EXPECT_EQ(form->PageControl1.ActivePage(), &form->TabSheetExternalPayment);
    // The line changes that come with the payment answer are applied after it.
    EXPECT_TRUE(form->session.lines.empty());
    EXPECT_TRUE(toolkit.Messages().empty());

    // Every poll carries the payment as started and a counter of its own: one step per dispatch.
    const std::vector<Json::Value> polls = Requests("pollExternalPayment");
    const std::string id = form->externalPayment.externalPaymentId.ToString();
    for (std::size_t i = 0; i < polls.size(); ++i) {
        const Json::Value& body = polls[i]["body"];
        EXPECT_EQ(body["externalPayment"]["externalPaymentId"].asString(), id);
        EXPECT_EQ(body["externalPayment"]["method"].asString(), "K_EXTERNAL_PAYMENT");
        EXPECT_DOUBLE_EQ(body["externalPayment"]["amount"].asDouble(), 12.5);
        EXPECT_EQ(body["header"]["eventCounter"].asInt64(), first + 2 + static_cast<int64_t>(i));
    }
    // One advance for start and one for each poll dispatch.
    EXPECT_EQ(Counter(), first + 4);
    // The debug file shown holds the last poll's exchange as soon as polling is over.
    const std::string trace = testsupport::ReadFile(form->txtDebugFile.Text());
    EXPECT_NE(trace.find("/pollExternalPayment"), std::string::npos);
    EXPECT_NE(trace.find("Thank you"), std::string::npos);
}

TEST_F(ExternalPaymentTest, CancelledFalseGoesOnAndConfirmedFalseSettles) {
    StartPolling("[" + Answer(R"("cancelled": false)") + "," +
                 Answer(R"("confirmed": false, "message": "Declined")") + "]");
    // The second poll is sent once the first answer is in; its own answer waits for the pump.
    ASSERT_TRUE(toolkit.PumpUntil([&] { return Polls() == 2; }));
    EXPECT_EQ(Boxes(), "||false||");

    PumpUntilPollingOver();
    EXPECT_EQ(Polls(), 2u);
    EXPECT_EQ(Boxes(), "|false||Declined|");
    EXPECT_EQ(Buttons(), "1/000");
}

TEST_F(ExternalPaymentTest, CancelledTrueStopsPolling) {
    StartPolling("[" +
                 Answer(R"("started": true, "cancelled": true, "customerMessage": "Cancelled at terminal")") +
                 "]");
    PumpUntilPollingOver();
    EXPECT_EQ(Polls(), 1u);
    EXPECT_EQ(Boxes(), "true||true||Cancelled at terminal");
    EXPECT_EQ(Buttons(), "1/000");
}

TEST_F(ExternalPaymentTest, EmptyAnswerPollsAgainAndBodyThatIsNoJsonEndsPolling) {
    StartPolling(R"([{"rawBody": ""}, {"rawBody": "not json"}])");
    PumpUntilPollingOver();
    EXPECT_EQ(Polls(), 2u);
    EXPECT_TRUE(InMessages("[INVALID_JSON] You returned invalid JSON."));
    const std::vector<Json::Value> errors = Requests("error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]["errorCode"].asString(), "INVALID_JSON");
    // Nothing of the refused answer was taken in: the tab shows the start's answer.
    EXPECT_EQ(Boxes(), "true||||");
    EXPECT_EQ(Buttons(), "0/111");
}

TEST_F(ExternalPaymentTest, OtherStatusEndsPollingAndThePollButtonPollsByHand) {
    StartPolling("[" + std::string(R"({"status": 500, "body": )") + PaymentBody(R"("started": true)") + "}," +
                 Answer(R"("confirmed": true)") + "]");
    PumpUntilPollingOver();
    EXPECT_EQ(Polls(), 1u);
    EXPECT_EQ(form->pnlHttpResponse.Caption().substr(0, 3), "500");
    EXPECT_EQ(Buttons(), "0/111");

    ASSERT_EQ(Press(&TForm1::spdPollExternalPaymentClick), "");
    PumpUntilPollingOver();
    EXPECT_EQ(Polls(), 2u);
    EXPECT_EQ(Boxes(), "|true|||");
    EXPECT_TRUE(toolkit.Messages().empty());
}

TEST_F(ExternalPaymentTest, AnswerForAnotherPaymentIsReportedAndStopsPolling) {
    StartPolling(R"([{"body": {"externalPaymentId": "0f8fad5b-d9cb-469f-a165-70867728950e", "started": true,
                                "message": "someone else's"}}])");
    PumpUntilPollingOver();
    EXPECT_EQ(Polls(), 1u);
    EXPECT_EQ(Boxes(), "||||");
    EXPECT_EQ(Buttons(), "1/000");
    EXPECT_TRUE(InMessages("[EXTERNAL_PAYMENT_ID_MISMATCH] The externalPaymentId in the response does not "
                           "match the externalPaymentId in the request."));
    const std::vector<Json::Value> errors = Requests("error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]["errorCode"].asString(), "EXTERNAL_PAYMENT_ID_MISMATCH");
    EXPECT_TRUE(form->TabSheetErrorRequestBody.Visible());
}

TEST_F(ExternalPaymentTest, AnswersToTheBlockingSendsFollowTheBlockingFlag) {
    Scenario(R"({"events": {"startExternalPayment": [)" + Answer(R"("started": true)") +
             R"(], "requestCancelExternalPayment": [{"status": 400, "body": {"error": {"errorCode": "BUSY",
                 "message": "Terminal busy"}}}, )" +
             Answer(R"("cancelled": true)") + "]}}");
    // Without a blocking call a payment answer is shown in the exchange but not taken in.
    form->chkBlockingCall.SetChecked(false);
    ASSERT_EQ(Press(&TForm1::spdStartExternalPaymentClick), "");
    EXPECT_EQ(Boxes(), "||||");
    EXPECT_EQ(Buttons(), "1/000");
    EXPECT_FALSE(form->pollTask);

    // An error answer is shown either way.
    ASSERT_EQ(Press(&TForm1::spdRequestCancelExternalPaymentClick), "");
    EXPECT_TRUE(InMessages("Foutcode in resultaat: [BUSY] Terminal busy"));

    form->chkBlockingCall.SetChecked(true);
    ASSERT_EQ(Press(&TForm1::spdRequestCancelExternalPaymentClick), "");
    EXPECT_EQ(Boxes(), "||true||");
    EXPECT_EQ(Buttons(), "1/000");
    EXPECT_FALSE(form->pollTask);
    EXPECT_EQ(Polls(), 0u);
}

TEST_F(ExternalPaymentTest, CancelWhileAPollIsInFlightDropsItsAnswer) {
    StartPolling("[" + Delayed(R"("confirmed": true, "message": "late")", 500) + "]");
    PumpUntilPollInFlight(1);
    EXPECT_EQ(form->spdPollExternalPayment.Caption(), "Bezig...");
    const std::shared_ptr<BackgroundTask> inFlight = form->pollTask;

    ASSERT_EQ(Press(&TForm1::spdCancelExternalPaymentClick), "");
    ASSERT_TRUE(toolkit.PumpUntil([&] { return !inFlight->IsRunning(); }));
    toolkit.ProcessMessages();
    EXPECT_TRUE(inFlight->IsCancelled());
    EXPECT_EQ(Boxes(), "||||");
    EXPECT_EQ(Buttons(), "1/000");
    EXPECT_EQ(form->spdPollExternalPayment.Caption(), "pollExternalPayment");
    EXPECT_FALSE(form->pollingActive);
    EXPECT_EQ(Polls(), 1u);
    // The exchange on display is the cancellation's, not the dropped poll's.
    EXPECT_EQ(Log().back()["event"].asString(), "cancelExternalPayment");
    EXPECT_EQ(form->mmResponseBody.Text(), "{}");
}

// The exchange is over and its answer waits for the window, which is busy: a cancel now still
// keeps that answer out, and no poll follows it.
TEST_F(ExternalPaymentTest, CancelAfterThePollsAnswerArrivedButBeforeTheWindowTookItInDropsIt) {
    StartPolling("[" + Answer(R"("started": true, "message": "late")") + "]");
    PumpUntilPollInFlight(1);
    const std::shared_ptr<BackgroundTask> answered = form->pollTask;
    // The window does not pump meanwhile: the task's exchange ends and its answer stays queued.
    answered->Wait();
    EXPECT_TRUE(answered->IsRunning()) << "its answer has not been taken in";

    ASSERT_EQ(Press(&TForm1::spdCancelExternalPaymentClick), "");
    EXPECT_TRUE(answered->IsCancelled());
    PumpUntilPollingOver();
    EXPECT_EQ(Boxes(), "||||");
    EXPECT_EQ(Buttons(), "1/000");
    EXPECT_EQ(Polls(), 1u);
    EXPECT_EQ(Log().back()["event"].asString(), "cancelExternalPayment");
    EXPECT_EQ(form->mmResponseBody.Text(), "{}");
}

TEST_F(ExternalPaymentTest, CancelBeforeThePollWentOutSendsNothing) {
    StartPolling("[" + Answer(R"("confirmed": true)") + "]");
    // The poll dispatched by the start's answer has not got to the window yet.
    ASSERT_EQ(Press(&TForm1::spdCancelExternalPaymentClick), "");
    PumpUntilPollingOver();
    EXPECT_EQ(Polls(), 0u);
    EXPECT_FALSE(form->pollingActive);
    EXPECT_EQ(form->spdPollExternalPayment.Caption(), "pollExternalPayment");
    EXPECT_EQ(Buttons(), "1/000");

    // Nothing is left behind that would refuse the next poll.
    ASSERT_EQ(Press(&TForm1::spdPollExternalPaymentClick), "");
    PumpUntilPollingOver();
    EXPECT_EQ(Polls(), 1u);
    EXPECT_EQ(Boxes(), "|true|||");
    EXPECT_TRUE(toolkit.Messages().empty());
}

// A poll whose place was taken (the tab reset and a new poll dispatched) before the window got
// to it is never sent: only one poll is ever under way, and nobody is told to wait.
TEST_F(ExternalPaymentTest, PollReplacedBeforeItWentOutIsNotSent) {
    Scenario(R"({"events": {"pollExternalPayment": [)" + Answer(R"("confirmed": true)") + "]}}");
    form->PrepareExternalPayment(); // a payment of its own, as a start makes it
    ASSERT_EQ(Press(&TForm1::spdPollExternalPaymentClick), "");
    const std::shared_ptr<BackgroundTask> first = form->pollTask;
    ASSERT_TRUE(first);
    form->ResetExternalPaymentTab();
    ASSERT_EQ(Press(&TForm1::spdPollExternalPaymentClick), "");
    ASSERT_NE(form->pollTask, first);
    PumpUntilPollingOver();
    EXPECT_TRUE(first->IsCancelled());
    EXPECT_FALSE(first->HasStarted());
    EXPECT_EQ(Polls(), 1u);
    EXPECT_EQ(Boxes(), "|true|||");
    EXPECT_TRUE(toolkit.Messages().empty());
}

TEST_F(ExternalPaymentTest, SecondDispatchWhilePollingIsRefused) {
    StartPolling("[" + Delayed(R"("confirmed": true)", 300) + "]");
    PumpUntilPollInFlight(1);
    const int64_t before = Counter();

    ASSERT_EQ(Press(&TForm1::spdPollExternalPaymentClick), "");
    ASSERT_TRUE(toolkit.PumpUntil([&] { return Shown(kAlreadyPolling); }));
    PumpUntilPollingOver();
    // The poll in flight was not disturbed and its answer came in; the refused one sent nothing.
    EXPECT_EQ(Polls(), 1u);
    EXPECT_EQ(Boxes(), "|true|||");
    EXPECT_EQ(toolkit.Messages(), std::vector<std::string>{kAlreadyPolling});
    EXPECT_EQ(Counter(), before + 1);
}

TEST_F(ExternalPaymentTest, CancelAfterARefusedDispatchStillStopsThePollInFlight) {
    StartPolling("[" + Delayed(R"("confirmed": true)", 500) + "]");
    PumpUntilPollInFlight(1);
    const std::shared_ptr<BackgroundTask> inFlight = form->pollTask;
    ASSERT_EQ(Press(&TForm1::spdPollExternalPaymentClick), "");
    EXPECT_TRUE(Shown(kAlreadyPolling));
    // The refused dispatch leaves the poll in flight as the window's task, so a cancel reaches it.
    EXPECT_EQ(form->pollTask, inFlight);

    EXPECT_TRUE(form->StopPolling());
    ASSERT_TRUE(toolkit.PumpUntil([&] { return !inFlight->IsRunning(); }));
    toolkit.ProcessMessages();
    EXPECT_FALSE(form->StopPolling());
    EXPECT_EQ(Boxes(), "true||||");
    EXPECT_FALSE(form->pollingActive);
    EXPECT_EQ(Polls(), 1u);
}

TEST_F(ExternalPaymentTest, DialogInAPollAnswerIsShownEvenWithoutBlockingAndConfirmPollsAgain) {
    StartPolling(R"([{"body": {"dialog": {"dialogTitle": "Tip?", "options": [{"id": 5, "text": "5%"},
                                                                             {"id": 10, "text": "10%"}]}}}, )" +
                 Answer(R"("confirmed": true)") + "]");
    // The poll is built when the window gets to it: by then the blocking flag is off.
    form->chkBlockingCall.SetChecked(false);
    PumpUntilPollingOver();
    ASSERT_EQ(Polls(), 1u);
    EXPECT_FALSE(Body(Log().size() - 1)["header"]["blockingCall"].asBool());
    EXPECT_EQ(form->PageControl1.ActivePage(), &form->TabSheetDialog);
    EXPECT_EQ(form->edtDialogTitle.Text(), "Tip?");
    EXPECT_EQ(form->spdButton2.Caption(), "[10] 10%");
    EXPECT_TRUE(form->spdConfirmDialog.Enabled());

    ASSERT_EQ(Press(&TForm1::spdButton2Click), "");
    ASSERT_EQ(Press(&TForm1::spdConfirmDialogClick), "");
    PumpUntilPollingOver();
    ASSERT_EQ(Polls(), 2u);
    const Json::Value body = LastBody();
    EXPECT_EQ(Log().back()["event"].asString(), "pollExternalPayment");
    ASSERT_EQ(body["dialog"]["optionIds"].size(), 1u);
    EXPECT_EQ(body["dialog"]["optionIds"][0].asInt(), 10);
    EXPECT_EQ(Boxes(), "|true|||");
}

TEST_F(ExternalPaymentTest, PollThatFailsBeforeItsAnswerIsShownAndDoesNotBlockTheNext) {
    StartPolling("[" + Answer(R"("confirmed": true)") + "]");
    // The poll on its way reads the counter when the window gets to it.
    form->edtEventId.SetText("x");
    ASSERT_TRUE(toolkit.PumpUntil([&] { return Shown("Invalid Event Counter entered."); }));
    PumpUntilPollingOver();
    EXPECT_EQ(Polls(), 0u);
    EXPECT_EQ(form->spdPollExternalPayment.Caption(), "pollExternalPayment");

    // No session: the same, with the send error of a missing session.
    form->edtEventId.SetText("7");
    form->session.sessionId = Uuid();
    form->ShowSession();
    ASSERT_EQ(Press(&TForm1::spdPollExternalPaymentClick), "");
    ASSERT_TRUE(toolkit.PumpUntil([&] { return Shown("Please enter session details first."); }));
    PumpUntilPollingOver();
    EXPECT_EQ(Polls(), 0u);

    // The next poll runs.
    form->btnStartSessionClick();
    ASSERT_EQ(Press(&TForm1::spdPollExternalPaymentClick), "");
    PumpUntilPollingOver();
    ASSERT_EQ(Polls(), 1u);
    EXPECT_EQ(LastBody()["header"]["eventCounter"].asInt64(), 9);
    EXPECT_EQ(Boxes(), "|true|||");
    EXPECT_FALSE(Shown(kAlreadyPolling));
}

TEST_F(ExternalPaymentTest, WindowStaysUsableWhileAPollWaitsForItsAnswer) {
    // An answer that would take half a minute: the window must not wait for it.
    StartPolling("[" + Delayed(R"("confirmed": true)", 30000) + "]");
    PumpUntilPollInFlight(1);
    const std::shared_ptr<BackgroundTask> inFlight = form->pollTask;

    const std::string oldSession = form->edtSessionId.Text();
    form->btnStartSessionClick();
    EXPECT_NE(form->edtSessionId.Text(), oldSession);
    const int added = AddLine("2", "Cake", "3", "2,50");
    EXPECT_EQ(Cell("text", added), "Cake");
    ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    EXPECT_EQ(form->pnlHttpResponse.Caption().substr(0, 3), "200");
    EXPECT_EQ(Body(Log().size() - 1)["session"]["lines"][added]["text"].asString(), "Cake");
    // All of that happened while the poll's exchange was still under way.
    EXPECT_TRUE(inFlight->IsRunning());
    EXPECT_EQ(form->edtExternalPaymentConfirmed.Text(), "");

    // Cancel, and let the consumer go so the exchange ends now rather than after its delay.
    ASSERT_EQ(Press(&TForm1::spdCancelExternalPaymentClick), "");
    // The window keeps pumping meanwhile, so the poll's answer (a failed exchange) is dropped at once.
    std::thread stopper([&] { consumer->Stop(); });
    const bool ended = toolkit.PumpUntil([&] { return !inFlight->IsRunning(); });
    stopper.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(form->edtExternalPaymentConfirmed.Text(), "");
    EXPECT_TRUE(toolkit.Messages().empty());
}

TEST_F(ExternalPaymentTest, ClosingTheWindowWhileAPollIsInFlight) {
    StartPolling("[" + Delayed(R"("confirmed": true)", 500) + "]");
    PumpUntilPollInFlight(1);
    const std::weak_ptr<BackgroundTask> inFlight = form->pollTask;
    form.reset();
    EXPECT_TRUE(toolkit.Closed());
    EXPECT_TRUE(inFlight.expired());
    EXPECT_TRUE(toolkit.Messages().empty());
    EXPECT_EQ(Polls(), 1u);
}

TEST_F(ExternalPaymentTest, ClosingTheWindowBeforeAPollGotToTheWindow) {
    StartPolling("[" + Answer(R"("confirmed": true)") + "]");
    // The poll task waits for the window to build its event; the window goes instead.
    const std::weak_ptr<BackgroundTask> waiting = form->pollTask;
    form.reset();
    EXPECT_TRUE(waiting.expired());
    EXPECT_TRUE(toolkit.Messages().empty());
    EXPECT_EQ(Polls(), 0u);
}
