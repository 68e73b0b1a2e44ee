// The Qt window over the window model: every control drawn under its name, the bindings both
// ways, the buttons reaching their handlers, the session grid's table model, a real send to
// the sample consumer through the window, and a stalled one cancelled.

#include "MainWindow.h"
#include "GridTableModel.h"
#include "LineView.h"
#include "MainFormUnit.h"
#include "QtToolkit.h"
#include "RawServer.h"
#include "SampleConsumer.h"
#include "ScenarioRecorder.h"
#include "TestApplication.h"
#include "TestSupport.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The secret the sample consumer's demo signs with.
constexpr const char* kDemoSecret = "b3J2ZWwtd2ViaG9vay10ZXN0ZXItZGVtby1zZWNyZXQ=";

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// A button's caption as the user reads it ("&&" is how a button shows "&").
QString ButtonText(const QAbstractButton* button) {
    return button->text().replace(QLatin1String("&&"), QLatin1String("&"));
}

// Answers every message box with OK and remembers what it said.
class MessageBoxAnswerer {
public:
    MessageBoxAnswerer() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            texts.push_back(box->text());
            formats.push_back(box->textFormat());
            fonts.push_back(box->font());
            box->button(QMessageBox::Ok)->click();
        });
        timer_.start();
    }

    std::vector<QString> texts;
    std::vector<Qt::TextFormat> formats;
    std::vector<QFont> fonts;

private:
    QTimer timer_;
};

struct ApplicationInstance {
    ApplicationInstance() { EnsureApplication(); }
};

class MainWindowTest : public ::testing::Test {
protected:
    template <typename W> W* Find(const TControl& control) { return window.findChild<W*>(Q(control.Name())); }
    QTabWidget* Tabs(const TPageControl& control) { return Find<QTabWidget>(control); }

    void ShowSessionTab() {
        Tabs(form.PageControl1)->setCurrentWidget(Find<QWidget>(form.TabSheetSession));
        QApplication::processEvents();
    }
    void Click(const TControl& button) {
        auto* widget = Find<QPushButton>(button);
        ASSERT_NE(widget, nullptr) << button.Name();
        QTest::mouseClick(widget, Qt::LeftButton);
    }
    int Column(const std::string& caption) {
        GridTableModel* model = window.GridModel();
        for (int c = 0; c < model->columnCount(); ++c)
            if (model->headerData(c, Qt::Horizontal).toString() == Q(caption))
                return c;
        ADD_FAILURE() << "no column " << caption;
        return -1;
    }
    // What the table shows in a cell of data row `row` (0 is the first line).
    QString Shown(int row, const std::string& caption) {
        GridTableModel* model = window.GridModel();
        return model->data(model->index(row, Column(caption))).toString();
    }
    // Types into a cell as the table's editor does when the user leaves the cell.
    bool Type(int row, const std::string& caption, const QString& text) {
        GridTableModel* model = window.GridModel();
        return model->setData(model->index(row, Column(caption)), text, Qt::EditRole);
    }
    void TypeLine(int row, const char* article, const char* text, const char* quantity, const char* price) {
        Type(row, "articleNumber", QString::fromUtf8(article));
        Type(row, "text", QString::fromUtf8(text));
        Type(row, "quantity", QString::fromUtf8(quantity));
        Type(row, "priceIncl", QString::fromUtf8(price));
    }

    static testsupport::ConsumerOptions DemoConsumerOptions() {
        testsupport::ConsumerOptions options;
        options.secret = kDemoSecret;
        options.demo = true;
        return options;
    }

    // The window shown, set up for the demo consumer with blocking calls, and a sale of one line
    // started (not sent yet).
    void StartASaleWithTheDemoConsumer(const testsupport::SampleConsumer& consumer) {
        window.Start();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        form.edtBaseURL.SetText(consumer.BaseUrl());
        form.edtSecret.SetText(kDemoSecret);
        form.edtSubscriptionId.SetText("demo-subscription");
        form.chkBlockingCall.SetChecked(true);
        ShowSessionTab();
        Click(form.btnGenerate);
        Click(form.spdRegelToevoegen);
        TypeLine(0, "1001", "Coffee", "2", "2.5");
    }

    ApplicationInstance application;
    testsupport::TempDir data;
    testsupport::ScopedEnv dataHome{"XDG_DATA_HOME", data.Path()};
    MessageBoxAnswerer boxes;
    QtToolkit toolkit;
    TForm1 form{toolkit};
    MainWindow window{form, toolkit};
};

