#pragma once

#include "SummaryWriting.h"

#include <QSqlError>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace maildir {

// Stores batches of rows on a thread of its own, in the order given, through a connection
// of its own: the walk that reads emails never waits for the disk. SQLite's WAL lets the
// session's connection read meanwhile.
class BackgroundRowWriter
{
public:
    explicit BackgroundRowWriter(const QString &path);
    // Writes what was given first.
    ~BackgroundRowWriter();
    BackgroundRowWriter(const BackgroundRowWriter &) = delete;
    BackgroundRowWriter &operator=(const BackgroundRowWriter &) = delete;

    // The most batches waiting: a walk that reads faster than the disk writes waits for
    // it, so that what waits is bounded by this, not by the store.
    static constexpr size_t mostWaiting = 4;

    // Queues a batch; waits while mostWaiting are queued already.
    void write(std::vector<SummaryRow> rows, std::vector<StaleRow> removals);
    // Returns once every batch given is written, with the first failure: the batches given
    // after it were dropped.
    std::optional<QSqlError> finish();

private:
    struct Batch
    {
        std::vector<SummaryRow> rows;
        std::vector<StaleRow> removals;
    };
    void run(const QString &path);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Batch> m_batches;
    bool m_writing = false;
    bool m_closing = false;
    std::optional<QSqlError> m_error;
    std::thread m_thread;
};

} // namespace maildir
