#include "database/ZelManagerPackage.h"

#include <QSemaphore>
#include <QThread>
#include <QtTest>

#include <climits>
#include <functional>

class TestPackage : public QObject
{
    Q_OBJECT

private slots:
    void compareVersions_data();
    void compareVersions();
    void versionSatisfies_data();
    void versionSatisfies();
    void splitDependency();
    void archiveUrl();

    void nullHandleIsInert();
    void handlesSharedAcrossThreads();
    void concurrentCopiesKeepRecordAlive();

    void progressEncoding_data();
    void progressEncoding();
    void statusText();
    void statusIconPrecedence_data();
    void statusIconPrecedence();
    void matches_data();
    void matches();
    void requestBitsOnRecordOfItsOwn();
};

void TestPackage::compareVersions_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("expected");
    // Whether swapping the operands must negate the result (not for "*",
    // which stands for any value).
    QTest::addColumn<bool>("symmetric");
    const struct
    {
        const char *row, *a, *b;
        int expected;
        bool symmetric;
    } rows[] = {
        { "numeric minor", "1.10", "1.9", 1, true },
        { "string minor", "1.a", "1.b", -1, true },
        { "ordinal, not alphabetical", "1.a", "1.B", 1, true },
        { "equal", "2.4.1", "2.4.1", 0, true },
        { "blanks around", "  1.0 ", "1.0", 0, true },
        { "blanks around the dash", "1.0 - 2", "1.0-2", 0, true },
        { "leading zeros", "01.002", "1.2", 0, true },
        { "beyond 64 bits", "99999999999999999999", "100000000000000000000", -1, true },
        { "mixed part is a string", "1.0a", "1.0b", -1, true },
        // As texts 2 > "1a" > "10", against 2 < 10 by value: a circle.
        { "number before text", "1.2", "1.1a", -1, true },
        { "number before text, either way", "1.10", "1.1a", -1, true },
        { "absent before text", "1", "1.a", -1, true },
        { "absent minor", "1.0", "1", 1, true },
        { "dotted patch is a string", "1.2.3.4", "1.2.3.10", 1, true },
        { "major decides first", "2.0", "1.99.99-99", 1, true },
        { "absent revision", "1.0", "1.0-1", -1, true },
        { "tilde tail", "2.0-1", "2.0-1~beta", -1, true },
        { "tilde tails compared", "2.0-1~alpha", "2.0-1~beta", -1, true },
        { "tilde head first", "2.0-2~alpha", "2.0-1~beta", 1, true },
        { "leading tilde is head", "1.0-~x", "1.0-", 1, true },
        { "revision by value", "1.0-9", "1.0-10", -1, true },
        { "revision as string", "1.0-a", "1.0-b", -1, true },
        { "empty versions", "", "", 0, true },
        { "empty before any", "", "0", -1, true },
        { "star minor", "1.*", "1.5", 0, false },
        { "star ends before revision", "1.*", "1.5-3", 0, false },
        { "star major", "*", "5.0", 0, false },
        { "star on the right", "2.0", "2.*", 0, false },
        { "star after a difference", "2.0", "1.*", 1, false },
        { "star revision", "1.0-*", "1.0-5", 0, false },
        { "first invalid", "-1", "1", -1, true },
        { "second invalid", "1", ".2", 1, true },
        { "both invalid", "-1", "-2", -1, true },
        { "invalid equals itself", " -1", "-1 ", 0, true },
        { "invalid beats star", "-1", "*", -1, true },
        { "empty minor after dot", "1..2", "1.2", -1, true },
        { "invalid after trimming", "  -1", "0", -1, true },
    };
    for (const auto &row : rows)
        QTest::newRow(row.row) << row.a << row.b << row.expected << row.symmetric;
}

void TestPackage::compareVersions()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, expected);
    QFETCH(bool, symmetric);
    QCOMPARE(::compareVersions(a, b), expected);
    if (symmetric)
        QCOMPARE(::compareVersions(b, a), -expected);
}

