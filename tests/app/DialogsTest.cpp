// A consumer's dialog on the dialog tab, choosing options and answering it with Confirm or Skip.

#include "ConsumerWindowTest.h"

using namespace Tarn::Webhooks;

namespace {

std::string DialogAnswer(bool required, bool multiple, const std::string& options) {
    return std::string(R"([{"body": {"dialog": {"dialogTitle": "Choose", "required": )") +
           (required ? "true" : "false") + R"(, "allowMultipleOptions": )" + (multiple ? "true" : "false") +
           R"(, "options": )" + options + "}}}]";
}

const std::string kSevenOptions =
    R"([{"id": 11, "text": "One"}, {"id": 12, "text": "Two"}, {"id": 13, "text": "Three"},
                                      {"id": 14, "text": "Four"}, {"id": -7, "text": "No"}, {"id": 16, "text": "Six"},
                                      {"id": 17, "text": "Seven"}])";

} // namespace

class DialogsTest : public ConsumerWindowTest {
protected:
    std::vector<TSpeedButton*> Buttons() {
        return {&form->spdButton1, &form->spdButton2, &form->spdButton3, &form->spdButton4,
                &form->spdButton5};
    }
    // The selection as the buttons show it, e.g. "-x-x-".
    std::string Selection() {
        std::string marks;
        for (TSpeedButton* button : Buttons()) {
            EXPECT_EQ(button->Bold(), button->Hint() == "selected") << button->Name();
            marks += button->Hint() == "selected" ? 'x' : '-';
        }
        return marks;
    }
    void ShowDialog(bool required, bool multiple, const std::string& options = kSevenOptions) {
        Answers("startSession", DialogAnswer(required, multiple, options));
        ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    }
    Json::Value SentOptionIds() { return LastBody()["dialog"]["optionIds"]; }
};

TEST_F(DialogsTest, ConfirmAndSkipWaitForTheFirstSend) {
    EXPECT_FALSE(form->spdConfirmDialog.Enabled());
    EXPECT_FALSE(form->spdSkipDialog.Enabled());
    for (TSpeedButton* button : Buttons())
        EXPECT_FALSE(button->Visible());
}

TEST_F(DialogsTest, FiveOfSevenOptionsAreShown) {
    ShowDialog(true, false);
    EXPECT_EQ(form->PageControl1.ActivePage(), &form->TabSheetDialog);
    EXPECT_EQ(form->edtDialogTitle.Text(), "Choose");
    EXPECT_EQ(form->edtRequired.Text(), "true");
    EXPECT_EQ(form->edtAllowMultipleOptions.Text(), "false");
    const std::vector<std::string> captions = {"[11] One", "[12] Two", "[13] Three", "[14] Four", "[-7] No"};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_TRUE(Buttons()[i]->Visible());
        EXPECT_EQ(Buttons()[i]->Caption(), captions[i]);
    }
    EXPECT_EQ(Selection(), "-----");
    EXPECT_TRUE(form->spdConfirmDialog.Enabled());
    EXPECT_TRUE(form->spdSkipDialog.Enabled());

    // A smaller dialog hides the buttons it does not use.
    ShowDialog(false, false, R"([{"id": 1, "text": "Yes"}, {"id": 2, "text": "No"}])");
    EXPECT_TRUE(form->spdButton2.Visible());
    EXPECT_FALSE(form->spdButton3.Visible());
    EXPECT_EQ(form->edtRequired.Text(), "false");
}

TEST_F(DialogsTest, SingleChoice) {
    ShowDialog(false, false);
    form->spdButton2Click();
    form->spdButton4Click();
    EXPECT_EQ(Selection(), "---x-");
    form->spdButton4Click();
    EXPECT_EQ(Selection(), "-----");
    form->spdButton5Click();
    ASSERT_EQ(Press(&TForm1::spdConfirmDialogClick), "");
    EXPECT_EQ(Log().back()["event"].asString(), "startSession");
    ASSERT_EQ(SentOptionIds().size(), 1u);
    EXPECT_EQ(SentOptionIds()[0].asInt(), -7);
}