TEST_F(MainWindowTest, EveryControlIsDrawnUnderItsNameShowingItsState) {
    window.Start();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("OrvelPOS Webhook Tester v1.14.0"));
    EXPECT_GE(window.width(), 650);
    EXPECT_GE(window.height(), 827);

    int checked = 0;
    for (TControl* control : form.AllControls()) {
        SCOPED_TRACE(control->Name());
        QWidget* widget = Find<QWidget>(*control);
        ASSERT_NE(widget, nullptr);
        if (auto* sheet = dynamic_cast<TTabSheet*>(control)) {
            auto* tabs = qobject_cast<QTabWidget*>(widget->parentWidget()->parentWidget());
            ASSERT_NE(tabs, nullptr);
            const int index = tabs->indexOf(widget);
            EXPECT_EQ(tabs->tabText(index).replace(QLatin1String("&&"), QLatin1String("&")),
                      Q(sheet->Caption()));
            EXPECT_EQ(tabs->isTabVisible(index), sheet->Visible());
            ++checked;
            continue;
        }
        EXPECT_EQ(widget->isEnabled(), control->Enabled());
        EXPECT_EQ(widget->isHidden(), !control->Visible());
        if (!control->LabelText().empty()) {
            auto* label = window.findChild<QLabel*>(Q(control->Name() + "Label"));
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(label->text(), Q(control->LabelText()));
        }
        if (auto* edit = dynamic_cast<TEdit*>(control)) {
            auto* line = qobject_cast<QLineEdit*>(widget);
            ASSERT_NE(line, nullptr);
            EXPECT_EQ(line->text(), Q(edit->Text()));
            EXPECT_EQ(line->isReadOnly(), edit->ReadOnly());
        } else if (auto* box = dynamic_cast<TCheckBox*>(control)) {
            auto* check = qobject_cast<QCheckBox*>(widget);
            ASSERT_NE(check, nullptr);
            EXPECT_EQ(ButtonText(check), Q(box->Caption()));
            EXPECT_EQ(check->isChecked(), box->Checked());
        } else if (dynamic_cast<TButton*>(control) || dynamic_cast<TSpeedButton*>(control)) {
            auto* button = qobject_cast<QPushButton*>(widget);
            ASSERT_NE(button, nullptr);
            EXPECT_EQ(ButtonText(button), Q(control->Caption()));
        } else if (auto* combo = dynamic_cast<TComboBox*>(control)) {
            auto* list = qobject_cast<QComboBox*>(widget);
            ASSERT_NE(list, nullptr);
            ASSERT_EQ(list->count(), static_cast<int>(combo->Items().size()));
            for (int i = 0; i < list->count(); ++i)
                EXPECT_EQ(list->itemText(i), Q(combo->Items()[static_cast<std::size_t>(i)]));
            EXPECT_EQ(list->currentIndex(), combo->ItemIndex());
        } else if (auto* memo = dynamic_cast<TMemo*>(control)) {
            // Only the message to sign is typed in; the others show text of any size.
            const QString expected = Q(memo->Text()).replace(QLatin1String("\r\n"), QLatin1String("\n"));
            if (control == &form.mmMessage) {
                auto* text = qobject_cast<QPlainTextEdit*>(widget);
                ASSERT_NE(text, nullptr);
                EXPECT_EQ(text->toPlainText(), expected);
                EXPECT_FALSE(text->isReadOnly());
            } else {
                auto* view = qobject_cast<LineView*>(widget);
                ASSERT_NE(view, nullptr);
                EXPECT_EQ(view->Text(), expected);
            }
        } else if (auto* listView = dynamic_cast<TListView*>(control)) {
            auto* tree = qobject_cast<QTreeWidget*>(widget);
            ASSERT_NE(tree, nullptr);
            ASSERT_EQ(tree->columnCount(), static_cast<int>(listView->Columns().size()));
            for (int c = 0; c < tree->columnCount(); ++c)
                EXPECT_EQ(tree->headerItem()->text(c), Q(listView->Columns()[static_cast<std::size_t>(c)]));
            EXPECT_EQ(tree->topLevelItemCount(), static_cast<int>(listView->Items().size()));
        } else if (auto* pages = dynamic_cast<TPageControl*>(control)) {
            auto* tabs = qobject_cast<QTabWidget*>(widget);
            ASSERT_NE(tabs, nullptr);
            EXPECT_EQ(tabs->count(), static_cast<int>(pages->Pages().size()));
            EXPECT_EQ(tabs->currentIndex(), pages->ActivePageIndex());
        } else if (auto* grid = dynamic_cast<TGridControl*>(control)) {
            auto* view = qobject_cast<QTableView*>(widget);
            ASSERT_NE(view, nullptr);
            EXPECT_EQ(view->model()->rowCount(), grid->RowCount() - grid->FixedRows());
            EXPECT_EQ(view->model()->columnCount(), grid->ColumnCount());
        } else if (control == &form.pnlHttpResponse) {
            auto* strip = qobject_cast<QLabel*>(widget);
            ASSERT_NE(strip, nullptr);
            EXPECT_EQ(strip->text(), QStringLiteral("HTTP RESPONSE CODE"));
            EXPECT_TRUE(strip->font().bold());
        } else {
            EXPECT_TRUE(dynamic_cast<TPanel*>(control)) << "a control kind the test does not know";
        }
        ++checked;
    }
    EXPECT_EQ(checked, static_cast<int>(form.AllControls().size()));

    // The looks the form asks for.
    const QString fixedFamily = QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
    EXPECT_EQ(Find<QWidget>(form.edtSecret)->font().family(), fixedFamily);
    EXPECT_EQ(Find<QWidget>(form.mmResponseBody)->font().family(), fixedFamily);
    EXPECT_NE(Find<QWidget>(form.edtCode)->font().family(), fixedFamily);
    EXPECT_EQ(Find<QWidget>(form.spdStartSession)->palette().color(QPalette::Active, QPalette::ButtonText),
              QColor(255, 0, 0));
    EXPECT_NE(Find<QWidget>(form.btnGenerate)->palette().color(QPalette::Active, QPalette::ButtonText),
              QColor(255, 0, 0));
}

TEST_F(MainWindowTest, ButtonsReachTheirHandlers) {
    window.Start();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ShowSessionTab();
    EXPECT_EQ(form.PageControl1.ActivePage(), &form.TabSheetSession);

    Click(form.btnCreateSecret);
    EXPECT_FALSE(form.edtSecret.Text().empty());
    EXPECT_EQ(Find<QLineEdit>(form.edtSecret)->text(), Q(form.edtSecret.Text()));

    Click(form.btnGenerate);
    EXPECT_FALSE(form.session.sessionId.IsNull());
    EXPECT_TRUE(Find<QLineEdit>(form.edtSessionId)->text().startsWith(QLatin1Char('{')));

    auto* view = Find<QTableView>(form.gridSession);
    Click(form.spdRegelToevoegen);
    Click(form.spdRegelToevoegen);
    ASSERT_EQ(view->model()->rowCount(), 2);
    ASSERT_EQ(form.session.lines.size(), 2u);
    EXPECT_FALSE(Shown(1, "lineId").isEmpty());
    EXPECT_EQ(Shown(1, "#"), QStringLiteral("2"));

    // Clicking the second row selects its line; a selection made by the program shows on
    // screen; "-" removes exactly the selected line.
    const std::string keptLine = Shown(1, "lineId").toStdString();
    QApplication::processEvents();
    const QRect cell = view->visualRect(view->model()->index(1, Column("text")));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(form.gridSession.SelectedRow(), 2);
    form.gridSession.SelectRow(1);
    EXPECT_EQ(view->currentIndex().row(), 0);
    Click(form.spdRegelVerwijderen);
    ASSERT_EQ(view->model()->rowCount(), 1);
    EXPECT_EQ(Shown(0, "lineId").toStdString(), keptLine);
    // The rebuilt grid keeps a selection within its rows, in the model as on screen.
    EXPECT_EQ(form.gridSession.SelectedRow(), 1);
    EXPECT_EQ(view->currentIndex().row(), 0);
    form.gridSession.SelectRow(-1);
    EXPECT_FALSE(view->currentIndex().isValid());

    // "-" without a selection does nothing.
    Click(form.spdRegelVerwijderen);
    EXPECT_EQ(view->model()->rowCount(), 1);
    EXPECT_TRUE(boxes.texts.empty());
}

