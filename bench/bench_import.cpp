// Times the repository update on an index of realistic size: a generated
// "packages.xml" (bench/gen_index.py, 60,000 packages, about 68 MB) fetched
// from a file URL and from the test HTTP server (tests/httpserver.py), and
// imported into the repository's file. Reports the time from start() to
// finished(), the time of the import alone, and the longest stretch in which
// the event loop did not turn.
//
//   bench_import [packages, default 60000]
//
// Everything happens in a temporary folder; HOME and the other locations the
// program writes to point into it.

#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerRepositoryUpdater.h"
#include "database/ZelManagerSqlStatement.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestSandbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <sqlite3.h>

#include <cstdio>
#include <ctime>

namespace {

const QString SourceDir = QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/..");

bool generateIndex(const QString &path, int packages)
{
    return QProcess::execute(QStringLiteral("python3"),
               { SourceDir + QStringLiteral("/bench/gen_index.py"), QStringLiteral("--packages"),
                   QString::number(packages), path })
        == 0;
}

// The test server on a free port, serving folder; its first output line is
// the port. It ends when its standard input closes.
quint16 startServer(QProcess &server, const QString &folder)
{
    server.start(QStringLiteral("python3"), { SourceDir + QStringLiteral("/tests/httpserver.py"), folder });
    if (!server.waitForStarted(10000) || !server.waitForReadyRead(10000))
        return 0;
    return quint16(server.readLine().trimmed().toUInt());
}

struct Run
{
    bool ok = false;
    qint64 totalMs = 0;
    qint64 importMs = 0;
    qint64 longestGapMs = 0;
    double cpuMs = 0; // the process's processor time (the import uses two threads)
    int progressReports = 0;
    QString errorText;
};

// One update from start() to finished() with the event loop running, as the
// update panel runs it; a 1 ms timer measures how long the loop is kept away.
Run update(ZelManagerDatabase *database, const QUrl &repository, bool batch)
{
    Run run;
    QElapsedTimer total, parsing, sinceTick;
    total.start();
    const std::clock_t cpu = std::clock();
    if (batch)
        database->beginTransaction();
    ZelManagerRepositoryUpdater *updater = database->createUpdater(repository);
    if (!updater)
        return run;
    QEventLoop loop;
    QTimer ticker;
    ticker.setInterval(1);
    sinceTick.start();
    QObject::connect(
        &ticker, &QTimer::timeout, [&]() { run.longestGapMs = qMax(run.longestGapMs, sinceTick.restart()); });
    QObject::connect(
        updater, QOverload<int>::of(&ZelManagerRepositoryUpdater::progress), [&]() { ++run.progressReports; });
    QObject::connect(updater, &ZelManagerRepositoryUpdater::workChanged, [&](const QString &work) {
        if (work == QLatin1String("Parsing"))
            parsing.start();
    });
    QObject::connect(updater, &ZelManagerRepositoryUpdater::finished, &loop, &QEventLoop::quit);
    ticker.start();
    loop.exec();
    ticker.stop();
    run.importMs = parsing.isValid() ? parsing.elapsed() : 0;
    run.errorText = updater->errorText();
    run.ok = run.errorText.isEmpty();
    delete updater;
    if (batch)
        database->endTransaction(false);
    run.totalMs = total.elapsed();
    run.cpuMs = double(std::clock() - cpu) * 1000.0 / CLOCKS_PER_SEC;
    return run;
}

qint64 rowCount(const QString &file, const char *table)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open(file.toUtf8().constData(), &db) != SQLITE_OK)
        return -1;
    qint64 count = -1;
    {
        ZelManagerSqlStatement query(db, (QByteArray("SELECT count(*) FROM ") + table + ";").constData());
        if (query.next())
            count = query.int64(0);
    }
    sqlite3_close(db);
    return count;
}

void report(const char *what, const Run &run)
{
    std::printf("%-34s %s total %5lld ms, import %5lld ms, cpu %5.0f ms, longest event-loop gap %3lld ms, "
                "%2d progress reports\n",
        what, run.ok ? "ok  " : "FAIL", run.totalMs, run.importMs, run.cpuMs, run.longestGapMs, run.progressReports);
    if (!run.ok)
        std::printf("    %s\n", qPrintable(run.errorText));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const int packages = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 60000;
    TestSandbox root; // HOME, host root, settings and working folder redirected into it
    const QString repositoryFolder = root.path() + QStringLiteral("/served/repo");
    QDir().mkpath(repositoryFolder);
    if (!generateIndex(repositoryFolder + QStringLiteral("/packages.xml"), packages)) {
        std::printf("cannot generate the index (python3 bench/gen_index.py)\n");
        return 1;
    }
    std::printf("index: %d packages, %.1f MB\n", packages,
        QFileInfo(repositoryFolder + QStringLiteral("/packages.xml")).size() / 1e6);

    QProcess server;
    const quint16 port = startServer(server, root.path() + QStringLiteral("/served"));
    if (!port) {
        std::printf("cannot start the test server (python3 tests/httpserver.py)\n");
        return 1;
    }
    const QUrl fileRepository = QUrl::fromLocalFile(repositoryFolder);
    const QUrl httpRepository(QStringLiteral("http://127.0.0.1:%1/repo").arg(port));

    ZelManagerSettings *settings = ZelManagerSettings::instance();
    const QString installPath = root.path() + QStringLiteral("/vp");
    settings->setInstallPath(installPath);
    settings->clearRepositories();
    settings->setRepository(fileRepository, QStringLiteral("file"), true);
    settings->setRepository(httpRepository, QStringLiteral("http"), true);
    ZelManagerDatabase *database = ZelManagerDatabase::instance();

    report("file URL, empty repository file", update(database, fileRepository, false));
    report("file URL, replacing the content", update(database, fileRepository, false));
    report("file URL, inside a database batch", update(database, fileRepository, true));
    report("HTTP, empty repository file", update(database, httpRepository, false));
    report("HTTP, replacing the content", update(database, httpRepository, false));

    const QString file
        = installPath + QStringLiteral("/pkgdb/") + ZelManagerDatabase::repositoryFileName(httpRepository);
    std::printf("rows: infos %lld, filenames %lld, categories %lld, dependencies %lld\n", rowCount(file, "infos"),
        rowCount(file, "filenames"), rowCount(file, "categories"), rowCount(file, "dependencies"));
    ZelManagerDatabase::cleanup();
    server.closeWriteChannel();
    server.waitForFinished(5000);
    return 0;
}
