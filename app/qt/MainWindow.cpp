#include "MainWindow.h"

#include "GridTableModel.h"
#include "LineView.h"

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
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <functional>
#include <limits>
#include <map>
#include <memory>

// Brings one widget in step with its control.
struct WidgetPush {
    std::function<void()> run;
    bool pending = false;
};

// What the bindings share with the window. They outlive the window inside the controls' change
// signals, so they hold this by shared pointer and do nothing once the window is gone.
struct MainWindowBindings {
    bool dead = false;
    // The widget whose own input is being handed to the model: its push is skipped.
    QWidget* updatingFromWidget = nullptr;
    // Each control's widget and label, so that whichever comes second links the two.
    std::map<const TControl*, QWidget*> widgets;
    std::map<const TControl*, QLabel*> labels;
    // Holds the focus of a widget while the model has it disabled (see ApplyEnabled).
    QPointer<QWidget> focusPark;
    QPointer<QWidget> parkedFocus;

    // A change made by background work (a poll's answer, handed over by its task) reaches the
    // widgets with the next frame, together with every other change of that frame: a chain of
    // polls answered in a millisecond each would otherwise spend the window's thread on widgets
    // nobody can read that fast. The user's own actions show at once, after what is pending.
    std::function<bool()> inBackgroundWork;
    std::function<void()> schedulePending;
    std::vector<std::shared_ptr<WidgetPush>> pending;

    void Request(const std::shared_ptr<WidgetPush>& push) {
        if (inBackgroundWork()) {
            if (!push->pending) {
                push->pending = true;
                pending.push_back(push);
                if (pending.size() == 1)
                    schedulePending();
            }
            return;
        }
        const bool ranWithPending = push->pending;
        RunPending();
        if (!ranWithPending)
            push->run();
    }
    void RunPending() {
        if (dead)
            return;
        std::vector<std::shared_ptr<WidgetPush>> pushes;
        pushes.swap(pending);
        for (const std::shared_ptr<WidgetPush>& push : pushes) {
            push->pending = false;
            push->run();
        }
    }
};

