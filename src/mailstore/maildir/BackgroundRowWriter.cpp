#include "BackgroundRowWriter.h"

#include <QSqlDatabase>
#include <QSqlQuery>

namespace maildir {

BackgroundRowWriter::BackgroundRowWriter(const QString &path)
    : m_thread([this, path] { run(path); })
{
}

BackgroundRowWriter::~BackgroundRowWriter()
{
    finish();
    {
        const std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void BackgroundRowWriter::write(std::vector<SummaryRow> rows, std::vector<StaleRow> removals)
{
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_batches.size() < mostWaiting || m_error; });
        if (m_error)
            return;
        m_batches.push_back({std::move(rows), std::move(removals)});
    }
    m_changed.notify_all();
}

std::optional<QSqlError> BackgroundRowWriter::finish()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_batches.empty() && !m_writing; });
    return m_error;
}

void BackgroundRowWriter::run(const QString &path)
{
    const QString connection =
        QStringLiteral("quillbrook-summary-writer-%1").arg(quintptr(this), 0, 16);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        std::optional<QSqlError> opened;
        if (!db.open())
            opened = db.lastError();
        else if (QSqlQuery query(db); !query.exec(QStringLiteral("PRAGMA synchronous=NORMAL")))
            opened = query.lastError();
        RowWriter writer(connection);
        std::unique_lock lock(m_mutex);
        m_error = opened;
        for (;;) {
            m_changed.wait(lock, [this] { return !m_batches.empty() || m_closing; });
            if (m_batches.empty())
                break;
            Batch batch = std::move(m_batches.front());
            m_batches.pop_front();
            // After a failure the rest is dropped: the cache is rebuilt or turned off.
            if (!m_error) {
                m_writing = true;
                lock.unlock();
                std::optional<QSqlError> error = writer.write(batch.rows, batch.removals);
                lock.lock();
                m_writing = false;
                if (error)
                    m_error = std::move(error);
            }
            m_changed.notify_all();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
}

} // namespace maildir