TEST_F(MainWindowTest, AFailingHandlerIsShownInAMessageBoxAndTheWindowGoesOn) {
    window.Start();
    // No session id yet (the address is a usable one): the send stops before anything goes out.
    form.edtBaseURL.SetText("http://127.0.0.1:1/");
    Click(form.spdStartSession);
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0], QStringLiteral("Please enter session details first."));
    EXPECT_EQ(boxes.formats[0], Qt::PlainText);
    EXPECT_TRUE(Find<QWidget>(form.spdStartSession)->isEnabled());
    EXPECT_EQ(form.edtEventId.Text(), "1");
}

TEST_F(MainWindowTest, ModelChangesShowQuietlyAndUserInputReachesTheModel) {
    window.Start();
    int changes = 0;
    form.edtCode.Changed.Connect([&] { ++changes; });

    // Model to widget, without the widget reporting it as an edit.
    auto* code = Find<QLineEdit>(form.edtCode);
    QSignalSpy codeChanged(code, &QLineEdit::textChanged);
    form.edtCode.SetText("8712345678906");
    EXPECT_EQ(code->text(), QStringLiteral("8712345678906"));
    EXPECT_EQ(codeChanged.count(), 0);
    EXPECT_EQ(changes, 1);

    // Widget to model: one change per key, nothing echoed back.
    Tabs(form.PageControl1)->setCurrentWidget(Find<QWidget>(form.TabSheetScanCode));
    code->setFocus();
    code->selectAll();
    QTest::keyClicks(code, QStringLiteral("4711"));
    EXPECT_EQ(form.edtCode.Text(), "4711");
    EXPECT_EQ(code->text(), QStringLiteral("4711"));
    EXPECT_EQ(changes, 1 + 4);

    // A long text is shown whole and survives the user's next keystroke.
    const std::string longText(40000, 'x');
    form.edtCode.SetText(longText);
    EXPECT_EQ(code->text().size(), 40000);
    code->end(false);
    QTest::keyClick(code, Qt::Key_Y);
    EXPECT_EQ(form.edtCode.Text(), longText + "y");

    auto* blocking = Find<QCheckBox>(form.chkBlockingCall);
    QTest::mouseClick(blocking, Qt::LeftButton);
    EXPECT_TRUE(form.chkBlockingCall.Checked());
    auto* selfSigned = Find<QCheckBox>(form.chkSelfSigned);
    QSignalSpy toggled(selfSigned, &QCheckBox::toggled);
    form.chkSelfSigned.SetChecked(true);
    EXPECT_TRUE(selfSigned->isChecked());
    EXPECT_EQ(toggled.count(), 0);

    Find<QComboBox>(form.cmbCodeType)->setCurrentIndex(2);
    EXPECT_EQ(form.cmbCodeType.ItemIndex(), 2);

    // The message to sign: typed lines reach the memo; the widget keeps what was typed,
    // a line break at the end included.
    Tabs(form.PageControl1)->setCurrentWidget(Find<QWidget>(form.TabSheetHMAC));
    auto* message = Find<QPlainTextEdit>(form.mmMessage);
    message->setFocus();
    QTest::keyClicks(message, QStringLiteral("ab"));
    QTest::keyClick(message, Qt::Key_Return);
    EXPECT_EQ(form.mmMessage.Lines(), (std::vector<std::string>{"ab", ""}));
    EXPECT_EQ(message->toPlainText(), QStringLiteral("ab\n"));
    QTest::keyClicks(message, QStringLiteral("c"));
    EXPECT_EQ(form.mmMessage.Text(), "ab\r\nc");

    // Lines added to the messages memo appear in order.
    form.mmMessages.Add("first");
    form.mmMessages.Add("second & <b>third</b>");
    EXPECT_EQ(Find<LineView>(form.mmMessages)->Text(), QStringLiteral("first\nsecond & <b>third</b>"));
    form.mmMessages.Clear();
    EXPECT_TRUE(Find<LineView>(form.mmMessages)->Text().isEmpty());

    // Tabs shown and hidden by the model keep their place; the user's tab choice reaches it.
    QTabWidget* exchange = Tabs(form.PageControl2);
    form.SetErrorTabsVisible(true);
    EXPECT_TRUE(exchange->isTabVisible(4));
    EXPECT_TRUE(exchange->isTabVisible(5));
    exchange->setCurrentIndex(5);
    EXPECT_EQ(form.PageControl2.ActivePageIndex(), 5);
    form.PageControl2.SetActivePageIndex(1);
    EXPECT_EQ(exchange->currentIndex(), 1);
    form.SetErrorTabsVisible(false);
    EXPECT_FALSE(exchange->isTabVisible(4));
    EXPECT_FALSE(exchange->isTabVisible(5));
    EXPECT_EQ(exchange->widget(5)->objectName(), QStringLiteral("TabSheetErrorRequestBody"));

    // Status strip: caption and colours.
    auto* strip = Find<QLabel>(form.pnlHttpResponse);
    form.ShowHttpStatus(400, 0, "Bad Request");
    EXPECT_EQ(strip->text(), QStringLiteral("400 Bad Request"));
    EXPECT_EQ(strip->palette().color(QPalette::Window), QColor(255, 0, 0));
    EXPECT_EQ(strip->palette().color(QPalette::WindowText),
              QApplication::palette().color(QPalette::HighlightedText));
    form.ShowHttpStatus(200, 0, "OK");
    EXPECT_EQ(strip->palette().color(QPalette::Window), QColor(0, 128, 0));

    // Header lists.
    form.lvResponseHeaders.SetItems({{"Content-Type", "application/json"}});
    auto* headers = Find<QTreeWidget>(form.lvResponseHeaders);
    ASSERT_EQ(headers->topLevelItemCount(), 1);
    EXPECT_EQ(headers->topLevelItem(0)->text(1), QStringLiteral("application/json"));

    // An option button: shown, captioned and bold when selected, plain again when not.
    auto* option = Find<QPushButton>(form.spdButton2);
    form.spdButton2.SetCaption("[7] Fish & chips");
    form.spdButton2.SetVisible(true);
    form.spdButton2.SetBold(true);
    EXPECT_FALSE(option->isHidden());
    EXPECT_EQ(ButtonText(option), QStringLiteral("[7] Fish & chips"));
    EXPECT_TRUE(option->font().bold());
    EXPECT_EQ(option->toolTip(), Q(form.spdButton2.Description()));
    form.spdButton2.SetBold(false);
    EXPECT_FALSE(option->font().bold());
    // Hidden by the model while its tab is not on screen: still hidden when the tab is opened,
    // and back once the model shows it again.
    QTabWidget* pages = Tabs(form.PageControl1);
    pages->setCurrentWidget(Find<QWidget>(form.TabSheetSession));
    form.spdButton2.SetVisible(false);
    pages->setCurrentWidget(Find<QWidget>(form.TabSheetDialog));
    EXPECT_FALSE(option->isVisible());
    form.spdButton2.SetVisible(true);
    EXPECT_TRUE(option->isVisible());

    // Focus requests.
    Tabs(form.PageControl1)->setCurrentWidget(Find<QWidget>(form.TabSheetSession));
    form.edtSessionId.SetFocus();
    EXPECT_EQ(window.focusWidget(), Find<QWidget>(form.edtSessionId));
}