namespace {

// The window's size: the smallest it may get, and its client area when it opens.
constexpr int kMinimumWidth = 650;
constexpr int kMinimumHeight = 827;
constexpr int kInitialWidth = 634;
constexpr int kInitialHeight = 788;

// How often background changes reach the widgets (see MainWindowBindings::Request).
constexpr std::chrono::milliseconds kFramePeriod(16);

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

// Qt hands the focus of a widget being disabled to the next one in the tab order, where a line
// edit selects its whole text; after a send or a poll the user would find the focus elsewhere.
// Instead the focus waits aside and comes back when the widget is enabled again, unless the user
// has put it somewhere meanwhile.
void ApplyEnabled(MainWindowBindings& bindings, const TControl& control, QWidget& widget) {
    if (widget.testAttribute(Qt::WA_Disabled) == !control.Enabled())
        return;
    QWidget* park = bindings.focusPark.data();
    if (!control.Enabled() && park && widget.window()->focusWidget() == &widget) {
        park->setFocus(Qt::OtherFocusReason);
        bindings.parkedFocus = &widget;
    }
    widget.setEnabled(control.Enabled());
    if (control.Enabled() && bindings.parkedFocus == &widget) {
        bindings.parkedFocus = nullptr;
        if (park && park->window()->focusWidget() == park)
            widget.setFocus(Qt::OtherFocusReason);
    }
}

// What a label says, as the name of the control it labels ("Base URL:" names "Base URL").
QString AccessibleName(const QString& labelText) {
    QString name = labelText.trimmed();
    if (name.endsWith(QLatin1Char(':')))
        name.chop(1);
    return name;
}

// Only a widget the model hides is hidden, and only one hidden before is shown again: showing
// one that was never hidden would lay it out once more (setVisible activates its layout) for
// nothing, which cost the window's start a good part of its time.
void ApplyVisible(const TControl& control, QWidget& widget) {
    const bool hide = !control.Visible();
    const bool hidden = widget.isHidden() && widget.testAttribute(Qt::WA_WState_ExplicitShowHide);
    if (hide != hidden)
        widget.setHidden(hide);
}

// The state every control has: enabled, visible, font style, text colour and description.
void ApplyCommon(MainWindowBindings& bindings, const TControl& control, QWidget& widget) {
    ApplyEnabled(bindings, control, widget);
    ApplyVisible(control, widget);
    const QString description = ToQString(control.Description());
    if (widget.toolTip() != description) {
        widget.setToolTip(description);
        widget.setAccessibleDescription(description);
    }

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
    auto* pendingTimer = new QTimer(this);
    pendingTimer->setSingleShot(true);
    pendingTimer->setTimerType(Qt::PreciseTimer);
    pendingTimer->setInterval(kFramePeriod);
    connect(pendingTimer, &QTimer::timeout, this, [this] { bindings_->RunPending(); });
    bindings_->schedulePending = [pendingTimer] { pendingTimer->start(); };
    bindings_->inBackgroundWork = [this] { return toolkit_.RunningQueuedWork(); };

    // Disabled boxes (a dialog's title and flags) are read, not typed in: their text keeps the
    // normal colour.
    QPalette edits = QApplication::palette("QLineEdit");
    edits.setColor(QPalette::Disabled, QPalette::Text, edits.color(QPalette::Active, QPalette::Text));
    QApplication::setPalette(edits, "QLineEdit");

    auto* central = new QWidget;
    central->setObjectName(QStringLiteral("content"));
    bindings_->focusPark = central;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    layout->addWidget(BuildSettingsPanel());

    QTabWidget* pageControl1 =
        PageControl(form_.PageControl1, {BuildHmacTab(), BuildSessionTab(), BuildDialogTab(),
                                         BuildScanCodeTab(), BuildExternalPaymentTab()});
    layout->addWidget(pageControl1);
    layout->addWidget(BuildPanel2());
    // The verdict, the timing and Cancel go beside the status strip, which keeps its own caption.
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(StatusStrip(form_.pnlHttpResponse), 3);
    statusRow->addWidget(StatusStrip(form_.pnlVerdict), 3);
    statusRow->addWidget(Edit(form_.edtTiming), 2);
    // Cancel is pressed while another press is still running, so it does not go through Press:
    // it is not a step of its own, it ends the step in flight.
    QPushButton* cancel = Button(form_.btnCancelExchange, [this] { form_.btnCancelExchangeClick(); });
    statusRow->addWidget(cancel);
    toolkit_.SetCancelButton(cancel);
    layout->addLayout(statusRow);
    layout->addWidget(BuildExchangeTabs(), 1);

    // On a screen smaller than the window's minimum the content scrolls, so all of it can be
    // reached.
    central->setMinimumSize(kMinimumWidth, kMinimumHeight);
    auto* scroller = new QScrollArea;
    scroller->setObjectName(QStringLiteral("contentScroller"));
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setWidgetResizable(true);
    scroller->setWidget(central);
    setCentralWidget(scroller);

    Watch(form_, this, [this] { setWindowTitle(ToQString(form_.Caption())); });

    resize(kInitialWidth, kInitialHeight);
    FitToScreen();
}

void MainWindow::FitToScreen() {
    QScreen* shownOn = screen();
    if (!shownOn)
        return;
    // The frame the window manager adds, once the window is on screen.
    const QSize frame = isVisible() ? frameGeometry().size() - geometry().size() : QSize(0, 0);
    const QSize room = shownOn->availableGeometry().size() - frame;
    // Content that scrolls one way needs the room of a scroll bar the other way.
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const QSize wanted(kMinimumWidth + (room.height() < kMinimumHeight ? scrollBar : 0),
                       kMinimumHeight + (room.width() < kMinimumWidth ? scrollBar : 0));
    const QSize minimum = wanted.boundedTo(room);
    setMinimumSize(minimum);
    resize(size().expandedTo(minimum).boundedTo(room.expandedTo(minimum)));
}

MainWindow::~MainWindow() {
    // The controls outlive the window: from here on neither side may reach the other.
    bindings_->dead = true;
    for (QObject* child : findChildren<QObject*>())
        child->blockSignals(true);
}

void MainWindow::Start() {
    form_.FormShow();
    create();
    connect(windowHandle(), &QWindow::screenChanged, this, &MainWindow::FitToScreen, Qt::UniqueConnection);
    FitToScreen();
    show();
    FitToScreen();
}

bool MainWindow::event(QEvent* event) {
    if (event->type() != QEvent::UpdateRequest)
        return QMainWindow::event(event);
    using std::chrono::steady_clock;
    if (paintDeferred_)
        return true; // what changed meanwhile is painted with the deferred request
    const steady_clock::time_point now = steady_clock::now();
    // The paints of one user action (during a send and after it) are close together too: two
    // close paints go through, only a longer burst is held back.
    closePaints_ = closePaints_ < 0 ? 1 : now < nextPaint_ ? closePaints_ + 1 : 0;
    if (closePaints_ > 1) {
        paintDeferred_ = true;
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextPaint_ - now);
        QTimer::singleShot(wait.count() + 1, this, [this] {
            paintDeferred_ = false;
            closePaints_ = -1; // the burst goes on: the paint after this one waits again
            QCoreApplication::postEvent(this, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
        });
        return true;
    }
    const bool handled = QMainWindow::event(event);
    // The next paint of a burst waits three times what this one took, or 39 times when it
    // shows background work: a chain of polls spends at most a fortieth of the window's thread
    // on painting and keeps the rest for the chain.
    const steady_clock::time_point painted = steady_clock::now();
    const bool background = toolkit_.QueuedWorkRuns() != paintedQueuedWorkRuns_;
    paintedQueuedWorkRuns_ = toolkit_.QueuedWorkRuns();
    nextPaint_ = painted + (background ? 39 : 3) * (painted - now);
    return handled;
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
    row2->addWidget(Button(f.btnCreateSecret));
    row2->addSpacing(8);
    row2->addWidget(CheckBox(f.chkSelfSigned));
    row2->addWidget(CheckBox(f.chkBlockingCall));
    // The scenario recorder goes at the end of this row, whose secret box can give way: beside
    // Save and Restore it squeezed their row until its labels were cut off.
    row2->addSpacing(8);
    row2->addWidget(CheckBox(f.chkRecordScenario));
    row2->addWidget(Button(f.btnSaveScenario));
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
    row3->addWidget(Button(f.btnConfigOpslaan));
    row3->addWidget(Button(f.btnConfigInlezen));
    rows->addLayout(row3);
    return panel;
}

QWidget* MainWindow::BuildHmacTab() {
    TForm1& f = form_;
    QWidget* page = TabPage(f.TabSheetHMAC);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(Memo(f.mmMessage), 1);
    auto* row = new QHBoxLayout;
    row->addWidget(Button(f.btnGenerateHMAC));
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
    idRow->addWidget(Button(f.btnGenerate));
    layout->addLayout(idRow);

    auto* body = new QHBoxLayout;
    auto* gridColumn = new QVBoxLayout;
    gridColumn->addWidget(Grid(f.gridSession), 1);
    QPushButton* add = Button(f.spdRegelToevoegen);
    QPushButton* remove = Button(f.spdRegelVerwijderen);
    add->setFixedWidth(32);
    remove->setFixedWidth(32);
    gridColumn->addWidget(Row({add, remove}, true));
    body->addLayout(gridColumn, 1);

    auto* events = new QVBoxLayout;
    events->setSpacing(2);
    for (TSpeedButton* button :
         {&f.spdStartSession, &f.spdAddSessionLine, &f.spdUpdateSessionLine, &f.spdRemoveSessionLine,
          &f.spdPauseSession, &f.spdResumeSession, &f.spdStartPayment, &f.spdCancelPayment,
          &f.spdMergeSession, &f.spdCancelSession, &f.spdCompleteSession, &f.spdCreditSession})
        events->addWidget(Button(*button));
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

    layout->addWidget(Button(f.spdButton1));
    layout->addWidget(Button(f.spdButton2));
    layout->addWidget(Button(f.spdButton3));
    layout->addWidget(Button(f.spdButton4));
    layout->addWidget(Button(f.spdButton5));

    layout->addWidget(Row({Button(f.spdConfirmDialog), Button(f.spdSkipDialog)}, true));
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
    requestRow->addWidget(Button(f.spdScanCode));
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
    buttons->addWidget(Button(f.spdStartExternalPayment), 0, 0);
    buttons->addWidget(Button(f.spdPollExternalPayment), 0, 1);
    buttons->addWidget(Button(f.spdRequestCancelExternalPayment), 1, 0);
    buttons->addWidget(Button(f.spdCancelExternalPayment), 1, 1);
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
    LineView* messages = MemoView(f.mmMessages);
    messages->setFixedHeight(messages->fontMetrics().lineSpacing() * 4 + 2 * messages->frameWidth() + 8);
    fields->addRow(Label(f.mmMessages), messages);
    return panel;
}

QWidget* MainWindow::BuildExchangeTabs() {
    TForm1& f = form_;
    auto page = [this](TTabSheet& sheet, QWidget* content) {
        QWidget* widget = TabPage(sheet);
        // Alone on its tab, the content is named by the tab.
        content->setAccessibleName(ToQString(sheet.Caption()));
        auto* layout = new QVBoxLayout(widget);
        layout->setContentsMargins(2, 2, 2, 2);
        layout->addWidget(content);
        return widget;
    };
    return PageControl(
        f.PageControl2,
        {page(f.TabSheet1, ListView(f.lvRequestHeaders)), page(f.TabSheet2, MemoView(f.mmRequestBody)),
         page(f.TabSheet3, ListView(f.lvResponseHeaders)), page(f.TabSheet4, MemoView(f.mmResponseBody)),
         page(f.TabSheetErrorRequestHeaders, ListView(f.lvErrorRequestHeaders)),
         page(f.TabSheetErrorRequestBody, MemoView(f.mmErrorRequestBody)),
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
    buttons->addWidget(Button(f.btnHistoryResend), 0, 0);
    buttons->addWidget(Button(f.btnHistoryCopyCurl), 0, 1);
    buttons->addWidget(Button(f.btnHistoryCopyResponse), 1, 0);
    buttons->addWidget(Button(f.btnHistoryClear), 1, 1);
    leftLayout->addLayout(buttons);

    auto* entry = new QSplitter(Qt::Vertical);
    entry->addWidget(MemoView(f.mmHistoryRequest));
    entry->addWidget(MemoView(f.mmHistoryResponse));
    entry->addWidget(ListView(f.lvHistoryChecks));

    auto* splitter = new QSplitter(Qt::Horizontal);
    splitter->addWidget(left);
    splitter->addWidget(entry);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);
    return splitter;
}

// --- Bindings -------------------------------------------------------------------------------

std::shared_ptr<WidgetPush> MainWindow::Watch(TControl& control, QWidget* widget,
                                              std::function<void()> push) {
    QPointer<QWidget> guard(widget);
    std::shared_ptr<MainWindowBindings> bindings = bindings_;
    auto update = std::make_shared<WidgetPush>();
    update->run = [guard, push = std::move(push)] {
        if (!guard)
            return;
        const QSignalBlocker blocker(guard.data());
        push();
    };
    control.Changed.Connect([bindings, guard, update] {
        if (bindings->dead || !guard || bindings->updatingFromWidget == guard.data())
            return;
        bindings->Request(update);
    });
    update->run();
    return update;
}

std::shared_ptr<WidgetPush> MainWindow::Bind(TControl& control, QWidget* widget, std::function<void()> push) {
    widget->setObjectName(ToQString(control.Name()));
    std::shared_ptr<MainWindowBindings> bindings = bindings_;
    MainWindowBindings* shared = bindings.get();
    std::shared_ptr<WidgetPush> update =
        Watch(control, widget, [shared, &control, widget, push = std::move(push)] {
            ApplyCommon(*shared, control, *widget);
            if (push)
                push();
        });
    bindings_->widgets[&control] = widget;
    LinkLabel(control);
    QPointer<QWidget> guard(widget);
    control.FocusRequested.Connect([bindings, guard] {
        if (!bindings->dead && guard)
            guard->setFocus(Qt::OtherFocusReason);
    });
    return update;
}

void MainWindow::FromWidget(QWidget* widget, const std::function<void()>& action) {
    QWidget* previous = bindings_->updatingFromWidget;
    bindings_->updatingFromWidget = widget;
    action();
    bindings_->updatingFromWidget = previous;
}

QLabel* MainWindow::Label(TControl& control) {
    auto* label = new QLabel;
    label->setObjectName(ToQString(control.Name() + "Label"));
    label->setTextFormat(Qt::PlainText);
    Watch(control, label, [&control, label] {
        label->setText(ToQString(control.LabelText()));
        ApplyVisible(control, *label);
        label->setToolTip(ToQString(control.Description()));
        if (QWidget* labelled = label->buddy())
            labelled->setAccessibleName(AccessibleName(label->text()));
    });
    bindings_->labels[&control] = label;
    LinkLabel(control);
    return label;
}

void MainWindow::LinkLabel(const TControl& control) {
    const auto label = bindings_->labels.find(&control);
    const auto widget = bindings_->widgets.find(&control);
    if (label == bindings_->labels.end() || widget == bindings_->widgets.end())
        return;
    label->second->setBuddy(widget->second);
    widget->second->setAccessibleName(AccessibleName(label->second->text()));
}

QLineEdit* MainWindow::Edit(TEdit& edit) {
    auto* widget = new QLineEdit;
    // The default limit of 32767 characters would cut a long text short on screen and then in
    // the model, at the user's next keystroke.
    widget->setMaxLength(std::numeric_limits<int>::max());
    Bind(edit, widget, [&edit, widget] {
        widget->setPlaceholderText(ToQString(edit.PlaceholderText()));
        const QString text = ToQString(edit.Text());
        if (widget->text() != text) {
            widget->setText(text);
            // Show a long text from its start, as it would be read.
            if (!widget->hasFocus())
                widget->setCursorPosition(0);
        }
        widget->setReadOnly(edit.ReadOnly());
    });
    // Every change of the text reaches the model, typed or set through the accessibility
    // interface; the model's own pushes come with the widget's signals blocked.
    connect(widget, &QLineEdit::textChanged, this, [this, &edit, widget](const QString& text) {
        FromWidget(widget, [&] { edit.SetText(text.toStdString()); });
    });
    return widget;
}

QPushButton* MainWindow::Button(TControl& button, std::function<void()> onClick) {
    auto* widget = new QPushButton;
    widget->setAutoDefault(false);
    Bind(button, widget, [&button, widget] { widget->setText(ShownCaption(button.Caption())); });
    if (!onClick)
        onClick = [this, &button] { form_.Press(button); };
    connect(widget, &QPushButton::clicked, this, std::move(onClick));
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

QPlainTextEdit* MainWindow::Memo(TMemo& memo) {
    auto* widget = new QPlainTextEdit;
    Bind(memo, widget, [&memo, widget] {
        widget->setReadOnly(memo.ReadOnly());
        const QString text = JoinLines(memo.Lines());
        if (widget->toPlainText() != text)
            widget->setPlainText(text);
    });
    connect(widget, &QPlainTextEdit::textChanged, this, [this, &memo, widget] {
        FromWidget(widget, [&] { memo.SetText(widget->toPlainText().toStdString()); });
    });
    return widget;
}

LineView* MainWindow::MemoView(TMemo& memo) {
    auto* view = new LineView(memo.Lines());
    // Lines added at the end (the messages) keep the view at the newest line; anything else
    // shows the text from the top.
    auto shownLines = std::make_shared<std::size_t>(0);
    Bind(memo, view, [&memo, view, shownLines] {
        const std::size_t lines = memo.Lines().size();
        view->Refresh(*shownLines > 0 && lines > *shownLines);
        *shownLines = lines;
    });
    return view;
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
    // The rows are drawn anew only when they changed, not when the chosen one did; a row
    // inserted or deleted is inserted or deleted, in the order of the model's changes.
    struct RowChange {
        bool inserted = false;
        int index = -1;
        std::vector<std::string> row;
    };
    auto shownVersion = std::make_shared<uint64_t>(std::numeric_limits<uint64_t>::max());
    auto rowChanges = std::make_shared<std::vector<RowChange>>();
    const std::shared_ptr<WidgetPush> update =
        Bind(list, widget, [&list, widget, item, shownVersion, rowChanges] {
            if (*shownVersion != list.ItemsVersion()) {
                *shownVersion = list.ItemsVersion();
                widget->clear();
                QList<QTreeWidgetItem*> items;
                for (const auto& row : list.Items())
                    items << item(row);
                widget->addTopLevelItems(items);
            } else {
                for (const RowChange& change : *rowChanges) {
                    if (change.inserted)
                        widget->insertTopLevelItem(change.index, item(change.row));
                    else
                        delete widget->takeTopLevelItem(change.index);
                }
            }
            rowChanges->clear(); // a list drawn anew holds them already
            QTreeWidgetItem* chosen =
                list.ItemIndex() >= 0 ? widget->topLevelItem(list.ItemIndex()) : nullptr;
            if (widget->currentItem() != chosen) {
                widget->setCurrentItem(chosen);
                if (!chosen)
                    widget->clearSelection();
            }
        });
    list.RowChanged.Connect(
        [bindings = bindings_, guard = QPointer<QTreeWidget>(widget), &list, rowChanges, update] {
            if (bindings->dead || !guard)
                return;
            const TListView::RowChange& change = list.LastRowChange();
            rowChanges->push_back({change.inserted, change.index,
                                   change.inserted ? list.Items()[static_cast<std::size_t>(change.index)]
                                                   : std::vector<std::string>()});
            bindings->Request(update);
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
        model->ShowCellChanges();
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
