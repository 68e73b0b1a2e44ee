#include "MainWindow.h"

#include "Application.h"
#include "GridTableModel.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>

// What the bindings share with the window. They outlive the window inside the controls' change
// signals, so they hold this by shared pointer and do nothing once the window is gone.
struct MainWindowBindings {
    bool dead = false;
    // The widget whose own input is being handed to the model: its push is skipped.
    QWidget* updatingFromWidget = nullptr;
};

namespace {

// The window's size: the smallest it may get, and its client area when it opens.
constexpr int kMinimumWidth = 650;
constexpr int kMinimumHeight = 827;
constexpr int kInitialWidth = 634;
constexpr int kInitialHeight = 788;

constexpr int kGridRowHeight = 20;
constexpr int kCellPadding = 10; // pixels around a cell's text

QString ToQString(const std::string& text) {
    return QString::fromStdString(text);
}

// Button, check box and tab captions would take "&" for a mnemonic marker.
QString ShownCaption(const std::string& caption) {
    return ToQString(caption).replace(QLatin1Char('&'), QLatin1String("&&"));
}

QColor ToQColor(TColor color, const QPalette& palette) {
    switch (color) {
    case clBtnFace:
        return palette.color(QPalette::Button);
    case clHighlightText:
        return palette.color(QPalette::HighlightedText);
    case clWindow:
        return palette.color(QPalette::Base);
    case clWindowText:
        return palette.color(QPalette::WindowText);
    default:
        return QColor((color >> 16) & 0xFF, (color >> 8) & 0xFF, color & 0xFF);
    }
}

QFont FixedFont() {
    return QFontDatabase::systemFont(QFontDatabase::FixedFont);
}

// The state every control has: enabled, visible, font style and text colour.
void ApplyCommon(const TControl& control, QWidget& widget) {
    widget.setEnabled(control.Enabled());
    widget.setHidden(!control.Visible());

    // Only widgets that differ from the window's look get a font or palette of their own.
    if (control.FixedPitch() || control.Bold() || widget.testAttribute(Qt::WA_SetFont)) {
        QFont font = control.FixedPitch() ? FixedFont() : QFont();
        font.setBold(control.Bold());
        if (widget.font() != font)
            widget.setFont(font);
    }
    if (control.FontColor() != clWindowText || widget.testAttribute(Qt::WA_SetPalette)) {
        QPalette palette = QApplication::palette(&widget);
        if (control.FontColor() != clWindowText) {
            const QColor text = ToQColor(control.FontColor(), palette);
            // A disabled control keeps the greyed text of the style.
            for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
                for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
                    palette.setColor(group, role, text);
        }
        if (widget.palette() != palette)
            widget.setPalette(palette);
    }
}

QString JoinLines(const std::vector<std::string>& lines) {
    QStringList list;
    list.reserve(static_cast<int>(lines.size()));
    for (const auto& line : lines)
        list << ToQString(line);
    return list.join(QLatin1Char('\n'));
}

QWidget* Row(std::initializer_list<QWidget*> widgets, bool stretchAtEnd = false) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QWidget* widget : widgets)
        layout->addWidget(widget);
    if (stretchAtEnd)
        layout->addStretch(1);
    return row;
}

QGroupBox* Group(const QString& title, const QString& name) {
    auto* group = new QGroupBox(title);
    group->setObjectName(name);
    return group;
}

// An edit box wide enough for about this many characters of its own font.
void SetWidthInChars(QLineEdit* edit, int chars) {
    edit->setFixedWidth(edit->fontMetrics().averageCharWidth() * chars + kCellPadding * 2);
}

} // namespace

