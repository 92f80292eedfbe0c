#include "database/ZelManagerDatabase.h"
#include "engine/ZelManagerApplyRun.h"
#include "engine/ZelManagerRecovery.h"
#include "engine/ZelManagerTargetFolder.h"
#include "tests/support/TestApplyFixture.h"
#include "tests/support/TestDatabaseFile.h"

#include <QFileInfo>
#include <QtTest>

using Entry = TestApplyFixture::Entry;

// What an ended process leaves half done is put right at the next start:
// journal entries written as the installer and the remover write them, the
// files on disk as the process left them.
class TestRecovery : public QObject
{
    Q_OBJECT

private slots:
    void everyKindOfInterruptedPackage();
    void emptyJournalChangesNothing();
};

namespace {

ZelManagerDatabase::JournalEntry journalEntry(const QString &name, int operation, const QString &version,
    const QStringList &newFiles, const QStringList &oldFiles = {})
{
    ZelManagerDatabase::JournalEntry entry;
    entry.package = name;
    entry.operation = operation;
    entry.info.name = name;
    entry.info.version = version;
    entry.info.md5sum = QStringLiteral("0123456789abcdef0123456789abcdef");
    entry.info.postrm = QStringLiteral("log(\"bye\");");
    for (const QString &path : newFiles)
        entry.info.fileEntries.insert(path, !path.endsWith(QLatin1String(".bin")));
    entry.newFiles = newFiles;
    entry.oldFiles = oldFiles;
    return entry;
}

QStringList recordedFiles(const QString &statusFile, const QString &name)
{
    TestDatabaseFile db(statusFile);
    QStringList files;
    for (const QStringList &row :
        db.rows(QStringLiteral("SELECT entry FROM fileentries WHERE package=? ORDER BY entry"), { name }))
        files.append(row.value(0));
    return files;
}

} // namespace

void TestRecovery::everyKindOfInterruptedPackage()
{
    TestApplyFixture fixture;
    QVERIFY(fixture.isValid());
    const QList<Entry> p1 { { "share/p/a.txt", "old" }, { "share/p/old.txt", "old only" } };
    const QList<Entry> r1 { { "bin/r.exe", "r" }, { "share/r/doc.txt", "doc" } };
    QVERIFY2(fixture.addPackage(fixture.manifest("P", "1.0"), p1), qPrintable(fixture.errorText()));
    QVERIFY(fixture.addPackage(fixture.manifest("R", "1.0"), r1));
    QVERIFY(fixture.addPackage(fixture.manifest("S", "1.0"), { { "share/s/s.txt", "s" } }));
    QVERIFY(fixture.addPackage(fixture.manifest("X", "1.0"), { { "bin/x.exe", "x" } }));
    QVERIFY(fixture.updateIndex());
    for (const char *name : { "P", "R", "S" })
        QCOMPARE(fixture.request(name, TestApplyFixture::Install), QString());
    ZelManagerApplyRun install;
    QVERIFY(install.exec());
    ZelManagerDatabase *db = fixture.database();

    // X: a fresh installation killed while unpacking; it had written one
    // file, and its list names a file that P owns (never deleted).
    QVERIFY(db->writeJournal(journalEntry(
        "X", ZelManagerDatabase::JournalInstall, "1.0", { "bin/x.exe", "share/x/deep/x.txt", "share/p/a.txt" })));
    QVERIFY(TestSandbox::writeFile(fixture.file("bin/x.exe"), "x"));
    QVERIFY(TestSandbox::writeFile(fixture.file("share/x/deep/x.txt"), "x"));
    // S: an upgrade killed while staging; the installed version stays.
    QVERIFY(db->writeJournal(journalEntry("S", ZelManagerDatabase::JournalReplace, "2.0", { "share/s/s.txt" })));
    QVERIFY(TestSandbox::writeFile(ZelManagerTargetFolder::stagedName(fixture.file("share/s/s.txt")), "s2"));
    // P: an upgrade killed during its switch: one file moved into place,
    // one still staged, the old-only file not deleted yet.
    QVERIFY(db->writeJournal(
        journalEntry("P", ZelManagerDatabase::JournalReplace, "2.0", { "share/p/a.txt", "share/p/new.bin" })));
    QVERIFY(db->setJournalSwitching("P", { "share/p/old.txt" }));
    QVERIFY(TestSandbox::writeFile(ZelManagerTargetFolder::stagedName(fixture.file("share/p/a.txt")), "new"));
    QVERIFY(TestSandbox::writeFile(fixture.file("share/p/new.bin"), "new only"));
    // R: a removal killed after its first file.
    ZelManagerDatabase::JournalEntry removal;
    removal.package = QStringLiteral("R");
    removal.operation = ZelManagerDatabase::JournalRemove;
    QVERIFY(db->writeJournal(removal));
    QVERIFY(QFile::remove(fixture.file("bin/r.exe")));

    const QStringList report = ZelManagerRecovery::recover(db, fixture.target());
    QCOMPARE(report.size(), 4);
    QVERIFY(report.contains("The installation of X 1.0 was interrupted; it has been undone."));
    QVERIFY(
        report.contains("The installation of S 2.0 was interrupted; it has been undone, version 1.0 stays installed."));
    QVERIFY(report.contains(
        "The installation of P 2.0 was interrupted; it has been completed, but its scripts did not run."));
    QVERIFY(report.contains("The removal of R was interrupted; it has been completed."));
    QVERIFY(db->journal().isEmpty());

    QVERIFY(!QFileInfo::exists(fixture.file("bin/x.exe")));
    QVERIFY(!QFileInfo::exists(fixture.file("share/x")));
    QCOMPARE(db->package("X").installedVersion(), QString());
    QCOMPARE(recordedFiles(fixture.statusFile(), "X"), QStringList());

    QCOMPARE(db->package("S").installedVersion(), QString("1.0"));
    QCOMPARE(TestSandbox::readFile(fixture.file("share/s/s.txt")), QString("s"));
    QVERIFY(!QFileInfo::exists(ZelManagerTargetFolder::stagedName(fixture.file("share/s/s.txt"))));

    QCOMPARE(db->package("P").installedVersion(), QString("2.0"));
    QVERIFY(db->package("P").isInstalled());
    QCOMPARE(TestSandbox::readFile(fixture.file("share/p/a.txt")), QString("new"));
    QVERIFY(!QFileInfo::exists(ZelManagerTargetFolder::stagedName(fixture.file("share/p/a.txt"))));
    QVERIFY(!QFileInfo::exists(fixture.file("share/p/old.txt")));
    QCOMPARE(recordedFiles(fixture.statusFile(), "P"), QStringList({ "share/p/a.txt", "share/p/new.bin" }));
    QCOMPARE(db->packageEntry("P", QString(), true).postrm, QString("log(\"bye\");"));
    QVERIFY(db->package("P").requestFlags() == 0);

    QVERIFY(!db->package("R").isInstalled());
    QVERIFY(!QFileInfo::exists(fixture.file("share/r")));
    QCOMPARE(recordedFiles(fixture.statusFile(), "R"), QStringList());
}

void TestRecovery::emptyJournalChangesNothing()
{
    TestApplyFixture fixture;
    QVERIFY(fixture.isValid());
    QVERIFY(ZelManagerRecovery::recover(fixture.database(), fixture.target()).isEmpty());
    TestDatabaseFile db(fixture.statusFile());
    QCOMPARE(db.value(QStringLiteral("PRAGMA journal_mode")), QString("wal"));
}

QTEST_GUILESS_MAIN(TestRecovery)
#include "tst_recovery.moc"
