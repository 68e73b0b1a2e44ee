#pragma once

// Toolkit-neutral window controls. Each holds only its state and announces every change
// through its change signal, so a drawing layer can keep its widget in step. No control knows
// about another.

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

// Colours: 0xRRGGBB, or one of the system colours below (negative values).
using TColor = int32_t;
constexpr TColor clBtnFace = -1;       // the button-face system colour
constexpr TColor clHighlightText = -2; // the highlight-text system colour
constexpr TColor clWindow = -3;        // the window background system colour
constexpr TColor clWindowText = -4;    // the window text system colour
constexpr TColor clBlack = 0x000000;
constexpr TColor clRed = 0xFF0000;
constexpr TColor clGreen = 0x008000;

// A list of callbacks; emitting calls each in the order of connection.
class Signal {
public:
    using Slot = std::function<void()>;
    void Connect(Slot slot) { slots_.push_back(std::move(slot)); }
    void Emit() const {
        for (const auto& slot : slots_)
            slot();
    }

private:
    std::vector<Slot> slots_;
};

// The state every control has. Caption is the text a control shows as its own (a button's or
// panel's caption, a tab's title, an edit box's text); LabelText is the label beside it.
class TControl {
public:
    explicit TControl(std::string name, std::string caption = {}, std::string labelText = {});
    virtual ~TControl() = default;
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    const std::string& Name() const { return name_; }
    const std::string& LabelText() const { return labelText_; }

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& hint);
    // What the control is for, in a sentence or two: a tooltip, and what assistive technology
    // reads out after the control's name.
    const std::string& Description() const { return description_; }
    void SetDescription(const std::string& description);
    int32_t Tag() const { return tag_; }
    void SetTag(int32_t tag);
    bool Bold() const { return bold_; }
    void SetBold(bool bold);
    TColor FontColor() const { return fontColor_; }
    void SetFontColor(TColor color);
    TColor Color() const { return color_; }
    void SetColor(TColor color);
    bool FixedPitch() const { return fixedPitch_; }
    void SetFixedPitch(bool fixedPitch);
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool readOnly);

    // Asks the drawing layer to give this control the input focus.
    void SetFocus() { FocusRequested.Emit(); }

    Signal Changed;
    Signal FocusRequested;

protected:
    void NotifyChanged() { Changed.Emit(); }

private:
    template <typename T> void Set(T& field, const T& value);

    std::string name_;
    std::string caption_;
    std::string labelText_;
    bool enabled_ = true;
    bool visible_ = true;
    std::string hint_;
    std::string description_;
    int32_t tag_ = 0;
    bool bold_ = false;
    TColor fontColor_ = clWindowText;
    TColor color_ = clBtnFace;
    bool fixedPitch_ = false;
    bool readOnly_ = false;
};

class TLabel : public TControl {
public:
    using TControl::TControl;
};

class TPanel : public TControl {
public:
    using TControl::TControl;
};

class TButton : public TControl {
public:
    using TControl::TControl;
};

// A flat button.
class TSpeedButton : public TControl {
public:
    using TControl::TControl;
};

// A one-line edit box; its text is the caption.
class TEdit : public TControl {
public:
    using TControl::TControl;
    const std::string& Text() const { return Caption(); }
    void SetText(const std::string& text) { SetCaption(text); }
    // Shown greyed in the empty box: what goes there.
    const std::string& PlaceholderText() const { return placeholderText_; }
    void SetPlaceholderText(const std::string& text);

private:
    std::string placeholderText_;
};

class TCheckBox : public TControl {
public:
    using TControl::TControl;
    bool Checked() const { return checked_; }
    void SetChecked(bool checked);

private:
    bool checked_ = false;
};

class TComboBox : public TControl {
public:
    using TControl::TControl;
    const std::vector<std::string>& Items() const { return items_; }
    void SetItems(std::vector<std::string> items);
    // -1 when no item is selected.
    int ItemIndex() const { return itemIndex_; }
    void SetItemIndex(int index);

private:
    std::vector<std::string> items_;
    int itemIndex_ = -1;
};

// A multi-line text. Text() joins the lines with "\r\n"; SetText splits at "\r\n", "\n" or "\r".
class TMemo : public TControl {
public:
    using TControl::TControl;
    const std::vector<std::string>& Lines() const { return lines_; }
    std::string Text() const;
    void SetText(const std::string& text);
    // SetText with the text already split (SplitLines), which may be done on another thread.
    void SetLines(std::vector<std::string> lines);
    static std::vector<std::string> SplitLines(const std::string& text);
    void Add(const std::string& line);
    void Clear();

private:
    std::vector<std::string> lines_;
};

// A list with columns; each item is one row of texts, and one row may be chosen.
class TListView : public TControl {
public:
    // A deque: a row inserted on top of a long list costs no more than one at the end.
    using Rows = std::deque<std::vector<std::string>>;

    TListView(std::string name, std::vector<std::string> columns);
    const std::vector<std::string>& Columns() const { return columns_; }
    const Rows& Items() const { return items_; }
    // One announcement for the whole list, none when it already shows these rows. No row is
    // chosen afterwards.
    void SetItems(std::vector<std::vector<std::string>> rows);
    void Clear();
    // Counts the changes of SetItems and Clear, so a drawing layer redraws the rows only when
    // they changed, not when the chosen row did.
    uint64_t ItemsVersion() const { return itemsVersion_; }

    // One row inserted before index (Items().size() appends) or deleted, announced through
    // RowChanged rather than Changed: a drawing layer adds or removes that row instead of
    // drawing a long list anew. The chosen row stays chosen.
    void InsertItem(int index, std::vector<std::string> row);
    void DeleteItem(int index);
    struct RowChange {
        bool inserted = false; // or deleted
        int index = -1;
    };
    const RowChange& LastRowChange() const { return lastRowChange_; }
    Signal RowChanged;

    // The chosen row, -1 for none. Choosing another row announces it, then calls OnSelectItem.
    int ItemIndex() const { return itemIndex_; }
    void SetItemIndex(int index);
    std::function<void()> OnSelectItem;

private:
    void Unchoose();

    std::vector<std::string> columns_;
    Rows items_;
    uint64_t itemsVersion_ = 0;
    RowChange lastRowChange_;
    int itemIndex_ = -1;
};

// A tab of a page control; Visible() is whether its tab is shown.
class TTabSheet : public TControl {
public:
    using TControl::TControl;
};

class TPageControl : public TControl {
public:
    TPageControl(std::string name, std::vector<TTabSheet*> pages);
    const std::vector<TTabSheet*>& Pages() const { return pages_; }
    int ActivePageIndex() const { return activePageIndex_; }
    // An index outside the pages is ignored.
    void SetActivePageIndex(int index);
    TTabSheet* ActivePage() const;
    void SetActivePage(const TTabSheet& page);

private:
    std::vector<TTabSheet*> pages_;
    int activePageIndex_ = 0;
};
