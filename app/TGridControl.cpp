#include "TGridControl.h"

#include <cstddef>
#include <utility>

TGridControl::TGridControl(std::string name) : TControl(std::move(name)) {}

void TGridControl::Touch() {
    if (updateDepth_ > 0)
        changedWhileUpdating_ = true;
    else
        NotifyChanged();
}

int TGridControl::AddColumn(Column column) {
    const std::size_t before = columns_.size();
    columns_.push_back(std::move(column));
    // Each row gets an empty cell at its end.
    for (std::size_t r = static_cast<std::size_t>(dataRows_); r > 0; --r)
        cells_.insert(cells_.begin() + static_cast<std::ptrdiff_t>(r * before), std::string());
    Touch();
    return ColumnCount() - 1;
}

void TGridControl::SetColumnEditable(int column, bool editable) {
    if (column < 0 || column >= ColumnCount())
        return;
    auto& col = columns_[static_cast<std::size_t>(column)];
    if (col.editable == editable)
        return;
    col.editable = editable;
    Touch();
}

void TGridControl::SetColumnAutoWidth(int column, int minWidth, int maxWidth) {
    if (column < 0 || column >= ColumnCount())
        return;
    auto& col = columns_[static_cast<std::size_t>(column)];
    if (col.minWidth == minWidth && col.maxWidth == maxWidth)
        return;
    col.minWidth = minWidth;
    col.maxWidth = maxWidth;
    Touch();
}

void TGridControl::SetEditing(bool editing) {
    if (editing_ == editing)
        return;
    editing_ = editing;
    Touch();
}

void TGridControl::SetEditorVisible(bool visible) {
    if (editorVisible_ == visible)
        return;
    editorVisible_ = visible;
    Touch();
}

bool TGridControl::CanEdit(int column, int row) const {
    return editing_ && editorVisible_ && column >= 0 && column < ColumnCount() &&
           columns_[static_cast<std::size_t>(column)].editable && row >= FixedRows() && row < RowCount();
}

std::string_view TGridControl::CellText(int column, int row) const {
    if (column < 0 || column >= ColumnCount() || row < 0 || row >= RowCount())
        return {};
    if (row < FixedRows())
        return columns_[static_cast<std::size_t>(column)].caption;
    return cells_[static_cast<std::size_t>(row - FixedRows()) * columns_.size() +
                  static_cast<std::size_t>(column)];
}

void TGridControl::SetCell(int column, int row, std::string_view text) {
    if (column < 0 || column >= ColumnCount() || row < FixedRows() || row >= RowCount())
        return;
    std::string& cell = cells_[static_cast<std::size_t>(row - FixedRows()) * columns_.size() +
                               static_cast<std::size_t>(column)];
    if (cell == text)
        return;
    cell = text;
    Touch();
}

void TGridControl::ClearRows() {
    if (dataRows_ == 0 && selectedRow_ < 0)
        return;
    dataRows_ = 0;
    cells_.clear();
    // A refill inside an update keeps the selection (the user's line stays selected when the
    // grid is rebuilt); it is brought within the new rows when the update ends.
    if (updateDepth_ == 0)
        ClampSelection();
    Touch();
}

void TGridControl::ClampSelection() {
    if (selectedRow_ >= RowCount())
        selectedRow_ = dataRows_ > 0 ? RowCount() - 1 : -1;
}

int TGridControl::AppendRow() {
    cells_.resize(cells_.size() + columns_.size());
    ++dataRows_;
    Touch();
    return RowCount() - 1;
}

void TGridControl::SelectRow(int row) {
    if (row < FixedRows() || row >= RowCount())
        row = -1;
    if (row == selectedRow_)
        return;
    selectedRow_ = row;
    Touch();
}

void TGridControl::BeginUpdate() {
    ++updateDepth_;
}

void TGridControl::EndUpdate() {
    if (updateDepth_ == 0)
        return;
    if (--updateDepth_ > 0)
        return;
    ClampSelection();
    if (!changedWhileUpdating_)
        return;
    changedWhileUpdating_ = false;
    NotifyChanged();
}

void TGridControl::EditCell(int column, int row, const std::string& text) {
    if (!CanEdit(column, row))
        return;
    SetCell(column, row, text);
    if (OnEditCellExit)
        OnEditCellExit(column, row, true);
}
