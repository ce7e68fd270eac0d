#include "AttachmentGridModel.h"

#include "PlainText.h"
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
    if (parent.isValid())
        return 0;
    return m_filter.isEmpty() ? m_rows : int(m_shown.size());
}

int AttachmentGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : attachColumnCount;
}

int AttachmentGridModel::columnWidth(int dataColumn)
{
    static const int widths[] = {230, 79, 50, 81, 41, 150, 89, 112};
    return widths[dataColumn - 1];
}

QVariant AttachmentGridModel::data(const QModelIndex &index, int role) const
{
    const int dataColumn = index.column() + 1;
    if (role == Qt::TextAlignmentRole)
        return int((isSizeColumn(dataColumn) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const auto record = this->record(index.row());
    if (!record)
        return {};
    const QString text = cellText(*record, AttachColumn(dataColumn), m_locale);
    return role == Qt::ToolTipRole ? plainToolTip(text) : text;
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
    findShownRows();
    endResetModel();
}

void AttachmentGridModel::setFilter(const AttachmentFilter &filter)
{
    beginResetModel();
    m_filter = filter;
    findShownRows();
    endResetModel();
}

void AttachmentGridModel::findShownRows()
{
    m_shown.clear();
    if (m_filter.isEmpty())
        return;
    for (int position = 0; position < m_rows; ++position) {
        const auto record = m_list->record(position);
        if (record && m_filter.matches(*record))
            m_shown.push_back(position);
    }
}

int AttachmentGridModel::listPosition(int gridRow) const
{
    if (gridRow < 0 || gridRow >= rowCount())
        return -1;
    return m_filter.isEmpty() ? gridRow : m_shown[size_t(gridRow)];
}

std::shared_ptr<const TAttach> AttachmentGridModel::record(int gridRow) const
{
    const int position = listPosition(gridRow);
    return position < 0 ? nullptr : m_list->record(position);
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
    // The same entries match, now at other positions: as many rows show as before.
    findShownRows();
    // The rows keep their numbers, and so the selection; only what they show changes.
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, attachColumnCount - 1);
    if (rowCount() > 0)
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, attachColumnCount - 1));
}
