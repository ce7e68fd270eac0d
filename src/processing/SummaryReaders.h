#pragma once

#include "mailstore/MailStore.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// A few threads that run summary readings ahead of the walk that gives them. The walk
// waits for each result in its own order, so the order of the readings never depends
// on which thread ran them; how far it reads ahead is the walk's to bound.
class SummaryReaders
{
    struct Job;

public:
    using Ticket = std::shared_ptr<Job>;

    explicit SummaryReaders(int threads);
    // Drops the readings that have not started and waits for those running.
    ~SummaryReaders();
    SummaryReaders(const SummaryReaders &) = delete;
    SummaryReaders &operator=(const SummaryReaders &) = delete;

    Ticket start(mailstore::SummaryReading reading);
    // The reading's result once it has run; nothing when it could not read the email, or
    // when stop() returned true first (asked about every stopCheckMs while waiting).
    std::optional<mailstore::EmailSummary> wait(const Ticket &ticket,
                                                const std::function<bool()> &stop);
    // How many readings have started so far.
    int started() const;

    static constexpr int stopCheckMs = 10;

private:
    void serve();

    mutable std::mutex m_mutex;
    std::condition_variable m_work; // a job was queued, or the threads are to end
    std::condition_variable m_done; // the awaited job has run
    std::deque<Ticket> m_queue;
    Job *m_awaited = nullptr;
    bool m_ending = false;
    int m_started = 0;
    std::vector<std::thread> m_threads;
};
