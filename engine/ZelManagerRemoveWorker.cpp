#include "engine/ZelManagerRemoveWorker.h"

#include <algorithm>

ZelManagerRemoveWorker::ZelManagerRemoveWorker(int threads)
{
    for (int i = 0; i < std::max(1, threads); ++i)
        m_threads.emplace_back(&ZelManagerRemoveWorker::work, this);
}

ZelManagerRemoveWorker::~ZelManagerRemoveWorker()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
}

quint64 ZelManagerRemoveWorker::post(Job job)
{
    quint64 ticket;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ticket = m_nextTicket++;
        m_queue.push_back({ ticket, std::move(job) });
    }
    m_wake.notify_one();
    return ticket;
}

void ZelManagerRemoveWorker::withdraw(quint64 ticket)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto queued
        = std::find_if(m_queue.begin(), m_queue.end(), [ticket](const Entry &entry) { return entry.ticket == ticket; });
    if (queued != m_queue.end()) {
        m_queue.erase(queued);
        return;
    }
    m_ended.wait(
        lock, [this, ticket] { return std::find(m_running.begin(), m_running.end(), ticket) == m_running.end(); });
}

// Jobs left queued at the end are not run: their owners have withdrawn them.
void ZelManagerRemoveWorker::work()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_quit || !m_queue.empty(); });
        if (m_quit)
            return;
        Entry entry = std::move(m_queue.front());
        m_queue.pop_front();
        m_running.push_back(entry.ticket);
        lock.unlock();
        entry.job();
        entry.job = nullptr; // what it holds goes before its owner may
        lock.lock();
        m_running.erase(std::find(m_running.begin(), m_running.end(), entry.ticket));
        m_ended.notify_all();
    }
}
