#include "LineView.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <limits>

namespace {

constexpr int kMargin = 4; // pixels between the frame and the text

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The characters of line from about byte `first` that fit in `columns` columns, cut at
// character boundaries.
QString Slice(const std::string& line, std::size_t first, std::size_t columns) {
    if (first >= line.size())
        return {};
    while (first > 0 && IsContinuationByte(line[first]))
        --first;
    // A character takes up to four bytes.
    std::size_t end = std::min(line.size(), first + columns * 4);
    while (end < line.size() && IsContinuationByte(line[end]))
        ++end;
    return QString::fromUtf8(line.data() + first, static_cast<qsizetype>(end - first)).left(
        static_cast<qsizetype>(columns));
}

int ToInt(std::size_t value) {
    return static_cast<int>(std::min<std::size_t>(value, std::numeric_limits<int>::max()));
}

} // namespace

LineView::LineView(const std::vector<std::string>& lines, QWidget* parent)
    : QAbstractScrollArea(parent), lines_(lines) {
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    Refresh(false);
}

void LineView::Refresh(bool followEnd) {
    longestLine_ = 0;
    for (const std::string& line : lines_)
        longestLine_ = std::max(longestLine_, line.size());
    UpdateScrollBars();
    verticalScrollBar()->setValue(followEnd ? verticalScrollBar()->maximum() : 0);
    horizontalScrollBar()->setValue(0);
    viewport()->update();
}

QString LineView::Text() const {
    QStringList list;
    list.reserve(ToInt(lines_.size()));
    for (const std::string& line : lines_)
        list << QString::fromStdString(line);
    return list.join(QLatin1Char('\n'));
}

int LineView::FirstShownLine() const {
    return verticalScrollBar()->value();
}

int LineView::LineHeight() const {
    return std::max(1, fontMetrics().lineSpacing());
}

int LineView::ColumnWidth() const {
    return std::max(1, fontMetrics().averageCharWidth());
}

int LineView::ShownLineCount() const {
    return std::max(1, (viewport()->height() - 2 * kMargin) / LineHeight());
}

int LineView::ShownColumnCount() const {
    return std::max(1, (viewport()->width() - 2 * kMargin) / ColumnWidth());
}

void LineView::UpdateScrollBars() {
    const int lines = ShownLineCount();
    verticalScrollBar()->setPageStep(lines);
    verticalScrollBar()->setRange(0, std::max(0, ToInt(lines_.size()) - lines));
    const int columns = ShownColumnCount();
    horizontalScrollBar()->setPageStep(columns);
    horizontalScrollBar()->setSingleStep(4);
    horizontalScrollBar()->setRange(0, std::max(0, ToInt(longestLine_) - columns));
}

void LineView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Text));
    const int height = LineHeight();
    const int ascent = fontMetrics().ascent();
    const std::size_t first = static_cast<std::size_t>(verticalScrollBar()->value());
    const std::size_t column = static_cast<std::size_t>(horizontalScrollBar()->value());
    // One column more than fits, so a line's last character is cut by the edge, not missing.
    const std::size_t columns = static_cast<std::size_t>(ShownColumnCount()) + 1;
    const std::size_t last = std::min(lines_.size(), first + static_cast<std::size_t>(ShownLineCount()) + 1);
    int y = kMargin;
    for (std::size_t i = first; i < last; ++i, y += height)
        painter.drawText(kMargin, y + ascent, Slice(lines_[i], column, columns));
}

void LineView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void LineView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        // There is no partial selection: copying takes the whole text.
        QApplication::clipboard()->setText(Text());
        return;
    }
    if (event->key() == Qt::Key_Home && event->modifiers() & Qt::ControlModifier) {
        verticalScrollBar()->setValue(0);
        return;
    }
    if (event->key() == Qt::Key_End && event->modifiers() & Qt::ControlModifier) {
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void LineView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        UpdateScrollBars();
}
