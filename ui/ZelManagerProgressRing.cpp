#include "ui/ZelManagerProgressRing.h"

#include <QThread>

ZelManagerProgressRing::ZelManagerProgressRing()
    : m_slots(new Slot[Slots])
{
}

void ZelManagerProgressRing::push(int entry)
{
    publish(claim(), entry);
}

bool ZelManagerProgressRing::tryPush(int entry)
{
    quint64 ticket = 0;
    if (!tryClaim(&ticket))
        return false;
    publish(ticket, entry);
    return true;
}

quint64 ZelManagerProgressRing::claim()
{
    quint64 ticket = 0;
    while (!tryClaim(&ticket))
        QThread::yieldCurrentThread();
    return ticket;
}

// Fails only when the ring is full: a lost race with another producer is
// tried again at once.
bool ZelManagerProgressRing::tryClaim(quint64 *ticket)
{
    for (;;) {
        const quint64 read = m_readTicket.load(std::memory_order_acquire);
        quint64 write = m_writeTicket.load(std::memory_order_relaxed);
        if (write - read >= Capacity)
            return false;
        if (m_writeTicket.compare_exchange_weak(write, write + 1, std::memory_order_relaxed)) {
            *ticket = write;
            return true;
        }
    }
}

void ZelManagerProgressRing::publish(quint64 ticket, int entry)
{
    Slot &slot = m_slots[ticket % Slots];
    slot.entry.store(entry, std::memory_order_relaxed);
    slot.sequence.store(ticket + 1, std::memory_order_release);
}

// The read ticket is read anew each time (only the consumer writes it), so
// a drain nested in consume() never takes a slot twice.
bool ZelManagerProgressRing::take(quint64 end, int *entry)
{
    const quint64 read = m_readTicket.load(std::memory_order_relaxed);
    if (read >= end)
        return false;
    Slot &slot = m_slots[read % Slots];
    if (slot.sequence.load(std::memory_order_acquire) != read + 1)
        return false;
    *entry = slot.entry.load(std::memory_order_relaxed);
    m_readTicket.store(read + 1, std::memory_order_release);
    return true;
}

void ZelManagerProgressRing::discard()
{
    m_readTicket.store(m_writeTicket.load(std::memory_order_acquire), std::memory_order_release);
}
