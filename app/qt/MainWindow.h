#pragma once

#include "MainFormUnit.h"
#include "QtToolkit.h"

#include <QMainWindow>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTableView;
class QTreeWidget;
class GridTableModel;
class LineView;
struct MainWindowBindings;
struct WidgetPush;

// Draws the window model TForm1 with Qt Widgets and feeds the user's input back into it. Every
// widget carries its control's name as objectName.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    MainWindow(TForm1& form, QtToolkit& toolkit, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The form's first showing, then the window on screen. A failing start-up reaches the
    // caller before anything is shown.
    void Start();

    GridTableModel* GridModel() const { return gridModel_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    // Paints at most a few times the time a paint takes: a chain of background updates (polls
    // answered in a millisecond) would otherwise spend the window's thread on painting.
    bool event(QEvent* event) override;

private:
    // Layout, top to bottom.
    QWidget* BuildSettingsPanel();
    QWidget* BuildHmacTab();
    QWidget* BuildSessionTab();
    QWidget* BuildDialogTab();
    QWidget* BuildScanCodeTab();
    QWidget* BuildExternalPaymentTab();
    QWidget* BuildPanel2();
    QWidget* BuildExchangeTabs();
    QWidget* BuildHistoryTab();

    // One widget per control kind, bound both ways.
    QLineEdit* Edit(TEdit& edit);
    // A click goes through TForm1::Press unless onClick says otherwise.
    QPushButton* Button(TControl& button, std::function<void()> onClick = {});
    QCheckBox* CheckBox(TCheckBox& box);
    QComboBox* ComboBox(TComboBox& box);
    QPlainTextEdit* Memo(TMemo& memo);
    // A read-only memo: draws only the lines on screen, for bodies of any size.
    LineView* MemoView(TMemo& memo);
    QTreeWidget* ListView(TListView& list);
    QLabel* StatusStrip(TPanel& panel);
    QWidget* Panel(TPanel& panel);
    QTableView* Grid(TGridControl& grid);
    QTabWidget* PageControl(TPageControl& control, const std::vector<QWidget*>& pages);
    QWidget* TabPage(TTabSheet& sheet);
    // The label beside a control, showing its LabelText and hidden with it.
    QLabel* Label(TControl& control);
    // A control's label becomes its widget's buddy and names it for assistive technology.
    void LinkLabel(const TControl& control);
    // The specified minimum size where the screen has room for it, else the screen's room.
    void FitToScreen();

    // Runs push now and after every change of the control, with the widget's signals blocked
    // so the push never comes back as user input. Returns the push, to be requested again.
    std::shared_ptr<WidgetPush> Watch(TControl& control, QWidget* widget, std::function<void()> push);
    // Watch, plus the name, the state every control has (enabled, visible, font, colour) and
    // the control's focus requests.
    std::shared_ptr<WidgetPush> Bind(TControl& control, QWidget* widget, std::function<void()> push);
    // Runs a user action on the model; a push it causes is not sent back to the same widget.
    void FromWidget(QWidget* widget, const std::function<void()>& action);

    TForm1& form_;
    QtToolkit& toolkit_;
    std::shared_ptr<MainWindowBindings> bindings_;
    GridTableModel* gridModel_ = nullptr;
    std::chrono::steady_clock::time_point nextPaint_;
    bool paintDeferred_ = false;
    int closePaints_ = 0; // paints in a row, each soon after the one before; -1: a deferred one
    uint64_t paintedQueuedWorkRuns_ = 0; // the toolkit's count at the last paint
};
