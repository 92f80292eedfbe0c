#include "tests/support/ScenarioApplySteps.h"
#include "tests/support/ScenarioRunner.h"

#include <QDir>
#include <QtTest>

// Every tests/scenarios/*.scenario file is one data row, named after the
// file; see tests/scenarios/README.md for the format.
class TestScenarios : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void scenario_data();
    void scenario();
};

void TestScenarios::initTestCase()
{
    ScenarioApplySteps::registerSteps();
}

void TestScenarios::scenario_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("workers");
    const QDir folder(QStringLiteral(ZEL_TESTS_SOURCE_DIR "/scenarios"));
    const QStringList files = folder.entryList({ QStringLiteral("*.scenario") }, QDir::Files, QDir::Name);
    QVERIFY2(!files.isEmpty(), qPrintable(folder.path()));
    // A scenario with a "workers" line runs once per count, e.g. "x@4".
    for (const QString &file : files) {
        const QString name = QFileInfo(file).completeBaseName();
        const QList<int> counts = ScenarioRunner::workerCounts(folder.filePath(file));
        if (counts.isEmpty())
            QTest::newRow(qPrintable(name)) << folder.filePath(file) << 0;
        for (const int count : counts)
            QTest::newRow(qPrintable(name + QLatin1Char('@') + QString::number(count)))
                << folder.filePath(file) << count;
    }
}

void TestScenarios::scenario()
{
    QFETCH(QString, path);
    QFETCH(int, workers);
    ScenarioRunner runner(path, workers);
    if (!runner.run())
        QFAIL(qPrintable(QStringLiteral("\n") + runner.report()));
}

QTEST_GUILESS_MAIN(TestScenarios)
#include "tst_scenarios.moc"
