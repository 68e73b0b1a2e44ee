#include "Controls.h"

#include <algorithm>
#include <iterator>
#include <utility>

// --- TControl -------------------------------------------------------------------------------

TControl::TControl(std::string name, std::string caption, std::string labelText)
    : name_(std::move(name)), caption_(std::move(caption)), labelText_(std::move(labelText)) {}

template <typename T> void TControl::Set(T& field, const T& value) {
    if (field == value)
        return;
    field = value;
    NotifyChanged();
}

void TControl::SetCaption(const std::string& caption) {
    Set(caption_, caption);
}
void TControl::SetEnabled(bool enabled) {
    Set(enabled_, enabled);
}
void TControl::SetVisible(bool visible) {
    Set(visible_, visible);
}
void TControl::SetHint(const std::string& hint) {
    Set(hint_, hint);
}
void TControl::SetDescription(const std::string& description) {
    Set(description_, description);
}
void TControl::SetTag(int32_t tag) {
    Set(tag_, tag);
}
void TControl::SetBold(bool bold) {
    Set(bold_, bold);
}
void TControl::SetFontColor(TColor color) {
    Set(fontColor_, color);
}
void TControl::SetColor(TColor color) {
    Set(color_, color);
}
void TControl::SetFixedPitch(bool fixedPitch) {
    Set(fixedPitch_, fixedPitch);
}
void TControl::SetReadOnly(bool readOnly) {
    Set(readOnly_, readOnly);
}

// --- TEdit ---------------------------------------------------------------------------------

void TEdit::SetPlaceholderText(const std::string& text) {
    if (placeholderText_ == text)
        return;
    placeholderText_ = text;
    NotifyChanged();
}

// --- TCheckBox ------------------------------------------------------------------------------

void TCheckBox::SetChecked(bool checked) {
    if (checked_ == checked)
        return;
    checked_ = checked;
    NotifyChanged();
}

// --- TComboBox ------------------------------------------------------------------------------

void TComboBox::SetItems(std::vector<std::string> items) {
    if (items_ == items)
        return;
    items_ = std::move(items);
    // A selection that no longer points at an item is dropped.
    if (itemIndex_ >= static_cast<int>(items_.size()))
        itemIndex_ = -1;
    NotifyChanged();
}

void TComboBox::SetItemIndex(int index) {
    if (index < -1 || index >= static_cast<int>(items_.size()) || index == itemIndex_)
        return;
    itemIndex_ = index;
    NotifyChanged();
}

// --- TMemo ----------------------------------------------------------------------------------
//
// Lines are separated, not terminated, by "\r\n": a text ending in a line break has an empty
// last line, so the text a widget shows survives a round trip through the memo unchanged.

std::string TMemo::Text() const {
    std::string text;
    std::size_t size = 0;
    for (const auto& line : lines_)
        size += line.size() + 2;
    text.reserve(size);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (i > 0)
            text += "\r\n";
        text += lines_[i];
    }
    return text;
}

void TMemo::SetText(const std::string& text) {
    SetLines(SplitLines(text));
}

void TMemo::SetLines(std::vector<std::string> lines) {
    if (lines == lines_)
        return;
    lines_ = std::move(lines);
    NotifyChanged();
}

std::vector<std::string> TMemo::SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    if (!text.empty()) {
        std::size_t start = 0;
        for (;;) {
            // A plain scan: find_first_of looks each character up in its set, which made showing
            // an exchange's bodies a noticeable part of a poll.
            std::size_t end = start;
            while (end < text.size() && text[end] != '\r' && text[end] != '\n')
                ++end;
            if (end == text.size()) {
                lines.emplace_back(text, start);
                break;
            }
            lines.emplace_back(text, start, end - start);
            // "\r\n" ends one line, as does a lone "\r" or "\n".
            start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
        }
    }
    return lines;
}

void TMemo::Add(const std::string& line) {
    lines_.push_back(line);
    NotifyChanged();
}

void TMemo::Clear() {
    if (lines_.empty())
        return;
    lines_.clear();
    NotifyChanged();
}

// --- TListView ------------------------------------------------------------------------------

TListView::TListView(std::string name, std::vector<std::string> columns)
    : TControl(std::move(name)), columns_(std::move(columns)) {}

void TListView::SetItems(std::vector<std::vector<std::string>> rows) {
    if (std::equal(rows.begin(), rows.end(), items_.begin(), items_.end()))
        return;
    items_.assign(std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    ++itemsVersion_;
    Unchoose();
}

void TListView::Clear() {
    SetItems({});
}

void TListView::Unchoose() {
    const bool wasChosen = itemIndex_ >= 0;
    itemIndex_ = -1;
    NotifyChanged();
    if (wasChosen && OnSelectItem)
        OnSelectItem();
}

void TListView::InsertItem(int index, std::vector<std::string> row) {
    if (index < 0 || index > static_cast<int>(items_.size()))
        return;
    items_.insert(items_.begin() + index, std::move(row));
    if (itemIndex_ >= index)
        ++itemIndex_;
    lastRowChange_ = {true, index};
    RowChanged.Emit();
}

void TListView::DeleteItem(int index) {
    if (index < 0 || index >= static_cast<int>(items_.size()))
        return;
    items_.erase(items_.begin() + index);
    const bool chosenGone = itemIndex_ == index;
    if (itemIndex_ > index)
        --itemIndex_;
    lastRowChange_ = {false, index};
    RowChanged.Emit();
    if (chosenGone)
        Unchoose();
}

void TListView::SetItemIndex(int index) {
    if (index < -1 || index >= static_cast<int>(items_.size()) || index == itemIndex_)
        return;
    itemIndex_ = index;
    NotifyChanged();
    if (OnSelectItem)
        OnSelectItem();
}

// --- TPageControl ---------------------------------------------------------------------------

TPageControl::TPageControl(std::string name, std::vector<TTabSheet*> pages)
    : TControl(std::move(name)), pages_(std::move(pages)) {}

void TPageControl::SetActivePageIndex(int index) {
    if (index < 0 || index >= static_cast<int>(pages_.size()) || index == activePageIndex_)
        return;
    activePageIndex_ = index;
    NotifyChanged();
}

TTabSheet* TPageControl::ActivePage() const {
    if (activePageIndex_ < 0 || activePageIndex_ >= static_cast<int>(pages_.size()))
        return nullptr;
    return pages_[static_cast<std::size_t>(activePageIndex_)];
}

void TPageControl::SetActivePage(const TTabSheet& page) {
    const auto it = std::find(pages_.begin(), pages_.end(), &page);
    if (it != pages_.end())
        SetActivePageIndex(static_cast<int>(it - pages_.begin()));
}