MainWindow::MainWindow(TForm1& form, QtToolkit& toolkit, QWidget* parent)
    : QMainWindow(parent), form_(form), toolkit_(toolkit), bindings_(std::make_shared<MainWindowBindings>()) {
    setObjectName(ToQString(form_.Name()));
    toolkit_.SetMainWindow(this);

    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    layout->addWidget(BuildSettingsPanel());

    QTabWidget* pageControl1 =
        PageControl(form_.PageControl1, {BuildHmacTab(), BuildSessionTab(), BuildDialogTab(),
                                         BuildScanCodeTab(), BuildExternalPaymentTab()});
    layout->addWidget(pageControl1);
    layout->addWidget(BuildPanel2());
    // The verdict and the timing go beside the status strip, which keeps its own caption.
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(StatusStrip(form_.pnlHttpResponse), 3);
    statusRow->addWidget(StatusStrip(form_.pnlVerdict), 3);
    statusRow->addWidget(Edit(form_.edtTiming), 2);
    layout->addLayout(statusRow);
    layout->addWidget(BuildExchangeTabs(), 1);
    setCentralWidget(central);

    Watch(form_, this, [this] { setWindowTitle(ToQString(form_.Caption())); });

    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(kInitialWidth, kInitialHeight);
}

MainWindow::~MainWindow() {
    // The controls outlive the window: from here on neither side may reach the other.
    bindings_->dead = true;
    for (QObject* child : findChildren<QObject*>())
        child->blockSignals(true);
}

void MainWindow::Start() {
    form_.FormShow();
    show();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Background work must stop reaching for the window before the form goes away.
    toolkit_.Close();
    QMainWindow::closeEvent(event);
}

// --- Layout ---------------------------------------------------------------------------------

QWidget* MainWindow::BuildSettingsPanel() {
    TForm1& f = form_;
    QWidget* panel = Panel(f.Panel1);
    auto* rows = new QVBoxLayout(panel);
    rows->setContentsMargins(4, 4, 4, 4);
    rows->setSpacing(3);

    QLineEdit* subscriptionId = Edit(f.edtSubscriptionId);
    QLineEdit* baseUrl = Edit(f.edtBaseURL);
    auto* row1 = new QHBoxLayout;
    row1->addWidget(Label(f.edtSubscriptionId));
    row1->addWidget(subscriptionId, 1);
    row1->addWidget(Label(f.edtBaseURL));
    row1->addWidget(baseUrl, 1);
    rows->addLayout(row1);

    auto* row2 = new QHBoxLayout;
    row2->addWidget(Label(f.edtSecret));
    row2->addWidget(Edit(f.edtSecret), 1);
    row2->addWidget(Button(f.btnCreateSecret, &TForm1::btnCreateSecretClick));
    row2->addSpacing(8);
    row2->addWidget(CheckBox(f.chkSelfSigned));
    row2->addWidget(CheckBox(f.chkBlockingCall));
    rows->addLayout(row2);

    QLineEdit* eventId = Edit(f.edtEventId);
    QLineEdit* branch = Edit(f.edtBranchNumber);
    QLineEdit* workplace = Edit(f.edtWorkplaceNumber);
    SetWidthInChars(eventId, 10);
    SetWidthInChars(branch, 5);
    SetWidthInChars(workplace, 5);
    auto* row3 = new QHBoxLayout;
    row3->addWidget(Label(f.edtEventId));
    row3->addWidget(eventId);
    row3->addSpacing(8);
    row3->addWidget(Label(f.edtBranchNumber));
    row3->addWidget(branch);
    row3->addSpacing(8);
    row3->addWidget(Label(f.edtWorkplaceNumber));
    row3->addWidget(workplace);
    row3->addStretch(1);
    row3->addWidget(Button(f.btnConfigOpslaan, &TForm1::btnConfigOpslaanClick));
    row3->addWidget(Button(f.btnConfigInlezen, &TForm1::btnConfigInlezenClick));
    rows->addLayout(row3);
    return panel;
}

