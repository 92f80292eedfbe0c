#include "database/ZelManagerDatabase.h"
#include "engine/ZelManagerApplyRun.h"
#include "engine/ZelManagerTargetFolder.h"
#include "tests/support/TestApplyFixture.h"
#include "tests/support/TestDatabaseFile.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

using Entry = TestApplyFixture::Entry;

// An apply run killed (SIGKILL) at a random moment, started again: the
// installation is whole after the start-up's recovery, and the same requests
// then go through. zelpkg is the program killed and started; the run
// installs A, B (which needs A) and C (which takes a file that R gives up),
// upgrades U and removes R.
//
// ZEL_KILL_ITERATIONS (default 30) and ZEL_KILL_SEED (default 20261209)
// choose how many kills and when; README.md tells how to run a long series.
class TestKillRun : public QObject
{
    Q_OBJECT

private slots:
    void killedRunsLeaveAWholeInstallation();
};

namespace {

const int FilesPerPackage = 40;
const QStringList Packages { "A", "B", "C", "R", "U" };

int environmentNumber(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariable(name).toInt(&ok);
    return ok ? value : fallback;
}

QByteArray content(const QString &name, const QString &version, const QString &path)
{
    return QStringLiteral("%1 %2 %3\n").arg(name, version, path).toUtf8();
}

// Every file a version of a package has.
QStringList filesOf(const QString &name, const QString &version)
{
    QStringList files;
    const QString folder = QStringLiteral("share/%1/").arg(name.toLower());
    for (int n = 0; n < FilesPerPackage; ++n)
        files.append(folder + QStringLiteral("f%1.txt").arg(n, 2, 10, QLatin1Char('0')));
    if (name == QLatin1String("U"))
        files.append(folder + (version == QLatin1String("1.0") ? "old-only.txt" : "new-only.txt"));
    if (name == QLatin1String("R") || name == QLatin1String("C"))
        files.append(QStringLiteral("share/shared/handover.txt"));
    return files;
}

QList<Entry> entriesOf(const QString &name, const QString &version)
{
    QList<Entry> entries;
    for (const QString &path : filesOf(name, version))
        entries.append(Entry(path, content(name, version, path)));
    return entries;
}

bool copyTree(const QString &from, const QString &to)
{
    QDirIterator it(from, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString target = to + file.mid(from.size());
        if (!QDir().mkpath(QFileInfo(target).path()) || !QFile::copy(file, target))
            return false;
    }
    return true;
}

struct Child
{
    int code = -1;
    bool killed = false;
    QString err;
};

// When, counted from its start, a run wrote its first and its last commit
// to the status file: the span in which it changes files (a package's
// journal entry is committed before its first file is touched, its outcome
// after the last).
struct Span
{
    qint64 first = -1;
    qint64 last = -1;
};

// With writeLog (the status file's write-ahead log, which changes with
// every commit), the run is watched each millisecond: writes receives the
// span of its commits, and killAfterMs counts from its first commit, so that
// the moment does not depend on how long the start-up takes. Without, it
// counts from the start.
Child runZelpkg(
    const QStringList &arguments, int killAfterMs = -1, const QString &writeLog = QString(), Span *writes = nullptr)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0:exitcode=86"));
    process.setProcessEnvironment(environment);
    // ZEL_KILL_PROGRAM_DIR: a copy of the programs, for a long run beside a build.
    const QString folder = qEnvironmentVariable("ZEL_KILL_PROGRAM_DIR", QStringLiteral(ZEL_BINARY_DIR));
    process.start(folder + QStringLiteral("/zelpkg"), arguments);
    Child child;
    if (!process.waitForStarted())
        return child;
    if (!writeLog.isEmpty()) {
        QElapsedTimer timer;
        timer.start();
        const auto stamp = [&writeLog] {
            const QFileInfo info(writeLog);
            return qMakePair(info.size(), info.lastModified().toMSecsSinceEpoch());
        };
        Span span;
        auto seen = stamp();
        while (!process.waitForFinished(1)) {
            const auto now = stamp();
            // The empty log that the start-up makes is no commit.
            if (now != seen && now.first > 0) {
                span.last = timer.elapsed();
                if (span.first < 0)
                    span.first = span.last;
            }
            seen = now;
            if (killAfterMs >= 0 && span.first >= 0 && timer.elapsed() - span.first >= killAfterMs) {
                process.kill();
                child.killed = true;
                break;
            }
        }
        if (writes)
            *writes = span;
    } else if (killAfterMs >= 0 && !process.waitForFinished(killAfterMs)) {
        process.kill();
        child.killed = true;
    }
    process.waitForFinished(300000);
    child.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    child.err = QString::fromLocal8Bit(process.readAllStandardError());
    return child;
}

