#pragma once

#include "mailstore/AttachmentList.h"

#include <QObject>
#include <QPointer>

#include <array>

class QTableView;
class TRegistry;

// The attachment grid's columns: the Folder column shows the end of its path when cut
// (every path starts with the same "Email Folders\store\"), widening the grid widens
// Subject and Filename rather than the last column, and the user's column widths and
// order are kept in the registry with the main window.
class GridColumns : public QObject
{
    Q_OBJECT
public:
    explicit GridColumns(QTableView *grid);

    // The registry key below the main window's placement that holds them.
    static QString key();

    // Restores widths and order stored by save(), or the seven stored before Attachment
    // size came (which then keeps its designed width and follows Size); anything else
    // stored is ignored.
    void load();
    // Into an open batch of registry, which the caller commits.
    void save(TRegistry &registry) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Gives a change of width to Subject (two thirds) and Filename.
    void spread(int change);
    // Moves the columns (data columns, AttachColumn) to these places from the left.
    void placeAsShown(const std::array<AttachColumn, attachColumnCount> &shown);

    QPointer<QTableView> m_grid;
    QObject *m_viewport = nullptr; // compared only: it may be going when an event comes
    int m_viewportWidth = -1;
};