QWidget* MainWindow::BuildHmacTab() {
    TForm1& f = form_;
    QWidget* page = TabPage(f.TabSheetHMAC);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(Memo(f.mmMessage, true), 1);
    auto* row = new QHBoxLayout;
    row->addWidget(Button(f.btnGenerateHMAC, &TForm1::btnGenerateHMACClick));
    row->addWidget(Edit(f.edtSignature), 1);
    layout->addLayout(row);
    return page;
}

QWidget* MainWindow::BuildSessionTab() {
    TForm1& f = form_;
    QWidget* page = TabPage(f.TabSheetSession);
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(4, 4, 4, 4);
    QGroupBox* request = Group(QStringLiteral("Request"), QStringLiteral("grpSessionRequest"));
    pageLayout->addWidget(request);

    auto* layout = new QVBoxLayout(request);
    layout->setContentsMargins(6, 4, 6, 6);
    auto* idRow = new QHBoxLayout;
    idRow->addWidget(Label(f.edtSessionId));
    idRow->addWidget(Edit(f.edtSessionId), 1);
    idRow->addWidget(Button(f.btnGenerate, &TForm1::btnStartSessionClick));
    layout->addLayout(idRow);

    auto* body = new QHBoxLayout;
    auto* gridColumn = new QVBoxLayout;
    gridColumn->addWidget(Grid(f.gridSession), 1);
    QPushButton* add = Button(f.spdRegelToevoegen, &TForm1::spdRegelToevoegenClick);
    QPushButton* remove = Button(f.spdRegelVerwijderen, &TForm1::spdRegelVerwijderenClick);
    add->setFixedWidth(32);
    remove->setFixedWidth(32);
    gridColumn->addWidget(Row({add, remove}, true));
    body->addLayout(gridColumn, 1);

    auto* events = new QVBoxLayout;
    events->setSpacing(2);
    const std::pair<TSpeedButton*, Handler> eventButtons[] = {
        {&f.spdStartSession, &TForm1::spdStartSessionClick},
        {&f.spdAddSessionLine, &TForm1::spdAddSessionLineClick},
        {&f.spdUpdateSessionLine, &TForm1::spdUpdateSessionLineClick},
        {&f.spdRemoveSessionLine, &TForm1::spdRemoveSessionLineClick},
        {&f.spdPauseSession, &TForm1::spdPauseSessionClick},
        {&f.spdResumeSession, &TForm1::spdResumeSessionClick},
        {&f.spdStartPayment, &TForm1::spdStartPaymentClick},
        {&f.spdCancelPayment, &TForm1::spdCancelPaymentClick},
        {&f.spdMergeSession, &TForm1::spdMergeSessionClick},
        {&f.spdCancelSession, &TForm1::spdCancelSessionClick},
        {&f.spdCompleteSession, &TForm1::spdCompleteSessionClick},
        {&f.spdCreditSession, &TForm1::spdCreditSessionClick},
    };
    for (const auto& [button, handler] : eventButtons)
        events->addWidget(Button(*button, handler));
    events->addStretch(1);
    body->addLayout(events);
    layout->addLayout(body, 1);
    return page;
}

QWidget* MainWindow::BuildDialogTab() {
    TForm1& f = form_;
    QWidget* page = TabPage(f.TabSheetDialog);
    auto* layout = new QVBoxLayout(page);
    auto* fields = new QFormLayout;
    for (TEdit* edit : {&f.edtDialogTitle, &f.edtRequired, &f.edtAllowMultipleOptions})
        fields->addRow(Label(*edit), Edit(*edit));
    layout->addLayout(fields);

    layout->addWidget(Button(f.spdButton1, &TForm1::spdButton1Click));
    layout->addWidget(Button(f.spdButton2, &TForm1::spdButton2Click));
    layout->addWidget(Button(f.spdButton3, &TForm1::spdButton3Click));
    layout->addWidget(Button(f.spdButton4, &TForm1::spdButton4Click));
    layout->addWidget(Button(f.spdButton5, &TForm1::spdButton5Click));

    layout->addWidget(Row({Button(f.spdConfirmDialog, &TForm1::spdConfirmDialogClick),
                           Button(f.spdSkipDialog, &TForm1::spdSkipDialogClick)},
                          true));
    layout->addStretch(1);
    return page;
}

