// The consumer's line changes, additions and deletions as a till applies them: splitting and
// merging lines, refusals reported back to the consumer.

#include "ConsumerWindowTest.h"

using namespace Tarn::Webhooks;

namespace {

const std::string kDiscount1 = "11111111-1111-4111-8111-111111111111";
const std::string kDiscount2 = "22222222-2222-4222-8222-222222222222";
const std::string kNewLine = "33333333-3333-4333-8333-333333333333";
const std::string kUnknown = "44444444-4444-4444-8444-444444444444";

std::string Formatted(const std::string& id) {
    return Uuid(id).ToFormattedString();
}

// A change of line n of the request (by placeholder) with the given external discount.
std::string Change(int n, const std::string& discount) {
    return R"({"lineId": "{{session.lines[)" + std::to_string(n) + R"(].lineId}}", "externalDiscount": )" +
           discount + "}";
}

} // namespace

class LineChangesTest : public ConsumerWindowTest {
protected:
    // startSession answered with the given default answer.
    void Answer(const std::string& body) {
        Answers("startSession", R"([{"body": )" + body + "}]");
        ASSERT_EQ(Press(&TForm1::spdStartSessionClick), "");
    }

    void ExpectRefused(const std::string& code, const std::string& message) {
        ASSERT_EQ(form->mmMessages.Lines().size(), 1u);
        EXPECT_EQ(form->mmMessages.Lines()[0], "[" + code + "] " + message);
        const std::vector<Json::Value> log = Log();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log.back()["errorCode"].asString(), code);
        EXPECT_EQ(LastBody()["error"]["message"].asString(), message);
        EXPECT_EQ(LastBody()["eventName"].asString(), "startSession");
        EXPECT_TRUE(form->TabSheetErrorRequestBody.Visible());
    }

    const SessionLine& Line(std::size_t i) const { return form->session.lines.at(i); }
};

TEST_F(LineChangesTest, DiscountOnTheWholeLine) {
    AddLine("1", "Tea", "5", "2");
    const Uuid id = *Line(0).lineId;
    Answer("{\"lineChanges\": [" +
           Change(0, R"({"discountId": ")" + kDiscount1 +
                         R"(", "discountPercentage": 50, "discountDescription": "Half"})") +
           "]}");
    ASSERT_EQ(form->session.lines.size(), 1u);
    EXPECT_EQ(*Line(0).lineId, id);
    ASSERT_TRUE(Line(0).externalDiscount);
    EXPECT_EQ(Line(0).externalDiscount->discountId, Uuid(kDiscount1));
    EXPECT_EQ(Line(0).externalDiscount->discountPercentage, 50.0);
    EXPECT_TRUE(Line(0).externalDiscount->discountSetId.IsNull());
    EXPECT_EQ(Line(0).quantity, 5.0);
    EXPECT_EQ(Cell("externalDiscount.discountId", 0), Formatted(kDiscount1));
    EXPECT_EQ(Cell("externalDiscount.discountDescription", 0), "Half");
    EXPECT_EQ(Cell("Total", 0), "5");
    EXPECT_EQ(Log().size(), 1u);
    EXPECT_TRUE(form->mmMessages.Lines().empty());

    // A discount for the whole quantity does not split either.
    Answer("{\"lineChanges\": [" +
           Change(0, R"({"discountId": ")" + kDiscount1 + R"(", "quantity": 5, "discountAmount": 1})") +
           "]}");
    ASSERT_EQ(form->session.lines.size(), 1u);
    EXPECT_EQ(Line(0).externalDiscount->discountAmount, 1.0);
    EXPECT_FALSE(Line(0).externalDiscount->discountPercentage);
}