// What must hold whenever no program runs on the installation.
QStringList violations(const QString &statusFile, const QString &target)
{
    QStringList found;
    TestDatabaseFile db(statusFile);
    if (db.value(QStringLiteral("PRAGMA integrity_check")) != QLatin1String("ok"))
        found.append(QStringLiteral("integrity check fails"));
    if (db.value(QStringLiteral("SELECT count(*) FROM journal")) != QLatin1String("0"))
        found.append(QStringLiteral("journal entries left"));
    for (const QStringList &row :
        db.rows(QStringLiteral("SELECT entry FROM fileentries GROUP BY entry COLLATE NOCASE HAVING count(*) > 1")))
        found.append(QStringLiteral("recorded twice: %1").arg(row.value(0)));
    for (const QString &name : Packages) {
        const bool installed = db.value(QStringLiteral("SELECT status FROM status WHERE package=?"), { name }).toInt()
            & ZelManagerPackage::FlagInstalled;
        const QString version = db.value(QStringLiteral("SELECT version FROM infos WHERE name=?"), { name });
        QStringList recorded;
        for (const QStringList &row :
            db.rows(QStringLiteral("SELECT entry FROM fileentries WHERE package=?"), { name }))
            recorded.append(row.value(0));
        if (installed) {
            if (recorded.isEmpty() || version.isEmpty())
                found.append(QStringLiteral("%1 installed without records").arg(name));
            for (const QString &path : qAsConst(recorded)) {
                const QString file = target + QLatin1Char('/') + path;
                if (TestSandbox::readFile(file).toUtf8() != content(name, version, path))
                    found.append(QStringLiteral("%1 %2: %3 missing or not of its version").arg(name, version, path));
            }
            continue;
        }
        if (!recorded.isEmpty() || !version.isEmpty())
            found.append(QStringLiteral("%1 not installed but recorded").arg(name));
        for (const QString &old : { QStringLiteral("1.0"), QStringLiteral("2.0") }) {
            for (const QString &path : filesOf(name, old)) {
                const bool owned
                    = !db.value(QStringLiteral("SELECT package FROM fileentries WHERE entry=?"), { path }).isEmpty();
                if (!owned && QFileInfo::exists(target + QLatin1Char('/') + path))
                    found.append(QStringLiteral("%1 not installed, but %2 is left").arg(name, path));
            }
        }
    }
    QDirIterator it(target, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (file.endsWith(ZelManagerTargetFolder::stagedName(QString())))
            found.append(QStringLiteral("staged file left: %1").arg(file));
    }
    found.removeDuplicates();
    return found;
}

// The recorded state of the packages, journal included: tells a kill before
// the first change and one after the last from one in between.
QString recordedState(const QString &statusFile)
{
    TestDatabaseFile db(statusFile);
    QStringList state { db.value(QStringLiteral("SELECT count(*) FROM journal")) };
    const QString query = QStringLiteral("SELECT s.package, s.status, i.version, "
                                         "(SELECT count(*) FROM fileentries f WHERE f.package = s.package) "
                                         "FROM status s LEFT JOIN infos i ON i.name = s.package ORDER BY s.package");
    for (const QStringList &row : db.rows(query))
        state.append(row.join(QLatin1Char(' ')));
    return state.join(QLatin1Char('\n'));
}

// A kill moment after the run's first commit, within the span in which the
// measured run changed files: most kills land while files change.
int killMoment(QRandomGenerator &random, const Span &writes)
{
    return int(random.bounded(quint32(qMax<qint64>(0, writes.last - writes.first) + 1)));
}

QStringList finalStateProblems(const QString &statusFile)
{
    QStringList found;
    TestDatabaseFile db(statusFile);
    const QString expected[][2] = { { "A", "1.0" }, { "B", "1.0" }, { "C", "1.0" }, { "U", "2.0" }, { "R", "" } };
    for (const auto &pair : expected) {
        const QString version = db.value(QStringLiteral("SELECT version FROM infos WHERE name=?"), { pair[0] });
        if (version != pair[1])
            found.append(QStringLiteral("%1 at \"%2\", not \"%3\"").arg(pair[0], version, pair[1]));
    }
    if (db.value(QStringLiteral("SELECT count(*) FROM status WHERE status & 7936")) != QLatin1String("0"))
        found.append(QStringLiteral("requests left"));
    return found;
}

} // namespace

