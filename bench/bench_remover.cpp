// Times removal runs against plain deletion of the same trees:
//   1. one package of many files (default 20,000 in 200 folders), against
//      "rm -rf" of an identical tree;
//   2. many small packages (default 2,000 of 5 files each) that depend on
//      each other in one chain, so the manager removes them one at a time,
//      against "rm -rf" of an identical tree;
//   3. the same packages without dependencies, removed side by side;
//   4. one look at the running processes for held files, which every
//      removal of a package with libraries or programs costs once.
//
//   bench_remover [files of the big package] [small packages]
//
// Everything happens in a temporary folder (TMPDIR chooses the file system:
// TMPDIR=/dev/shm for memory); HOME and the other locations the program
// writes to point into it. Beside the time, each line gives the processor
// time spent (all threads; of rm -rf, the child's), which a busy machine
// changes less than the time.

#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerSql.h"
#include "database/ZelManagerSqlStatement.h"
#include "engine/ApplyContext.h"
#include "engine/ZelManagerRemoveManager.h"
#include "integration/HostProcessRelease.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestSandbox.h"
#include "ui/ZelManagerOperationModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <sqlite3.h>

#include <sys/resource.h>

#include <cstdio>

namespace {

// A package's files: (relative path) in folders of 100.
QStringList bigFiles(int count)
{
    QStringList files;
    for (int i = 0; i < count; ++i)
        files.append(QStringLiteral("lib/big/part%1/file-%2.dll").arg(i / 100).arg(i));
    return files;
}

QStringList smallFiles(int package)
{
    QStringList files;
    for (int f = 0; f < 5; ++f)
        files.append(QStringLiteral("share/small/p%1/file-%2.txt").arg(package).arg(f));
    return files;
}

QString smallName(int package)
{
    return QStringLiteral("small-%1").arg(package, 6, 10, QLatin1Char('0'));
}

void writeTree(const QString &root, const QStringList &files)
{
    for (const QString &path : files) {
        const QString file = root + QLatin1Char('/') + path;
        QDir().mkpath(file.left(file.lastIndexOf(QLatin1Char('/'))));
        QFile out(file);
        if (out.open(QIODevice::WriteOnly))
            out.write("0123456789abcdef", 16);
    }
}

// Status rows, infos and file entries of packages marked for removal; with
// chain, package i depends on package i + 1.
void recordPackages(const QString &statusFile, const QHash<QString, QStringList> &packages, bool chain)
{
    sqlite3 *db = ZelManagerSql::open(statusFile);
    ZelManagerDatabase::createStatusTables(db);
    ZelManagerSql::exec(db, QStringLiteral("begin transaction;"));
    ZelManagerSqlStatement status(db, "INSERT INTO status VALUES(?,2052,'','');");
    ZelManagerSqlStatement info(db, "INSERT INTO infos VALUES(?,1,'','1.0','','','','','','','');");
    ZelManagerSqlStatement dependency(db, "INSERT INTO dependencies VALUES(?,?,'');");
    ZelManagerSqlStatement entry(db, "INSERT INTO fileentries VALUES(1,?,?);");
    for (auto it = packages.cbegin(); it != packages.cend(); ++it) {
        status.bind(1, it.key()).exec();
        info.bind(1, it.key()).exec();
        for (const QString &file : it.value())
            entry.bind(1, it.key()).bind(2, file).exec();
        const int index = it.key().mid(6).toInt();
        if (chain && it.key().startsWith(QLatin1String("small-")) && packages.contains(smallName(index + 1)))
            dependency.bind(1, it.key()).bind(2, smallName(index + 1)).exec();
    }
    ZelManagerSql::exec(db, QStringLiteral("end transaction;"));
    ZelManagerSql::close(db);
}

// Processor time (user and system) of this process or of its ended children, in ns.
qint64 cpuTime(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    return (qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000 + usage.ru_utime.tv_usec
               + usage.ru_stime.tv_usec)
        * 1000;
}

struct Span
{
    qint64 time = 0;
    qint64 cpu = 0;
};

Span removeAll(int limit)
{
    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    database->beginTransaction();
    ZelManagerOperationModel model;
    model.refresh();
    ApplyContext context(&model);
    context.limit = limit;
    QElapsedTimer timer;
    const qint64 cpu = cpuTime(RUSAGE_SELF);
    timer.start();
    auto *manager = new ZelManagerRemoveManager(&context);
    QEventLoop loop;
    bool ok = false;
    QObject::connect(manager, &ZelManagerRemoveManager::finished, &loop, [&](bool result) {
        ok = result;
        loop.quit();
    });
    manager->start();
    if (manager->isBusy())
        loop.exec();
    const Span span { timer.nsecsElapsed(), cpuTime(RUSAGE_SELF) - cpu };
    delete manager;
    database->endTransaction(true);
    if (!ok)
        std::printf("  (the run reported a failure)\n");
    return span;
}

Span removeTree(const QString &folder)
{
    QElapsedTimer timer;
    const qint64 cpu = cpuTime(RUSAGE_CHILDREN);
    timer.start();
    QProcess::execute(QStringLiteral("rm"), { QStringLiteral("-rf"), folder });
    return { timer.nsecsElapsed(), cpuTime(RUSAGE_CHILDREN) - cpu };
}

void compare(const char *what, const Span &run, const Span &plain)
{
    std::printf("%-52s %8.0f ms   rm -rf %6.0f ms   ratio %.2f\n", what, run.time / 1e6, plain.time / 1e6,
        double(run.time) / plain.time);
    std::printf("%-52s %8.0f ms   rm -rf %6.0f ms   ratio %.2f\n", "  processor time", run.cpu / 1e6, plain.cpu / 1e6,
        double(run.cpu) / qMax<qint64>(1, plain.cpu));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const int bigCount = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 20000;
    const int smallCount = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 2000;
    TestSandbox root; // HOME, host root, settings and working folder redirected into it
    ZelManagerSettings *settings = ZelManagerSettings::instance();
    settings->setInstallPath(root.path() + QStringLiteral("/vp"));
    settings->setArchitecture(QStringLiteral("win32"));
    const QString target = settings->targetPath();
    const QString statusFile = root.path() + QStringLiteral("/vp/pkgdb/win32.db");
    const QString plain = root.path() + QStringLiteral("/plain");
    QDir().mkpath(root.path() + QStringLiteral("/vp/pkgdb"));
    const int limit = ApplyContext::limitFor(QThread::idealThreadCount());

    const QStringList big = bigFiles(bigCount);
    writeTree(target, big);
    writeTree(plain, big);
    recordPackages(statusFile, { { QStringLiteral("big"), big } }, false);
    Span run = removeAll(limit);
    compare(qPrintable(QStringLiteral("one package of %1 files").arg(bigCount)), run, removeTree(plain));

    for (bool chain : { true, false }) {
        QHash<QString, QStringList> packages;
        QStringList all;
        for (int i = 0; i < smallCount; ++i) {
            packages.insert(smallName(i), smallFiles(i));
            all += smallFiles(i);
        }
        writeTree(target, all);
        writeTree(plain, all);
        recordPackages(statusFile, packages, chain);
        ZelManagerDatabase::instance()->reloadPackages();
        run = removeAll(limit);
        compare(qPrintable(QStringLiteral("%1 packages of 5 files, %2")
                               .arg(smallCount)
                               .arg(chain ? QStringLiteral("one dependency chain")
                                          : QStringLiteral("independent, limit %1").arg(limit))),
            run, removeTree(plain));
        std::printf("  per package: %.2f ms\n", run.time / 1e6 / smallCount);
    }
    const int looks = 20;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < looks; ++i)
        HostProcessRelease::holders(target + QStringLiteral("/bin/x.dll"));
    const int processes = QDir(QStringLiteral("/proc")).entryList({ QStringLiteral("[0-9]*") }, QDir::Dirs).size();
    std::printf("one look at the running processes (%d on the machine): %.1f ms\n", processes,
        timer.nsecsElapsed() / 1e6 / looks);
    ZelManagerDatabase::cleanup();
    return 0;
}