QWidget* MainWindow::BuildScanCodeTab() {
    TForm1& f = form_;
    QWidget* page = TabPage(f.TabSheetScanCode);
    auto* layout = new QVBoxLayout(page);

    QGroupBox* request = Group(QStringLiteral("Request"), QStringLiteral("grpScanCodeRequest"));
    auto* requestRow = new QHBoxLayout(request);
    requestRow->addWidget(Label(f.edtCode));
    requestRow->addWidget(Edit(f.edtCode), 1);
    requestRow->addWidget(ComboBox(f.cmbCodeType));
    requestRow->addWidget(Button(f.spdScanCode, &TForm1::spdScanCodeClick));
    layout->addWidget(request);

    QGroupBox* response = Group(QStringLiteral("Response"), QStringLiteral("grpScanCodeResponse"));
    auto* fields = new QFormLayout(response);
    for (TEdit* edit : {&f.edtScanCodeRecognized, &f.edtScanCodeMessage, &f.edtScanCodeCustomerMessage,
                        &f.edtScanCodeRelationNumber})
        fields->addRow(Label(*edit), Edit(*edit));
    layout->addWidget(response);
    layout->addStretch(1);
    return page;
}

QWidget* MainWindow::BuildExternalPaymentTab() {
    TForm1& f = form_;
    QWidget* page = TabPage(f.TabSheetExternalPayment);
    auto* layout = new QVBoxLayout(page);

    QGroupBox* request = Group(QStringLiteral("Request"), QStringLiteral("grpExternalPaymentRequest"));
    auto* requestLayout = new QVBoxLayout(request);
    auto* fields = new QFormLayout;
    fields->addRow(Label(f.edtPaymentMethod), Edit(f.edtPaymentMethod));
    fields->addRow(Label(f.edtExternalPaymentId), Edit(f.edtExternalPaymentId));
    requestLayout->addLayout(fields);
    auto* buttons = new QGridLayout;
    buttons->addWidget(Button(f.spdStartExternalPayment, &TForm1::spdStartExternalPaymentClick), 0, 0);
    buttons->addWidget(Button(f.spdPollExternalPayment, &TForm1::spdPollExternalPaymentClick), 0, 1);
    buttons->addWidget(
        Button(f.spdRequestCancelExternalPayment, &TForm1::spdRequestCancelExternalPaymentClick), 1, 0);
    buttons->addWidget(Button(f.spdCancelExternalPayment, &TForm1::spdCancelExternalPaymentClick), 1, 1);
    requestLayout->addLayout(buttons);
    layout->addWidget(request);

    QGroupBox* response = Group(QStringLiteral("Response"), QStringLiteral("grpExternalPaymentResponse"));
    auto* responseFields = new QFormLayout(response);
    for (TEdit* edit :
         {&f.edtExternalPaymentStarted, &f.edtExternalPaymentConfirmed, &f.edtExternalPaymentCancelled,
          &f.edtExternalPaymentMessage, &f.edtExternalPaymentCustomerMessage})
        responseFields->addRow(Label(*edit), Edit(*edit));
    layout->addWidget(response);
    layout->addStretch(1);
    return page;
}

QWidget* MainWindow::BuildPanel2() {
    TForm1& f = form_;
    QWidget* panel = Panel(f.Panel2);
    auto* fields = new QFormLayout(panel);
    fields->setContentsMargins(4, 2, 4, 2);
    fields->setVerticalSpacing(3);
    for (TEdit* edit : {&f.txtWebhookUrl, &f.txtDebugFile, &f.edtConfigBestand})
        fields->addRow(Label(*edit), Edit(*edit));
    QPlainTextEdit* messages = Memo(f.mmMessages, false);
    messages->setFixedHeight(messages->fontMetrics().lineSpacing() * 4 + 2 * messages->frameWidth() + 8);
    fields->addRow(Label(f.mmMessages), messages);
    return panel;
}

