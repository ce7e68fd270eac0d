#include "SummaryWriting.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace maildir {

std::optional<QSqlError> beginWriting(QSqlDatabase &db)
{
    QSqlQuery begin(db);
    if (begin.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return std::nullopt;
    return begin.lastError();
}

std::optional<qint64> RowWriter::folderId(const QString &directory, bool create)
{
    const auto known = m_folderIds.constFind(directory);
    if (known != m_folderIds.cend())
        return *known;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT id FROM folders WHERE directory = ?"));
    query.addBindValue(directory);
    if (query.exec() && query.next()) {
        const qint64 id = query.value(0).toLongLong();
        m_folderIds.insert(directory, id);
        return id;
    }
    if (!create)
        return std::nullopt;
    query.prepare(QStringLiteral("INSERT INTO folders(directory) VALUES(?)"));
    query.addBindValue(directory);
    if (!query.exec())
        return std::nullopt;
    const qint64 id = query.lastInsertId().toLongLong();
    m_folderIds.insert(directory, id);
    return id;
}

std::optional<QSqlError> RowWriter::write(const std::vector<SummaryRow> &rows,
                                          const std::vector<StaleRow> &removals,
                                          const QStringList &distrusted)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    std::optional<QSqlError> error = beginWriting(db);
    {
        QSqlQuery remove(db);
        QSqlQuery insert(db);
        if (!error &&
            !(remove.prepare(
                  QStringLiteral("DELETE FROM emails WHERE folder = ? AND unique_name = ?")) &&
              insert.prepare(QStringLiteral(
                  "INSERT OR REPLACE INTO emails(folder, unique_name, entry) VALUES(?, ?, ?)"))))
            error = remove.lastError().isValid() ? remove.lastError() : insert.lastError();
        for (size_t i = 0; !error && i < removals.size(); ++i) {
            remove.addBindValue(removals[i].folder);
            remove.addBindValue(removals[i].uniqueName);
            if (!remove.exec())
                error = remove.lastError();
        }
        for (size_t i = 0; !error && i < rows.size(); ++i) {
            const SummaryRow &row = rows[i];
            const std::optional<qint64> folder = folderId(row.directory, true);
            if (!folder) {
                error = db.lastError();
                break;
            }
            insert.addBindValue(*folder);
            insert.addBindValue(row.uniqueName);
            insert.addBindValue(row.entry);
            if (!insert.exec())
                error = insert.lastError();
        }
        QSqlQuery distrust(db);
        if (!error && !distrusted.isEmpty() &&
            !distrust.prepare(
                QStringLiteral("UPDATE folders SET stamp = NULL, snapshot = NULL WHERE id = ?")))
            error = distrust.lastError();
        for (qsizetype i = 0; !error && i < distrusted.size(); ++i) {
            const std::optional<qint64> folder = folderId(distrusted[i], false);
            if (!folder)
                continue;
            distrust.addBindValue(*folder);
            if (!distrust.exec())
                error = distrust.lastError();
        }
    }
    if (!error && !db.commit())
        error = db.lastError();
    if (error) {
        db.rollback();
        // Ids made in the transaction rolled back are no folder's.
        m_folderIds.clear();
    }
    return error;
}

} // namespace maildir