void TestPackage::versionSatisfies_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("required");
    QTest::addColumn<bool>("expected");

    const struct
    {
        const char *version;
        const char *required;
    } pairs[] = { { "1.0", "1.0" }, { "1.10", "1.9" }, { "1.9", "1.10" } };
    // For each pair (equal, greater, less): =, >, <, !=, >=, <=.
    const char *const ops[] = { "=", ">", "<", "!=", ">=", "<=" };
    const bool results[3][6] = {
        { true, false, false, false, true, true },
        { false, true, false, true, true, false },
        { false, false, true, true, false, true },
    };
    for (int p = 0; p < 3; ++p) {
        for (int o = 0; o < 6; ++o) {
            QTest::addRow("%s %s %s", pairs[p].version, ops[o], pairs[p].required)
                << pairs[p].version << ops[o] << pairs[p].required << results[p][o];
        }
    }
    const struct
    {
        const char *row, *version, *op, *required;
        bool expected;
    } rows[] = {
        { "=> is no operator", "2.0", "=>", "1.0", false },
        { "== is no operator", "1.0", "==", "1.0", false },
        { "empty operator", "1.0", "", "1.0", false },
        { "blank around operator", "1.0", " =", "1.0", false },
        { "star required", "3.7", "=", "3.*", true },
        { "invalid version", "-1", "<", "0", true },
    };
    for (const auto &row : rows)
        QTest::newRow(row.row) << row.version << row.op << row.required << row.expected;
}

void TestPackage::versionSatisfies()
{
    QFETCH(QString, version);
    QFETCH(QString, op);
    QFETCH(QString, required);
    QFETCH(bool, expected);
    QCOMPARE(::versionSatisfies(version, required, op), expected);
}

void TestPackage::splitDependency()
{
    const QList<QStringList> rows = { { " zlib ", "zlib", "" }, { "zlib >= 1.2", "zlib", ">= 1.2" },
        { "zlib>=1.2", "zlib", ">=1.2" }, { "a!=2", "a", "!=2" }, { ">=1", "", ">=1" }, { "", "", "" } };
    for (const QStringList &row : rows) {
        const QPair<QString, QString> parts = ::splitDependency(row.at(0));
        QCOMPARE(parts.first, row.at(1));
        QCOMPARE(parts.second, row.at(2));
    }
}

void TestPackage::archiveUrl()
{
    PackageInfo info;
    info.name = QStringLiteral("zlib");
    info.version = QStringLiteral("1.2.11-1");
    info.repository = QUrl(QStringLiteral("http://example.org/repo"));
    QCOMPARE(::archiveUrl(info, QStringLiteral("win32")),
        QUrl(QStringLiteral("http://example.org/repo/zlib_1.2.11-1_i686.vtrpkg")));
    QCOMPARE(::archiveUrl(info, QStringLiteral("other")).toString(),
        QStringLiteral("http://example.org/repo/zlib_1.2.11-1_amd64.vtrpkg"));

    info.repository = QUrl::fromLocalFile(QStringLiteral("/media/cd/packages"));
    QCOMPARE(::archiveUrl(info, QStringLiteral("win32")).toLocalFile(),
        QStringLiteral("/media/cd/packages/zlib_1.2.11-1_i686.vtrpkg"));

    // A hostile name stays inside the path instead of starting a fragment.
    info.repository = QUrl(QStringLiteral("http://example.org/repo"));
    info.name = QStringLiteral("c#?x");
    const QUrl odd = ::archiveUrl(info, QStringLiteral("win32"));
    QVERIFY(!odd.hasFragment() && !odd.hasQuery());
    QCOMPARE(odd.path(), QStringLiteral("/repo/c#?x_1.2.11-1_i686.vtrpkg"));

    info.version.clear();
    QVERIFY(!::archiveUrl(info, QStringLiteral("win32")).isValid());
}

void TestPackage::nullHandleIsInert()
{
    ZelManagerPackage package;
    QCOMPARE(package.statusText(), QStringLiteral("None"));
    QVERIFY(package.isBroken());
    QVERIFY(!package.matches(QString(), 0));
    QString icon, tip;
    package.statusIcon(icon, tip);
    QCOMPARE(icon, QStringLiteral(":/images/package-broken.svg"));

    // Setters on a null handle do nothing (and do not crash).
    package.setProgress(50);
    package.setStatus(ZelManagerPackage::Error, QStringLiteral("x"));
    package.setRequest(ZelManagerPackage::RequestInstall, QStringLiteral("y"));
    package.setBookmarked(true);
    QCOMPARE(package.progress(), 0);
    QVERIFY(package.isNull());
}