TEST_F(LineChangesTest, SplitAndMergeBack) {
    AddLine("1", "Tea", "5", "2");
    const Uuid id = *Line(0).lineId;
    Answer("{\"lineChanges\": [" +
           Change(0, R"({"discountId": ")" + kDiscount1 + R"(", "quantity": 2, "discountPercentage": 50})") +
           "]}");

    ASSERT_EQ(form->session.lines.size(), 2u);
    EXPECT_EQ(*Line(0).lineId, id);
    EXPECT_EQ(Line(0).quantity, 3.0);
    EXPECT_FALSE(Line(0).externalDiscount);
    ASSERT_TRUE(Line(0).lineSetId);
    EXPECT_NE(*Line(1).lineId, id);
    EXPECT_EQ(Line(1).quantity, 2.0);
    ASSERT_TRUE(Line(1).externalDiscount);
    EXPECT_EQ(Line(1).externalDiscount->discountId, Uuid(kDiscount1));
    EXPECT_TRUE(Line(1).lineSetId == Line(0).lineSetId);
    const Uuid lineSet = *Line(0).lineSetId;
    EXPECT_EQ(DataRows(), 2);
    EXPECT_EQ(Cell("lineSetId", 1), lineSet.ToFormattedString());
    EXPECT_EQ(Cell("quantity", 0), "3");
    EXPECT_EQ(Cell("Total", 1), "2");

    // Taking the discount off the new line reunites the halves under the first line's id.
    Answer("{\"lineChanges\": [" +
           Change(1, R"({"discountId": ")" + kDiscount1 + R"(", "removeDiscount": true})") + "]}");
    ASSERT_EQ(form->session.lines.size(), 1u);
    EXPECT_EQ(*Line(0).lineId, id);
    EXPECT_EQ(Line(0).quantity, 5.0);
    EXPECT_FALSE(Line(0).externalDiscount);
    EXPECT_TRUE(Line(0).lineSetId == lineSet);
    EXPECT_EQ(DataRows(), 1);
    EXPECT_EQ(Cell("Total", 0), "10");
}

TEST_F(LineChangesTest, MergeKeepsThePlaceOfTheLineThatLostItsDiscount) {
    AddLine("1", "Tea", "5", "2");
    AddLine("2", "Cake", "1", "3");
    const Uuid tea = *Line(0).lineId;
    Answer("{\"lineChanges\": [" + Change(0, R"({"discountId": ")" + kDiscount1 + R"(", "quantity": 1})") +
           "]}");
    ASSERT_EQ(form->session.lines.size(), 3u);
    EXPECT_EQ(Line(2).quantity, 1.0);

    Answer("{\"lineChanges\": [" +
           Change(2, R"({"discountId": ")" + kDiscount1 + R"(", "removeDiscount": true})") + "]}");
    ASSERT_EQ(form->session.lines.size(), 2u);
    EXPECT_EQ(Line(0).text, "Cake");
    EXPECT_EQ(Line(1).text, "Tea");
    EXPECT_EQ(*Line(1).lineId, tea);
    EXPECT_EQ(Line(1).quantity, 5.0);
}

TEST_F(LineChangesTest, LinesWithTheirOwnDiscount) {
    AddLine("1", "Tea", "5", "2");
    Type("discountPercentage", 0, "0");
    // 0 counts as no discount.
    Answer("{\"lineChanges\": [" +
           Change(0, R"({"discountId": ")" + kDiscount1 + R"(", "discountPercentage": 5})") + "]}");
    EXPECT_TRUE(Line(0).externalDiscount);
    EXPECT_EQ(Log().size(), 1u);

    AddLine("2", "Cake", "1", "3");
    Type("discountPercentage", 1, "10");
    consumer->ClearLog();
    Answer("{\"lineChanges\": [" +
           Change(1, R"({"discountId": ")" + kDiscount1 + R"(", "discountPercentage": 5})") + "]}");
    EXPECT_FALSE(Line(1).externalDiscount);
    ExpectRefused("DISCOUNT_CONFLICT", "Cannot apply external discount to lineID " +
                                           Line(1).lineId->ToFormattedString() +
                                           " because it already has a discount.");
}

TEST_F(LineChangesTest, AnotherExternalDiscount) {
    AddLine("1", "Tea", "5", "2");
    Answer("{\"lineChanges\": [" +
           Change(0, R"({"discountId": ")" + kDiscount1 + R"(", "discountPercentage": 5})") + "]}");
    consumer->ClearLog();

    Answer("{\"lineChanges\": [" +
           Change(0, R"({"discountId": ")" + kDiscount2 + R"(", "discountPercentage": 7})") + "]}");
    EXPECT_EQ(Line(0).externalDiscount->discountId, Uuid(kDiscount1));
    ExpectRefused("DISCOUNT_CONFLICT", "Cannot apply external discount to lineID " +
                                           Line(0).lineId->ToFormattedString() +
                                           " because it already has another external discount.");

    // The same discount id replaces the discount; another id may take it off.
    consumer->ClearLog();
    Answer("{\"lineChanges\": [" +
           Change(0, R"({"discountId": ")" + kDiscount1 + R"(", "discountPercentage": 20})") + "]}");
    EXPECT_EQ(Line(0).externalDiscount->discountPercentage, 20.0);
    Answer("{\"lineChanges\": [" +
           Change(0, R"({"discountId": ")" + kDiscount2 + R"(", "removeDiscount": true})") + "]}");
    EXPECT_FALSE(Line(0).externalDiscount);
    EXPECT_EQ(Log().size(), 2u);
}

