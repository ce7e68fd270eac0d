#include "GridColumns.h"

#include "AttachmentGridModel.h"
#include "settings/TRegistry.h"

#include <QEvent>
#include <QHeaderView>
#include <QSet>
#include <QStyledItemDelegate>
#include <QTableView>

namespace {

const QString widthsValue = QStringLiteral("Column widths");
const QString orderValue = QStringLiteral("Column order");
constexpr int columns = attachColumnCount;
// Before Attachment size came, seven columns were stored; they are read still.
constexpr int earlierColumns = 7;
constexpr int subjectColumn = 0; // data column 1
constexpr int folderColumn = 1;
constexpr int sizeColumn = 2;
constexpr int filenameColumn = 3;
constexpr int attachmentSizeColumn = 7;
constexpr int narrowest = 24;
constexpr int widest = 4000;

// Cuts its text at the left, so that a folder path keeps its own end.
class LeftEliding : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = Qt::ElideLeft;
    }
};

// Eight whole numbers (or the seven stored before Attachment size came) separated by
// commas, each within [low, high]; empty when not.
QList<int> numbers(const std::optional<RegistryValue> &value, int low, int high)
{
    if (!value || value->type != RegistryValue::Type::String)
        return {};
    QList<int> result;
    for (const QString &part : value->text.split(QLatin1Char(','))) {
        bool ok = false;
        const int number = part.trimmed().toInt(&ok);
        if (!ok || number < low || number > high)
            return {};
        result << number;
    }
    return result.size() == columns || result.size() == earlierColumns ? result : QList<int>();
}

QString joined(const QList<int> &values)
{
    QStringList parts;
    for (const int value : values)
        parts << QString::number(value);
    return parts.join(QLatin1Char(','));
}

} // namespace

GridColumns::GridColumns(QTableView *grid) : QObject(grid), m_grid(grid)
{
    grid->setItemDelegateForColumn(folderColumn, new LeftEliding(grid));
    QHeaderView *header = grid->horizontalHeader();
    header->setSectionsMovable(true);
    header->setStretchLastSection(false);
    for (int column = 0; column < columns; ++column)
        grid->setColumnWidth(column, AttachmentGridModel::columnWidth(column + 1));
    placeAsShown(shownColumnOrder());
    m_viewport = grid->viewport();
    m_viewport->installEventFilter(this);
}

QString GridColumns::key()
{
    return QStringLiteral("Software\\Vellmor Software\\Quillbrook\\main\\attachGrid");
}

void GridColumns::load()
{
    TRegistry registry;
    if (!m_grid || !registry.OpenKey(key(), false))
        return;
    const QList<int> widths = numbers(registry.value(widthsValue), narrowest, widest);
    for (int column = 0; column < widths.size(); ++column)
        m_grid->setColumnWidth(column, widths[column]);
    QList<int> order = numbers(registry.value(orderValue), 0, columns - 1);
    if (order.size() == earlierColumns && !order.contains(attachmentSizeColumn)) {
        // An order stored before Attachment size came: it goes after Size, wherever that is.
        order.insert(order.indexOf(sizeColumn) + 1, attachmentSizeColumn);
    }
    if (QSet<int>(order.begin(), order.end()).size() != columns)
        return;
    std::array<AttachColumn, columns> shown{};
    for (int visual = 0; visual < columns; ++visual)
        shown[size_t(visual)] = AttachColumn(order[visual] + 1);
    placeAsShown(shown);
}

void GridColumns::placeAsShown(const std::array<AttachColumn, attachColumnCount> &shown)
{
    QHeaderView *header = m_grid->horizontalHeader();
    for (int visual = 0; visual < columns; ++visual) {
        const int logical = int(shown[size_t(visual)]) - 1;
        header->moveSection(header->visualIndex(logical), visual);
    }
}

void GridColumns::save(TRegistry &registry) const
{
    if (!m_grid || !registry.OpenKey(key(), true))
        return;
    const QHeaderView *header = m_grid->horizontalHeader();
    QList<int> widths;
    QList<int> order;
    for (int column = 0; column < columns; ++column) {
        widths << header->sectionSize(column);
        order << header->logicalIndex(column);
    }
    registry.WriteString(widthsValue, joined(widths));
    registry.WriteString(orderValue, joined(order));
}

bool GridColumns::eventFilter(QObject *watched, QEvent *event)
{
    // The grid is looked at for its viewport's resizes only: other events come while it is
    // being destroyed, when it is no longer a QTableView.
    if (event->type() == QEvent::Resize && watched == m_viewport && m_grid) {
        const int width = m_grid->viewport()->width();
        int used = 0;
        for (int column = 0; column < columns; ++column)
            used += m_grid->columnWidth(column);
        // The columns fill the grid; when it narrows they give back what it lost.
        const int extra = width - used;
        if (extra > 0)
            spread(extra);
        else if (m_viewportWidth >= 0 && width < m_viewportWidth)
            spread(qMax(extra, width - m_viewportWidth));
        m_viewportWidth = width;
    }
    return QObject::eventFilter(watched, event);
}

void GridColumns::spread(int change)
{
    if (change == 0)
        return;
    const int toSubject = change * 2 / 3;
    const int minimumSubject = AttachmentGridModel::columnWidth(subjectColumn + 1);
    const int minimumFilename = AttachmentGridModel::columnWidth(filenameColumn + 1);
    const int subject = m_grid->columnWidth(subjectColumn);
    const int filename = m_grid->columnWidth(filenameColumn);
    // Narrowing never takes them below their designed widths; what is left scrolls.
    m_grid->setColumnWidth(subjectColumn, qMax(qMin(subject, minimumSubject), subject + toSubject));
    m_grid->setColumnWidth(filenameColumn,
                           qMax(qMin(filename, minimumFilename), filename + change - toSubject));
}
