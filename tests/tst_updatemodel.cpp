#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerRepositoryUpdater.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/TestPackageDatabase.h"
#include "ui/ZelManagerUpdateModel.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

class TestUpdateModel : public QObject
{
    Q_OBJECT

private slots:
    void updatersComeAndGo();
};

// Two repositories on a real server: "fast" answers at once (it has no
// index, so its updater fails and finishes), "slow" stalls before it does.
void TestUpdateModel::updatersComeAndGo()
{
    TestPackageDatabase fixture(QList<QUrl> {});
    const QString folder = fixture.sandbox().path() + QStringLiteral("/www");
    QVERIFY(QDir().mkpath(folder));
    TestHttpServer server;
    QVERIFY(server.start(folder));
    const QUrl fast(server.url().toString() + QStringLiteral("/fast"));
    const QUrl slow(server.url().toString() + QStringLiteral("/slow"));
    QVERIFY(server.setBehaviour(QStringLiteral("/slow/packages.xml"), TestHttpServer::Stall, 1500));
    ZelManagerDatabase *database = fixture.open();
    ZelManagerSettings::instance()->setRepository(fast, QStringLiteral("fast"), true);
    ZelManagerSettings::instance()->setRepository(slow, QStringLiteral("slow"), true);

    ZelManagerUpdateModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy finished(&model, &ZelManagerUpdateModel::finished);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QPointer<ZelManagerRepositoryUpdater> first = database->createUpdater(fast);
    QPointer<ZelManagerRepositoryUpdater> second = database->createUpdater(slow);
    QPointer<ZelManagerRepositoryUpdater> duplicate = database->createUpdater(slow);
    QVERIFY(first && second && duplicate);

    model.addUpdater(fast, first);
    model.addUpdater(slow, second);
    model.addUpdater(slow, duplicate);
    model.addUpdater(fast, nullptr);
    model.addUpdater(slow, second); // the same updater again changes nothing
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.count(), 2);
    QCOMPARE(model.url(1), slow);
    QCOMPARE(model.index(1, 0).data(Qt::EditRole).value<ZelManagerRepositoryUpdater *>(), second.data());
    QTRY_VERIFY(duplicate.isNull());
    QVERIFY(second);

    // The first to finish leaves its row, after a last repaint.
    QTRY_COMPARE(model.rowCount(), 1);
    QCOMPARE(model.url(0), slow);
    QCOMPARE(model.count(), 1);
    QCOMPARE(finished.count(), 0);
    QVERIFY(!changed.isEmpty());
    QCOMPARE(changed.last().first().toModelIndex().row(), 0);
    QTRY_VERIFY(first.isNull());

    // A check started when the last one finishes keeps its updater.
    int rowsAfterRestart = -1;
    connect(&model, &ZelManagerUpdateModel::finished, this, [&]() {
        QCOMPARE(model.rowCount(), 0);
        if (finished.count() == 1) {
            model.addUpdater(fast, database->createUpdater(fast));
            rowsAfterRestart = model.rowCount();
        }
    });
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 15000);
    QCOMPARE(rowsAfterRestart, 1);
    QTRY_VERIFY(second.isNull());
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.count(), 0);
}

QTEST_MAIN(TestUpdateModel)
#include "tst_updatemodel.moc"
