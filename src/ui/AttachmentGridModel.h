#pragma once

#include "mailstore/AttachmentList.h"
#include "processing/AttachmentFilter.h"

#include <QAbstractTableModel>
#include <QLocale>

// The attachment grid's rows, read from the attachment list whenever a cell is
// drawn; the grid keeps no copy. The row count changes only through syncRows, so
// the grid shows no rows while an analysis fills the list. With a filter, the grid
// shows the matching entries only, in the list's order: grid row r shows the entry at
// listPosition(r), which every command that acts on rows goes through.
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

    // syncGridRows: the grid shows the list's entries that match the filter.
    void syncRows();
    // Shows the entries that match filter (every entry when it is empty), among those
    // syncRows last counted. Resets the model: the grid's selection is cleared.
    void setFilter(const AttachmentFilter &filter);
    const AttachmentFilter &filter() const { return m_filter; }
    // The list position that grid row shows, or -1 for no such row.
    int listPosition(int gridRow) const;
    // The record that grid row shows, or null.
    std::shared_ptr<const TAttach> record(int gridRow) const;
    // A heading click on data column 1 to 8 (AttachColumn): turns the markers, sorts the list and
    // redraws every row; the selected row numbers stay as they are.
    void headingClick(int dataColumn);
    Marker marker(int dataColumn) const { return m_markers[size_t(dataColumn - 1)]; }

    // The designed width of a data column.
    static int columnWidth(int dataColumn);

private:
    // The list positions of the shown rows, when a filter is set.
    void findShownRows();

    AttachmentList *m_list;
    int m_rows = 0; // the list's entries when syncRows last counted them
    AttachmentFilter m_filter;
    std::vector<int> m_shown;
    std::array<Marker, attachColumnCount> m_markers{};
    QLocale m_locale;
};
