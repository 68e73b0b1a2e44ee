// The session editor as the developer uses it: the row buttons, typing into the grid and leaving
// the cell, and the session with its totals that goes out with an event.

#include "HeadlessToolkit.h"
#include "MainFormUnit.h"
#include "OptionalPrinting.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

using OrvelUtility::Uuid;
using Tarn::Webhooks::ExternalDiscount;
using Tarn::Webhooks::Session;
using Tarn::Webhooks::SessionLine;

namespace {

const char* const kPrompt = "Please click Generate to start a new Session ID.";

std::vector<std::string> Split(const std::string& words) {
    std::vector<std::string> parts;
    std::istringstream in(words);
    for (std::string word; in >> word;)
        parts.push_back(word);
    return parts;
}

class SessionEditorTest : public ::testing::Test {
protected:
    void SetUp() override { form.FormShow(); }

    int Column(const std::string& caption) const {
        const auto& columns = form.gridSession.Columns();
        for (std::size_t c = 0; c < columns.size(); ++c)
            if (columns[c].caption == caption)
                return static_cast<int>(c);
        ADD_FAILURE() << "no column " << caption;
        return -1;
    }
    int Row(int lineIndex) const { return form.gridSession.FixedRows() + lineIndex; }
    int DataRows() const { return form.gridSession.RowCount() - form.gridSession.FixedRows(); }

    std::string Cell(const std::string& caption, int lineIndex) const {
        return form.gridSession.Cell(Column(caption), Row(lineIndex));
    }
    // The developer types into a cell and leaves it.
    void Type(const std::string& caption, int lineIndex, const std::string& text) {
        form.gridSession.EditCell(Column(caption), Row(lineIndex), text);
    }
    void Select(int lineIndex) { form.gridSession.SelectRow(Row(lineIndex)); }

    // An article line typed in by hand: "+", then the cells.
    void AddArticleLine(const std::string& article, const std::string& quantity, const std::string& price) {
        form.spdRegelToevoegenClick();
        const int i = DataRows() - 1;
        Type("articleNumber", i, article);
        Type("quantity", i, quantity);
        Type("priceIncl", i, price);
    }

    // A line as the consumer's changes or a restored configuration would leave it in the model.
    static SessionLine ModelLine(boost::optional<double> discountPercentage,
                                 boost::optional<double> discountAmount,
                                 boost::optional<double> externalPercentage,
                                 boost::optional<double> externalAmount = boost::none) {
        SessionLine line;
        line.lineId = Uuid::Create();
        line.articleNumber = 1;
        line.quantity = 2;
        line.priceIncl = 10;
        line.discountPercentage = discountPercentage;
        line.discountAmount = discountAmount;
        if (externalPercentage || externalAmount) {
            ExternalDiscount discount;
            discount.discountId = Uuid::Create();
            discount.discountPercentage = externalPercentage;
            discount.discountAmount = externalAmount;
            discount.discountDescription = "consumer discount";
            line.externalDiscount = discount;
        }
        return line;
    }

