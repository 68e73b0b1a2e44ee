// What the external-payment events carry: the payment prepared from its tab.

#include "ConsumerWindowTest.h"

using namespace Tarn::Webhooks;

using ExternalPaymentRequestTest = ConsumerWindowTest;

TEST_F(ExternalPaymentRequestTest, StartWithEmptyBoxes) {
    AddLine("1", "Tea", "2", "6,25");
    form->edtPaymentMethod.SetText("");
    form->edtExternalPaymentId.SetText("");
    ASSERT_EQ(Press(&TForm1::spdStartExternalPaymentClick), "");

    const Uuid id = form->externalPayment.externalPaymentId;
    EXPECT_FALSE(id.IsNull());
    EXPECT_EQ(form->edtExternalPaymentId.Text(), id.ToFormattedString());
    EXPECT_EQ(form->edtPaymentMethod.Text(), "K_EXTERNAL_PAYMENT");
    EXPECT_EQ(form->PageControl1.ActivePage(), &form->TabSheetExternalPayment);
    // The button shows its event name again once the call is over.
    EXPECT_EQ(form->spdStartExternalPayment.Caption(), "startExternalPayment");

    ASSERT_EQ(Log().size(), 1u);
    EXPECT_EQ(Log()[0]["event"].asString(), "startExternalPayment");
    const Json::Value payment = LastBody()["externalPayment"];
    EXPECT_EQ(payment["externalPaymentId"].asString(), id.ToString());
    EXPECT_EQ(payment["method"].asString(), "K_EXTERNAL_PAYMENT");
    EXPECT_EQ(payment["description"].asString(), "K_EXTERNAL_PAYMENT");
    EXPECT_DOUBLE_EQ(payment["amount"].asDouble(), 12.5);

    // An empty id box keeps the last payment's id and stays empty.
    form->edtExternalPaymentId.SetText("");
    ASSERT_EQ(Press(&TForm1::spdStartExternalPaymentClick), "");
    EXPECT_EQ(LastBody()["externalPayment"]["externalPaymentId"].asString(), id.ToString());
    EXPECT_EQ(form->edtExternalPaymentId.Text(), "");
}

TEST_F(ExternalPaymentRequestTest, TextThatIsNoIdIsReplaced) {
    form->edtExternalPaymentId.SetText("not an id");
    form->edtPaymentMethod.SetText("PIN");
    ASSERT_EQ(Press(&TForm1::spdStartExternalPaymentClick), "");
    EXPECT_FALSE(form->externalPayment.externalPaymentId.IsNull());
    EXPECT_EQ(form->edtExternalPaymentId.Text(), form->externalPayment.externalPaymentId.ToFormattedString());
    EXPECT_EQ(LastBody()["externalPayment"]["method"].asString(), "PIN");
    // A session total of nothing goes out as 0.
    EXPECT_DOUBLE_EQ(LastBody()["externalPayment"]["amount"].asDouble(), 0.0);
}

TEST_F(ExternalPaymentRequestTest, NoIdShownWithoutASession) {
    form->session.sessionId = Uuid();
    form->ShowSession();
    form->edtExternalPaymentId.SetText("");
    EXPECT_EQ(Press(&TForm1::spdStartExternalPaymentClick), "Please enter session details first.");
    EXPECT_EQ(form->edtExternalPaymentId.Text(), "");
    EXPECT_FALSE(form->externalPayment.externalPaymentId.IsNull());
    EXPECT_TRUE(Log().empty());
}

TEST_F(ExternalPaymentRequestTest, LaterEventsCarryThePreparedPayment) {
    form->edtPaymentMethod.SetText("CARD");
    ASSERT_EQ(Press(&TForm1::spdStartExternalPaymentClick), "");
    const std::string id = form->externalPayment.externalPaymentId.ToString();
    // The boxes are read only when a payment starts.
    form->edtPaymentMethod.SetText("OTHER");
    ASSERT_EQ(Press(&TForm1::spdRequestCancelExternalPaymentClick), "");
    ASSERT_EQ(Press(&TForm1::spdCancelExternalPaymentClick), "");
    ASSERT_EQ(Log().size(), 3u);
    EXPECT_EQ(Log()[1]["event"].asString(), "requestCancelExternalPayment");
    EXPECT_EQ(Log()[2]["event"].asString(), "cancelExternalPayment");
    for (std::size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(Body(i)["externalPayment"]["externalPaymentId"].asString(), id);
        EXPECT_EQ(Body(i)["externalPayment"]["method"].asString(), "CARD");
    }
    EXPECT_EQ(form->spdCancelExternalPayment.Caption(), "cancelExternalPayment");
    EXPECT_EQ(form->spdRequestCancelExternalPayment.Caption(), "requestCancelExternalPayment");
}