TEST_F(MainWindowTest, GridModelIsAConsistentItemModel) {
    int failures = 0;
    static int* failureCount = nullptr;
    failureCount = &failures;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
            if (type != QtDebugMsg && context.category && QByteArray(context.category) == "qt.modeltest") {
                ++*failureCount;
                ADD_FAILURE() << message.toStdString();
            }
        });
    {
        QAbstractItemModelTester tester(window.GridModel(),
                                        QAbstractItemModelTester::FailureReportingMode::Warning);
        window.Start();
        ShowSessionTab();
        for (int i = 0; i < 3; ++i)
            Click(form.spdRegelToevoegen);
        Type(0, "articleNumber", QStringLiteral("1"));
        Type(0, "quantity", QStringLiteral("2"));
        auto* view = Find<QTableView>(form.gridSession);
        view->setCurrentIndex(window.GridModel()->index(1, 0));
        Click(form.spdRegelVerwijderen);
        Click(form.btnGenerate);
        form.SetSendControlsEnabled(false);
        form.SetSendControlsEnabled(true);
        EXPECT_EQ(window.GridModel()->rowCount(), 2);
    }
    qInstallMessageHandler(previous);
    EXPECT_EQ(failures, 0);
}

TEST_F(MainWindowTest, EditingACellShowsTheLineTotal) {
    window.Start();
    ShowSessionTab();
    Click(form.spdRegelToevoegen);
    EXPECT_TRUE(Type(0, "articleNumber", QStringLiteral("1")));
    EXPECT_TRUE(Type(0, "quantity", QStringLiteral("2")));
    EXPECT_TRUE(Shown(0, "Total").isEmpty());
    EXPECT_TRUE(Type(0, "priceIncl", QStringLiteral("10")));
    EXPECT_EQ(Shown(0, "Total"), QStringLiteral("20"));
    EXPECT_TRUE(Type(0, "discountPercentage", QStringLiteral("10")));
    EXPECT_EQ(Shown(0, "Total"), QStringLiteral("18"));
    ASSERT_EQ(form.session.lines.size(), 1u);
    ASSERT_TRUE(form.session.lines[0].quantity);
    EXPECT_EQ(*form.session.lines[0].quantity, 2.0);

    // Read-only columns and a busy window refuse the edit.
    GridTableModel* model = window.GridModel();
    const QModelIndex total = model->index(0, Column("Total"));
    EXPECT_FALSE(model->flags(total) & Qt::ItemIsEditable);
    EXPECT_FALSE(Type(0, "Total", QStringLiteral("99")));
    EXPECT_EQ(Shown(0, "Total"), QStringLiteral("18"));
    const QModelIndex quantity = model->index(0, Column("quantity"));
    EXPECT_TRUE(model->flags(quantity) & Qt::ItemIsEditable);
    form.SetSendControlsEnabled(false);
    EXPECT_FALSE(model->flags(quantity) & Qt::ItemIsEditable);
    EXPECT_FALSE(Type(0, "quantity", QStringLiteral("5")));
    EXPECT_EQ(Shown(0, "quantity"), QStringLiteral("2"));
    form.SetSendControlsEnabled(true);
    EXPECT_TRUE(model->flags(quantity) & Qt::ItemIsEditable);
}

TEST_F(MainWindowTest, ClosingTheWindowStopsWorkForIt) {
    window.Start();
    EXPECT_FALSE(toolkit.IsClosing());
    window.close();
    EXPECT_TRUE(toolkit.IsClosing());
    bool ran = false;
    EXPECT_FALSE(toolkit.Synchronize([&] { ran = true; }));
    EXPECT_FALSE(ran);
}

