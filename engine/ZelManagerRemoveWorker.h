#ifndef ZELMANAGERREMOVEWORKER_H
#define ZELMANAGERREMOVEWORKER_H

#include <QtGlobal>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The threads in which the removers of an apply run delete files: a few
// threads (as many as the run's limit lets removers run at once) take their
// jobs from a queue, so that a removal costs no thread of its own. Shared by
// the run's context and its removers; the threads end when the last of them
// lets go (they are idle by then: a remover withdraws its job before it
// goes).
//
// post() and withdraw() are called from one thread (the GUI thread); the jobs
// run in the worker's thread and report back themselves.
class ZelManagerRemoveWorker
{
public:
    using Job = std::function<void()>;

    explicit ZelManagerRemoveWorker(int threads);
    ~ZelManagerRemoveWorker();
    ZelManagerRemoveWorker(const ZelManagerRemoveWorker &) = delete;
    ZelManagerRemoveWorker &operator=(const ZelManagerRemoveWorker &) = delete;

    // Queues a job; the ticket names it to withdraw().
    quint64 post(Job job);
    // Takes the job out of the queue when it has not started, otherwise
    // waits until it has ended: afterwards it neither runs nor will.
    void withdraw(quint64 ticket);

private:
    void work();

    struct Entry
    {
        quint64 ticket;
        Job job;
    };

    std::mutex m_mutex;
    std::condition_variable m_wake; // a job queued, or the end
    std::condition_variable m_ended; // a running job ended
    std::deque<Entry> m_queue;
    quint64 m_nextTicket = 1;
    std::vector<quint64> m_running; // the tickets of the jobs in hand
    bool m_quit = false;
    std::vector<std::thread> m_threads;
};

#endif // ZELMANAGERREMOVEWORKER_H
