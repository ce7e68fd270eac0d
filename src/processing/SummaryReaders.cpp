#include "SummaryReaders.h"

struct SummaryReaders::Job
{
    mailstore::SummaryReading reading;
    std::optional<mailstore::EmailSummary> result;
    bool done = false;
};

SummaryReaders::SummaryReaders(int threads)
{
    m_threads.reserve(size_t(threads));
    for (int i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { serve(); });
}

SummaryReaders::~SummaryReaders()
{
    {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
        m_queue.clear();
    }
    m_work.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
}

SummaryReaders::Ticket SummaryReaders::start(mailstore::SummaryReading reading)
{
    auto job = std::make_shared<Job>();
    job->reading = std::move(reading);
    {
        const std::lock_guard lock(m_mutex);
        m_queue.push_back(job);
    }
    m_work.notify_one();
    return job;
}

std::optional<mailstore::EmailSummary> SummaryReaders::wait(const Ticket &ticket,
                                                            const std::function<bool()> &stop)
{
    std::unique_lock lock(m_mutex);
    m_awaited = ticket.get();
    while (!ticket->done) {
        if (stop()) {
            m_awaited = nullptr;
            return std::nullopt;
        }
        m_done.wait_for(lock, std::chrono::milliseconds(stopCheckMs));
    }
    m_awaited = nullptr;
    return std::move(ticket->result);
}

int SummaryReaders::started() const
{
    const std::lock_guard lock(m_mutex);
    return m_started;
}

void SummaryReaders::serve()
{
    // Each thread reads into a buffer of its own, again and again.
    mailstore::ReadingScratch scratch;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_work.wait(lock, [this] { return m_ending || !m_queue.empty(); });
        if (m_ending)
            return;
        const Ticket job = std::move(m_queue.front());
        m_queue.pop_front();
        ++m_started;
        lock.unlock();
        std::optional<mailstore::EmailSummary> result;
        try {
            result = job->reading(scratch);
        } catch (...) {
            // Left to the item, which reads it again and tells what went wrong.
        }
        job->reading = nullptr; // what it holds goes now, not with the ticket
        lock.lock();
        job->result = std::move(result);
        job->done = true;
        if (m_awaited == job.get())
            m_done.notify_one();
    }
}
