#include "ui/ZelManagerProgressRing.h"

#include <QtTest>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace {

QVector<int> drainAll(ZelManagerProgressRing &ring)
{
    QVector<int> entries;
    ring.drain([&entries](int entry) { entries.append(entry); });
    return entries;
}

} // namespace

class TestProgressRing : public QObject
{
    Q_OBJECT

private slots:
    void concurrentProducers();
    void wrapsAroundManyTimes();
    void fullRing();
    void unpublishedSlotStopsTheConsumer();
    void nestedDrainTakesEachEntryOnce();
};

// Each producer pushes its own ascending numbers, far more than the ring
// holds, so producers also wait for room: the consumer sees every entry
// exactly once, and each producer's entries in the order pushed.
void TestProgressRing::concurrentProducers()
{
    const int producers = 4;
    const int perProducer = 3 * ZelManagerProgressRing::Slots;
    ZelManagerProgressRing ring;
    std::atomic<int> running { producers };
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p) {
        threads.emplace_back([&ring, &running, p]() {
            for (int i = 0; i < perProducer; ++i)
                ring.push(p * perProducer + i);
            --running;
        });
    }
    QVector<int> next(producers, 0);
    int taken = 0;
    bool ordered = true;
    const auto consume = [&](int entry) {
        const int producer = entry / perProducer;
        ordered = ordered && producer >= 0 && producer < producers && entry % perProducer == next[producer];
        if (producer >= 0 && producer < producers)
            ++next[producer];
        ++taken;
    };
    while (running.load() > 0) {
        if (ring.drain(consume) == 0)
            std::this_thread::yield();
    }
    for (std::thread &thread : threads)
        thread.join();
    ring.drain(consume);
    QVERIFY(ordered);
    QCOMPARE(taken, producers * perProducer);
    QCOMPARE(next, QVector<int>(producers, perProducer));
    QCOMPARE(ring.drain(consume), 0);
}

// Batches of sizes prime to the slot count move the tickets round the ring
// many times, so every slot is reused at every offset; a discard in between
// drops what was queued and the ring goes on from there.
void TestProgressRing::wrapsAroundManyTimes()
{
    ZelManagerProgressRing ring;
    int value = 0;
    for (int round = 0; round < 60; ++round) {
        const int batch = round % 7 == 6 ? ZelManagerProgressRing::Capacity : 1000 + 37 * round;
        QVector<int> expected;
        for (int i = 0; i < batch; ++i) {
            QVERIFY(ring.tryPush(value));
            expected.append(value++);
        }
        QCOMPARE(drainAll(ring), expected);
    }
    QVERIFY(value > 10 * ZelManagerProgressRing::Slots);

    for (int i = 0; i < 100; ++i)
        ring.push(i);
    ring.discard();
    QVERIFY(drainAll(ring).isEmpty());
    ring.push(7);
    QCOMPARE(drainAll(ring), QVector<int>({ 7 }));
}

// A full ring refuses tryPush(); push() does not return until the consumer
// has made room, and its entry comes after those that filled the ring.
void TestProgressRing::fullRing()
{
    ZelManagerProgressRing ring;
    for (int i = 0; i < ZelManagerProgressRing::Capacity; ++i)
        QVERIFY(ring.tryPush(i));
    QVERIFY(!ring.tryPush(-1));
    quint64 ticket = 0;
    QVERIFY(!ring.tryClaim(&ticket));

    std::atomic<bool> pushed { false };
    std::thread producer([&ring, &pushed]() {
        ring.push(ZelManagerProgressRing::Capacity);
        pushed = true;
    });
    // Nobody has drained yet, so the push cannot have returned.
    QVERIFY(!pushed.load());
    QVector<int> entries;
    while (entries.size() < ZelManagerProgressRing::Capacity + 1) {
        if (ring.drain([&entries](int entry) { entries.append(entry); }) == 0)
            std::this_thread::yield();
    }
    producer.join();
    QVERIFY(pushed.load());
    for (int i = 0; i < entries.size(); ++i)
        QCOMPARE(entries.at(i), i);

    // Room again for a whole ring, and no more.
    for (int i = 0; i < ZelManagerProgressRing::Capacity; ++i)
        QVERIFY(ring.tryPush(i));
    QVERIFY(!ring.tryPush(-1));
}

// A producer that has claimed its place but not yet written it holds back
// the entries claimed after it; nothing is lost or reordered.
void TestProgressRing::unpublishedSlotStopsTheConsumer()
{
    ZelManagerProgressRing ring;
    // Near the end of the slots, so that the held-back entries wrap.
    for (int i = 0; i < ZelManagerProgressRing::Slots - 2; ++i)
        ring.push(i);
    QCOMPARE(drainAll(ring).size(), ZelManagerProgressRing::Slots - 2);

    ring.push(1);
    const quint64 held = ring.claim();
    std::thread other([&ring]() {
        for (int entry = 3; entry <= 5; ++entry)
            ring.push(entry);
    });
    other.join();
    QCOMPARE(drainAll(ring), QVector<int>({ 1 }));
    QVERIFY(drainAll(ring).isEmpty());

    ring.publish(held, 2);
    ring.push(6);
    QCOMPARE(drainAll(ring), QVector<int>({ 2, 3, 4, 5, 6 }));

    // A claim left unpublished also holds back a drain that starts later.
    quint64 first = 0;
    QVERIFY(ring.tryClaim(&first));
    const quint64 second = ring.claim();
    ring.publish(second, 8);
    QVERIFY(drainAll(ring).isEmpty());
    ring.publish(first, 7);
    QCOMPARE(drainAll(ring), QVector<int>({ 7, 8 }));
}

// The model's consumer emits signals whose receivers may turn the event
// loop and drain again: the outer drain goes on after what the inner took.
void TestProgressRing::nestedDrainTakesEachEntryOnce()
{
    ZelManagerProgressRing ring;
    for (int i = 0; i < 10; ++i)
        ring.push(i);
    QVector<int> entries;
    std::function<void(int)> consume = [&](int entry) {
        entries.append(entry);
        if (entry % 3 == 0)
            ring.drain(consume);
    };
    QCOMPARE(ring.drain(consume), 1);
    QCOMPARE(entries, QVector<int>({ 0, 1, 2, 3, 4, 5, 6, 7, 8, 9 }));
}

QTEST_GUILESS_MAIN(TestProgressRing)
#include "tst_progressring.moc"