// A real exchange through the window: the send runs while the window keeps painting, and the
// answer shows in the status strip and the exchange tabs. Leaves a screenshot of the window.
TEST_F(MainWindowTest, SendingThroughTheWindowShowsTheExchange) {
    testsupport::ConsumerOptions options;
    options.secret = "dGhlIGNvbnN1bWVyJ3Mgc2hhcmVkIHNlY3JldA==";
    testsupport::SampleConsumer consumer(options);

    window.Start();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ShowSessionTab();
    auto* baseUrl = Find<QLineEdit>(form.edtBaseURL);
    baseUrl->setFocus();
    QTest::keyClicks(baseUrl, Q(consumer.BaseUrl()));
    auto* secret = Find<QLineEdit>(form.edtSecret);
    secret->setFocus();
    QTest::keyClicks(secret, Q(options.secret));
    QTest::mouseClick(Find<QCheckBox>(form.chkBlockingCall), Qt::LeftButton);
    Click(form.btnGenerate);
    Click(form.spdRegelToevoegen);
    Click(form.spdRegelToevoegen);
    TypeLine(0, "1001", "Coffee", "2", "2.5");
    TypeLine(1, "1002", "Apple pie", "1", "3.95");

    Click(form.spdStartSession);
    EXPECT_TRUE(boxes.texts.empty()) << (boxes.texts.empty() ? "" : boxes.texts[0].toStdString());
    ASSERT_EQ(consumer.Log().size(), 1u);
    EXPECT_EQ(Find<QLabel>(form.pnlHttpResponse)->text(), QStringLiteral("200 OK"));
    EXPECT_EQ(Find<QLabel>(form.pnlHttpResponse)->palette().color(QPalette::Window), QColor(0, 128, 0));
    EXPECT_TRUE(Find<LineView>(form.mmRequestBody)->Text().contains(QStringLiteral("Apple pie")));
    EXPECT_GT(Find<QTreeWidget>(form.lvRequestHeaders)->topLevelItemCount(), 0);
    EXPECT_EQ(Find<QLineEdit>(form.edtEventId)->text(), QStringLiteral("2"));
    EXPECT_EQ(Find<QLineEdit>(form.txtWebhookUrl)->text(), Q(consumer.BaseUrl() + "startSession"));
    EXPECT_TRUE(Find<QWidget>(form.spdStartSession)->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    Tabs(form.PageControl2)->setCurrentWidget(Find<QWidget>(form.TabSheet2));
    QApplication::processEvents();
    const QPixmap shot = window.grab();
    ASSERT_FALSE(shot.isNull());
    const QString path = QStringLiteral("screenshot.png");
    ASSERT_TRUE(shot.save(path));
    EXPECT_GT(QFileInfo(path).size(), 0);
}

// The Checks tab through the window, against the demo consumer: its list fills after a send, and a
// 200 answer signed wrongly turns the verdict red beside a status strip that still shows 200 on
// green. Leaves a screenshot of the Checks tab.
TEST_F(MainWindowTest, TheChecksTabAndTheVerdictShowARefusedAnswer) {
    const testsupport::SampleConsumer consumer(DemoConsumerOptions());
    StartASaleWithTheDemoConsumer(consumer);

    QTabWidget* exchange = Tabs(form.PageControl2);
    const int checksTab = exchange->indexOf(Find<QWidget>(form.TabSheetChecks));
    EXPECT_EQ(exchange->widget(checksTab)->objectName(), QStringLiteral("TabSheetChecks"));
    EXPECT_EQ(exchange->tabText(checksTab), QStringLiteral("Checks"));
    auto* list = Find<QTreeWidget>(form.lvChecks);
    auto* verdict = Find<QLabel>(form.pnlVerdict);
    auto* strip = Find<QLabel>(form.pnlHttpResponse);
    auto* timing = Find<QLineEdit>(form.edtTiming);
    ASSERT_NE(list, nullptr);
    ASSERT_NE(verdict, nullptr);
    ASSERT_NE(timing, nullptr);
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_EQ(verdict->text(), QString());
    EXPECT_TRUE(timing->isReadOnly());

    Click(form.spdStartSession);
    EXPECT_TRUE(boxes.texts.empty());
    EXPECT_GT(list->topLevelItemCount(), 4);
    EXPECT_EQ(list->findItems(QStringLiteral("Signature equal"), Qt::MatchExactly).value(0)->text(1),
              QStringLiteral("pass"));
    EXPECT_EQ(verdict->text(), QStringLiteral("Answer accepted"));
    EXPECT_EQ(verdict->palette().color(QPalette::Window), QColor(0, 128, 0));
    EXPECT_TRUE(timing->text().endsWith(QLatin1Char(')'))) << timing->text().toStdString();

    // The demo signs its pauseSession answer with the secret's text as the key.
    Click(form.spdPauseSession);
    EXPECT_EQ(strip->text(), QStringLiteral("200 OK"));
    EXPECT_EQ(strip->palette().color(QPalette::Window), QColor(0, 128, 0));
    EXPECT_EQ(verdict->text(), QStringLiteral("Answer refused: INVALID_SIGNATURE"));
    EXPECT_EQ(verdict->palette().color(QPalette::Window), QColor(255, 0, 0));
    const auto diagnosis = list->findItems(QStringLiteral("Signature diagnosis"), Qt::MatchExactly);
    ASSERT_EQ(diagnosis.size(), 1);
    EXPECT_TRUE(diagnosis[0]->text(2).contains(QStringLiteral("secret's Base64 text")));
    EXPECT_EQ(Find<LineView>(form.mmMessages)->Text(),
              QStringLiteral("[INVALID_SIGNATURE] You did not properly calculate the X-Orvel-Signature header."));

    exchange->setCurrentIndex(checksTab);
    window.resize(1000, 900); // wide enough to read the details in the screenshot
    list->resizeColumnToContents(1);
    QApplication::processEvents();
    const QPixmap shot = window.grab();
    ASSERT_FALSE(shot.isNull());
    EXPECT_TRUE(shot.save(QStringLiteral("checks-tab.png")));
}

// The demo's sale through the window as the user guide tells it: addSessionLine on the Coffee
// line splits it for the consumer's discount, and startPayment puts the consumer's question on
// the Dialog tab. Leaves the user guide's screenshots of the window at the size it opens with.
TEST_F(MainWindowTest, TheDemoSaleSplitsALineAndAsksAQuestion) {
    const testsupport::SampleConsumer consumer(DemoConsumerOptions());
    StartASaleWithTheDemoConsumer(consumer);
    Click(form.spdRegelToevoegen);
    TypeLine(1, "1002", "Croissant", "1", "1.95");
    Click(form.spdStartSession);
    Find<QTableView>(form.gridSession)->setCurrentIndex(window.GridModel()->index(0, 0));
    Click(form.spdAddSessionLine);
    EXPECT_TRUE(boxes.texts.empty());
    EXPECT_EQ(Find<QLabel>(form.pnlHttpResponse)->text(), QStringLiteral("200 OK"));
    ASSERT_EQ(window.GridModel()->rowCount(), 3);
    EXPECT_EQ(Shown(0, "text"), QStringLiteral("Coffee"));
    EXPECT_EQ(Shown(0, "quantity"), QStringLiteral("1"));
    EXPECT_EQ(Shown(2, "text"), QStringLiteral("Coffee"));
    EXPECT_EQ(Shown(2, "quantity"), QStringLiteral("1"));
    EXPECT_FALSE(Shown(0, "lineSetId").isEmpty());
    EXPECT_EQ(Shown(2, "lineSetId"), Shown(0, "lineSetId"));
    EXPECT_TRUE(
        Find<LineView>(form.mmResponseBody)->Text().contains(QStringLiteral("Demo: 50% off one item")));
    EXPECT_EQ(window.size(), window.minimumSize());
    // At that size every caption of the settings panel shows whole.
    QWidget* settings = Find<QWidget>(form.Panel1);
    for (QLabel* label : settings->findChildren<QLabel*>())
        EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
    for (QAbstractButton* button : settings->findChildren<QAbstractButton*>())
        EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
    EXPECT_TRUE(window.grab().save(QStringLiteral("main-window.png")));

    Click(form.spdStartPayment);
    EXPECT_TRUE(boxes.texts.empty());
    EXPECT_EQ(Tabs(form.PageControl1)->currentWidget(), Find<QWidget>(form.TabSheetDialog));
    EXPECT_EQ(Find<QLineEdit>(form.edtDialogTitle)->text(),
              QStringLiteral("Round up the amount for charity?"));
    auto* first = Find<QPushButton>(form.spdButton1);
    EXPECT_TRUE(first->isVisible());
    EXPECT_TRUE(first->text().contains(QStringLiteral("Round up")));
    EXPECT_TRUE(window.grab().save(QStringLiteral("dialog-tab.png")));
}

// A laptop's 1280 x 800 screen is lower than the window's minimum: the window fits the screen,
// its content scrolls, and every tab of both page controls can be scrolled to and clicked.
TEST_F(MainWindowTest, OnAnEightHundredPixelScreenEveryTabCanBeReached) {
    QScreen* laptop = ScreenNamed(QStringLiteral("laptop"));
    ASSERT_NE(laptop, nullptr);
    ASSERT_EQ(laptop->geometry().height(), kLaptopScreenHeight);
    window.winId(); // the window exists, so its screen can be chosen
    window.windowHandle()->setScreen(laptop);
    window.move(laptop->geometry().topLeft());
    window.Start();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.screen(), laptop);
    EXPECT_LE(window.frameGeometry().height(), laptop->availableGeometry().height());
    EXPECT_LE(window.minimumHeight(), kLaptopScreenHeight);

    auto* scroller = window.findChild<QScrollArea*>();
    ASSERT_NE(scroller, nullptr);
    EXPECT_GT(scroller->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(scroller->horizontalScrollBar()->maximum(), 0); // room was left for the scroll bar
    form.TabSheetErrorRequestHeaders.SetVisible(true);
    form.TabSheetErrorRequestBody.SetVisible(true);
    for (const TPageControl* control : {&form.PageControl1, &form.PageControl2}) {
        QTabWidget* tabs = Tabs(*control);
        QTabBar* bar = tabs->tabBar();
        scroller->ensureWidgetVisible(bar);
        QApplication::processEvents();
        const QRect onScreen(bar->mapTo(scroller->viewport(), QPoint(0, 0)), bar->size());
        EXPECT_TRUE(scroller->viewport()->rect().contains(onScreen)) << control->Name();
        // The first tab by a click, the others with the arrow key (a tab bar wider than the
        // window scrolls its tabs into view).
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
        for (int index = 0; index < tabs->count(); ++index) {
            SCOPED_TRACE(control->Name() + " tab " + std::to_string(index));
            if (index > 0)
                QTest::keyClick(bar, Qt::Key_Right);
            EXPECT_EQ(control->ActivePageIndex(), index);
            EXPECT_TRUE(bar->rect().contains(bar->tabRect(index)));
        }
    }

    // Back on a screen with room the specified minimum holds again.
    window.windowHandle()->setScreen(QApplication::primaryScreen());
    window.move(QApplication::primaryScreen()->geometry().topLeft());
    QApplication::processEvents();
    EXPECT_EQ(window.minimumSize(), QSize(650, 827));
}

// Assistive technology and GUI robots see every labelled box under its label's text, reach it
// through that label, and read what each control is for; a text set through the accessibility
// interface reaches the model as typing does, and the send that follows uses it.
TEST_F(MainWindowTest, AssistiveTechnologyNamesTheControlsAndItsTextReachesTheModel) {
    testsupport::ConsumerOptions options;
    testsupport::SampleConsumer consumer(options);
    window.Start();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    int labelled = 0;
    for (TControl* control : form.AllControls()) {
        SCOPED_TRACE(control->Name());
        if (control->LabelText().empty())
            continue;
        auto* label = window.findChild<QLabel*>(Q(control->Name() + "Label"));
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->buddy(), Find<QWidget>(*control));
        QString name = Q(control->LabelText());
        if (name.endsWith(QLatin1Char(':')))
            name.chop(1);
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(Find<QWidget>(*control));
        ASSERT_NE(accessible, nullptr);
        EXPECT_EQ(accessible->text(QAccessible::Name), name);
        EXPECT_FALSE(accessible->text(QAccessible::Description).isEmpty());
        ++labelled;
    }
    EXPECT_GE(labelled, 25);
    for (const TListView* list : {&form.lvRequestHeaders, &form.lvResponseHeaders, &form.lvChecks})
        EXPECT_FALSE(Find<QWidget>(*list)->accessibleName().isEmpty()) << list->Name();
    EXPECT_EQ(Find<QLineEdit>(form.edtBaseURL)->placeholderText(),
              QStringLiteral("https://your-consumer.example/webhooks/"));
    EXPECT_TRUE(Find<QPushButton>(form.spdStartSession)->toolTip().contains(QStringLiteral("Bezig...")));
    EXPECT_TRUE(Find<QPushButton>(form.spdCompleteSession)->toolTip().contains(QStringLiteral("KASSABON")));
    EXPECT_TRUE(Find<QWidget>(form.lvResponseHeaders)->toolTip().contains(QStringLiteral("Waarde")));

    const std::pair<TEdit*, std::string> typed[] = {{&form.edtBaseURL, consumer.BaseUrl()},
                                                    {&form.edtSecret, options.secret},
                                                    {&form.edtSubscriptionId, "robot-subscription"}};
    for (const auto& [edit, text] : typed) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(Find<QLineEdit>(*edit));
        ASSERT_NE(accessible, nullptr);
        accessible->setText(QAccessible::Value, Q(text));
        EXPECT_EQ(edit->Text(), text) << edit->Name();
    }
    QAccessibleInterface* blocking = QAccessible::queryAccessibleInterface(Find<QCheckBox>(form.chkBlockingCall));
    ASSERT_NE(blocking->actionInterface(), nullptr);
    blocking->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(form.chkBlockingCall.Checked());

    ShowSessionTab();
    Click(form.btnGenerate);
    Click(form.spdStartSession);
    const std::vector<Json::Value> log = consumer.Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0]["event"].asString(), "startSession");
    EXPECT_EQ(Find<QLineEdit>(form.txtWebhookUrl)->text(), Q(consumer.BaseUrl() + "startSession"));
    EXPECT_EQ(Find<QLabel>(form.pnlHttpResponse)->text(), QStringLiteral("200 OK"));
}

