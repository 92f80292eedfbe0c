// Times the migration of an installation folder against copying the same
// tree with "cp -a" and then relocating the paths inside the fix-enabled
// files of the copy (one pass, read, fix, write back):
//
//   bench_migrate [files] [megabytes]
//
// Default: 20,000 files of 300 MB in all, in folders of 100; every 200th
// file is large (1 MB), a quarter of the files are fix-enabled and name the
// installation folder a few times. One installed package records them all.
// Reported: the migration up to the switch of the settings (collect, make
// folders, copy with fix-up) against cp -a plus the fix-up, and the whole
// migration (with the removal of the old folder) against the same plus
// "rm -rf" of the old tree.
//
// Everything happens in a temporary folder; HOME and the other locations
// the program writes to point into it.

#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerSql.h"
#include "database/ZelManagerSqlStatement.h"
#include "engine/ZelManagerFixupStream.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestSandbox.h"
#include "tools/ZelManagerMigration.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include <sqlite3.h>

#include <cstdio>

namespace {

struct TreeFile
{
    QString path; // relative to the target folder
    bool fix;
};

QList<TreeFile> treeFiles(int count)
{
    QList<TreeFile> files;
    for (int i = 0; i < count; ++i) {
        const bool fix = i % 4 == 0;
        files.append({ QStringLiteral("lib/part%1/file-%2.%3").arg(i / 100).arg(i).arg(fix ? "la" : "dll"), fix });
    }
    return files;
}

// Pseudo-random bytes (incompressible, as binaries are) with the target
// folder and a tail every 4 KB in the fix-enabled files.
QByteArray content(int index, int size, bool fix, const QByteArray &target)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(quint32(index) + 1);
    generator.fillRange(reinterpret_cast<quint32 *>(data.data()), size / 4);
    for (int at = 100; fix && at + target.size() + 20 < size; at += 4096) {
        const QByteArray path = target + "/lib/x.dll";
        memcpy(data.data() + at, path.constData(), size_t(path.size()));
        data[at + path.size()] = '\0';
    }
    return data;
}

qint64 writeTree(const QString &target, const QList<TreeFile> &files, qint64 totalBytes)
{
    const int large = 1024 * 1024;
    const int largeCount = files.size() / 200;
    const int small = int((totalBytes - qint64(largeCount) * large) / qMax(1, files.size() - largeCount));
    const QByteArray prefix = target.toUtf8();
    qint64 written = 0;
    for (int i = 0; i < files.size(); ++i) {
        const QString file = target + QLatin1Char('/') + files.at(i).path;
        QDir().mkpath(file.left(file.lastIndexOf(QLatin1Char('/'))));
        QFile out(file);
        const QByteArray data = content(i, i % 200 == 0 ? large : small, files.at(i).fix, prefix);
        if (out.open(QIODevice::WriteOnly))
            written += out.write(data);
    }
    return written;
}

void recordPackage(const QString &statusFile, const QList<TreeFile> &files)
{
    sqlite3 *db = ZelManagerSql::open(statusFile);
    ZelManagerDatabase::createStatusTables(db);
    ZelManagerSql::exec(db, QStringLiteral("begin transaction;"));
    ZelManagerSqlStatement(db, "INSERT INTO status VALUES('big',4,'','');").exec();
    ZelManagerSqlStatement(db, "INSERT INTO infos VALUES('big',1,'','1.0','','','','','','','');").exec();
    ZelManagerSqlStatement entry(db, "INSERT INTO fileentries VALUES(?,'big',?);");
    for (const TreeFile &file : files)
        entry.bind(1, file.fix ? 1 : 0).bind(2, file.path).exec();
    ZelManagerSql::exec(db, QStringLiteral("end transaction;"));
    ZelManagerSql::close(db);
}

// Every timed step starts with the disk written back: deleting a file
// whose data is still being written waits for the disk, deleting one whose
// data was never written does not.
void settle()
{
    QProcess::execute(QStringLiteral("sync"), {});
}

qint64 copyAndFix(const QString &from, const QString &to, const QString &arch, const QList<TreeFile> &files,
    const QByteArray &oldPrefix, const QByteArray &newPrefix)
{
    settle();
    QElapsedTimer timer;
    timer.start();
    QProcess::execute(QStringLiteral("cp"), { QStringLiteral("-a"), from, to });
    for (const TreeFile &file : files) {
        if (!file.fix)
            continue;
        QFile data(to + QLatin1Char('/') + arch + QLatin1Char('/') + file.path);
        if (!data.open(QIODevice::ReadWrite))
            continue;
        QByteArray bytes = data.readAll();
        ZelManagerFixupStream::fixPaths(bytes.data(), bytes.size(), oldPrefix, newPrefix);
        data.seek(0);
        data.write(bytes);
    }
    return timer.nsecsElapsed();
}