    testsupport::TempDir dataDir;
    testsupport::ScopedEnv dataHome{"XDG_DATA_HOME", dataDir.Path()};
    HeadlessToolkit toolkit;
    TForm1 form{toolkit};
};

TEST_F(SessionEditorTest, FirstStartShowsPromptAndTheNineteenColumns) {
    EXPECT_EQ(form.edtSessionId.Text(), kPrompt);
    EXPECT_EQ(DataRows(), 0);
    EXPECT_EQ(form.gridView->ViewName(), "OrvelWebhookTester");
    EXPECT_TRUE(form.gridSession.Editing());

    const std::vector<std::string> captions = Split(
        "# lineId lineSetId articleNumber text quantity priceIncl vatCode vatPercentage discountPercentage "
        "discountAmount supplierArticleNumber pluNumber extArticleId externalDiscount.discountId "
        "externalDiscount.discountPercentage externalDiscount.discountAmount "
        "externalDiscount.discountDescription Total");
    const std::vector<int> widths = {2,  30, 30, 15, 20, 15, 15, 2,  10, 15,
                                     15, 10, 10, 10, 15, 15, 15, 15, 15};
    const auto& columns = form.gridSession.Columns();
    ASSERT_EQ(columns.size(), captions.size());
    form.spdRegelToevoegenClick(); // a data row, to ask which cells the developer may edit
    for (std::size_t c = 0; c < columns.size(); ++c) {
        SCOPED_TRACE(captions[c]);
        EXPECT_EQ(columns[c].caption, captions[c]);
        EXPECT_EQ(columns[c].width, widths[c]);
        EXPECT_EQ(columns[c].integer, c == 0);
        // Only articleNumber (4th) through extArticleId (14th) take typing.
        EXPECT_EQ(form.gridSession.CanEdit(static_cast<int>(c), Row(0)), c >= 3 && c <= 13);
    }
    EXPECT_EQ(columns[1].minWidth, 15);
    EXPECT_EQ(columns[1].maxWidth, 20);
    EXPECT_EQ(columns[2].minWidth, 15);
    EXPECT_EQ(columns[2].maxWidth, 20);
    EXPECT_EQ(columns[4].minWidth, 20);
    EXPECT_EQ(columns[4].maxWidth, 40);
    EXPECT_EQ(columns[5].maxWidth, 0);

    // A second showing must not add the columns again.
    form.FormShow();
    EXPECT_EQ(form.gridSession.ColumnCount(), 19);
}

TEST_F(SessionEditorTest, PlusAppendsARowWithOnlyNumberAndLineId) {
    form.spdRegelToevoegenClick();
    form.spdRegelToevoegenClick();

    ASSERT_EQ(form.session.lines.size(), 2u);
    ASSERT_EQ(DataRows(), 2);
    const SessionLine& line = form.session.lines[1];
    ASSERT_TRUE(line.lineId);
    EXPECT_NE(*line.lineId, *form.session.lines[0].lineId);
    EXPECT_FALSE(line.articleNumber || line.quantity || line.priceIncl || line.vatCode || line.vatPercentage);

    for (int c = 0; c < form.gridSession.ColumnCount(); ++c) {
        const std::string& caption = form.gridSession.Columns()[static_cast<std::size_t>(c)].caption;
        SCOPED_TRACE(caption);
        if (caption == "#")
            EXPECT_EQ(Cell(caption, 1), "2");
        else if (caption == "lineId")
            EXPECT_EQ(Cell(caption, 1), line.lineId->ToFormattedString());
        else
            EXPECT_EQ(Cell(caption, 1), "");
    }
}

TEST_F(SessionEditorTest, GenerateGivesANewIdAndKeepsTheLines) {
    for (int i = 0; i < 3; ++i)
        form.spdRegelToevoegenClick();
    Type("text", 1, "coffee");
    const std::vector<SessionLine> before = form.session.lines;

    form.btnStartSessionClick();
    const Uuid first = form.session.sessionId;
    ASSERT_FALSE(first.IsNull());
    EXPECT_EQ(form.edtSessionId.Text(), first.ToFormattedString());

    form.btnStartSessionClick();
    EXPECT_NE(form.session.sessionId, first);
    EXPECT_EQ(form.edtSessionId.Text(), form.session.sessionId.ToFormattedString());

    ASSERT_EQ(DataRows(), 3);
    ASSERT_EQ(form.session.lines.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(form.session.lines[static_cast<std::size_t>(i)].lineId,
                  before[static_cast<std::size_t>(i)].lineId);
        EXPECT_EQ(Cell("lineId", i), before[static_cast<std::size_t>(i)].lineId->ToFormattedString());
    }
    EXPECT_EQ(Cell("text", 1), "coffee");
}

TEST_F(SessionEditorTest, MinusRemovesTheSelectedLineOrNothing) {
    for (int i = 0; i < 3; ++i)
        form.spdRegelToevoegenClick();
    const std::vector<SessionLine> lines = form.session.lines;

    // No selection: nothing happens, nothing is said.
    form.spdRegelVerwijderenClick();
    EXPECT_EQ(form.session.lines.size(), 3u);
    EXPECT_EQ(DataRows(), 3);
    EXPECT_TRUE(toolkit.Messages().empty());

    Select(2);
    EXPECT_EQ(form.SelectedLineIndex(), 2);
    form.spdRegelVerwijderenClick();
    ASSERT_EQ(form.session.lines.size(), 2u);
    EXPECT_EQ(form.session.lines[1].lineId, lines[1].lineId);
    EXPECT_EQ(DataRows(), 2);

    Select(0);
    form.spdRegelVerwijderenClick();
    ASSERT_EQ(form.session.lines.size(), 1u);
    EXPECT_EQ(form.session.lines[0].lineId, lines[1].lineId);
    EXPECT_EQ(Cell("#", 0), "1");
    EXPECT_EQ(Cell("lineId", 0), lines[1].lineId->ToFormattedString());
}

TEST_F(SessionEditorTest, LineTotalsWithOwnExternalAndCombinedDiscounts) {
    struct Case {
        const char* what;
        SessionLine line;
        const char* total;
    };
    const std::vector<Case> cases = {
        {"no discount", ModelLine(boost::none, boost::none, boost::none), "20"},
        {"own percentage", ModelLine(10.0, boost::none, boost::none), "18"},
        {"own percentage and amount", ModelLine(10.0, 1.0, boost::none), "17"},
        {"own amount only", ModelLine(boost::none, 1.5, boost::none), "18.5"},
        {"external percentage", ModelLine(boost::none, boost::none, 50.0), "10"},
        {"external percentage and amount", ModelLine(boost::none, boost::none, 50.0, 2.0), "8"},
        {"own discount wins over external", ModelLine(10.0, boost::none, 50.0), "18"},
    };
    for (const Case& c : cases)
        form.session.lines.push_back(c.line);
    form.ShowSession();

    double sum = 0;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].what);
        EXPECT_EQ(Cell("Total", static_cast<int>(i)), cases[i].total);
        const boost::optional<double> total = form.LineTotal(cases[i].line);
        ASSERT_TRUE(total);
        sum += *total;
    }

    const Session sent = form.CurrentSession();
    ASSERT_TRUE(sent.totalAmount);
    EXPECT_DOUBLE_EQ(*sent.totalAmount, sum);
    EXPECT_DOUBLE_EQ(*sent.totalAmount, 20 + 18 + 17 + 18.5 + 10 + 8 + 18);
    ASSERT_EQ(sent.lines.size(), cases.size());
    EXPECT_DOUBLE_EQ(*sent.lines[2].totalAmount, 17);
    // The window's own model keeps the totals so computed.
    ASSERT_TRUE(form.session.totalAmount);
    EXPECT_DOUBLE_EQ(*form.session.totalAmount, *sent.totalAmount);
}

