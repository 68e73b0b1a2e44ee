#include "Controls.h"
#include "GridViewClass.h"
#include "TGridControl.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// Counts the change signals of a control.
struct ChangeCounter {
    explicit ChangeCounter(TControl& control) {
        control.Changed.Connect([this] { ++count; });
    }
    int count = 0;
};

} // namespace

// --- Memo text ------------------------------------------------------------------------------

TEST(MemoTest, SplitsAtEveryKindOfLineBreakAndJoinsWithCrLf) {
    TMemo memo("mm");
    memo.SetText("one\r\ntwo\nthree\rfour");
    EXPECT_EQ((std::vector<std::string>{"one", "two", "three", "four"}), memo.Lines());
    EXPECT_EQ("one\r\ntwo\r\nthree\r\nfour", memo.Text());

    // "\n\r" is two breaks, not one: an empty line between them.
    memo.SetText("a\n\rb");
    EXPECT_EQ((std::vector<std::string>{"a", "", "b"}), memo.Lines());
}

TEST(MemoTest, TextSurvivesARoundTrip) {
    // Whatever a widget shows (with CR LF breaks) comes back unchanged, trailing break included.
    for (const std::string text :
         {"", "x", "abc\r\ndef", "abc\r\ndef\r\n", "\r\n", "\r\n\r\nx\r\n\r\n", " a \r\n\tb"}) {
        TMemo memo("mm");
        memo.SetText(text);
        EXPECT_EQ(text, memo.Text()) << "text: " << text;
        // And the lines survive their own text.
        const auto lines = memo.Lines();
        TMemo copy("copy");
        copy.SetText(memo.Text());
        EXPECT_EQ(lines, copy.Lines()) << "text: " << text;
    }
}

TEST(MemoTest, LinesAddedOneByOneGiveTheSameText) {
    TMemo memo("mm");
    memo.Add("first");
    memo.Add("");
    memo.Add("third");
    EXPECT_EQ("first\r\n\r\nthird", memo.Text());
    memo.Clear();
    EXPECT_TRUE(memo.Lines().empty());
    EXPECT_EQ("", memo.Text());
}

TEST(MemoTest, SignalsOnlyRealChanges) {
    TMemo memo("mm");
    ChangeCounter changes(memo);
    memo.Clear(); // already empty
    memo.SetText("");
    EXPECT_EQ(0, changes.count);
    memo.SetText("a\r\nb");
    memo.SetText("a\nb"); // same lines
    EXPECT_EQ(1, changes.count);
    memo.Add("c");
    memo.Clear();
    EXPECT_EQ(3, changes.count);
}

// --- Change signals -------------------------------------------------------------------------

TEST(ControlTest, EverySetterSignalsOnceForARealChangeAndNeverForTheSameValue) {
    struct Case {
        const char* what;
        std::function<void(TControl&)> change;
    };
    const std::vector<Case> cases = {
        {"caption", [](TControl& c) { c.SetCaption("new"); }},
        {"enabled", [](TControl& c) { c.SetEnabled(false); }},
        {"visible", [](TControl& c) { c.SetVisible(false); }},
        {"hint", [](TControl& c) { c.SetHint("selected"); }},
        {"description", [](TControl& c) { c.SetDescription("Sends the event."); }},
        {"tag", [](TControl& c) { c.SetTag(-7); }},
        {"bold", [](TControl& c) { c.SetBold(true); }},
        {"font colour", [](TControl& c) { c.SetFontColor(clRed); }},
        {"colour", [](TControl& c) { c.SetColor(clGreen); }},
        {"fixed pitch", [](TControl& c) { c.SetFixedPitch(true); }},
        {"read-only", [](TControl& c) { c.SetReadOnly(true); }},
    };
    for (const auto& item : cases) {
        TButton button("btn", "old");
        ChangeCounter changes(button);
        item.change(button);
        EXPECT_EQ(1, changes.count) << item.what;
        item.change(button);
        EXPECT_EQ(1, changes.count) << item.what << " set twice";
    }
}