QWidget* MainWindow::BuildExchangeTabs() {
    TForm1& f = form_;
    auto page = [this](TTabSheet& sheet, QWidget* content) {
        QWidget* widget = TabPage(sheet);
        auto* layout = new QVBoxLayout(widget);
        layout->setContentsMargins(2, 2, 2, 2);
        layout->addWidget(content);
        return widget;
    };
    return PageControl(
        f.PageControl2,
        {page(f.TabSheet1, ListView(f.lvRequestHeaders)), page(f.TabSheet2, Memo(f.mmRequestBody, false)),
         page(f.TabSheet3, ListView(f.lvResponseHeaders)), page(f.TabSheet4, Memo(f.mmResponseBody, false)),
         page(f.TabSheetErrorRequestHeaders, ListView(f.lvErrorRequestHeaders)),
         page(f.TabSheetErrorRequestBody, Memo(f.mmErrorRequestBody, false)),
         page(f.TabSheetChecks, ListView(f.lvChecks)), page(f.TabSheetHistory, BuildHistoryTab())});
}

QWidget* MainWindow::BuildHistoryTab() {
    TForm1& f = form_;
    // The list with its filter and buttons on the left, the chosen entry whole on the right.
    auto* left = new QWidget;
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(Row({Label(f.edtHistoryFilter), Edit(f.edtHistoryFilter)}));
    QTreeWidget* list = ListView(f.lvHistory);
    list->header()->resizeSection(0, list->fontMetrics().averageCharWidth() * 13);
    leftLayout->addWidget(list, 1);
    auto* buttons = new QGridLayout;
    buttons->addWidget(Button(f.btnHistoryResend, &TForm1::btnHistoryResendClick), 0, 0);
    buttons->addWidget(Button(f.btnHistoryCopyCurl, &TForm1::btnHistoryCopyCurlClick), 0, 1);
    buttons->addWidget(Button(f.btnHistoryCopyResponse, &TForm1::btnHistoryCopyResponseClick), 1, 0);
    buttons->addWidget(Button(f.btnHistoryClear, &TForm1::btnHistoryClearClick), 1, 1);
    leftLayout->addLayout(buttons);

    auto* entry = new QSplitter(Qt::Vertical);
    entry->addWidget(Memo(f.mmHistoryRequest, false));
    entry->addWidget(Memo(f.mmHistoryResponse, false));
    entry->addWidget(ListView(f.lvHistoryChecks));

    auto* splitter = new QSplitter(Qt::Horizontal);
    splitter->addWidget(left);
    splitter->addWidget(entry);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);
    return splitter;
}

// --- Bindings -------------------------------------------------------------------------------

void MainWindow::Watch(TControl& control, QWidget* widget, std::function<void()> push) {
    QPointer<QWidget> guard(widget);
    std::shared_ptr<MainWindowBindings> bindings = bindings_;
    auto update = [bindings, guard, push = std::move(push)] {
        if (bindings->dead || !guard || bindings->updatingFromWidget == guard.data())
            return;
        const QSignalBlocker blocker(guard.data());
        push();
    };
    control.Changed.Connect(update);
    update();
}

void MainWindow::Bind(TControl& control, QWidget* widget, std::function<void()> push) {
    widget->setObjectName(ToQString(control.Name()));
    Watch(control, widget, [&control, widget, push = std::move(push)] {
        ApplyCommon(control, *widget);
        if (push)
            push();
    });
    QPointer<QWidget> guard(widget);
    std::shared_ptr<MainWindowBindings> bindings = bindings_;
    control.FocusRequested.Connect([bindings, guard] {
        if (!bindings->dead && guard)
            guard->setFocus(Qt::OtherFocusReason);
    });
}