TEST_F(SessionEditorTest, LinesWithoutArticleNumberHaveNoTotal) {
    AddArticleLine("", "2", "10");
    AddArticleLine("0", "3", "10");
    EXPECT_EQ(Cell("Total", 0), "");
    EXPECT_EQ(Cell("Total", 1), "");
    EXPECT_FALSE(form.session.lines[1].articleNumber);

    form.ReadSessionFromGrid();
    Session sent = form.CurrentSession();
    ASSERT_TRUE(sent.totalAmount);
    EXPECT_EQ(*sent.totalAmount, 0.0);
    EXPECT_FALSE(sent.lines[0].totalAmount);
    EXPECT_FALSE(sent.lines[1].totalAmount);

    // Give the second line an article number: only it counts.
    Type("articleNumber", 1, "8712345");
    EXPECT_EQ(Cell("Total", 1), "30");
    form.ReadSessionFromGrid();
    sent = form.CurrentSession();
    EXPECT_DOUBLE_EQ(*sent.totalAmount, 30);
    EXPECT_EQ(sent.lines[1].articleNumber, int64_t{8712345});
}

TEST_F(SessionEditorTest, ArticleNumberCellTakesOnlyPositiveWholeNumbers) {
    form.spdRegelToevoegenClick();
    const struct {
        const char* typed;
        boost::optional<int64_t> stored;
    } cases[] = {
        {"12", int64_t{12}},    {"9223372036854775807", INT64_MAX},
        {"0", boost::none},     {"-5", boost::none},
        {"12abc", boost::none}, {"1.5", boost::none},
        {"", boost::none},      {"99999999999999999999", boost::none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        form.session.lines[0].articleNumber = 777; // so that clearing shows
        Type("articleNumber", 0, c.typed);
        EXPECT_EQ(form.session.lines[0].articleNumber, c.stored);
    }
}

TEST_F(SessionEditorTest, EmptyVatCellsGoOutAsCodeTwoAndTwentyOnePercent) {
    form.btnStartSessionClick();
    form.spdRegelToevoegenClick();

    ASSERT_TRUE(form.ReadSessionFromGrid());
    const Session sent = form.CurrentSession();
    ASSERT_EQ(sent.lines.size(), 1u);
    EXPECT_EQ(sent.lines[0].vatCode, 2);
    EXPECT_EQ(sent.lines[0].vatPercentage, 21.0);
    EXPECT_EQ(sent.sessionId, form.session.sessionId);

    // Unreadable text gives the same defaults; a negative code too.
    form.gridSession.SetCell(Column("vatCode"), Row(0), "-3");
    form.gridSession.SetCell(Column("vatPercentage"), Row(0), "abc");
    form.ReadSessionFromGrid();
    EXPECT_EQ(form.session.lines[0].vatCode, 2);
    EXPECT_EQ(form.session.lines[0].vatPercentage, 21.0);
}

TEST_F(SessionEditorTest, DecimalTypedWithAPointIsStoredAndTotalled) {
    AddArticleLine("1", "2", "3");
    EXPECT_EQ(Cell("Total", 0), "6");

    Type("quantity", 0, "1.5");
    EXPECT_EQ(form.session.lines[0].quantity, 1.5);
    EXPECT_EQ(Cell("Total", 0), "4.5");
    EXPECT_EQ(Cell("quantity", 0), "1.5"); // the typed text is not rewritten

    // A send reads the same text unchanged and still gets 1.5.
    form.session.lines[0].quantity = boost::none;
    form.ReadSessionFromGrid();
    EXPECT_EQ(form.session.lines[0].quantity, 1.5);

    // Kept to two decimals, half away from zero.
    Type("quantity", 0, "1.005");
    EXPECT_EQ(form.session.lines[0].quantity, 1.01);
    Type("priceIncl", 0, "2,25");
    EXPECT_EQ(form.session.lines[0].priceIncl, 2.25);
    EXPECT_EQ(Cell("Total", 0), "2.27"); // 1.01 * 2.25 = 2.2725

    // Text that is no number clears the field and with it the total.
    Type("quantity", 0, "1.5.0");
    EXPECT_FALSE(form.session.lines[0].quantity);
    EXPECT_EQ(Cell("Total", 0), "");

    Type("discountPercentage", 0, "10");
    Type("quantity", 0, "2");
    Type("discountAmount", 0, "0.5");
    EXPECT_EQ(form.session.lines[0].discountAmount, 0.5);
    EXPECT_EQ(Cell("Total", 0), "3.55"); // 2 * 2.25 * 0.9 - 0.5

    Type("vatPercentage", 0, "9.5");
    EXPECT_EQ(form.session.lines[0].vatPercentage, 9.5);
    Type("vatPercentage", 0, "");
    EXPECT_EQ(form.session.lines[0].vatPercentage, 21.0);
}

TEST_F(SessionEditorTest, VatCodeOutOfRangeIsTwoInTheModelButSentAsTyped) {
    form.spdRegelToevoegenClick();

    Type("vatCode", 0, "7");
    EXPECT_EQ(form.session.lines[0].vatCode, 2);
    EXPECT_EQ(Cell("vatCode", 0), "7");

    form.ReadSessionFromGrid();
    EXPECT_EQ(form.session.lines[0].vatCode, 7);

    Type("vatCode", 0, "5");
    EXPECT_EQ(form.session.lines[0].vatCode, 5);
    Type("vatCode", 0, "0");
    EXPECT_EQ(form.session.lines[0].vatCode, 0);
    Type("vatCode", 0, "-1");
    EXPECT_EQ(form.session.lines[0].vatCode, 2);
    Type("vatCode", 0, "x");
    EXPECT_EQ(form.session.lines[0].vatCode, 2);
}

TEST_F(SessionEditorTest, TextCellsReachTheModel) {
    form.spdRegelToevoegenClick();
    Type("text", 0, "Caffè latte");
    Type("supplierArticleNumber", 0, "SUP-1");
    Type("pluNumber", 0, "42");
    Type("extArticleId", 0, "ext-9");
    const SessionLine& line = form.session.lines[0];
    EXPECT_EQ(line.text, "Caffè latte");
    EXPECT_EQ(line.supplierArticleNumber, std::string("SUP-1"));
    EXPECT_EQ(line.pluNumber, std::string("42"));
    EXPECT_EQ(line.extArticleId, std::string("ext-9"));

    Type("pluNumber", 0, "");
    EXPECT_FALSE(form.session.lines[0].pluNumber);
    EXPECT_EQ(form.session.lines[0].text, "Caffè latte");

    // Read-only columns ignore typing.
    const Uuid id = *form.session.lines[0].lineId;
    Type("lineId", 0, Uuid::Create().ToFormattedString());
    Type("Total", 0, "999");
    EXPECT_EQ(form.session.lines[0].lineId, id);
    EXPECT_EQ(Cell("Total", 0), "");
}

TEST_F(SessionEditorTest, CellExitWithoutTheFlagTakesNothing) {
    form.spdRegelToevoegenClick();
    form.gridSession.SetCell(Column("quantity"), Row(0), "4");
    form.gridSessionEditCellExit(&form.gridSession, Column("quantity"), Row(0), false);
    EXPECT_FALSE(form.session.lines[0].quantity);

    form.gridSessionEditCellExit(&form.gridSession, Column("quantity"), Row(0), true);
    EXPECT_EQ(form.session.lines[0].quantity, 4.0);
}

TEST_F(SessionEditorTest, NumbersFollowTheUsersDecimalSeparator) {
    toolkit.SetDecimalSeparator(',');
    SessionLine line = ModelLine(boost::none, boost::none, 12.5);
    line.quantity = 2.5;
    line.priceIncl = 4;
    line.vatPercentage = 21.0;
    form.session.lines.push_back(line);
    form.ShowSession();

    EXPECT_EQ(Cell("quantity", 0), "2,5");
    EXPECT_EQ(Cell("vatPercentage", 0), "21");
    EXPECT_EQ(Cell("externalDiscount.discountPercentage", 0), "12,5");
    EXPECT_EQ(Cell("Total", 0), "8,75");
    EXPECT_EQ(form.FormatNumber(-0.25), "-0,25");

    // What is shown reads back as the same values.
    form.ReadSessionFromGrid();
    EXPECT_EQ(form.session.lines[0].quantity, 2.5);
    EXPECT_EQ(form.session.lines[0].externalDiscount->discountPercentage, 12.5);
    Type("priceIncl", 0, "3,5");
    EXPECT_EQ(Cell("Total", 0), "7,66"); // 2.5 * 3.5 * 0.875 = 7.65625
}

TEST_F(SessionEditorTest, ExternalDiscountSurvivesReadingTheGrid) {
    SessionLine line = ModelLine(boost::none, boost::none, 50.0, 1.25);
    line.lineSetId = Uuid::Create();
    form.session.lines.push_back(line);
    form.ShowSession();

    EXPECT_EQ(Cell("lineSetId", 0), line.lineSetId->ToFormattedString());
    EXPECT_EQ(Cell("externalDiscount.discountId", 0), line.externalDiscount->discountId.ToFormattedString());
    EXPECT_EQ(Cell("externalDiscount.discountAmount", 0), "1.25");
    EXPECT_EQ(Cell("externalDiscount.discountDescription", 0), "consumer discount");

    form.ReadSessionFromGrid();
    const SessionLine& read = form.session.lines[0];
    ASSERT_TRUE(read.externalDiscount);
    EXPECT_EQ(read.externalDiscount->discountId, line.externalDiscount->discountId);
    EXPECT_EQ(read.externalDiscount->discountPercentage, 50.0);
    EXPECT_EQ(read.externalDiscount->discountAmount, 1.25);
    EXPECT_EQ(read.externalDiscount->discountDescription, "consumer discount");
    EXPECT_EQ(read.lineSetId, line.lineSetId);
    EXPECT_EQ(read.lineId, line.lineId);
}

TEST_F(SessionEditorTest, SessionIdIsReadFromTheField) {
    const Uuid id = Uuid::Create();
    form.edtSessionId.SetText(id.ToString());
    form.ReadSessionFromGrid();
    EXPECT_EQ(form.session.sessionId, id);

    form.edtSessionId.SetText(kPrompt);
    form.ReadSessionFromGrid();
    EXPECT_TRUE(form.session.sessionId.IsNull());
}

// Rows show only lines that have an id; typing into a row must change the line shown there,
// not the line at the same position in the model.
TEST_F(SessionEditorTest, RowsMapToTheShownLinesWhenALineHasNoId) {
    SessionLine first = ModelLine(boost::none, boost::none, boost::none);
    SessionLine hidden;
    hidden.text = "no id";
    hidden.articleNumber = 5;
    hidden.quantity = 9;
    hidden.priceIncl = 1;
    SessionLine last = ModelLine(boost::none, boost::none, boost::none);
    form.session.lines = {first, hidden, last};
    form.ShowSession();
    ASSERT_EQ(DataRows(), 2);
    EXPECT_EQ(Cell("#", 1), "2");

    Type("quantity", 1, "3");
    EXPECT_EQ(form.session.lines[2].quantity, 3.0);
    EXPECT_EQ(form.session.lines[1].quantity, 9.0);
    EXPECT_EQ(form.session.lines[1].text, "no id");
    EXPECT_EQ(Cell("Total", 1), "30");

    Select(1);
    EXPECT_EQ(form.SelectedLineIndex(), 2);
    form.spdRegelVerwijderenClick();
    ASSERT_EQ(form.session.lines.size(), 2u);
    EXPECT_EQ(form.session.lines[1].text, "no id");

    // The line without id still goes out, and counts in the session total.
    const Session sent = form.CurrentSession();
    EXPECT_DOUBLE_EQ(*sent.totalAmount, 20 + 9);
    EXPECT_EQ(sent.lines[1].totalAmount, 9.0);
}

} // namespace

