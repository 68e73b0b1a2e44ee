#pragma once

#include <QAbstractScrollArea>
#include <QString>

#include <cstddef>
#include <string>
#include <vector>

// A read-only view of lines of UTF-8 text that draws only what is on screen and never wraps:
// an answer of megabytes on one line costs no more to show than a short one. The lines stay
// the owner's; after changing them the owner calls Refresh.
class LineView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit LineView(const std::vector<std::string>& lines, QWidget* parent = nullptr);

    // The lines have changed. With followEnd the view goes to the last line (a log that grew),
    // otherwise back to the start.
    void Refresh(bool followEnd);
    // The whole text, lines joined by "\n" (for copying and for assistive technology).
    QString Text() const;
    int FirstShownLine() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void UpdateScrollBars();
    int LineHeight() const;
    int ColumnWidth() const;
    int ShownLineCount() const;
    int ShownColumnCount() const;

    const std::vector<std::string>& lines_;
    std::size_t longestLine_ = 0; // in bytes, which is the horizontal scroll unit
};
