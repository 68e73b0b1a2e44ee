#include "GridViewClass.h"

#include <charconv>
#include <string>
#include <utility>

namespace Tarn {

void GridViewClass::Init(TGridControl* grid, const UTF8String& viewName) {
    grid_ = grid;
    viewName_ = viewName;
    currentRow_ = -1;
}

int GridViewClass::AddItem(const UTF8String& name, int kind, int width, bool visible) {
    if (!grid_)
        return -1;
    TGridControl::Column column;
    column.caption = name;
    column.width = width;
    column.integer = kind == evtInteger;
    column.visible = visible;
    return grid_->AddColumn(std::move(column));
}

void GridViewClass::SetItemEdit(int item, bool editable) {
    if (grid_)
        grid_->SetColumnEditable(item, editable);
}

void GridViewClass::SetItemAutoBreedteMinMax(int item, int minWidth, int maxWidth) {
    if (grid_)
        grid_->SetColumnAutoWidth(item, minWidth, maxWidth);
}

// The grid never appends rows by itself (rows come only from the program), so autoAppend has
// nothing to switch.
void GridViewClass::SetEdit(bool editing, bool /*autoAppend*/) {
    if (grid_)
        grid_->SetEditing(editing);
}

void GridViewClass::ClearGrid() {
    currentRow_ = -1;
    if (grid_)
        grid_->ClearRows();
}

void GridViewClass::BeginUpdate() {
    if (grid_)
        grid_->BeginUpdate();
}

void GridViewClass::EndUpdate() {
    if (grid_)
        grid_->EndUpdate();
}

void GridViewClass::NieuweRij() {
    if (grid_)
        currentRow_ = grid_->AppendRow();
}

void GridViewClass::AddValue(int item, int value) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    AddValue(item, std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

void GridViewClass::AddValue(int item, std::string_view text) {
    if (grid_ && currentRow_ >= 0)
        grid_->SetCell(item, currentRow_, text);
}

int GridViewClass::GetEersteRij() const {
    return grid_ ? grid_->FixedRows() : 1;
}

int GridViewClass::GetAantalRijen() const {
    return grid_ ? grid_->RowCount() : 0;
}

bool GridViewClass::GetCellValue(int item, int row, std::string& text) const {
    if (!grid_ || item < 0 || item >= grid_->ColumnCount() || row < 0 || row >= grid_->RowCount())
        return false;
    text.assign(grid_->CellText(item, row));
    return true;
}

void GridViewClass::SetCellValue(int item, int row, std::string_view text) {
    if (grid_)
        grid_->SetCell(item, row, text);
}

int GridViewClass::GetRijIndex() const {
    if (!grid_ || grid_->SelectedRow() < 0)
        return -1;
    return GetRijIndex(grid_->SelectedRow());
}

int GridViewClass::GetRijIndex(int row) const {
    return row - GetEersteRij();
}

void GridViewClass::ShowEditor() {
    if (grid_)
        grid_->SetEditorVisible(true);
}

void GridViewClass::HideEditor() {
    if (grid_)
        grid_->SetEditorVisible(false);
}

} // namespace Tarn