// The keyboard focus stays where the user left it through a send and a chain of polls: it
// never lands in a read-only answer box, and disabled boxes stay readable.
TEST_F(MainWindowTest, TheFocusStaysPutThroughAPollAndDisabledBoxesStayReadable) {
    testsupport::ConsumerOptions options;
    options.scenarioJson = R"({"events": {
        "startExternalPayment": [{"body": {"externalPaymentId": "{{externalPayment.externalPaymentId}}",
                                           "started": true}}],
        "pollExternalPayment": [
            {"body": {"externalPaymentId": "{{externalPayment.externalPaymentId}}", "started": true,
                      "message": "Enter PIN"}, "faults": {"delayMs": 50}},
            {"body": {"externalPaymentId": "{{externalPayment.externalPaymentId}}", "started": true,
                      "confirmed": true}, "faults": {"delayMs": 50}}]}})";
    testsupport::SampleConsumer consumer(options);
    window.Start();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    form.edtBaseURL.SetText(consumer.BaseUrl());
    form.edtSecret.SetText(options.secret);
    form.chkBlockingCall.SetChecked(true);
    ShowSessionTab();
    Click(form.btnGenerate);
    Click(form.spdRegelToevoegen);
    TypeLine(0, "1001", "Coffee", "2", "2.5");

    Tabs(form.PageControl1)->setCurrentWidget(Find<QWidget>(form.TabSheetExternalPayment));
    QApplication::processEvents();
    auto* start = Find<QPushButton>(form.spdStartExternalPayment);
    Click(form.spdStartExternalPayment);
    auto noBoxSelected = [&] {
        for (QLineEdit* box : window.findChildren<QLineEdit*>())
            if (box->hasSelectedText())
                return false;
        return true;
    };
    ASSERT_TRUE(boxes.texts.empty()) << boxes.texts[0].toStdString();
    EXPECT_FALSE(start->isEnabled()) << form.mmMessages.Text(); // the payment runs: no second start
    EXPECT_NE(QApplication::focusWidget(), Find<QWidget>(form.edtExternalPaymentStarted));
    EXPECT_TRUE(noBoxSelected());
    // The polls' changes reach the widgets a frame at a time: the busy caption shows while a
    // poll is out, and once the chain has settled its results show, and every poll is a row
    // of the history in the model's order.
    auto* poll = Find<QPushButton>(form.spdPollExternalPayment);
    bool busyShown = false;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            busyShown = busyShown || poll->text() == QStringLiteral("Bezig...");
            return start->isEnabled();
        },
        10000));
    EXPECT_TRUE(busyShown);
    EXPECT_EQ(poll->text(), QStringLiteral("pollExternalPayment"));
    EXPECT_EQ(form.edtExternalPaymentConfirmed.Text(), "true");
    EXPECT_EQ(Find<QLineEdit>(form.edtExternalPaymentConfirmed)->text(), QStringLiteral("true"));
    EXPECT_EQ(Find<QLabel>(form.pnlHttpResponse)->text(), QStringLiteral("200 OK"));
    auto* history = Find<QTreeWidget>(form.lvHistory);
    ASSERT_EQ(history->topLevelItemCount(), 3); // startExternalPayment and two polls
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(history->topLevelItem(row)->text(1),
                  Q(form.lvHistory.Items()[static_cast<std::size_t>(row)][1]));
    EXPECT_EQ(history->topLevelItem(0)->text(1), QStringLiteral("pollExternalPayment"));
    EXPECT_EQ(QApplication::focusWidget(), start);
    EXPECT_TRUE(noBoxSelected());
    EXPECT_TRUE(boxes.texts.empty());

    // The user's own place survives background updates of the answer boxes too.
    auto* method = Find<QLineEdit>(form.edtPaymentMethod);
    method->setFocus();
    form.edtExternalPaymentMessage.SetText("Paid");
    form.spdPollExternalPayment.SetEnabled(false);
    form.spdPollExternalPayment.SetEnabled(true);
    QApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), method);

    // The dialog's title is disabled in the model and readable on screen.
    auto* title = Find<QLineEdit>(form.edtDialogTitle);
    EXPECT_FALSE(form.edtDialogTitle.Enabled());
    EXPECT_FALSE(title->isEnabled());
    EXPECT_EQ(title->palette().color(QPalette::Disabled, QPalette::Text),
              title->palette().color(QPalette::Active, QPalette::Text));
}