TEST_F(LineChangesTest, ChangeOfAnUnknownLineRefusesTheWholeList) {
    AddLine("1", "Tea", "5", "2");
    Answer("{\"lineChanges\": [" + Change(0, R"({"discountId": ")" + kDiscount1 + R"("})") +
           R"(, {"lineId": ")" + kUnknown + R"("}], "lineDeletions": [{"lineId": ")" + kUnknown + R"("}]})");
    EXPECT_FALSE(Line(0).externalDiscount);
    // Only the first refusal goes back.
    EXPECT_EQ(Log().size(), 2u);
    ExpectRefused("UNKNOWN_LINE", "Cannot change line with lineID " + Formatted(kUnknown) +
                                      " because this lineID does not existin the session.");
}

TEST_F(LineChangesTest, Additions) {
    AddLine("1", "Tea", "1", "2");
    Answer(R"({"lineAdditions": [{"articleNumber": 42, "text": "Gift", "priceIncl": 9.5, "vatCode": 1,
                                   "vatPercentage": 9, "supplierArticleNumber": "S1",
                                   "externalDiscount": {"discountId": ")" +
           kDiscount1 + R"(", "discountAmount": 1, "quantity": 1, "removeDiscount": true}},
                                  {"lineId": ")" +
           kNewLine + R"("}]})");
    ASSERT_EQ(form->session.lines.size(), 3u);
    const SessionLine& gift = Line(1);
    ASSERT_TRUE(gift.lineId);
    EXPECT_FALSE(gift.lineId->IsNull());
    EXPECT_EQ(gift.articleNumber, int64_t{42});
    EXPECT_EQ(gift.text, "Gift");
    EXPECT_EQ(gift.priceIncl, 9.5);
    EXPECT_EQ(gift.vatCode, 1);
    EXPECT_EQ(gift.vatPercentage, 9.0);
    EXPECT_FALSE(gift.quantity);
    EXPECT_FALSE(gift.supplierArticleNumber);
    ASSERT_TRUE(gift.externalDiscount);
    EXPECT_EQ(gift.externalDiscount->discountAmount, 1.0);
    EXPECT_EQ(*Line(2).lineId, Uuid(kNewLine));
    EXPECT_EQ(Line(2).text, "");
    EXPECT_EQ(DataRows(), 3);
    EXPECT_EQ(Cell("text", 1), "Gift");
    EXPECT_EQ(Cell("Total", 1), "");

    // An id already in the session is refused, after the changes of the same answer were applied.
    consumer->ClearLog();
    Answer("{\"lineChanges\": [" + Change(0, R"({"discountId": ")" + kDiscount2 + R"("})") +
           R"(], "lineAdditions": [{"text": "Fresh"}, {"lineId": ")" + kNewLine + R"("}]})");
    EXPECT_TRUE(Line(0).externalDiscount);
    EXPECT_EQ(form->session.lines.size(), 3u);
    ExpectRefused("DUPLICATE_LINE", "Cannot add line with lineID " + Formatted(kNewLine) +
                                        " because this lineID already exists in the session.");
}

TEST_F(LineChangesTest, Deletions) {
    AddLine("1", "Tea", "1", "2");
    // Additions are not checked against each other: both come in, under one id.
    Answer(R"({"lineAdditions": [{"lineId": ")" + kNewLine + R"(", "text": "A"}, {"lineId": ")" + kNewLine +
           R"(", "text": "B"}]})");
    ASSERT_EQ(form->session.lines.size(), 3u);

    Answer(R"({"lineDeletions": [{"lineId": ")" + kUnknown + R"("}]})");
    EXPECT_EQ(form->session.lines.size(), 3u);
    ExpectRefused("UNKNOWN_LINE", "Cannot delete line with lineID " + Formatted(kUnknown) +
                                      " because this lineID does not exist in the session.");

    // One deletion takes every line with the id.
    Answer(R"({"lineDeletions": [{"lineId": ")" + kNewLine + R"("}]})");
    ASSERT_EQ(form->session.lines.size(), 1u);
    EXPECT_EQ(Line(0).text, "Tea");
    EXPECT_EQ(DataRows(), 1);
}