void MainWindow::FromWidget(QWidget* widget, const std::function<void()>& action) {
    QWidget* previous = bindings_->updatingFromWidget;
    bindings_->updatingFromWidget = widget;
    action();
    bindings_->updatingFromWidget = previous;
}

void MainWindow::Click(Handler handler) {
    // std::invoke rather than (form_.*handler)(): GCC 12 with -fsanitize=undefined loses the
    // object of that call when it is a reference member.
    Application::Run(toolkit_, [this, handler] { std::invoke(handler, form_); });
}

QLabel* MainWindow::Label(TControl& control) {
    auto* label = new QLabel;
    label->setObjectName(ToQString(control.Name() + "Label"));
    label->setTextFormat(Qt::PlainText);
    Watch(control, label, [&control, label] {
        label->setText(ToQString(control.LabelText()));
        label->setHidden(!control.Visible());
    });
    return label;
}

QLineEdit* MainWindow::Edit(TEdit& edit) {
    auto* widget = new QLineEdit;
    // The default limit of 32767 characters would cut a long text short on screen and then in
    // the model, at the user's next keystroke.
    widget->setMaxLength(std::numeric_limits<int>::max());
    Bind(edit, widget, [&edit, widget] {
        const QString text = ToQString(edit.Text());
        if (widget->text() != text) {
            widget->setText(text);
            // Show a long text from its start, as it would be read.
            if (!widget->hasFocus())
                widget->setCursorPosition(0);
        }
        widget->setReadOnly(edit.ReadOnly());
    });
    connect(widget, &QLineEdit::textEdited, this, [this, &edit, widget](const QString& text) {
        FromWidget(widget, [&] { edit.SetText(text.toStdString()); });
    });
    return widget;
}

QPushButton* MainWindow::Button(TControl& button, Handler handler) {
    auto* widget = new QPushButton;
    widget->setAutoDefault(false);
    Bind(button, widget, [&button, widget] { widget->setText(ShownCaption(button.Caption())); });
    connect(widget, &QPushButton::clicked, this, [this, handler] { Click(handler); });
    return widget;
}

QCheckBox* MainWindow::CheckBox(TCheckBox& box) {
    auto* widget = new QCheckBox;
    Bind(box, widget, [&box, widget] {
        widget->setText(ShownCaption(box.Caption()));
        widget->setChecked(box.Checked());
    });
    connect(widget, &QCheckBox::toggled, this,
            [this, &box, widget](bool checked) { FromWidget(widget, [&] { box.SetChecked(checked); }); });
    return widget;
}

QComboBox* MainWindow::ComboBox(TComboBox& box) {
    auto* widget = new QComboBox;
    Bind(box, widget, [&box, widget] {
        QStringList items;
        for (const auto& item : box.Items())
            items << ToQString(item);
        QStringList shown;
        for (int i = 0; i < widget->count(); ++i)
            shown << widget->itemText(i);
        if (shown != items) {
            widget->clear();
            widget->addItems(items);
        }
        widget->setCurrentIndex(box.ItemIndex());
    });
    connect(widget, &QComboBox::currentIndexChanged, this,
            [this, &box, widget](int index) { FromWidget(widget, [&] { box.SetItemIndex(index); }); });
    return widget;
}

QPlainTextEdit* MainWindow::Memo(TMemo& memo, bool userEditable) {
    auto* widget = new QPlainTextEdit;
    widget->setReadOnly(!userEditable);
    Bind(memo, widget, [&memo, widget, userEditable] {
        widget->setReadOnly(!userEditable || memo.ReadOnly());
        const QString text = JoinLines(memo.Lines());
        const QString shown = widget->toPlainText();
        if (shown == text)
            return;
        // Lines added at the end (the messages) are appended, which keeps the view at the
        // newest line; anything else replaces the text and shows it from the top.
        if (!shown.isEmpty() && text.size() > shown.size() && text.startsWith(shown) &&
            text.at(shown.size()) == QLatin1Char('\n'))
            widget->appendPlainText(text.mid(shown.size() + 1));
        else
            widget->setPlainText(text);
    });
    if (userEditable)
        connect(widget, &QPlainTextEdit::textChanged, this, [this, &memo, widget] {
            FromWidget(widget, [&] { memo.SetText(widget->toPlainText().toStdString()); });
        });
    return widget;
}