TEST(ControlTest, PlaceholderAndLinesSetReadyMadeSignalOnlyRealChanges) {
    TEdit edit("edt");
    ChangeCounter editChanges(edit);
    edit.SetPlaceholderText("https://your-consumer.example/webhooks/");
    edit.SetPlaceholderText("https://your-consumer.example/webhooks/");
    EXPECT_EQ(edit.PlaceholderText(), "https://your-consumer.example/webhooks/");
    EXPECT_TRUE(edit.Text().empty());
    EXPECT_EQ(1, editChanges.count);

    // Lines split elsewhere (off the window's thread) arrive as SetText would have split them.
    TMemo memo("mm");
    ChangeCounter memoChanges(memo);
    const std::string text = "{\"a\": 1}\r\nsecond\rthird\nlast";
    memo.SetLines(TMemo::SplitLines(text));
    EXPECT_EQ(memo.Lines(), (std::vector<std::string>{"{\"a\": 1}", "second", "third", "last"}));
    memo.SetText(text);
    EXPECT_EQ(1, memoChanges.count);
    EXPECT_TRUE(TMemo::SplitLines("").empty());
}

TEST(ControlTest, CheckBoxAndComboBoxSignalOnlyRealChanges) {
    TCheckBox check("chk", "Check");
    ChangeCounter checkChanges(check);
    check.SetChecked(false);
    check.SetChecked(true);
    check.SetChecked(true);
    EXPECT_TRUE(check.Checked());
    EXPECT_EQ(1, checkChanges.count);

    TComboBox combo("cmb");
    ChangeCounter comboChanges(combo);
    EXPECT_EQ(-1, combo.ItemIndex());
    combo.SetItems({"barcode", "rfid", "qrcode"});
    combo.SetItems({"barcode", "rfid", "qrcode"});
    EXPECT_EQ(1, comboChanges.count);
    combo.SetItemIndex(2);
    combo.SetItemIndex(2);
    EXPECT_EQ(2, comboChanges.count);
    // Indices outside the items are refused.
    combo.SetItemIndex(3);
    combo.SetItemIndex(-2);
    EXPECT_EQ(2, combo.ItemIndex());
    EXPECT_EQ(2, comboChanges.count);
    combo.SetItemIndex(-1);
    EXPECT_EQ(-1, combo.ItemIndex());
    // Fewer items drop a selection that no longer exists.
    combo.SetItemIndex(2);
    combo.SetItems({"barcode"});
    EXPECT_EQ(-1, combo.ItemIndex());
}

TEST(ControlTest, ListViewKeepsItsColumnsAndRows) {
    TListView list("lv", {"Header", "Waarde"});
    ChangeCounter changes(list);
    EXPECT_EQ((std::vector<std::string>{"Header", "Waarde"}), list.Columns());
    list.Clear();
    EXPECT_EQ(0, changes.count);
    const std::vector<std::vector<std::string>> rows = {{"Content-Type", "application/json"},
                                                        {"X-Orvel-Signature", "abc="}};
    list.SetItems(rows);
    ASSERT_EQ(2u, list.Items().size());
    EXPECT_EQ("abc=", list.Items()[1][1]);
    EXPECT_EQ(1, changes.count) << "one announcement for the whole list";
    list.SetItems(rows);
    EXPECT_EQ(1, changes.count) << "the same rows again change nothing";
    list.Clear();
    EXPECT_TRUE(list.Items().empty());
    EXPECT_EQ(2, changes.count);
}

TEST(ControlTest, ListViewRowsInsertedAndDeletedKeepTheChosenRow) {
    TListView list("lv", {"Event"});
    ChangeCounter changes(list);
    int rowChanges = 0, selections = 0;
    list.RowChanged.Connect([&] { ++rowChanges; });
    list.OnSelectItem = [&] { ++selections; };
    list.SetItems({{"b"}, {"c"}});
    const uint64_t version = list.ItemsVersion();
    list.SetItemIndex(1);
    EXPECT_EQ(1, selections);
    list.SetItemIndex(5); // no such row
    EXPECT_EQ(1, list.ItemIndex());

    list.InsertItem(0, {"a"});
    EXPECT_EQ((TListView::Rows{{"a"}, {"b"}, {"c"}}), list.Items());
    EXPECT_EQ(2, list.ItemIndex()) << "still row c";
    EXPECT_TRUE(list.LastRowChange().inserted);
    list.DeleteItem(0);
    EXPECT_EQ(1, list.ItemIndex());
    EXPECT_EQ(version, list.ItemsVersion()) << "rows inserted or deleted are not a new list";
    EXPECT_EQ(2, rowChanges);
    EXPECT_EQ(1, selections) << "the same row stayed chosen";

    const int announced = changes.count;
    list.DeleteItem(1); // the chosen row goes
    EXPECT_EQ(-1, list.ItemIndex());
    EXPECT_EQ(2, selections);
    EXPECT_FALSE(list.LastRowChange().inserted);
    EXPECT_EQ(1, list.LastRowChange().index);
    EXPECT_EQ(announced + 1, changes.count) << "the choice that went is announced";
    list.SetItemIndex(0);
    list.SetItems({{"x"}});
    EXPECT_EQ(-1, list.ItemIndex()) << "a new list has no chosen row";
    EXPECT_NE(version, list.ItemsVersion());
}

