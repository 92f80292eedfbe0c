// Times the package database on an installation of realistic size: opening
// the files and loading every record, a full refresh (package states
// recomputed), a reload of every record, and single package entries.
//
//   bench_database [offered packages, default 60000] [installed packages, default 10000]
//
// Everything happens in a temporary folder; HOME and the other locations the
// program writes to point into it.

#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerSql.h"
#include "database/ZelManagerSqlStatement.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestSandbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <sqlite3.h>
#include <sys/resource.h>

#include <cstdio>
#include <ctime>

namespace {

const QUrl RepositoryA(QStringLiteral("http://a.example.org/repository"));
const QUrl RepositoryB(QStringLiteral("http://b.example.org/repository/"));

QString packageName(int index)
{
    return QStringLiteral("package-%1").arg(index, 6, 10, QLatin1Char('0'));
}

// count packages from first on, each with its versions for win32 and one
// build for win64, two categories and two dependencies per version.
void fillRepository(const QString &file, int first, int count, const QStringList &versions, qint64 time)
{
    sqlite3 *db = ZelManagerSql::open(file);
    ZelManagerDatabase::createRepositoryTables(db);
    ZelManagerSql::exec(db, QStringLiteral("begin transaction;"));
    ZelManagerSqlStatement info(db, "INSERT INTO infos VALUES(?,?,?);");
    ZelManagerSqlStatement category(db, "INSERT INTO categories VALUES(?,?);");
    ZelManagerSqlStatement version(db, "INSERT INTO filenames VALUES(?,?,?,?,?);");
    ZelManagerSqlStatement dependency(db, "INSERT INTO dependencies VALUES(?,?,?,?,?);");
    for (int i = first; i < first + count; ++i) {
        const QString name = packageName(i);
        info.bind(1, name).bind(2, QStringLiteral("Maintainer <m@example.org>"));
        info.bind(3, QStringLiteral("Description of %1, a package of the benchmark").arg(name)).exec();
        category.bind(1, QStringLiteral("Libraries/Group %1").arg(i % 40)).bind(2, name).exec();
        category.bind(1, QStringLiteral("Development")).bind(2, name).exec();
        QStringList builds = versions;
        builds.append(QStringLiteral("win64:") + versions.last());
        for (const QString &build : qAsConst(builds)) {
            const bool win64 = build.startsWith(QLatin1String("win64:"));
            const QString number = win64 ? build.mid(6) : build;
            const QString architecture = win64 ? QStringLiteral("win64") : QStringLiteral("win32");
            version.bind(1, name).bind(2, number).bind(3, architecture).bind(4, time + i);
            version.bind(5, QStringLiteral("0123456789abcdef0123456789abcdef")).exec();
            for (int d = 1; d <= 2; ++d) {
                dependency.bind(1, architecture).bind(2, name).bind(3, number);
                dependency.bind(4, packageName((i + d * 7919) % (first + count))).bind(5, QStringLiteral(">= 1.0"));
                dependency.exec();
            }
        }
    }
    ZelManagerSql::exec(db, QStringLiteral("end transaction;"));
    ZelManagerSql::close(db);
}

// Every offered package has a status row; the first installed ones are
// installed in version 1.0 with their files, categories and dependencies.
void fillStatus(const QString &file, int offered, int installed)
{
    sqlite3 *db = ZelManagerSql::open(file);
    ZelManagerDatabase::createStatusTables(db);
    ZelManagerSql::exec(db, QStringLiteral("begin transaction;"));
    ZelManagerSqlStatement status(db, "INSERT INTO status VALUES(?,?,'','');");
    ZelManagerSqlStatement info(db, "INSERT INTO infos VALUES(?,?,?,?,?,?,?,'','','','');");
    ZelManagerSqlStatement category(db, "INSERT INTO categories VALUES(?,?);");
    ZelManagerSqlStatement dependency(db, "INSERT INTO dependencies VALUES(?,?,?);");
    ZelManagerSqlStatement entry(db, "INSERT INTO fileentries VALUES(1,?,?);");
    for (int i = 0; i < offered; ++i) {
        const QString name = packageName(i);
        status.bind(1, name).bind(2, qint64(i < installed ? 0x6 : 0x2)).exec();
        if (i >= installed)
            continue;
        info.bind(1, name).bind(2, qint64(1000 + i)).bind(3, QStringLiteral("0123456789abcdef0123456789abcdef"));
        info.bind(4, QStringLiteral("1.0")).bind(5, QStringLiteral("Maintainer")).bind(6, RepositoryA.toString());
        info.bind(7, QStringLiteral("Installed description")).exec();
        category.bind(1, QStringLiteral("Libraries/Group %1").arg(i % 40)).bind(2, name).exec();
        dependency.bind(1, name).bind(2, packageName((i + 7919) % installed)).bind(3, QStringLiteral(">= 1.0")).exec();
        for (int f = 0; f < 20; ++f)
            entry.bind(1, name).bind(2, QStringLiteral("share/%1/file-%2.txt").arg(name).arg(f)).exec();
    }
    ZelManagerSql::exec(db, QStringLiteral("end transaction;"));
    ZelManagerSql::close(db);
}

// Wall time and, as the machine may be busy with other work, the process's
// own processor time since the previous report.
void report(const char *what, qint64 nanoseconds)
{
    static std::clock_t previous = std::clock();
    const std::clock_t now = std::clock();
    std::printf(
        "%-44s %8.0f ms  (cpu %5.0f ms)\n", what, nanoseconds / 1e6, double(now - previous) * 1000.0 / CLOCKS_PER_SEC);
    previous = now;
}

// The processor time of the finished child processes, in milliseconds.
double childrenCpu()
{
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// The floor of a load: the sqlite3 shell running the loader's whole-table
// SELECTs on the same files, its output thrown away; wall milliseconds, and
// its processor time in cpu.
double shellReading(const QString &folder, const QString &scratch, double &cpu)
{
    QFile script(scratch + QStringLiteral("/read.sql"));
    if (!script.open(QIODevice::WriteOnly))
        return -1;
    const QString files[]
        = { ZelManagerDatabase::repositoryFileName(RepositoryA), ZelManagerDatabase::repositoryFileName(RepositoryB) };
    script.write("SELECT package,status,requested,dependant FROM status;"
                 "SELECT name,time,version,repository,maintainer,description FROM infos;"
                 "SELECT category,package FROM categories;");
    for (const QString &file : files) {
        script.write("ATTACH '" + (folder + file).toUtf8()
            + "' AS r;"
              "SELECT package,version,time FROM r.filenames WHERE architecture='win32';"
              "SELECT name,maintainer,description FROM r.infos;"
              "SELECT category,package FROM r.categories;DETACH r;");
    }
    script.close();
    QProcess shell;
    shell.setStandardInputFile(script.fileName());
    shell.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    const double before = childrenCpu();
    shell.start(QStringLiteral("sqlite3"), { folder + QStringLiteral("win32.db") });
    if (!shell.waitForFinished(600000) || shell.exitCode() != 0)
        return -1;
    cpu = childrenCpu() - before;
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const int offered = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 60000;
    const int installed = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 10000;
    TestSandbox root; // HOME, host root, settings and working folder redirected into it

    ZelManagerSettings *settings = ZelManagerSettings::instance();
    const QString installPath = root.path() + QStringLiteral("/vp");
    settings->setInstallPath(installPath);
    settings->clearRepositories();
    settings->setRepository(RepositoryA, QStringLiteral("A"), true);
    settings->setRepository(RepositoryB, QStringLiteral("B"), true);

    report("start", 0);
    QElapsedTimer timer;
    timer.start();
    const QString folder = installPath + QStringLiteral("/pkgdb/");
    QDir().mkpath(folder);
    fillRepository(folder + ZelManagerDatabase::repositoryFileName(RepositoryA), 0, offered,
        { QStringLiteral("1.0"), QStringLiteral("1.1") }, 2000);
    fillRepository(
        folder + ZelManagerDatabase::repositoryFileName(RepositoryB), 0, offered / 2, { QStringLiteral("1.2") }, 3000);
    fillStatus(folder + QStringLiteral("win32.db"), offered, installed);
    std::printf("%d offered packages (2 repositories), %d installed with 20 files each\n", offered, installed);
    report("building the files", timer.nsecsElapsed());

    timer.restart();
    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    const qint64 opening = timer.nsecsElapsed();
    report("opening the files and loading every record", opening);

    timer.restart();
    database->beginTransaction();
    database->endTransaction(true);
    const qint64 refresh = timer.nsecsElapsed();
    report("first refresh (states change)", refresh);

    timer.restart();
    database->beginTransaction();
    database->endTransaction(true);
    report("second refresh (nothing changes)", timer.nsecsElapsed());

    timer.restart();
    database->reloadPackages();
    report("loading every record again", timer.nsecsElapsed());
    double shellCpu = 0;
    const double shellWall = shellReading(folder, root.path(), shellCpu);
    std::printf("floor: the sqlite3 shell reading the same rows %.0f ms  (cpu %5.0f ms)\n", shellWall, shellCpu);

    const int lookups = 2000;
    timer.restart();
    for (int i = 0; i < lookups; ++i)
        database->packageEntry(packageName((i * 31) % offered), QString(), false);
    std::printf("package entry of the newest offer: %.0f us each\n", timer.nsecsElapsed() / 1e3 / lookups);
    timer.restart();
    for (int i = 0; i < lookups; ++i)
        database->packageEntry(packageName((i * 31) % qMax(1, installed)), QString(), true);
    std::printf("package entry of the installed version: %.0f us each\n", timer.nsecsElapsed() / 1e3 / lookups);

    const ZelManagerPackage sample = database->package(packageName(1));
    std::printf("%d records; %s: flags 0x%x, installed %s, available %s from %s\n", database->packages().size(),
        qPrintable(sample.name()), sample.flags(), qPrintable(sample.installedVersion()),
        qPrintable(sample.availableVersion()), qPrintable(sample.repository()));
    std::printf("opening plus one full refresh: %.0f ms\n", (opening + refresh) / 1e6);
    ZelManagerDatabase::cleanup();
    return 0;
}