// Copies share one record without copy on write: a worker takes its own copy;
// what the GUI thread sets afterwards is what the worker reads through that
// copy, and the worker's progress comes back.
void TestPackage::handlesSharedAcrossThreads()
{
    ZelManagerPackage package(QStringLiteral("gcc"));
    QSemaphore copied;
    QSemaphore changed;
    int seenProgress = 0;
    int seenStatus = 0;
    QScopedPointer<QThread> worker(QThread::create([&]() {
        ZelManagerPackage copy = package;
        copied.release();
        changed.acquire();
        seenProgress = copy.progress();
        seenStatus = copy.status();
        copy.setProgress(77);
    }));
    worker->start();
    copied.acquire();
    package.setStatus(ZelManagerPackage::Downloading);
    package.setProgress(13);
    changed.release();
    QVERIFY(worker->wait(10000));
    QCOMPARE(seenProgress, 13);
    QCOMPARE(seenStatus, int(ZelManagerPackage::Downloading));
    QCOMPARE(package.progress(), 77);
    ZelManagerPackage assigned;
    assigned = package;
    QVERIFY(assigned == package && ZelManagerPackage(QStringLiteral("gcc")) != package);
}

// Many threads copy and drop handles of one record while it changes; the
// record must survive until the last handle goes (the sanitizer build reports
// a use after free otherwise), and status and progress set from different
// threads must not overwrite each other.
void TestPackage::concurrentCopiesKeepRecordAlive()
{
    ZelManagerPackage package(QStringLiteral("qt5-base"));
    QList<QThread *> threads;
    for (int t = 0; t < 4; ++t) {
        threads.append(QThread::create([package]() {
            for (int i = 0; i < 20000; ++i) {
                ZelManagerPackage copy = package;
                ZelManagerPackage other;
                other = copy;
                other.setProgress(i % 101);
                if (copy.name().isEmpty())
                    qFatal("record lost");
            }
        }));
    }
    for (QThread *thread : threads)
        thread->start();
    for (int i = 0; i < 20000; ++i)
        package.setStatus(ZelManagerPackage::Installing);
    for (QThread *thread : threads) {
        QVERIFY(thread->wait(60000));
        delete thread;
    }
    QCOMPARE(package.status(), int(ZelManagerPackage::Installing));
    QVERIFY(package.progress() >= 0 && package.progress() <= 100);
}

void TestPackage::progressEncoding_data()
{
    QTest::addColumn<int>("written");
    QTest::addColumn<int>("read");
    QTest::newRow("zero") << 0 << 0;
    QTest::newRow("full") << 100 << 100;
    QTest::newRow("just above") << 101 << -1;
    QTest::newRow("largest int") << INT_MAX << -1;
    QTest::newRow("unknown") << -1 << -1;
    QTest::newRow("negative") << -7 << -7;
    QTest::newRow("most negative kept") << -16777216 << -16777216;
    QTest::newRow("below range stays negative") << INT_MIN << -16777216;
}

// Status and progress share one word: neither may spill into the other, even
// with the largest status value and the progress sign bit set.
void TestPackage::progressEncoding()
{
    QFETCH(int, written);
    QFETCH(int, read);
    ZelManagerPackage package(QStringLiteral("p"));
    package.setStatus(ZelManagerPackage::PackageStatus(127));
    package.setProgress(written);
    QCOMPARE(package.progress(), read);
    QCOMPARE(package.status(), 127);
    package.setStatus(ZelManagerPackage::Finished);
    QCOMPARE(package.progress(), read);
}

void TestPackage::statusText()
{
    const char *const texts[] = { "Waiting", "Error", "Canceling", "Removing", "Upgrading", "Installing", "Parsing",
        "Downloading", "Reinstalling", "Removed", "Finished", "Downloaded", "None" };
    ZelManagerPackage package(QStringLiteral("p"));
    for (int status = 0; status < 13; ++status) {
        package.setStatus(ZelManagerPackage::PackageStatus(status));
        QCOMPARE(package.statusText(), QString::fromLatin1(texts[status]));
    }
    package.setStatus(ZelManagerPackage::Error, QStringLiteral("MD5 mismatch"));
    QCOMPARE(package.statusText(), QStringLiteral("MD5 mismatch"));
    package.setStatus(ZelManagerPackage::Error);
    QCOMPARE(package.statusText(), QStringLiteral("Error"));
}

