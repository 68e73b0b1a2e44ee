#pragma once

#include "Controls.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A grid of text cells: a fixed title row (row 0, the column captions) followed by data rows.
// Rows come only from the program (AppendRow/Clear): the user edits cells, never adds or
// removes rows. Changes between BeginUpdate and EndUpdate are announced once, at EndUpdate.
class TGridControl : public TControl {
public:
    struct Column {
        std::string caption;
        int width = 10; // in characters
        int minWidth = 0;
        int maxWidth = 0; // 0: no automatic width
        bool editable = false;
        bool integer = false; // holds whole numbers (drawn right-aligned)
        bool visible = true;
    };

    explicit TGridControl(std::string name);

    int FixedRows() const { return 1; }
    // Rows including the title row.
    int RowCount() const { return dataRows_ + FixedRows(); }
    int ColumnCount() const { return static_cast<int>(columns_.size()); }

    const std::vector<Column>& Columns() const { return columns_; }
    int AddColumn(Column column);
    void SetColumnEditable(int column, bool editable);
    void SetColumnAutoWidth(int column, int minWidth, int maxWidth);

    // Editing switched on for the grid as a whole; the editor can be hidden while the window is busy.
    bool Editing() const { return editing_; }
    void SetEditing(bool editing);
    bool EditorVisible() const { return editorVisible_; }
    void SetEditorVisible(bool visible);
    // Whether the user may edit this cell now.
    bool CanEdit(int column, int row) const;

    // Cell text; "" outside the grid. Row 0 gives the column caption.
    std::string Cell(int column, int row) const { return std::string(CellText(column, row)); }
    // The same without a copy; valid until the grid next changes.
    std::string_view CellText(int column, int row) const;
    // Sets a data cell; ignored outside the data rows.
    void SetCell(int column, int row, std::string_view text);

    // Removes the data rows. Inside an update the selected row is kept for the rows that follow
    // and clamped to them at EndUpdate; outside one, nothing stays selected.
    void ClearRows();
    // Appends an empty data row and returns its grid row.
    int AppendRow();

    // The selected grid row, -1 when none.
    int SelectedRow() const { return selectedRow_; }
    void SelectRow(int row);

    void BeginUpdate();
    void EndUpdate();

    // The user typed text into a cell and left it: the cell takes the text and OnEditCellExit
    // is called with the flag true. Ignored for cells the user may not edit.
    void EditCell(int column, int row, const std::string& text);

    // (column, row, flag): editing of a cell ended; flag true when the edit is to be taken.
    std::function<void(int, int, bool)> OnEditCellExit;

private:
    void Touch();
    void ClampSelection();

    std::vector<Column> columns_;
    // The data cells row by row, ColumnCount() to a row.
    std::vector<std::string> cells_;
    int dataRows_ = 0;
    bool editing_ = false;
    bool editorVisible_ = true;
    int selectedRow_ = -1;
    int updateDepth_ = 0;
    bool changedWhileUpdating_ = false;
};
