#include "database/ZelManagerDatabase.h"
#include "tests/support/TestDatabaseFile.h"
#include "tests/support/TestPackageDatabase.h"
#include "ui/ZelManagerApplyFilterModel.h"
#include "ui/ZelManagerOperationModel.h"

#include <QAbstractItemModelTester>
#include <QSet>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

namespace {

QStringList sorted(QStringList list)
{
    std::sort(list.begin(), list.end());
    return list;
}

QStringList column(const QAbstractItemModel &model)
{
    QStringList values;
    for (int row = 0; row < model.rowCount(); ++row)
        values.append(model.index(row, 0).data(Qt::EditRole).toString());
    return values;
}

// count packages "p0000"... offered, each with an install request.
void writeRequestedPackages(TestPackageDatabase &fixture, int count)
{
    TestDatabaseFile status(fixture.statusFile(), TestDatabaseFile::Status);
    TestDatabaseFile repository(fixture.repositoryFile(), TestDatabaseFile::Repository);
    status.exec(QStringLiteral("begin transaction;"));
    repository.exec(QStringLiteral("begin transaction;"));
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("p%1").arg(i, 4, 10, QLatin1Char('0'));
        status.addStatus(name, 0x102);
        repository.addRepositoryFile(name, QStringLiteral("1.0"), QStringLiteral("win32"), 1);
    }
    status.exec(QStringLiteral("end transaction;"));
    repository.exec(QStringLiteral("end transaction;"));
}

} // namespace

class TestOperationModel : public QObject
{
    Q_OBJECT

private slots:
    void refreshBuildsTheRequestGraph();
    void removePackageAndReports();
    void progressFromSeveralThreads();
    void progressWhileRowsAreRemoved();
    void applyFilterRanking();
};

// x needs y and z, y needs z (all three offered, install requested); p is
// upgraded to a version that needs z; q is reinstalled and its installed
// version needs r; r is removed together with s, which depends on it; u
// depends on r too but is not requested, nor is w, which x needs.
void TestOperationModel::refreshBuildsTheRequestGraph()
{
    TestPackageDatabase fixture;
    {
        TestDatabaseFile repository(fixture.repositoryFile(), TestDatabaseFile::Repository);
        const QString win32 = QStringLiteral("win32");
        repository.addRepositoryFile("x", "1.0", win32, 1, QString(), { "y >= 1.0", "z", "w", "x" });
        repository.addRepositoryFile("y", "1.0", win32, 1, QString(), { "z<2" });
        repository.addRepositoryFile("z", "1.0", win32, 1);
        repository.addRepositoryFile("w", "1.0", win32, 1);
        repository.addRepositoryFile("p", "2.0", win32, 1, QString(), { "z" });
        repository.addRepositoryFile("q", "1.0", win32, 1, QString(), { "z" });

        TestDatabaseFile status(fixture.statusFile(), TestDatabaseFile::Status);
        const struct
        {
            const char *name;
            int flags;
            const char *requested;
        } states[] = { { "x", 0x102, "" }, { "y", 0x1102, "x" }, { "z", 0x1102, "x" }, { "w", 0x6, "" },
            { "p", 0x30E, "" }, { "q", 0x506, "" }, { "r", 0x804, "" }, { "s", 0x1804, "r" }, { "u", 0x4, "" } };
        for (const auto &state : states)
            status.addStatus(state.name, state.flags, state.requested);
        for (const char *name : { "w", "p", "q", "r", "s", "u" })
            status.addInstalled(QString::fromLatin1(name), QStringLiteral("1.0"), 1);
        for (const char *name : { "p", "q", "s", "u" })
            status.exec(QStringLiteral("INSERT INTO dependencies VALUES(?,'r',?);"),
                { QString::fromLatin1(name), name[0] == 'q' ? QStringLiteral(">= 1.0") : QString() });
    }
    fixture.open();
    ZelManagerOperationModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy count(&model, &ZelManagerOperationModel::packageCountChanged);
    model.refresh();
    QCOMPARE(count.count(), 1);
    QCOMPARE(count.first().first().toInt(), 7);

    QCOMPARE(model.installNames(), QStringList({ "p", "q", "x", "y", "z" }));
    QCOMPARE(model.removeNames(), QStringList({ "r", "s" }));
    QCOMPARE(column(model), model.rows());

    const QHash<QString, QStringList> dependencies = model.requestedDependencies();
    QCOMPARE(dependencies.value("x"), QStringList({ "y", "z" })); // w is not requested, x is x
    QCOMPARE(dependencies.value("y"), QStringList({ "z" }));
    QCOMPARE(dependencies.value("p"), QStringList({ "z" })); // the new version's, not the installed one's
    QCOMPARE(dependencies.value("q"), QStringList({ "r" })); // the installed version's
    QCOMPARE(dependencies.value("s"), QStringList({ "r" }));

    const QHash<QString, QStringList> dependants = model.requestedDependants();
    QCOMPARE(sorted(dependants.value("z")), QStringList({ "p", "q", "x", "y" }));
    QCOMPARE(sorted(dependants.value("r")), QStringList({ "p", "q", "s" })); // u is not requested
}