qint64 removeTree(const QString &folder)
{
    settle();
    QElapsedTimer timer;
    timer.start();
    QProcess::execute(QStringLiteral("rm"), { QStringLiteral("-rf"), folder });
    return timer.nsecsElapsed();
}

void compare(const char *what, qint64 run, const char *baseline, qint64 plain)
{
    std::printf(
        "%-40s %8.0f ms   %-22s %8.0f ms   ratio %.2f\n", what, run / 1e6, baseline, plain / 1e6, double(run) / plain);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 20000;
    const qint64 megabytes = argc > 2 ? QString::fromLocal8Bit(argv[2]).toLongLong() : 300;
    TestSandbox root; // HOME, host root, settings and working folder redirected into it
    ZelManagerSettings *settings = ZelManagerSettings::instance();
    const QString oldPath = root.path() + QStringLiteral("/vp");
    const QString newPath = root.path() + QStringLiteral("/vq");
    const QString arch = QStringLiteral("win32");
    settings->setInstallPath(oldPath);
    settings->setArchitecture(arch);
    QDir().mkpath(oldPath + QStringLiteral("/pkgdb"));
    const QList<TreeFile> files = treeFiles(count);
    const qint64 bytes = writeTree(settings->targetPath(), files, megabytes * 1024 * 1024);
    recordPackage(oldPath + QStringLiteral("/pkgdb/win32.db"), files);
    ZelManagerDatabase::instance()->reloadPackages();
    std::printf("installation of %d files, %.0f MB, %d fix-enabled\n", count, bytes / 1048576.0, (count + 3) / 4);

    // The baseline first: it leaves the old tree in the page cache, as the
    // migration finds it.
    const QString plain = root.path() + QStringLiteral("/cp");
    const qint64 copied = copyAndFix(oldPath, plain, arch, files, (oldPath + QLatin1Char('/') + arch).toUtf8(),
        (newPath + QLatin1Char('/') + arch).toUtf8());
    const qint64 removed = removeTree(plain);

    ZelManagerMigration migration(newPath);
    settle();
    QElapsedTimer timer;
    qint64 switched = 0;
    QList<QPair<QString, qint64>> steps;
    QObject::connect(&migration, &ZelManagerMigration::stepStarted, [&](const QString &format, int) {
        if (format.startsWith(QLatin1String("Removing files")))
            switched = timer.nsecsElapsed();
        steps.append({ format, timer.nsecsElapsed() });
    });
    timer.start();
    const bool ok = migration.run(ZelManagerMigration::Migrate);
    const qint64 total = timer.nsecsElapsed();
    if (!ok || QFileInfo::exists(oldPath))
        std::printf("  (the migration failed: %s)\n", qPrintable(migration.errorText()));
    // The baseline again, now from the new tree back: the disk is shared,
    // its speed drifts.
    const qint64 copiedAfter = copyAndFix(newPath, plain, arch, files, (newPath + QLatin1Char('/') + arch).toUtf8(),
        (oldPath + QLatin1Char('/') + arch).toUtf8());
    const qint64 removedAfter = removeTree(plain);
    std::printf("cp -a + fix-up: %.0f ms before, %.0f ms after the migration; rm -rf: %.0f ms, %.0f ms\n", copied / 1e6,
        copiedAfter / 1e6, removed / 1e6, removedAfter / 1e6);
    for (int i = 0; i < steps.size(); ++i) {
        const qint64 end = i + 1 < steps.size() ? steps.at(i + 1).second : total;
        std::printf("  %-36s %8.0f ms\n", qPrintable(steps.at(i).first), (end - steps.at(i).second) / 1e6);
    }
    const qint64 copiedMean = (copied + copiedAfter) / 2;
    const qint64 removedMean = (removed + removedAfter) / 2;
    compare("migration up to the switch", switched, "cp -a + fix-up (mean)", copiedMean);
    compare("whole migration (old folder removed)", total, "cp -a + fix-up + rm", copiedMean + removedMean);
    ZelManagerDatabase::cleanup();
    return 0;
}