QTreeWidget* MainWindow::ListView(TListView& list) {
    auto* widget = new QTreeWidget;
    widget->setRootIsDecorated(false);
    widget->setUniformRowHeights(true);
    widget->setSelectionMode(QAbstractItemView::SingleSelection);
    widget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QStringList columns;
    for (const auto& column : list.Columns())
        columns << ToQString(column);
    widget->setHeaderLabels(columns);
    widget->header()->resizeSection(0, widget->fontMetrics().averageCharWidth() * 24);
    auto item = [](const std::vector<std::string>& row) {
        QStringList texts;
        for (const auto& text : row)
            texts << ToQString(text);
        return new QTreeWidgetItem(texts);
    };
    // The rows are drawn anew only when they changed, not when the chosen one did.
    auto shownVersion = std::make_shared<uint64_t>(std::numeric_limits<uint64_t>::max());
    Bind(list, widget, [&list, widget, item, shownVersion] {
        if (*shownVersion != list.ItemsVersion()) {
            *shownVersion = list.ItemsVersion();
            widget->clear();
            QList<QTreeWidgetItem*> items;
            for (const auto& row : list.Items())
                items << item(row);
            widget->addTopLevelItems(items);
        }
        QTreeWidgetItem* chosen = list.ItemIndex() >= 0 ? widget->topLevelItem(list.ItemIndex()) : nullptr;
        if (widget->currentItem() != chosen) {
            widget->setCurrentItem(chosen);
            if (!chosen)
                widget->clearSelection();
        }
    });
    list.RowChanged.Connect([bindings = bindings_, guard = QPointer<QTreeWidget>(widget), &list, item] {
        if (bindings->dead || !guard)
            return;
        const QSignalBlocker blocker(guard.data());
        const TListView::RowChange& change = list.LastRowChange();
        if (change.inserted)
            guard->insertTopLevelItem(change.index,
                                      item(list.Items()[static_cast<std::size_t>(change.index)]));
        else
            delete guard->takeTopLevelItem(change.index);
    });
    connect(widget, &QTreeWidget::currentItemChanged, this, [this, &list, widget](QTreeWidgetItem* current) {
        FromWidget(widget, [&] { list.SetItemIndex(current ? widget->indexOfTopLevelItem(current) : -1); });
    });
    return widget;
}

QLabel* MainWindow::StatusStrip(TPanel& panel) {
    auto* widget = new QLabel;
    widget->setTextFormat(Qt::PlainText);
    widget->setAlignment(Qt::AlignCenter);
    widget->setAutoFillBackground(true);
    widget->setFrameShape(QFrame::StyledPanel);
    widget->setMinimumHeight(widget->fontMetrics().height() + 8);
    Bind(panel, widget, [&panel, widget] {
        widget->setText(ToQString(panel.Caption()));
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Window, ToQColor(panel.Color(), QApplication::palette(widget)));
        palette.setColor(QPalette::WindowText, ToQColor(panel.FontColor(), QApplication::palette(widget)));
        if (widget->palette() != palette)
            widget->setPalette(palette);
    });
    return widget;
}

QWidget* MainWindow::Panel(TPanel& panel) {
    auto* widget = new QFrame;
    widget->setFrameShape(QFrame::StyledPanel);
    Bind(panel, widget, nullptr);
    return widget;
}