// Many edits of many cells, longer and shorter by turns, then reading the grid, a send and a
// refill: every cell keeps its own text throughout, and the model keeps its lines.
TEST_F(SessionEditorTest, ManyEditsKeepEveryCellsOwnText) {
    for (int i = 0; i < 40; ++i)
        AddArticleLine(std::to_string(1000 + i), "1", "2");
    auto textOf = [](int line, int round) {
        return std::string(static_cast<std::size_t>((line * 7 + round * 13) % 50),
                           static_cast<char>('a' + line % 26)) +
               "|" + std::to_string(line) + "/" + std::to_string(round);
    };
    for (int round = 0; round < 30; ++round)
        for (int i = 0; i < 40; ++i) {
            Type("text", i, textOf(i, round));
            Type("pluNumber", i, round % 2 ? "" : textOf(i + 1, round));
        }
    for (int i = 0; i < 40; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Cell("text", i), textOf(i, 29));
        EXPECT_EQ(Cell("pluNumber", i), "");
        EXPECT_EQ(Cell("articleNumber", i), std::to_string(1000 + i));
        EXPECT_EQ(Cell("Total", i), "2");
    }

    form.ReadSessionFromGrid();
    const Session sent = form.CurrentSession();
    ASSERT_EQ(sent.lines.size(), 40u);
    ASSERT_EQ(form.session.lines.size(), 40u);
    EXPECT_DOUBLE_EQ(*sent.totalAmount, 80);
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(sent.lines[static_cast<std::size_t>(i)].text, textOf(i, 29));
        EXPECT_EQ(form.session.lines[static_cast<std::size_t>(i)].lineId,
                  sent.lines[static_cast<std::size_t>(i)].lineId);
        EXPECT_FALSE(form.session.lines[static_cast<std::size_t>(i)].pluNumber);
    }

    // A cell set from another cell's text.
    for (int i = 1; i < 40; ++i)
        form.gridSession.SetCell(Column("text"), Row(i),
                                 form.gridSession.CellText(Column("text"), Row(i - 1)));
    EXPECT_EQ(Cell("text", 39), textOf(0, 29));

    form.ShowSession();
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(Cell("text", i), textOf(i, 29));
        EXPECT_EQ(Cell("lineId", i),
                  form.session.lines[static_cast<std::size_t>(i)].lineId->ToFormattedString());
    }
}

// Reading the grid sets each field from its cell even where the model holds an equal number:
// a model's -0 shown as "0" is read back as 0.
TEST_F(SessionEditorTest, ReadingTheGridTakesTheCellsValueNotAnEqualOne) {
    SessionLine line = ModelLine(boost::none, -0.0, boost::none, -0.0);
    line.quantity = -0.0;
    line.externalDiscount->discountSetId = Uuid::Create();
    form.session.lines.push_back(line);
    form.ShowSession();
    EXPECT_EQ(Cell("quantity", 0), "0");

    form.ReadSessionFromGrid();
    const SessionLine& read = form.session.lines[0];
    ASSERT_TRUE(read.quantity && read.discountAmount && read.externalDiscount);
    EXPECT_FALSE(std::signbit(*read.quantity));
    EXPECT_FALSE(std::signbit(*read.discountAmount));
    ASSERT_TRUE(read.externalDiscount->discountAmount);
    EXPECT_FALSE(std::signbit(*read.externalDiscount->discountAmount));
    // The discount read from the grid is a new one: its discountSetId is gone.
    EXPECT_TRUE(read.externalDiscount->discountSetId.IsNull());
    EXPECT_EQ(read.externalDiscount->discountId, line.externalDiscount->discountId);
}