// --- Page control ---------------------------------------------------------------------------

TEST(PageControlTest, ActivePageByIndexAndByPage) {
    TTabSheet a("a", "A"), b("b", "B"), hidden("h", "H"), foreign("f", "F");
    hidden.SetVisible(false);
    TPageControl pages("pc", {&a, &b, &hidden});
    ChangeCounter changes(pages);

    EXPECT_EQ(0, pages.ActivePageIndex());
    EXPECT_EQ(&a, pages.ActivePage());
    // A hidden tab keeps its place.
    ASSERT_EQ(3u, pages.Pages().size());
    EXPECT_EQ(&hidden, pages.Pages()[2]);

    pages.SetActivePage(b);
    EXPECT_EQ(1, pages.ActivePageIndex());
    EXPECT_EQ(&b, pages.ActivePage());
    pages.SetActivePage(b);
    EXPECT_EQ(1, changes.count);

    pages.SetActivePage(foreign); // not one of its pages
    pages.SetActivePageIndex(3);
    pages.SetActivePageIndex(-1);
    EXPECT_EQ(1, pages.ActivePageIndex());
    EXPECT_EQ(1, changes.count);

    pages.SetActivePageIndex(2);
    EXPECT_EQ(&hidden, pages.ActivePage());
    EXPECT_EQ(2, changes.count);
}

// --- Grid -----------------------------------------------------------------------------------

namespace {

// Columns "#" (read-only), "text" (editable), "Total" (read-only); editing on.
void FillGrid(TGridControl& grid, int dataRows) {
    grid.AddColumn({"#", 2, 0, 0, false});
    grid.AddColumn({"text", 20, 0, 0, true});
    grid.AddColumn({"Total", 15, 0, 0, false});
    grid.SetEditing(true);
    for (int i = 0; i < dataRows; ++i)
        grid.AppendRow();
}

struct EditExit {
    int column, row;
    bool flag;
};

} // namespace

TEST(GridTest, TitleRowHoldsCaptionsAndOutsideCellsAreEmpty) {
    TGridControl grid("grid");
    FillGrid(grid, 2);
    EXPECT_EQ(3, grid.RowCount());
    EXPECT_EQ(3, grid.ColumnCount());
    EXPECT_EQ("text", grid.Cell(1, 0));
    grid.SetCell(1, 2, "second");
    EXPECT_EQ("second", grid.Cell(1, 2));
    EXPECT_EQ("", grid.Cell(1, 3));
    EXPECT_EQ("", grid.Cell(3, 1));
    EXPECT_EQ("", grid.Cell(-1, 1));
    // The program cannot overwrite a caption through a cell, nor write outside the grid.
    grid.SetCell(1, 0, "changed");
    grid.SetCell(1, 3, "beyond");
    EXPECT_EQ("text", grid.Cell(1, 0));
    EXPECT_EQ(3, grid.RowCount());
}

TEST(GridTest, ChangesInsideAnUpdateAreAnnouncedOnceAtTheOutermostEnd) {
    TGridControl grid("grid");
    FillGrid(grid, 0);
    ChangeCounter changes(grid);

    grid.BeginUpdate();
    grid.BeginUpdate();
    for (int i = 0; i < 50; ++i) {
        const int row = grid.AppendRow();
        grid.SetCell(1, row, "line " + std::to_string(i));
    }
    grid.EndUpdate();
    EXPECT_EQ(0, changes.count) << "inner EndUpdate must stay quiet";
    grid.EndUpdate();
    EXPECT_EQ(1, changes.count);
    EXPECT_EQ(51, grid.RowCount());

    // An update that changes nothing announces nothing.
    grid.BeginUpdate();
    grid.SetCell(1, 1, "line 0");
    grid.EndUpdate();
    EXPECT_EQ(1, changes.count);

    // An unmatched EndUpdate neither announces nor breaks the next update.
    grid.EndUpdate();
    grid.BeginUpdate();
    grid.ClearRows();
    EXPECT_EQ(1, changes.count);
    grid.EndUpdate();
    EXPECT_EQ(2, changes.count);

    // Outside an update every change is announced at once.
    grid.AppendRow();
    grid.SetCell(2, 1, "20");
    EXPECT_EQ(4, changes.count);
}