// Removed rows leave the request lists, and reports from any thread reach
// the rows at their current place.
void TestOperationModel::removePackageAndReports()
{
    TestPackageDatabase fixture;
    writeRequestedPackages(fixture, 4);
    ZelManagerDatabase *database = fixture.open();
    {
        TestDatabaseFile status(fixture.statusFile());
        status.exec(QStringLiteral("UPDATE status SET status=2054 WHERE package='p0003';")); // 0x806
    }
    database->reloadPackages();
    ZelManagerOperationModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.refresh();
    QCOMPARE(model.removeNames(), QStringList({ "p0003" }));

    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy count(&model, &ZelManagerOperationModel::packageCountChanged);
    model.removePackage(QStringLiteral("p0001"));
    QCOMPARE(removed.count(), 1);
    QCOMPARE(count.first().first().toInt(), 3);
    QCOMPARE(model.installNames(), QStringList({ "p0000", "p0002" }));
    QVERIFY(!model.requestedDependants().contains(QStringLiteral("p0001")));
    QCOMPARE(model.rowOf(QStringLiteral("p0003")), 2);

    model.removePackage(QStringLiteral("p0003"));
    QCOMPARE(model.removeNames(), QStringList());
    // A second removal and an unknown name change nothing.
    model.removePackage(QStringLiteral("p0003"));
    model.removePackage(QStringLiteral("unknown"));
    QCOMPARE(removed.count(), 2);
    QCOMPARE(model.rows(), QStringList({ "p0000", "p0002" }));

    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.setProgress(QStringLiteral("p0002"), 40);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.takeFirst().first().toModelIndex().row(), 1);
    QCOMPARE(database->package(QStringLiteral("p0002")).progress(), 40);
    model.setProgress(QStringLiteral("unknown"), 10);
    model.updatePackage(QStringLiteral("unknown"));
    QCOMPARE(changed.count(), 0);

    std::thread worker(
        [&model]() { model.setStatus(QStringLiteral("p0002"), ZelManagerPackage::Error, QStringLiteral("broken")); });
    worker.join();
    QTRY_COMPARE(changed.count(), 1);
    QCOMPARE(changed.first().first().toModelIndex().row(), 1);
    QCOMPARE(database->package(QStringLiteral("p0002")).statusText(), QStringLiteral("broken"));

    database->addError(QStringLiteral("p0002"), ZelManagerDatabase::ErrorInstall, QStringLiteral("first"));
    database->addError(QStringLiteral("p0002"), ZelManagerDatabase::ErrorInstall, QStringLiteral("second"));
    QCOMPARE(model.index(1, 0).data(Qt::ToolTipRole).toString(), QStringLiteral("first\nsecond"));
    QCOMPARE(model.index(0, 0).data(Qt::ToolTipRole).toString(), QString());
}

