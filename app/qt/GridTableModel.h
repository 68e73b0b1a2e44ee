#pragma once

#include "TGridControl.h"
#include "Toolkit.h"

#include <QAbstractTableModel>
#include <QPointer>

// The session grid as a Qt table model. The cells live in the TGridControl; this only shows
// them: view row r is grid row r + 1 (grid row 0 holds the column captions, shown as the
// header). A user edit goes through TGridControl::EditCell, so the window hears of it as the
// end of a cell edit.
class GridTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    GridTableModel(TGridControl& grid, Toolkit& toolkit, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    TGridControl& Grid() { return grid_; }

    // Tells the views that the cells and captions may have changed. A new shape is told at
    // once by the model itself; the window calls this with its other updates, so a burst of
    // background changes is told once a frame.
    void ShowCellChanges();

signals:
    // The rows were rebuilt from scratch (a different number of rows or columns).
    void gridRebuilt();

private:
    // Follows a change of the grid's shape by resetting the model; the same shape is left to
    // ShowCellChanges, which keeps the current cell, the selection and an open editor.
    void OnGridChanged();
    bool Editable(int column, int row) const;

    TGridControl& grid_;
    Toolkit& toolkit_;
    int rows_ = 0;    // data rows as last announced
    int columns_ = 0; // columns as last announced
};
