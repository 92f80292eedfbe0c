#include "engine/ApplyContext.h"

#include <QtTest>

class TestApplyContext : public QObject
{
    Q_OBJECT

private slots:
    void limitIsAtLeastOne()
    {
        QCOMPARE(ApplyContext::limitFor(-1), 1);
        QCOMPARE(ApplyContext::limitFor(1), 1);
        QCOMPARE(ApplyContext::limitFor(3), 1);
        QCOMPARE(ApplyContext::limitFor(8), 6);
        ApplyContext context;
        QCOMPARE(context.limit, ApplyContext::limitFor(QThread::idealThreadCount()));
        QVERIFY(!context.stop);
    }

    void countingFillsTheContext()
    {
        ApplyContext context;
        context.limit = 2;
        context.countRunning();
        QVERIFY(!context.isFull());
        context.countRunning();
        QVERIFY(context.isFull());
        context.countStopped();
        QVERIFY(!context.isFull());
    }

    void infoTable()
    {
        ApplyContext context;
        const PackageInfo missing = context.info(QStringLiteral("never"));
        QVERIFY(missing.name.isEmpty() && missing.version.isEmpty() && missing.fileEntries.isEmpty());
        PackageInfo info;
        info.name = QStringLiteral("zlib");
        info.version = QStringLiteral("1.2");
        info.fileEntries.insert(QStringLiteral("bin/z.dll"), true);
        context.putInfo(info.name, info);
        QCOMPARE(context.info(QStringLiteral("zlib")).fileEntries.value(QStringLiteral("bin/z.dll")), true);
    }

    // A claim holds for the file, whatever letter case or (Info manual)
    // compressed name another package gives it.
    void claimsFollowTheTargetsNames()
    {
        ApplyContext context;
        PackageInfo info;
        info.fileEntries.insert(QStringLiteral("lib/Y.dll"), true);
        info.fileEntries.insert(QStringLiteral("share/info/y.info"), true);
        info.fileEntries.insert(QStringLiteral("share/info/y.info.gz"), true);
        const QStringList paths = ApplyContext::installedPaths(info);
        QCOMPARE(paths, QStringList({ "lib/Y.dll", "share/info/y.info.gz" }));
        QVERIFY(context.claimant(QStringLiteral("lib/y.dll")).isEmpty());
        context.claim(QStringLiteral("y"), paths);
        QCOMPARE(context.claimant(QStringLiteral("LIB/y.DLL")), QStringLiteral("y"));
        QCOMPARE(context.claimant(QStringLiteral("share/info/Y.info.gz")), QStringLiteral("y"));
        QVERIFY(context.claimant(QStringLiteral("share/info/y.info")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestApplyContext)
#include "tst_applycontext.moc"