TEST(GridTest, SelectionIsADataRowOrNone) {
    TGridControl grid("grid");
    FillGrid(grid, 3);
    EXPECT_EQ(-1, grid.SelectedRow());
    grid.SelectRow(3);
    EXPECT_EQ(3, grid.SelectedRow());
    grid.SelectRow(0); // the title row
    EXPECT_EQ(-1, grid.SelectedRow());
    grid.SelectRow(2);
    grid.SelectRow(4); // beyond the rows
    EXPECT_EQ(-1, grid.SelectedRow());
    grid.SelectRow(2);
    grid.ClearRows();
    EXPECT_EQ(-1, grid.SelectedRow());
}

TEST(GridTest, RefillKeepsTheSelectionWithinTheNewRows) {
    TGridControl grid("grid");
    FillGrid(grid, 3);
    grid.SelectRow(2);
    grid.BeginUpdate();
    grid.ClearRows();
    for (int i = 0; i < 3; ++i)
        grid.AppendRow();
    grid.EndUpdate();
    EXPECT_EQ(2, grid.SelectedRow());

    // Fewer rows: the selection moves to the last one; no rows: nothing selected.
    grid.SelectRow(3);
    grid.BeginUpdate();
    grid.ClearRows();
    grid.AppendRow();
    grid.AppendRow();
    grid.EndUpdate();
    EXPECT_EQ(2, grid.SelectedRow());
    grid.BeginUpdate();
    grid.ClearRows();
    grid.EndUpdate();
    EXPECT_EQ(-1, grid.SelectedRow());
}

TEST(GridTest, UserEditsOnlyEditableDataCellsWhileEditingIsOn) {
    TGridControl grid("grid");
    FillGrid(grid, 2);
    std::vector<EditExit> exits;
    grid.OnEditCellExit = [&](int column, int row, bool flag) { exits.push_back({column, row, flag}); };

    grid.EditCell(1, 2, "typed");
    ASSERT_EQ(1u, exits.size());
    EXPECT_EQ(1, exits[0].column);
    EXPECT_EQ(2, exits[0].row);
    EXPECT_TRUE(exits[0].flag);
    EXPECT_EQ("typed", grid.Cell(1, 2));

    struct Refused {
        const char* why;
        int column, row;
    };
    for (const Refused& r :
         {Refused{"read-only column", 0, 1}, Refused{"title row", 1, 0}, Refused{"beyond the rows", 1, 3},
          Refused{"beyond the columns", 3, 1}, Refused{"negative row", 1, -1}}) {
        EXPECT_FALSE(grid.CanEdit(r.column, r.row)) << r.why;
        grid.EditCell(r.column, r.row, "x");
        EXPECT_EQ(1u, exits.size()) << r.why;
    }
    EXPECT_EQ("", grid.Cell(0, 1));
    EXPECT_EQ("text", grid.Cell(1, 0));

    // The editor hidden while the window is busy: no edits.
    grid.SetEditorVisible(false);
    grid.EditCell(1, 1, "busy");
    EXPECT_EQ("", grid.Cell(1, 1));
    grid.SetEditorVisible(true);

    // Editing switched off for the grid: no edits.
    grid.SetEditing(false);
    grid.EditCell(1, 1, "off");
    EXPECT_EQ("", grid.Cell(1, 1));
    EXPECT_EQ(1u, exits.size());

    // A column made editable later takes edits.
    grid.SetEditing(true);
    grid.SetColumnEditable(2, true);
    grid.EditCell(2, 1, "5");
    EXPECT_EQ("5", grid.Cell(2, 1));
    EXPECT_EQ(2u, exits.size());
}

// --- Grid view ------------------------------------------------------------------------------