// The History tab through the window: the last tab, a row per exchange, the chosen entry whole,
// the filter as one types, the copy buttons filling the clipboard and a resend on top. Leaves a
// screenshot of the History tab.
TEST_F(MainWindowTest, TheHistoryTabShowsTheChosenEntryAndCopiesIt) {
    const testsupport::SampleConsumer consumer(DemoConsumerOptions());
    StartASaleWithTheDemoConsumer(consumer);
    Click(form.spdStartSession);
    Click(form.spdPauseSession); // refused: an error report follows
    Click(form.spdResumeSession);

    QTabWidget* exchange = Tabs(form.PageControl2);
    EXPECT_EQ(exchange->widget(exchange->count() - 1)->objectName(), QStringLiteral("TabSheetHistory"));
    EXPECT_EQ(exchange->tabText(exchange->count() - 1), QStringLiteral("History"));
    exchange->setCurrentIndex(exchange->count() - 1);
    window.resize(1100, 900);
    QApplication::processEvents();

    auto* list = Find<QTreeWidget>(form.lvHistory);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->topLevelItemCount(), 4);
    EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("resumeSession"));
    EXPECT_EQ(list->topLevelItem(1)->text(1), QStringLiteral("error (pauseSession)"));
    EXPECT_EQ(list->topLevelItem(2)->text(4), QStringLiteral("INVALID_SIGNATURE"));
    auto* copyCurl = Find<QPushButton>(form.btnHistoryCopyCurl);
    EXPECT_FALSE(copyCurl->isEnabled());

    // Choosing the refused entry shows it whole, in fixed-pitch views.
    const QRect row = list->visualItemRect(list->topLevelItem(2));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
    EXPECT_EQ(form.lvHistory.ItemIndex(), 2);
    auto* request = Find<LineView>(form.mmHistoryRequest); // a view: read-only
    ASSERT_NE(request, nullptr);
    EXPECT_TRUE(request->Text().startsWith(Q("POST " + consumer.BaseUrl() + "pauseSession")));
    EXPECT_EQ(request->font().family(), QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
    EXPECT_TRUE(Find<LineView>(form.mmHistoryResponse)->Text().startsWith(QStringLiteral("HTTP/1.1 200")));
    EXPECT_FALSE(Find<QTreeWidget>(form.lvHistoryChecks)
                     ->findItems(QStringLiteral("Signature diagnosis"), Qt::MatchExactly)
                     .isEmpty());

    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    Click(form.btnHistoryCopyCurl);
    EXPECT_TRUE(
        clipboard->text().startsWith(QStringLiteral("curl -sS -i -X POST -H 'Accept: application/json'")))
        << clipboard->text().toStdString();
    EXPECT_TRUE(clipboard->text().endsWith(Q("'" + consumer.BaseUrl() + "pauseSession'")));
    Click(form.btnHistoryCopyResponse);
    EXPECT_TRUE(clipboard->text().startsWith(QStringLiteral("HTTP/1.1 200 OK\r\n")))
        << clipboard->text().toStdString();

    // A resend goes on top; the chosen entry stays chosen below it.
    Click(form.btnHistoryResend);
    EXPECT_TRUE(boxes.texts.empty());
    ASSERT_EQ(list->topLevelItemCount(), 5);
    EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("pauseSession (resend)"));
    EXPECT_EQ(list->currentItem(), list->topLevelItem(3));

    // Typing in the filter box narrows the list at each key.
    auto* filter = Find<QLineEdit>(form.edtHistoryFilter);
    filter->setFocus();
    QTest::keyClicks(filter, QStringLiteral("resume"));
    EXPECT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("resumeSession"));
    QTest::keyClick(filter, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(filter, QStringLiteral("pause"));
    EXPECT_EQ(list->topLevelItemCount(), 3);

    form.edtHistoryFilter.SetText("");
    EXPECT_EQ(list->topLevelItemCount(), 5);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualItemRect(list->topLevelItem(3)).center());
    for (int c = 0; c < list->columnCount(); ++c)
        list->resizeColumnToContents(c);
    QApplication::processEvents();
    const QPixmap shot = window.grab();
    ASSERT_FALSE(shot.isNull());
    EXPECT_TRUE(shot.save(QStringLiteral("history-tab.png")));
}

} // namespace

