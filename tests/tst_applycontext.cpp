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
};

QTEST_GUILESS_MAIN(TestApplyContext)
#include "tst_applycontext.moc"
