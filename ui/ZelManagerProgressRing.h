#ifndef ZELMANAGERPROGRESSRING_H
#define ZELMANAGERPROGRESSRING_H

#include <QtGlobal>

#include <atomic>
#include <memory>

// A bounded multi-producer, single-consumer queue of integers without a
// lock: worker threads push entries (the operation model pushes row keys),
// one consumer thread drains them in the order in which they were claimed.
// 4097 slots, 4096 usable.
//
// - The write and read positions are 64-bit tickets that only grow; a
//   ticket's slot is ticket % Slots. They never wrap in practice, so a
//   compare-and-swap on the write ticket cannot be fooled by a position that
//   went once round the ring (no ABA).
// - A producer claims a ticket by compare-and-swap on the write ticket,
//   allowed only while write - read < Capacity. Its slot was emptied by the
//   consumer before the read ticket it loaded (acquire) was stored, so
//   writing the slot races with nobody.
// - It then stores the entry and publishes the slot by storing ticket + 1
//   in the slot's sequence (release).
// - The consumer takes slots in ticket order while their sequence says they
//   are published (acquire), and stores each new read ticket (release). A
//   slot claimed but not yet published stops the drain; the next drain takes
//   it, so no entry is lost and order is kept.
//
// A full ring makes push() wait (yield and try again) until the consumer
// has made room; tryPush() refuses instead.
class ZelManagerProgressRing
{
public:
    enum { Slots = 4097, Capacity = Slots - 1 };

    // Throws std::bad_alloc when the slots cannot be allocated.
    ZelManagerProgressRing();
    ZelManagerProgressRing(const ZelManagerProgressRing &) = delete;
    ZelManagerProgressRing &operator=(const ZelManagerProgressRing &) = delete;

    // Producers, any thread.
    void push(int entry);
    bool tryPush(int entry);
    // The two halves of a push: claim() fixes the entry's place in the order
    // (waiting while the ring is full), publish() hands it to the consumer.
    quint64 claim();
    bool tryClaim(quint64 *ticket);
    void publish(quint64 ticket, int entry);

    // Consumer thread. Calls consume(entry) for each published entry in
    // ticket order, up to the write ticket seen at the start, and returns
    // how many it took. The slot is freed before consume() runs, and a drain
    // started from inside consume() continues where the outer one is.
    template <typename Consume> int drain(Consume consume);
    // Drops every queued entry. No producer may be between claim and
    // publish.
    void discard();

private:
    struct Slot
    {
        std::atomic<quint64> sequence { 0 }; // ticket + 1 once published
        std::atomic<int> entry { 0 };
    };

    bool take(quint64 end, int *entry);

    std::unique_ptr<Slot[]> m_slots;
    std::atomic<quint64> m_readTicket { 0 };
    std::atomic<quint64> m_writeTicket { 0 };

    static_assert(std::atomic<quint64>::is_always_lock_free, "the progress ring must not lock");
};

template <typename Consume> int ZelManagerProgressRing::drain(Consume consume)
{
    const quint64 end = m_writeTicket.load(std::memory_order_acquire);
    int taken = 0;
    int entry = 0;
    while (take(end, &entry)) {
        ++taken;
        consume(entry);
    }
    return taken;
}

#endif // ZELMANAGERPROGRESSRING_H