QTableView* MainWindow::Grid(TGridControl& grid) {
    auto* view = new QTableView;
    gridModel_ = new GridTableModel(grid, toolkit_, view);
    view->setModel(gridModel_);
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(kGridRowHeight);
    view->horizontalHeader()->setSectionsMovable(true);
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    view->horizontalHeader()->setHighlightSections(false);
    view->setSelectionBehavior(QAbstractItemView::SelectItems);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
    view->setWordWrap(false);

    connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, view,
            [this, view, &grid](const QModelIndex& current) {
                FromWidget(
                    view, [&] { grid.SelectRow(current.isValid() ? current.row() + grid.FixedRows() : -1); });
            });

    // Automatic widths follow the contents, within the column's bounds, whenever rows change.
    auto autoWidths = [view, &grid] {
        const int charWidth = view->fontMetrics().averageCharWidth();
        const auto& columns = grid.Columns();
        for (int c = 0; c < static_cast<int>(columns.size()); ++c) {
            const auto& column = columns[static_cast<std::size_t>(c)];
            if (column.maxWidth <= 0)
                continue;
            view->resizeColumnToContents(c);
            const int low = column.minWidth * charWidth + kCellPadding;
            const int high = column.maxWidth * charWidth + kCellPadding;
            view->setColumnWidth(c, std::clamp(view->columnWidth(c), low, std::max(low, high)));
        }
    };
    connect(gridModel_, &GridTableModel::gridRebuilt, view, autoWidths);

    auto shownColumns = std::make_shared<int>(-1);
    Bind(grid, view, [view, &grid, model = gridModel_, shownColumns, autoWidths] {
        // Widths in characters, set when the columns are defined; the user may change them.
        if (*shownColumns != grid.ColumnCount()) {
            *shownColumns = grid.ColumnCount();
            const int charWidth = view->fontMetrics().averageCharWidth();
            for (int c = 0; c < grid.ColumnCount(); ++c) {
                const auto& column = grid.Columns()[static_cast<std::size_t>(c)];
                view->setColumnWidth(c, column.width * charWidth + kCellPadding);
                view->setColumnHidden(c, !column.visible);
            }
            autoWidths();
        }
        // The selected row is the model's: a rebuilt grid has none.
        const int selected = grid.SelectedRow();
        const QModelIndex current = view->currentIndex();
        const int shown = current.isValid() ? current.row() + grid.FixedRows() : -1;
        if (selected == shown)
            return;
        const int row = selected - grid.FixedRows();
        if (selected >= 0 && row < model->rowCount()) {
            view->setCurrentIndex(model->index(row, current.isValid() ? current.column() : 0));
        } else {
            view->selectionModel()->clearSelection();
            view->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        }
    });
    return view;
}

QWidget* MainWindow::TabPage(TTabSheet& sheet) {
    auto* page = new QWidget;
    page->setObjectName(ToQString(sheet.Name()));
    return page;
}

QTabWidget* MainWindow::PageControl(TPageControl& control, const std::vector<QWidget*>& pages) {
    auto* tabs = new QTabWidget;
    const auto& sheets = control.Pages();
    for (std::size_t i = 0; i < pages.size() && i < sheets.size(); ++i)
        tabs->addTab(pages[i], ShownCaption(sheets[i]->Caption()));

    // A tab stays at its index when it is hidden, so the model's page index is the widget's.
    for (std::size_t i = 0; i < pages.size() && i < sheets.size(); ++i) {
        TTabSheet& sheet = *sheets[i];
        const int index = static_cast<int>(i);
        Watch(sheet, tabs, [&sheet, tabs, index] {
            tabs->setTabText(index, ShownCaption(sheet.Caption()));
            tabs->setTabVisible(index, sheet.Visible());
            tabs->setTabEnabled(index, sheet.Enabled());
        });
    }
    Bind(control, tabs, [&control, tabs] {
        if (tabs->currentIndex() != control.ActivePageIndex())
            tabs->setCurrentIndex(control.ActivePageIndex());
    });
    connect(tabs, &QTabWidget::currentChanged, this, [this, &control, tabs](int index) {
        FromWidget(tabs, [&] { control.SetActivePageIndex(index); });
    });
    return tabs;
}
