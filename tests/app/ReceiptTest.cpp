// The receipt that completeSession prints: the session lines on screen and the consumer's
// footer items.

#include "ConsumerWindowTest.h"

class ReceiptTest : public ConsumerWindowTest {
protected:
    // Completes the session with the given answers and returns the receipt shown.
    std::string Complete(const std::string& answers = "[]") {
        Answers("completeSession", answers);
        toolkit.ClearMessages();
        EXPECT_EQ(Press(&TForm1::spdCompleteSessionClick), "");
        const std::vector<std::string> shown = toolkit.Messages();
        EXPECT_EQ(shown.size(), 1u);
        return shown.empty() ? std::string() : shown.back();
    }
    static std::string Footers(const std::string& items) {
        return R"([{"body": {"receiptFooters": )" + items + "}}]";
    }
};

TEST_F(ReceiptTest, EmptySession) {
    EXPECT_EQ(Complete(), "KASSABON\n========\n");
    EXPECT_EQ(Log().back()["event"].asString(), "completeSession");
    EXPECT_EQ(LastBody()["request"]["payments"].size(), 0u);
    EXPECT_EQ(form->edtEventId.Text(), "2");
}

TEST_F(ReceiptTest, LinesAndFooterTexts) {
    AddLine("4711", "Coffee", "1", "5.5");
    form->spdRegelToevoegenClick();
    Type("text", 1, "Just a note");
    form->spdRegelToevoegenClick(); // leaves no trace on the receipt
    EXPECT_EQ(Complete(Footers(R"([{"text": "A"}, {"text": "B"}])")),
              "KASSABON\n========\n4711x Coffee = 5.5\nJust a note\n\nAB");
}

TEST_F(ReceiptTest, CommaLocale) {
    toolkit.SetDecimalSeparator(',');
    AddLine("4711", "Coffee", "1", "5,5");
    EXPECT_EQ(Complete(), "KASSABON\n========\n4711x Coffee = 5,5\n");
}

TEST_F(ReceiptTest, Barcodes) {
    const std::string head = "KASSABON\n========\n\n";
    EXPECT_EQ(Complete(Footers(
                  R"([{"text": "Thanks", "barcode": {"barcodeType": "EAN13", "barcodeValue": "123"}}])")),
              head + "Thanks\n\n[EAN13] 123");
    EXPECT_EQ(
        Complete(Footers(R"([{"barcode": {"barcodeType": "QR", "barcodeValue": "x"}}, {"text": "Bye"}])")),
        head + "[QR] xBye");
    EXPECT_EQ(Complete(Footers(R"([{"text": "", "barcode": {"barcodeType": "QR", "barcodeValue": "x"}}])")),
              head + "[QR] x");
    EXPECT_EQ(Complete(Footers(R"([{"text": ""}])")), "KASSABON\n========\n");
}

TEST_F(ReceiptTest, ReceiptWithoutFooter) {
    AddLine("1", "Tea", "2", "1");
    const std::string plain = "KASSABON\n========\n1x Tea = 2\n";
    const std::string footer = R"({"body": {"receiptFooters": [{"text": "F"}]}})";

    // A non-blocking completion prints the receipt, never with a footer.
    form->chkBlockingCall.SetChecked(false);
    EXPECT_EQ(Complete("[" + footer + "]"), plain);
    form->chkBlockingCall.SetChecked(true);

    EXPECT_EQ(Complete(R"([{"status": 500, "body": {"receiptFooters": [{"text": "F"}]}}])"), plain);
    EXPECT_EQ(Complete(R"([{"body": {"receiptFooters": [{"text": 5}]}}])"), plain);
    EXPECT_EQ(form->mmMessages.Lines().back().rfind("ERROR : ", 0), 0u);
    EXPECT_EQ(
        Complete(R"([{"faults": {"signature": "wrong"}, "body": {"receiptFooters": [{"text": "F"}]}}])"),
        plain);

    EXPECT_EQ(Complete(R"([{"status": 400, "body": {"error": {"errorCode": "E", "message": "M"}}}])"), plain);
    EXPECT_EQ(form->mmMessages.Lines().back(), "Foutcode in resultaat: [E] M");

    // A dialog goes to its tab; the receipt is printed in front of it.
    EXPECT_EQ(
        Complete(R"([{"body": {"dialog": {"dialogTitle": "Bag?", "options": [{"id": 1, "text": "Yes"}]}}}])"),
        plain);
    EXPECT_EQ(form->PageControl1.ActivePage(), &form->TabSheetDialog);
    EXPECT_TRUE(form->spdButton1.Visible());

    // A default answer is applied before the receipt, which then lists the new line.
    EXPECT_EQ(Complete(R"([{"body": {"lineAdditions": [{"text": "Bag"}]}}])"), plain + "Bag\n");
}

TEST_F(ReceiptTest, NoReceiptWhenNothingWasSent) {
    form->edtEventId.SetText("?");
    EXPECT_EQ(Press(&TForm1::spdCompleteSessionClick), "Invalid Event Counter entered.");
    EXPECT_TRUE(toolkit.Messages().empty());
}
