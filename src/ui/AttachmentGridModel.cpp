#include "AttachmentGridModel.h"

#include "mailstore/AttachText.h"

#include <QApplication>
#include <QStyle>

namespace {

bool isSizeColumn(int dataColumn)
{
    return AttachColumn(dataColumn) == AttachColumn::Size ||
           AttachColumn(dataColumn) == AttachColumn::AttachmentSize;
}

} // namespace

AttachmentGridModel::AttachmentGridModel(AttachmentList *list, QObject *parent)
    : QAbstractTableModel(parent), m_list(list)
{
}

int AttachmentGridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int AttachmentGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : attachColumnCount;
}

int AttachmentGridModel::columnWidth(int dataColumn)
{
    static const int widths[] = {230, 79, 50, 81, 41, 150, 89, 90};
    return widths[dataColumn - 1];
}

QVariant AttachmentGridModel::data(const QModelIndex &index, int role) const
{
    const int dataColumn = index.column() + 1;
    if (role == Qt::TextAlignmentRole)
        return int((isSizeColumn(dataColumn) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const auto record = m_list->record(index.row());
    if (!record)
        return {};
    return cellText(*record, AttachColumn(dataColumn), m_locale);
}

QVariant AttachmentGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= attachColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (role) {
    case Qt::DisplayRole:
        return columnHeading(AttachColumn(section + 1));
    case Qt::TextAlignmentRole:
        return int((isSizeColumn(section + 1) ? Qt::AlignRight : Qt::AlignHCenter) |
                   Qt::AlignVCenter);
    case Qt::DecorationRole:
        switch (m_markers[size_t(section)]) {
        case Marker::Down:
            return QApplication::style()->standardIcon(QStyle::SP_ArrowDown);
        case Marker::Up:
            return QApplication::style()->standardIcon(QStyle::SP_ArrowUp);
        case Marker::None:
            break;
        }
        return {};
    default:
        return {};
    }
}

void AttachmentGridModel::syncRows()
{
    beginResetModel();
    m_rows = m_list->count();
    endResetModel();
}

void AttachmentGridModel::headingClick(int dataColumn)
{
    if (dataColumn < 1 || dataColumn > attachColumnCount)
        return;
    const Marker before = m_markers[size_t(dataColumn - 1)];
    m_markers.fill(Marker::None);
    m_markers[size_t(dataColumn - 1)] = before == Marker::Down ? Marker::Up : Marker::Down;
    m_list->SortDescending = m_markers[size_t(dataColumn - 1)] == Marker::Up;
    m_list->sort(AttachColumn(dataColumn));
    // The rows keep their numbers, and so the selection; only what they show changes.
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, attachColumnCount - 1);
    if (m_rows > 0)
        Q_EMIT dataChanged(index(0, 0), index(m_rows - 1, attachColumnCount - 1));
}