// A consumer stopped at a breakpoint: while the window waits for it, only Cancel takes input
// (Esc presses it), and the window goes on with the exchange shown as cancelled.
TEST_F(MainWindowTest, EscCancelsAStalledExchangeAndNothingElseTakesInput) {
    testsupport::RawServer stalled([](testsupport::RawServer::Connection& c) { c.WaitUntilPeerCloses(); });
    window.Start();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    form.edtBaseURL.SetText(stalled.BaseUrl());
    ShowSessionTab();
    Click(form.btnGenerate);
    auto* cancel = Find<QPushButton>(form.btnCancelExchange);
    EXPECT_TRUE(Find<QCheckBox>(form.chkSelfSigned)->toolTip().contains(QStringLiteral("curl's -k")));

    bool enabledMeanwhile = false;
    QTimer user;
    user.setInterval(5);
    // Runs inside the exchange's wait, once the consumer has the request.
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (stalled.Requests().empty())
            return;
        user.stop();
        enabledMeanwhile = cancel->isEnabled();
        Click(form.btnConfigOpslaan); // dropped: nothing is saved
        QTest::keyClick(Find<QLineEdit>(form.edtBaseURL), Qt::Key_Escape);
    });
    user.start();
    Click(form.spdStartSession);
    EXPECT_TRUE(enabledMeanwhile);
    EXPECT_FALSE(cancel->isEnabled());
    EXPECT_EQ(Find<QLabel>(form.pnlHttpResponse)->text(),
              QStringLiteral("The exchange was cancelled before the consumer's answer came in."));
    EXPECT_EQ(Find<QLineEdit>(form.edtEventId)->text(), QStringLiteral("2"));
    EXPECT_FALSE(testsupport::FileExists(form.ConfigFilePath()));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(boxes.texts.empty());
}

// Recording through the real window: the clicks and the typed cells become the scenario's steps.
TEST_F(MainWindowTest, ClicksAndTypedCellsAreRecordedWhileRecordIsTicked) {
    ScenarioRecorder recorder(form);
    window.Start();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ShowSessionTab();
    Click(form.spdRegelToevoegen); // before Record: not recorded, but the session to start with
    QTest::mouseClick(Find<QCheckBox>(form.chkRecordScenario), Qt::LeftButton);
    ASSERT_TRUE(recorder.Recording());
    Click(form.btnGenerate);
    Click(form.spdRegelToevoegen);
    Type(1, "text", QStringLiteral("Tea"));
    Click(form.spdRegelVerwijderen);
    QTest::mouseClick(Find<QCheckBox>(form.chkRecordScenario), Qt::LeftButton);
    EXPECT_FALSE(recorder.Recording());
    Click(form.spdRegelToevoegen);

    const Scenario& recorded = recorder.Recorded();
    EXPECT_EQ(1u, recorded.startingLines.size());
    std::vector<std::string> actions;
    for (const ScenarioStep& step : recorded.steps)
        actions.push_back(step.action);
    EXPECT_EQ((std::vector<std::string>{"generateSessionId", "addLine", "editLine", "removeLine"}), actions);
    EXPECT_EQ("Tea", recorded.steps.at(2).args["fields"]["text"].asString());
    EXPECT_EQ(2, recorded.steps.at(2).expect["lineCount"].asInt());
}
