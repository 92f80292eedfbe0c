// Measures an apply run driven by the apply page against the same run
// without widgets: one package of one big file (default 300 MB of random
// bytes) downloaded from the local test HTTP server and installed. For the
// page's run it also records the longest time the event loop did not turn
// (a 5 ms timer's largest gap, less its interval).
//
//   bench_applypanel [megabytes]
//
// Runs on the offscreen platform unless another is chosen. Everything
// happens in temporary folders that are deleted at the end.

#include "database/ZelManagerDatabase.h"
#include "engine/ZelManagerApplyRun.h"
#include "tests/support/TestApplyFixture.h"
#include "ui/ZelManagerApplyPanel.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTimer>

#include <cstdio>

using Entry = TestApplyFixture::Entry;

namespace {

const int Rounds = 3;
const int TickMs = 5;

QList<Entry> bigFile(int megabytes)
{
    QByteArray data(megabytes * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator generator(2);
    generator.fillRange(reinterpret_cast<quint32 *>(data.data()), data.size() / 4);
    return { Entry(QStringLiteral("data/big.bin"), data) };
}

// The longest gap between two turns of the event loop while it lives.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        m_clock.start();
        connect(&m_timer, &QTimer::timeout, this, [this]() {
            const qint64 now = m_clock.nsecsElapsed();
            if (qEnvironmentVariableIsSet("BENCH_TRACE") && now - m_last > 50000000) {
                std::printf("  stall %6.1f ms ending at %6.3f s, status %d\n", (now - m_last) / 1e6, now / 1e9,
                    ZelManagerDatabase::instance()->package(QStringLiteral("bench")).status());
            }
            m_longest = qMax(m_longest, now - m_last);
            m_last = now;
        });
        m_timer.start(TickMs);
    }
    double longestStallMs() const { return qMax<qint64>(0, m_longest - TickMs * 1000000LL) / 1e6; }

private:
    QElapsedTimer m_clock;
    QTimer m_timer;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

bool prepare(TestApplyFixture &fixture)
{
    QDir(fixture.cacheFolder()).removeRecursively();
    return fixture.request(QStringLiteral("bench"), TestApplyFixture::Install).isEmpty();
}

bool uninstall(TestApplyFixture &fixture)
{
    return fixture.request(QStringLiteral("bench"), TestApplyFixture::Remove).isEmpty() && ZelManagerApplyRun().exec();
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int megabytes = argc > 1 ? std::atoi(argv[1]) : 300;

    TestApplyFixture fixture;
    TestApplyFixture::Manifest manifest = TestApplyFixture::manifest(QStringLiteral("bench"), QStringLiteral("1.0"));
    if (!fixture.isValid() || !fixture.addPackage(manifest, bigFile(megabytes)) || !fixture.updateIndex()) {
        std::fprintf(stderr, "setup failed: %s\n", qPrintable(fixture.errorText()));
        return 1;
    }

    double headless = 1e9;
    double page = 1e9;
    double stall = 0;
    bool ok = true;
    QWidget window;
    auto *panel = new ZelManagerApplyPanel(&window);
    window.resize(800, 600);
    window.show();
    for (int round = 0; round < Rounds && ok; ++round) {
        ok = prepare(fixture);
        QElapsedTimer timer;
        timer.start();
        ok = ZelManagerApplyRun().exec() && ok;
        headless = qMin(headless, timer.nsecsElapsed() / 1e9);
        ok = uninstall(fixture) && ok;

        ok = prepare(fixture) && ok;
        panel->updatePanelStates();
        QEventLoop loop;
        QObject::connect(panel, &ZelManagerApplyPanel::stateChanged, &loop, [&loop](bool running) {
            if (!running)
                loop.quit();
        });
        StallMeter meter;
        timer.restart();
        panel->applyOperations();
        if (panel->isRunning())
            loop.exec();
        page = qMin(page, timer.nsecsElapsed() / 1e9);
        stall = qMax(stall, meter.longestStallMs());
        ok = ZelManagerDatabase::instance()->package(QStringLiteral("bench")).isInstalled() && ok;
        ok = uninstall(fixture) && ok;
    }
    std::printf("one file of %d MB  headless run %6.2f s  apply page %6.2f s  ratio %.2f  longest stall %.1f ms%s\n",
        megabytes, headless, page, page / headless, stall, ok ? "" : "  (RUN FAILED)");
    return ok ? 0 : 1;
}
