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
    const QDir folder(QStringLiteral(ZEL_TESTS_SOURCE_DIR "/scenarios"));
    const QStringList files = folder.entryList({ QStringLiteral("*.scenario") }, QDir::Files, QDir::Name);
    QVERIFY2(!files.isEmpty(), qPrintable(folder.path()));
    for (const QString &file : files)
        QTest::newRow(qPrintable(QFileInfo(file).completeBaseName())) << folder.filePath(file);
}

void TestScenarios::scenario()
{
    QFETCH(QString, path);
    ScenarioRunner runner(path);
    if (!runner.run())
        QFAIL(qPrintable(QStringLiteral("\n") + runner.report()));
}

QTEST_GUILESS_MAIN(TestScenarios)
#include "tst_scenarios.moc"
