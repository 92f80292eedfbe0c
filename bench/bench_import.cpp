// Times the repository update on an index of realistic size: a generated
// "packages.xml" (bench/gen_index.py, 60,000 packages, about 68 MB) fetched
// from a file URL and from the test HTTP server (tests/httpserver.py), and
// imported into the repository's file. Reports the time from start() to
// finished(), the time of the import alone, the longest stretch in which
// the event loop did not turn (with what the update was doing then), and the
// process's peak memory after each run. Beside it, the floors: "xmllint
// --stream" reading the same file (again just before each run, for the ratio)
// and the sqlite3 shell copying the imported rows into a new file with the
// same lookup indexes.
//
//   bench_import [packages, default 60000]
//   bench_import --index FILE   (any index instead of a generated one)
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
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <vector>

namespace {

// The test support library names its source folder; ccache may make __FILE__
// relative, so the benches take the folder from there.
const QString SourceDir = QStringLiteral(ZEL_TESTS_SOURCE_DIR "/..");

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

// Peak resident memory of this process in MB.
double peakMegabytes()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

struct Floor
{
    qint64 ms = -1; // -1 when the program failed
    double peakMb = 0;
};

// Runs a floor program to its end, standard input from input when given,
// and takes its wall time and its own peak memory.
Floor runFloor(const QStringList &command, const QString &input = QString())
{
    Floor floor;
    QList<QByteArray> bytes;
    for (const QString &argument : command)
        bytes.append(QFile::encodeName(argument));
    std::vector<char *> argv;
    for (QByteArray &argument : bytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const QByteArray inputName = QFile::encodeName(input);
    QElapsedTimer timer;
    timer.start();
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        if (!inputName.isEmpty())
            dup2(open(inputName.constData(), O_RDONLY), STDIN_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage {};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return floor;
    floor.ms = timer.elapsed();
    floor.peakMb = usage.ru_maxrss / 1024.0;
    return floor;
}

// The sqlite3 shell copies the rows of an imported file into a new file that
// has the lookup indexes from the start, as the import does.
Floor sqliteCopy(const QString &imported, const QString &folder)
{
    const QString target = folder + QStringLiteral("/copy.db");
    const QString script = folder + QStringLiteral("/copy.sql");
    QFile::remove(target);
    QFile out(script);
    if (!out.open(QIODevice::WriteOnly))
        return Floor();
    out.write("PRAGMA journal_mode=OFF;PRAGMA cache_size=-32768;ATTACH '" + imported.toUtf8() + "' AS source;BEGIN;");
    sqlite3 *db = nullptr;
    if (sqlite3_open(imported.toUtf8().constData(), &db) == SQLITE_OK) {
        ZelManagerSqlStatement tables(db, "SELECT sql FROM sqlite_master WHERE type='table';");
        while (tables.next())
            out.write(tables.text(0).toUtf8() + ';');
    }
    sqlite3_close(db);
    for (const char *table : { "infos", "filenames", "categories", "dependencies" })
        out.write(QByteArray("INSERT INTO ") + table + " SELECT * FROM source." + table + ';');
    if (sqlite3_open(imported.toUtf8().constData(), &db) == SQLITE_OK) {
        ZelManagerSqlStatement indexes(db, "SELECT sql FROM sqlite_master WHERE type='index' AND sql IS NOT NULL;");
        while (indexes.next())
            out.write(indexes.text(0).toUtf8() + ';');
    }
    sqlite3_close(db);
    out.write("COMMIT;\n");
    out.close();
    return runFloor({ QStringLiteral("sqlite3"), target }, script);
}

struct Run
{
    bool ok = false;
    qint64 totalMs = 0;
    qint64 importMs = 0;
    qint64 longestGapMs = 0;
    QString longestGapWork; // what the update was doing then
    qint64 longestGapEndMs = 0; // and when it ended, from the start
    double cpuMs = 0; // the process's processor time (the import uses two threads)
    int progressReports = 0;
    double peakMb = 0;
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
    QString work = QStringLiteral("Starting");
    QObject::connect(&ticker, &QTimer::timeout, [&]() {
        const qint64 gap = sinceTick.restart();
        if (gap > run.longestGapMs) {
            run.longestGapMs = gap;
            run.longestGapWork = work;
            run.longestGapEndMs = total.elapsed();
        }
    });
    QObject::connect(
        updater, QOverload<int>::of(&ZelManagerRepositoryUpdater::progress), [&]() { ++run.progressReports; });
    QObject::connect(updater, &ZelManagerRepositoryUpdater::workChanged, [&](const QString &now) {
        work = now;
        if (now == QLatin1String("Parsing"))
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
    run.peakMb = peakMegabytes();
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

// The floor is measured just before each run, so that both see the same load.
void report(const char *what, const Run &run, const Floor &xmllint)
{
    std::printf("%-34s %s total %5lld ms, import %5lld ms (%.2f x xmllint's %lld ms), cpu %5.0f ms, longest "
                "event-loop gap %3lld ms (%s, ending at %lld ms), %2d progress reports, peak memory %3.0f MB\n",
        what, run.ok ? "ok  " : "FAIL", run.totalMs, run.importMs, double(run.importMs) / qMax<qint64>(1, xmllint.ms),
        xmllint.ms, run.cpuMs, run.longestGapMs, qPrintable(run.longestGapWork), run.longestGapEndMs,
        run.progressReports, run.peakMb);
    if (!run.ok)
        std::printf("    %s\n", qPrintable(run.errorText));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    const int given = arguments.indexOf(QStringLiteral("--index"));
    const QString givenIndex = given >= 0 ? QFileInfo(arguments.value(given + 1)).absoluteFilePath() : QString();
    const int packages = given < 0 && !arguments.isEmpty() ? arguments.first().toInt() : 60000;
    TestSandbox root; // HOME, host root, settings and working folder redirected into it
    const QString repositoryFolder = root.path() + QStringLiteral("/served/repo");
    const QString index = repositoryFolder + QStringLiteral("/packages.xml");
    QDir().mkpath(repositoryFolder);
    if (given >= 0) {
        if (!QFile::copy(givenIndex, index)) {
            std::printf("cannot read the index %s\n", qPrintable(givenIndex));
            return 1;
        }
        std::printf("index: %s, %.1f MB\n", qPrintable(givenIndex), QFileInfo(index).size() / 1e6);
    } else if (!generateIndex(index, packages)) {
        std::printf("cannot generate the index (python3 bench/gen_index.py)\n");
        return 1;
    } else {
        std::printf("index: %d packages, %.1f MB\n", packages, QFileInfo(index).size() / 1e6);
    }
    const Floor xmllint
        = runFloor({ QStringLiteral("xmllint"), QStringLiteral("--stream"), QStringLiteral("--noout"), index });
    std::printf("floor: xmllint --stream %lld ms, peak memory %.0f MB\n", xmllint.ms, xmllint.peakMb);

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

    const auto floor = [&]() {
        return runFloor({ QStringLiteral("xmllint"), QStringLiteral("--stream"), QStringLiteral("--noout"), index });
    };
    Floor before = floor();
    report("file URL, empty repository file", update(database, fileRepository, false), before);
    before = floor();
    report("file URL, replacing the content", update(database, fileRepository, false), before);
    before = floor();
    report("file URL, inside a database batch", update(database, fileRepository, true), before);
    before = floor();
    report("HTTP, empty repository file", update(database, httpRepository, false), before);
    before = floor();
    report("HTTP, replacing the content", update(database, httpRepository, false), before);

    const QString file
        = installPath + QStringLiteral("/pkgdb/") + ZelManagerDatabase::repositoryFileName(httpRepository);
    std::printf("rows: infos %lld, filenames %lld, categories %lld, dependencies %lld\n", rowCount(file, "infos"),
        rowCount(file, "filenames"), rowCount(file, "categories"), rowCount(file, "dependencies"));
    const Floor copy = sqliteCopy(file, root.path());
    std::printf("floor: sqlite3 copying these rows into a file with the lookup indexes %lld ms, peak memory %.0f MB\n",
        copy.ms, copy.peakMb);
    ZelManagerDatabase::cleanup();
    server.closeWriteChannel();
    server.waitForFinished(5000);
    return 0;
}