TEST(GridViewTest, ItemsAreColumnsAndRowsAreFilledOneAtATime) {
    TGridControl grid("gridSession");
    Tarn::GridViewClass view;
    view.Init(&grid, "OrvelWebhookTester");
    EXPECT_EQ("OrvelWebhookTester", view.ViewName());

    const int number = view.AddItem("#", Tarn::evtInteger, 2, true);
    const int text = view.AddItem("text", Tarn::evtTekst, 20, true);
    const int total = view.AddItem("Total", Tarn::evtTekst, 15, false);
    EXPECT_EQ(0, number);
    EXPECT_EQ(1, text);
    EXPECT_EQ(2, total);
    ASSERT_EQ(3, grid.ColumnCount());
    EXPECT_TRUE(grid.Columns()[0].integer);
    EXPECT_FALSE(grid.Columns()[1].integer);
    EXPECT_EQ(20, grid.Columns()[1].width);
    EXPECT_FALSE(grid.Columns()[2].visible);

    view.SetItemEdit(text, true);
    view.SetItemAutoBreedteMinMax(text, 20, 40);
    view.SetEdit(true, false);
    EXPECT_TRUE(grid.Columns()[1].editable);
    EXPECT_EQ(20, grid.Columns()[1].minWidth);
    EXPECT_EQ(40, grid.Columns()[1].maxWidth);
    EXPECT_TRUE(grid.Editing());

    EXPECT_EQ(1, view.GetEersteRij());
    EXPECT_EQ(1, view.GetAantalRijen());

    view.ClearGrid();
    view.BeginUpdate();
    for (int n = 1; n <= 3; ++n) {
        view.NieuweRij();
        view.AddValue(number, n);
        view.AddValue(text, "line " + std::to_string(n));
    }
    view.EndUpdate();
    EXPECT_EQ(4, view.GetAantalRijen());
    std::string value;
    ASSERT_TRUE(view.GetCellValue(number, 3, value));
    EXPECT_EQ("3", value);
    ASSERT_TRUE(view.GetCellValue(text, 1, value));
    EXPECT_EQ("line 1", value);
    ASSERT_TRUE(view.GetCellValue(text, 0, value));
    EXPECT_EQ("text", value);

    value = "untouched";
    EXPECT_FALSE(view.GetCellValue(text, 4, value));
    EXPECT_FALSE(view.GetCellValue(3, 1, value));
    EXPECT_FALSE(view.GetCellValue(-1, 1, value));
    EXPECT_EQ("untouched", value);

    view.SetCellValue(total, 2, "18");
    EXPECT_EQ("18", grid.Cell(total, 2));

    // Refilling starts from an empty grid.
    view.ClearGrid();
    view.NieuweRij();
    view.AddValue(text, "only");
    EXPECT_EQ(2, view.GetAantalRijen());
    EXPECT_EQ("only", grid.Cell(text, 1));
}

TEST(GridViewTest, RowIndexIsTheLineIndex) {
    TGridControl grid("gridSession");
    Tarn::GridViewClass view;
    view.Init(&grid, "v");
    view.AddItem("text", Tarn::evtTekst, 20, true);
    for (int i = 0; i < 3; ++i)
        view.NieuweRij();

    EXPECT_LT(view.GetRijIndex(), 0) << "no row selected";
    grid.SelectRow(1);
    EXPECT_EQ(0, view.GetRijIndex());
    grid.SelectRow(3);
    EXPECT_EQ(2, view.GetRijIndex());
    EXPECT_EQ(0, view.GetRijIndex(1));
    EXPECT_EQ(2, view.GetRijIndex(3));
}

TEST(GridViewTest, EditorFollowsShowAndHide) {
    TGridControl grid("gridSession");
    Tarn::GridViewClass view;
    view.Init(&grid, "v");
    const int text = view.AddItem("text", Tarn::evtTekst, 20, true);
    view.SetItemEdit(text, true);
    view.SetEdit(true, false);
    view.NieuweRij();

    EXPECT_TRUE(grid.CanEdit(text, 1));
    view.HideEditor();
    EXPECT_FALSE(grid.EditorVisible());
    EXPECT_FALSE(grid.CanEdit(text, 1));
    view.ShowEditor();
    EXPECT_TRUE(grid.CanEdit(text, 1));
}
