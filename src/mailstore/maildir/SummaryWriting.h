#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class QSqlDatabase;
class QSqlError;

namespace maildir {

// A summary to store: SummaryEntry.h's entry for a file of a folder's directory.
struct SummaryRow
{
    QString directory;
    QString uniqueName;
    QByteArray entry;
};

// A stored row to remove.
struct StaleRow
{
    qint64 folder;
    QString uniqueName;
};

// Starts a transaction that writes from its first statement on, so that it waits, within
// the connection's busy timeout, for another program's writer to finish, where one that
// first reads would fail as soon as that writer has changed what it read.
std::optional<QSqlError> beginWriting(QSqlDatabase &db);

// Writes rows through one connection of the summary cache's database, knowing the ids of
// its folders. Used on the thread that opened the connection.
class RowWriter
{
public:
    explicit RowWriter(QString connection) : m_connection(std::move(connection)) {}

    // The folder's id; with create, a new folder is added when there is none.
    std::optional<qint64> folderId(const QString &directory, bool create);
    void rememberId(const QString &directory, qint64 id) { m_folderIds.insert(directory, id); }
    void forgetIds() { m_folderIds.clear(); }

    // In one transaction: the removals, then the rows, then the folders of distrusted are
    // no longer trusted. The failure, if any, with everything rolled back.
    std::optional<QSqlError> write(const std::vector<SummaryRow> &rows,
                                   const std::vector<StaleRow> &removals,
                                   const QStringList &distrusted = {});

private:
    QString m_connection;
    QHash<QString, qint64> m_folderIds;
};

} // namespace maildir
