#include "TGridControl.h"

#include <cstring>
#include <limits>
#include <stdexcept>
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
    if (dataRows_ > 0) {
        // Each row gets an empty cell at its end.
        std::vector<Span> cells;
        cells.reserve(static_cast<std::size_t>(dataRows_) * columns_.size());
        for (std::size_t r = 0; r < static_cast<std::size_t>(dataRows_); ++r) {
            cells.insert(cells.end(), cells_.begin() + static_cast<std::ptrdiff_t>(r * before),
                         cells_.begin() + static_cast<std::ptrdiff_t>((r + 1) * before));
            cells.push_back(Span{});
        }
        cells_.swap(cells);
    }
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
    const Span span = cells_[static_cast<std::size_t>(row - FixedRows()) * columns_.size() +
                             static_cast<std::size_t>(column)];
    return std::string_view(text_).substr(span.offset, span.length);
}

void TGridControl::SetCell(int column, int row, std::string_view text) {
    if (column < 0 || column >= ColumnCount() || row < FixedRows() || row >= RowCount())
        return;
    const std::size_t index =
        static_cast<std::size_t>(row - FixedRows()) * columns_.size() + static_cast<std::size_t>(column);
    if (std::string_view(text_).substr(cells_[index].offset, cells_[index].length) == text)
        return;
    // Text taken from this grid's own cells would move under our feet: copied first.
    std::string own;
    if (!text.empty() && text.data() >= text_.data() && text.data() < text_.data() + text_.size()) {
        own.assign(text.data(), text.size());
        text = own;
    }
    if (text.size() > cells_[index].length) {
        constexpr std::size_t kMaxText = std::numeric_limits<uint32_t>::max();
        if (unusedText_ > text_.size() / 2 || text.size() > kMaxText - text_.size())
            Compact();
        if (text.size() > kMaxText - text_.size())
            throw std::length_error("The grid " + Name() + " cannot hold more text.");
        unusedText_ += cells_[index].length;
        cells_[index].offset = static_cast<uint32_t>(text_.size());
        text_.append(text);
    } else {
        // Fits where the old text was; the rest of its place goes unused.
        if (!text.empty())
            std::memcpy(&text_[cells_[index].offset], text.data(), text.size());
        unusedText_ += cells_[index].length - text.size();
    }
    cells_[index].length = static_cast<uint32_t>(text.size());
    Touch();
}

void TGridControl::Compact() {
    std::string text;
    text.reserve(text_.size() - unusedText_);
    for (Span& span : cells_) {
        const auto offset = static_cast<uint32_t>(text.size());
        text.append(text_, span.offset, span.length);
        span.offset = offset;
    }
    text_.swap(text);
    unusedText_ = 0;
}

void TGridControl::ClearRows() {
    if (dataRows_ == 0 && selectedRow_ < 0)
        return;
    dataRows_ = 0;
    // The storage stays for the rows of the next fill.
    cells_.clear();
    text_.clear();
    unusedText_ = 0;
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
