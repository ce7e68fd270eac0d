// The main window's filter bar: which rows the grid shows, selecting them, the figures of
// the selection.
#include "AttachmentGridModel.h"
#include "FilterBar.h"
#include "MainWindow.h"
#include "PlainText.h"
#include "processing/FreedSpace.h"

#include <QBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QSet>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>

void MainWindow::buildFilterBar(QWidget *page, QBoxLayout *layout)
{
    filterBar = new FilterBar(page);
    layout->addWidget(filterBar);
    connect(filterBar, &FilterBar::filterChanged, this, &MainWindow::filterGrid);
    connect(filterBar, &FilterBar::selectMatchingClicked, this, [this] {
        attachGrid->selectAll();
        attachGrid->setFocus();
    });
    selectionTotals = plainLabel(new QLabel(this));
    selectionTotals->setObjectName(QStringLiteral("selectionTotals"));
    // Apart from what the analysis found, which follows it.
    selectionTotals->setContentsMargins(0, 0, 12, 0);
    statusBar()->addPermanentWidget(selectionTotals);
}

void MainWindow::applyFilter(const AttachmentFilter &filter)
{
    filterBar->setFilter(filter);
    pages->setCurrentWidget(attachmentsPage);
}

void MainWindow::filterGrid(const AttachmentFilter &filter)
{
    // The records selected before stay selected where they still show. Those the filter
    // hides are no longer selected: no command acts on a row out of sight.
    QSet<int> selected;
    for (const QModelIndex &row : attachGrid->selectionModel()->selectedRows())
        selected.insert(m_model->listPosition(row.row()));
    m_model->setFilter(filter);
    QItemSelection keep;
    const int lastColumn = m_model->columnCount() - 1;
    for (int row = 0, rows = m_model->rowCount(); row < rows && !selected.isEmpty(); ++row) {
        if (!selected.contains(m_model->listPosition(row)))
            continue;
        int last = row;
        while (last + 1 < rows && selected.contains(m_model->listPosition(last + 1)))
            ++last;
        keep.select(m_model->index(row, 0), m_model->index(last, lastColumn));
        row = last;
    }
    attachGrid->selectionModel()->select(keep, QItemSelectionModel::Select);
    attachGridSelectChanged();
}

void MainWindow::offerListTypes()
{
    QSet<QString> types;
    for (int position = 0; position < m_list.count(); ++position) {
        if (const auto record = m_list.record(position))
            types.insert(record->Type);
    }
    filterBar->setTypeChoices(types.values());
}

std::vector<std::shared_ptr<const TAttach>> MainWindow::selectedRecords() const
{
    QList<int> rows;
    for (const QModelIndex &index : attachGrid->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    std::vector<std::shared_ptr<const TAttach>> records;
    records.reserve(size_t(rows.size()));
    for (const int row : std::as_const(rows)) {
        if (auto record = m_model->record(row))
            records.push_back(std::move(record));
    }
    return records;
}

void MainWindow::showSelectionTotals()
{
    selectionTotals->setText(freeableText(totalsOf(selectedRecords())));
}
