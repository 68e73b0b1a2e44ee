#include "GridTableModel.h"

#include "Application.h"

GridTableModel::GridTableModel(TGridControl& grid, Toolkit& toolkit, QObject* parent)
    : QAbstractTableModel(parent), grid_(grid), toolkit_(toolkit), rows_(grid.RowCount() - grid.FixedRows()),
      columns_(grid.ColumnCount()) {
    // The grid has no way to disconnect: the guard keeps a late change from reaching a
    // destroyed model.
    QPointer<GridTableModel> self(this);
    grid_.Changed.Connect([self] {
        if (self)
            self->OnGridChanged();
    });
}

int GridTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int GridTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columns_;
}

QVariant GridTableModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    if (role == Qt::TextAlignmentRole) {
        const bool integer = grid_.Columns()[static_cast<std::size_t>(index.column())].integer;
        const Qt::Alignment alignment = Qt::AlignVCenter | (integer ? Qt::AlignRight : Qt::AlignLeft);
        return alignment.toInt();
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    return QString::fromStdString(grid_.Cell(index.column(), index.row() + grid_.FixedRows()));
}

bool GridTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return false;
    const int column = index.column();
    const int row = index.row() + grid_.FixedRows();
    if (!Editable(column, row))
        return false;
    // The cell-exit handler may fail (an unreadable session id); that is shown like every
    // other failure of the window, and the typed text stays in the cell.
    Application::Run(toolkit_, [&] { grid_.EditCell(column, row, value.toString().toStdString()); });
    return true;
}

QVariant GridTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= columns_)
            return {};
        return QString::fromStdString(grid_.Cell(section, 0));
    }
    if (section < 0 || section >= rows_)
        return {};
    return section + 1;
}

Qt::ItemFlags GridTableModel::flags(const QModelIndex& index) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    if (Editable(index.column(), index.row() + grid_.FixedRows()))
        result |= Qt::ItemIsEditable;
    return result;
}

bool GridTableModel::Editable(int column, int row) const {
    // No editing while the window is busy, whatever the column allows.
    return grid_.Editing() && grid_.EditorVisible() && grid_.CanEdit(column, row);
}

void GridTableModel::OnGridChanged() {
    const int rows = grid_.RowCount() - grid_.FixedRows();
    const int columns = grid_.ColumnCount();
    if (rows != rows_ || columns != columns_) {
        beginResetModel();
        rows_ = rows;
        columns_ = columns;
        endResetModel();
        emit gridRebuilt();
    }
}

void GridTableModel::ShowCellChanges() {
    if (columns_ > 0) {
        emit headerDataChanged(Qt::Horizontal, 0, columns_ - 1);
        if (rows_ > 0)
            emit dataChanged(index(0, 0), index(rows_ - 1, columns_ - 1), {Qt::DisplayRole, Qt::EditRole});
    }
}
