#pragma once

#include "mailstore/AttachmentList.h"

#include <QAbstractTableModel>
#include <QLocale>

// The attachment grid's rows, read from the attachment list whenever a cell is
// drawn; the grid keeps no copy. The row count changes only through syncRows, so
// the grid shows no rows while an analysis fills the list.
class AttachmentGridModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum class Marker { None, Down, Up };

    AttachmentGridModel(AttachmentList *list, QObject *parent);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // syncGridRows: the grid shows as many rows as the list has entries.
    void syncRows();
    // A heading click on data column 1 to 8 (AttachColumn): turns the markers, sorts the list and
    // redraws every row; the selected row numbers stay as they are.
    void headingClick(int dataColumn);
    Marker marker(int dataColumn) const { return m_markers[size_t(dataColumn - 1)]; }

    // The designed width of a data column.
    static int columnWidth(int dataColumn);

private:
    AttachmentList *m_list;
    int m_rows = 0;
    std::array<Marker, attachColumnCount> m_markers{};
    QLocale m_locale;
};