TEST_F(DialogsTest, MultipleChoiceGoesOutInButtonOrder) {
    ShowDialog(true, true);
    form->spdButton4Click();
    form->spdButton2Click();
    EXPECT_EQ(Selection(), "-x-x-");
    form->edtEventId.SetText("10");
    ASSERT_EQ(Press(&TForm1::spdConfirmDialogClick), "");

    ASSERT_EQ(Log().size(), 2u);
    EXPECT_EQ(Log()[1]["event"].asString(), "startSession");
    EXPECT_EQ(LastBody()["header"]["eventCounter"].asInt64(), 10);
    ASSERT_EQ(SentOptionIds().size(), 2u);
    EXPECT_EQ(SentOptionIds()[0].asInt(), 12);
    EXPECT_EQ(SentOptionIds()[1].asInt(), 14);
    EXPECT_EQ(form->edtEventId.Text(), "11");

    // Answered without a new dialog: the buttons are gone, Confirm and Skip stay enabled, and
    // title and flags keep the last dialog's values.
    for (TSpeedButton* button : Buttons())
        EXPECT_FALSE(button->Visible());
    EXPECT_EQ(Selection(), "-----");
    EXPECT_TRUE(form->spdConfirmDialog.Enabled());
    EXPECT_TRUE(form->spdSkipDialog.Enabled());
    EXPECT_EQ(form->edtDialogTitle.Text(), "Choose");
}

TEST_F(DialogsTest, RequiredDialogWantsAnOption) {
    ShowDialog(true, false);
    EXPECT_EQ(Press(&TForm1::spdConfirmDialogClick), "You are required to select an option.");
    EXPECT_EQ(Log().size(), 1u);
    EXPECT_TRUE(form->spdButton1.Visible());

    form->spdButton3Click();
    EXPECT_EQ(Press(&TForm1::spdSkipDialogClick), "You are required to select an option.");
    EXPECT_EQ(Log().size(), 1u);
    // Skip dropped the selection; the dialog is still there.
    EXPECT_EQ(Selection(), "-----");
    EXPECT_TRUE(form->spdButton3.Visible());
    EXPECT_EQ(form->edtEventId.Text(), "2");

    // With the tab at rest, Confirm still reads the last dialog's flag.
    form->spdButton1Click();
    ASSERT_EQ(Press(&TForm1::spdConfirmDialogClick), "");
    EXPECT_EQ(Press(&TForm1::spdConfirmDialogClick), "You are required to select an option.");
}

TEST_F(DialogsTest, SkipSendsNoOptions) {
    ShowDialog(false, true);
    form->spdButton1Click();
    form->spdButton2Click();
    ASSERT_EQ(Press(&TForm1::spdSkipDialogClick), "");
    ASSERT_EQ(Log().size(), 2u);
    EXPECT_TRUE(SentOptionIds().isArray());
    EXPECT_EQ(SentOptionIds().size(), 0u);
}

TEST_F(DialogsTest, DialogWithoutOptions) {
    ShowDialog(false, false, "[]");
    for (TSpeedButton* button : Buttons())
        EXPECT_FALSE(button->Visible());
    EXPECT_TRUE(form->spdConfirmDialog.Enabled());
    ASSERT_EQ(Press(&TForm1::spdConfirmDialogClick), "");
    EXPECT_EQ(SentOptionIds().size(), 0u);

    ShowDialog(true, false, "[]");
    EXPECT_EQ(Press(&TForm1::spdConfirmDialogClick), "You are required to select an option.");
}

TEST_F(DialogsTest, ConfirmResendsWhateverWasSentLast) {
    ShowDialog(false, false);
    form->spdButton1Click();
    ASSERT_EQ(Press(&TForm1::spdCancelSessionClick), "");
    // The selection is still on the tab, but the last event is now cancelSession.
    ASSERT_EQ(Press(&TForm1::spdConfirmDialogClick), "");
    EXPECT_EQ(Log().back()["event"].asString(), "cancelSession");
    ASSERT_EQ(SentOptionIds().size(), 1u);
    EXPECT_EQ(SentOptionIds()[0].asInt(), 11);
}

TEST_F(DialogsTest, NonBlockingDialogIsNotShown) {
    ShowDialog(false, false, R"([{"id": 1, "text": "Old"}])");
    form->spdButton1Click();
    form->chkBlockingCall.SetChecked(false);
    Answers("startPayment", DialogAnswer(true, true, kSevenOptions));
    ASSERT_EQ(Press(&TForm1::spdStartPaymentClick), "");
    EXPECT_EQ(form->edtRequired.Text(), "false");
    EXPECT_EQ(form->spdButton1.Caption(), "[1] Old");
    EXPECT_EQ(Selection(), "x----");
    EXPECT_FALSE(form->spdButton2.Visible());
    EXPECT_EQ(form->PageControl1.ActivePage(), &form->TabSheetSession);
}
