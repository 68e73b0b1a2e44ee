// The scanCode event: the code and its type from the scan-code tab, and the answer in the four
// result boxes.

#include "ConsumerWindowTest.h"

class ScanCodeTest : public ConsumerWindowTest {
protected:
    std::vector<std::string> ResultBoxes() {
        return {form->edtScanCodeRecognized.Text(), form->edtScanCodeMessage.Text(),
                form->edtScanCodeCustomerMessage.Text(), form->edtScanCodeRelationNumber.Text()};
    }
    void FillResultBoxes() {
        form->edtScanCodeRecognized.SetText("stale");
        form->edtScanCodeMessage.SetText("stale");
        form->edtScanCodeCustomerMessage.SetText("stale");
        form->edtScanCodeRelationNumber.SetText("stale");
    }
    const std::vector<std::string> empty{"", "", "", ""};
};

TEST_F(ScanCodeTest, CodeTypeFollowsThePositionInTheList) {
    form->edtCode.SetText(" 8712345678906 ");
    const std::vector<std::pair<int, std::string>> cases = {
        {0, "barcode"}, {1, "rfid"}, {2, "qrcode"}, {-1, "barcode"}};
    for (const auto& c : cases) {
        form->cmbCodeType.SetItemIndex(c.first);
        ASSERT_EQ(Press(&TForm1::spdScanCodeClick), "");
        EXPECT_EQ(LastBody()["request"]["codeType"].asString(), c.second) << c.first;
        EXPECT_EQ(LastBody()["request"]["code"].asString(), " 8712345678906 ");
    }
    EXPECT_EQ(form->PageControl1.ActivePage(), &form->TabSheetScanCode);
    EXPECT_EQ(Log().back()["event"].asString(), "scanCode");

    form->edtCode.SetText("");
    ASSERT_EQ(Press(&TForm1::spdScanCodeClick), "");
    EXPECT_EQ(LastBody()["request"]["code"].asString(), "");
}

TEST_F(ScanCodeTest, RecognizedCode) {
    AddLine("1", "Tea", "1", "2");
    Answers("scanCode",
            R"([{"body": {"recognized": true, "message": "Member", "customerMessage": "Welcome back",
                                      "relationNumber": 98765432101234, "lineAdditions": [{"text": "Bonus"}]}},
                            {"body": {"recognized": false}}])");
    ASSERT_EQ(Press(&TForm1::spdScanCodeClick), "");
    EXPECT_EQ(ResultBoxes(), (std::vector<std::string>{"true", "Member", "Welcome back", "98765432101234"}));
    // The answer's line changes are applied as well.
    ASSERT_EQ(form->session.lines.size(), 2u);
    EXPECT_EQ(form->session.lines[1].text, "Bonus");

    ASSERT_EQ(Press(&TForm1::spdScanCodeClick), "");
    EXPECT_EQ(ResultBoxes(), (std::vector<std::string>{"false", "", "", ""}));
}

TEST_F(ScanCodeTest, ResultBoxesAreEmptiedOnEverySend) {
    Answers("scanCode", R"([{"status": 500, "body": {"recognized": true, "message": "x"}},
                            {"body": {"recognized": "yes"}},
                            {"body": {"lineAdditions": []}},
                            {"faults": {"signature": "wrong"}, "body": {"recognized": true}}])");
    for (int i = 0; i < 4; ++i) {
        FillResultBoxes();
        ASSERT_EQ(Press(&TForm1::spdScanCodeClick), "");
        EXPECT_EQ(ResultBoxes(), empty) << i;
    }
    // The badly signed answer was reported, and only that one.
    EXPECT_EQ(Log().size(), 5u);
}

TEST_F(ScanCodeTest, ParseErrorAndErrorAnswer) {
    Answers("scanCode", R"([{"body": {"recognized": "yes"}},
                            {"status": 400, "body": {"error": {"errorCode": "UNKNOWN_CODE", "message": "Never seen"}}},
                            {"status": 400, "body": {"error": {"errorCode": "C", "message": "M"}}}])");
    ASSERT_EQ(Press(&TForm1::spdScanCodeClick), "");
    ASSERT_EQ(form->mmMessages.Lines().size(), 1u);
    EXPECT_EQ(form->mmMessages.Lines()[0].rfind("ERROR : recognized", 0), 0u) << form->mmMessages.Lines()[0];

    ASSERT_EQ(Press(&TForm1::spdScanCodeClick), "");
    ASSERT_EQ(form->mmMessages.Lines().size(), 1u);
    EXPECT_EQ(form->mmMessages.Lines()[0], "Foutcode in resultaat: [UNKNOWN_CODE] Never seen");
    EXPECT_EQ(ResultBoxes(), empty);

    // An error answer is shown for a non-blocking call too, and nothing goes back to the consumer.
    form->chkBlockingCall.SetChecked(false);
    ASSERT_EQ(Press(&TForm1::spdScanCodeClick), "");
    ASSERT_EQ(form->mmMessages.Lines().size(), 1u);
    EXPECT_EQ(form->mmMessages.Lines()[0], "Foutcode in resultaat: [C] M");
    EXPECT_EQ(Log().size(), 3u);
}

TEST_F(ScanCodeTest, NonBlockingCallShowsNoResult) {
    form->chkBlockingCall.SetChecked(false);
    Answers("scanCode", R"([{"body": {"recognized": true, "message": "Member"}},
                            {"body": {"dialog": {"dialogTitle": "Which?", "options": [{"id": 1, "text": "A"}]}}}])");
    ASSERT_EQ(Press(&TForm1::spdScanCodeClick), "");
    EXPECT_EQ(ResultBoxes(), empty);
    ASSERT_EQ(Press(&TForm1::spdScanCodeClick), "");
    EXPECT_FALSE(form->spdButton1.Visible());

    form->chkBlockingCall.SetChecked(true);
    Answers("scanCode",
            R"([{"body": {"dialog": {"dialogTitle": "Which?", "options": [{"id": 1, "text": "A"}]}}}])");
    ASSERT_EQ(Press(&TForm1::spdScanCodeClick), "");
    EXPECT_EQ(form->PageControl1.ActivePage(), &form->TabSheetDialog);
    EXPECT_EQ(form->spdButton1.Caption(), "[1] A");
    // Confirm sends the scan again, with the answer.
    form->spdButton1Click();
    ASSERT_EQ(Press(&TForm1::spdConfirmDialogClick), "");
    EXPECT_EQ(Log().back()["event"].asString(), "scanCode");
    EXPECT_EQ(LastBody()["dialog"]["optionIds"][0].asInt(), 1);
}
