#include "TGridControl.h"

#include <utility>

namespace {
const std::string kEmpty;
}

TGridControl::TGridControl(std::string name) : TControl(std::move(name)) {}

void TGridControl::Touch() {
    if (updateDepth_ > 0)
        changedWhileUpdating_ = true;
    else
        NotifyChanged();
}

int TGridControl::AddColumn(Column column) {
    columns_.push_back(std::move(column));
    for (auto& row : rows_)
        row.resize(columns_.size());
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

const std::string& TGridControl::Cell(int column, int row) const {
    if (column < 0 || column >= ColumnCount() || row < 0 || row >= RowCount())
        return kEmpty;
    if (row < FixedRows())
        return columns_[static_cast<std::size_t>(column)].caption;
    return rows_[static_cast<std::size_t>(row - FixedRows())][static_cast<std::size_t>(column)];
}

void TGridControl::SetCell(int column, int row, std::string text) {
    if (column < 0 || column >= ColumnCount() || row < FixedRows() || row >= RowCount())
        return;
    auto& cell = rows_[static_cast<std::size_t>(row - FixedRows())][static_cast<std::size_t>(column)];
    if (cell == text)
        return;
    cell = std::move(text);
    Touch();
}

void TGridControl::ClearRows() {
    if (dataRows_ == 0 && selectedRow_ < 0)
        return;
    dataRows_ = 0;
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
    if (dataRows_ < static_cast<int>(rows_.size())) {
        for (auto& cell : rows_[static_cast<std::size_t>(dataRows_)])
            cell.clear(); // keeps the cell's storage for the next text
    } else {
        rows_.emplace_back(columns_.size());
    }
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