// More packages than the ring holds, reported by four threads at once
// faster than the timer drains: every report arrives, as a repaint of its
// own row, and the final progress is in every record.
void TestOperationModel::progressFromSeveralThreads()
{
    const int packages = 6000;
    const int threads = 4;
    TestPackageDatabase fixture;
    writeRequestedPackages(fixture, packages);
    ZelManagerDatabase *database = fixture.open();
    ZelManagerOperationModel model;
    model.refresh();
    QCOMPARE(model.rowCount(), packages);
    QVector<int> repaints(packages);
    connect(&model, &QAbstractItemModel::dataChanged, this,
        [&repaints](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
            QCOMPARE(topLeft, bottomRight);
            ++repaints[topLeft.row()];
        });

    std::atomic<int> running { threads };
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&model, &running, t]() {
            for (int progress = 0; progress <= 100; progress += 50) {
                for (int i = t; i < packages; i += threads)
                    model.setProgress(QStringLiteral("p%1").arg(i, 4, 10, QLatin1Char('0')), progress);
            }
            --running;
        });
    }
    QTRY_COMPARE_WITH_TIMEOUT(running.load(), 0, 60000);
    for (std::thread &worker : workers)
        worker.join();
    // One more tick takes what was published last.
    QTest::qWait(250);

    for (int row = 0; row < packages; ++row) {
        QVERIFY2(repaints.at(row) >= 1, qPrintable(model.name(row)));
        QVERIFY(repaints.at(row) <= 3);
        QCOMPARE(database->package(model.name(row)).progress(), 100);
    }
}

// Workers report on their own packages while finished ones leave the list:
// every repaint names a package that was reported, at its current row.
void TestOperationModel::progressWhileRowsAreRemoved()
{
    const int packages = 2000;
    TestPackageDatabase fixture;
    writeRequestedPackages(fixture, packages);
    fixture.open();
    ZelManagerOperationModel model;
    model.refresh();
    const QStringList names = model.rows();
    QSet<QString> repainted;
    connect(&model, &QAbstractItemModel::dataChanged, this, [&](const QModelIndex &topLeft, const QModelIndex &) {
        const QString name = model.name(topLeft.row());
        QVERIFY2(name.at(4).digitValue() % 2 == 0, qPrintable(name)); // reported names end in an even digit
        repainted.insert(name);
    });

    std::atomic<bool> stop { false };
    std::vector<std::thread> workers;
    for (int t = 0; t < 2; ++t) {
        workers.emplace_back([&, t]() {
            while (!stop) {
                for (int i = 2 * t; i < packages; i += 4)
                    model.setProgress(names.at(i), i % 100);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    // The odd packages finish one after another.
    for (int i = 1; i < packages; i += 2) {
        model.removePackage(names.at(i));
        if (i % 100 == 1)
            QTest::qWait(20);
    }
    QTest::qWait(150);
    stop = true;
    for (std::thread &worker : workers)
        worker.join();
    QTest::qWait(250);
    QCOMPARE(model.rowCount(), packages / 2);
    QCOMPARE(repainted.size(), packages / 2);
}

void TestOperationModel::applyFilterRanking()
{
    TestPackageDatabase fixture;
    writeRequestedPackages(fixture, 9);
    ZelManagerDatabase *database = fixture.open();
    ZelManagerOperationModel operations;
    operations.refresh();
    const QList<ZelManagerPackage::PackageStatus> statuses
        = { ZelManagerPackage::Waiting, ZelManagerPackage::Downloading, ZelManagerPackage::Finished,
              ZelManagerPackage::Error, ZelManagerPackage::Removed, ZelManagerPackage::Installing,
              ZelManagerPackage::Downloaded, ZelManagerPackage::Canceling, ZelManagerPackage::Upgrading };
    for (int i = 0; i < statuses.size(); ++i)
        operations.setStatus(operations.name(i), statuses.at(i));
    database->package(QStringLiteral("p0000")).setStatus(PackageStatus(12)); // unknown: waits

    ZelManagerApplyFilterModel model;
    model.setSourceModel(&operations);
    model.sort(0, Qt::AscendingOrder);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    // Finished and removed, error, canceling, installing and upgrading (by
    // name), downloading, downloaded, waiting.
    QCOMPARE(column(model),
        QStringList({ "p0002", "p0004", "p0003", "p0007", "p0005", "p0008", "p0001", "p0006", "p0000" }));
}

QTEST_MAIN(TestOperationModel)
#include "tst_operationmodel.moc"