void TestKillRun::killedRunsLeaveAWholeInstallation()
{
    const int iterations = environmentNumber("ZEL_KILL_ITERATIONS", 30);
    const quint32 seed = quint32(environmentNumber("ZEL_KILL_SEED", 20261209));
    TestApplyFixture fixture;
    QVERIFY(fixture.isValid());

    // The installation before the run: U 1.0 and R installed, the requests
    // of the run marked.
    QVERIFY(fixture.addPackage(fixture.manifest("U", "1.0"), entriesOf("U", "1.0")));
    QVERIFY(fixture.addPackage(fixture.manifest("R", "1.0"), entriesOf("R", "1.0")));
    QVERIFY(fixture.updateIndex());
    QCOMPARE(fixture.request("U", TestApplyFixture::Install), QString());
    QCOMPARE(fixture.request("R", TestApplyFixture::Install), QString());
    QVERIFY(ZelManagerApplyRun().exec());
    QVERIFY(fixture.addPackage(fixture.manifest("U", "2.0"), entriesOf("U", "2.0")));
    QVERIFY(fixture.addPackage(fixture.manifest("A", "1.0"), entriesOf("A", "1.0")));
    QVERIFY(fixture.addPackage(fixture.manifest("B", "1.0", { "A" }), entriesOf("B", "1.0")));
    QVERIFY(fixture.addPackage(fixture.manifest("C", "1.0"), entriesOf("C", "1.0")));
    QVERIFY(fixture.updateIndex());
    QCOMPARE(fixture.request("U", TestApplyFixture::Upgrade), QString());
    QCOMPARE(fixture.request("R", TestApplyFixture::Remove), QString());
    QCOMPARE(fixture.request("B", TestApplyFixture::Install), QString());
    QCOMPARE(fixture.request("C", TestApplyFixture::Install), QString());
    const QString installPath = QFileInfo(fixture.statusFile()).path() + QStringLiteral("/..");
    const QString install = QDir::cleanPath(installPath);
    const QString saved = fixture.sandbox().path() + QStringLiteral("/saved");
    // Closed (and the settings saved) for the programs that follow.
    ZelManagerDatabase::cleanup();
    QVERIFY(copyTree(install, saved));
    QCOMPARE(violations(fixture.statusFile(), fixture.target()), QStringList());

    const QString initialState = recordedState(fixture.statusFile());
    const QString writeLog = fixture.statusFile() + QStringLiteral("-wal");

    QRandomGenerator random(seed);
    int before = 0;
    int midRun = 0;
    int after = 0;
    int recoveries = 0;
    QStringList problems;
    qint64 runMs = 0;
    Span writes;
    QString finalState;
    for (int iteration = 0; iteration <= iterations && problems.size() < 20; ++iteration) {
        QVERIFY(QDir(install).removeRecursively());
        QVERIFY(copyTree(saved, install));
        // The first run goes to its end: it proves the requests and measures
        // the span in which it changes files, in which the kills then fall.
        QElapsedTimer timer;
        timer.start();
        const int delay = iteration == 0 ? -1 : killMoment(random, writes);
        const Child killed = runZelpkg({ "apply", "--yes" }, delay, writeLog, iteration == 0 ? &writes : nullptr);
        const QString state = recordedState(fixture.statusFile());
        if (iteration == 0) {
            runMs = timer.elapsed();
            QVERIFY2(killed.code == 0, qPrintable(killed.err));
            QVERIFY(writes.first >= 0);
            finalState = state;
        } else if (!killed.killed || state == finalState) {
            ++after;
        } else if (state == initialState) {
            ++before;
        } else {
            ++midRun;
        }
        const Child recovery = runZelpkg({ "apply", "--dry-run" });
        recoveries += recovery.err.count(QStringLiteral("was interrupted"));
        QStringList found = violations(fixture.statusFile(), fixture.target());
        const Child again = runZelpkg({ "apply", "--yes" });
        if (again.code != 0)
            found.append(QStringLiteral("following apply failed (%1): %2").arg(again.code).arg(again.err));
        found += violations(fixture.statusFile(), fixture.target());
        found += finalStateProblems(fixture.statusFile());
        if (iteration % 50 == 0)
            qInfo("kill test: %d of %d iterations, %d violations so far", iteration, iterations, int(problems.size()));
        for (const QString &text : qAsConst(found)) {
            problems.append(QStringLiteral("iteration %1 (kill %2 ms after the first commit): %3")
                                .arg(iteration)
                                .arg(delay)
                                .arg(text));
            qWarning("kill test: %s", qPrintable(problems.last()));
        }
    }
    qInfo("kill test: seed %u, a run of %lld ms changed files from %lld to %lld ms", seed, runMs, writes.first,
        writes.last);
    qInfo("kill test: %d iterations: %d kills before the first change, %d while the run changed files, %d after "
          "the last; %d packages recovered, %d violations",
        iterations, before, midRun, after, recoveries, int(problems.size()));
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
}

// A long series runs for an hour: QtTest's watchdog (5 minutes a test
// function by default) gets a limit that fits the number of kills.
int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT")) {
        const int iterations = environmentNumber("ZEL_KILL_ITERATIONS", 30);
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number(qMax(600, iterations * 30) * 1000));
    }
    QCoreApplication app(argc, argv);
    TestKillRun test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_killrun.moc"