void TestPackage::statusIconPrecedence_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("toolTip");
    const struct
    {
        const char *row;
        int flags;
        const char *file, *toolTip;
    } rows[] = {
        { "broken beats requests", 0x1501, "broken.svg", "Dependencies broken" },
        { "reinstall of upgradable", 0x50C, "reinstall.svg", "About to reinstall this package" },
        { "reinstall beats remove", 0xD04, "reinstall.svg", "About to reinstall this package" },
        { "automatic remove", 0x1804, "remove-auto.svg", "About to remove this package" },
        { "remove beats upgrade", 0xB0C, "remove.svg", "About to remove this package" },
        { "automatic upgrade", 0x130E, "upgrade.svg", "About to upgrade this package" },
        { "automatic install", 0x1102, "install-auto.svg", "About to install this package" },
        { "install", 0x2102, "install.svg", "About to install this package" },
        { "upgradable", 0xE, "installed-outdated.svg", "This package is upgradable" },
        { "installed", 0x6, "installed-updated.svg", "This package is installed" },
        { "installable", 0x2, "new.svg", "This package can be installed" },
        { "bookmark only", 0x2000, "available.svg", "" },
    };
    for (const auto &row : rows)
        QTest::newRow(row.row) << row.flags << row.file << row.toolTip;
}

void TestPackage::statusIconPrecedence()
{
    QFETCH(int, flags);
    QFETCH(QString, file);
    QFETCH(QString, toolTip);
    QString icon;
    QString tip = QStringLiteral("stale");
    ZelManagerPackage(QStringLiteral("p"), flags).statusIcon(icon, tip);
    QCOMPARE(icon, QStringLiteral(":/images/package-") + file);
    QCOMPARE(tip, toolTip);
}

void TestPackage::matches_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("filter");
    QTest::addColumn<bool>("expected");
    // The package is named "libpng" (descriptions are matched in the database test).
    QTest::newRow("name contains") << 0 << "png" << 0 << true;
    QTest::newRow("case matters") << 0 << "PNG" << 0 << false;
    QTest::newRow("text fails before filter") << 0x2 << "zlib" << 0x2 << false;
    QTest::newRow("any request wanted, none") << 0x2 << "" << 0x1F00 << false;
    QTest::newRow("any request wanted, one") << 0x1102 << "" << 0x1F00 << true;
    QTest::newRow("request must be exact") << 0x1302 << "" << 0x300 << false;
    QTest::newRow("install filter, installed") << 0x6 << "" << 0x2 << false;
    QTest::newRow("installed filter, not installed") << 0x2 << "" << 0x4 << false;
    QTest::newRow("upgradable filter, current") << 0x6 << "" << 0x8 << false;
    QTest::newRow("broken bit asks nothing") << 0x0 << "" << 0x1 << true;
    QTest::newRow("bookmark wanted") << 0x6 << "" << 0x2004 << false;
    QTest::newRow("bookmark present") << 0x2006 << "lib" << 0x2004 << true;
}

void TestPackage::matches()
{
    QFETCH(int, flags);
    QFETCH(QString, text);
    QFETCH(int, filter);
    QFETCH(bool, expected);
    ZelManagerPackage package(QStringLiteral("libpng"), flags);
    QCOMPARE(package.matches(text, filter), expected);
}

void TestPackage::requestBitsOnRecordOfItsOwn()
{
    ZelManagerPackage package(
        QStringLiteral("y"), ZelManagerPackage::FlagInstallable | ZelManagerPackage::FlagBookmarked);
    package.setRequest(0x1100, QStringLiteral("x"));
    package.setRequest(0x1100, QStringLiteral("w"));
    package.setRequest(0x1100, QStringLiteral("x"));
    package.setRequest(0x1100, QString());
    QCOMPARE(package.requestedBy(), QStringList({ QStringLiteral("x"), QStringLiteral("w") }));
    QCOMPARE(package.flags(), 0x1100 | 0x2000 | 0x2);
    // Bits outside the request mask are ignored.
    package.setRequest(0x800 | 0x4);
    QCOMPARE(package.flags(), 0x800 | 0x2000 | 0x2);
    package.setRequest(0);
    QVERIFY(package.requestedBy().isEmpty());
}

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
