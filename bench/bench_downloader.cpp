// Throughput and memory of the package downloader on one large archive served
// by the local test HTTP server: download (write, hash, cache, list) and
// cache reuse (hash, list), against `cat file > /dev/null` and `md5sum file`
// on the same archive. Everything lives in a temporary folder that is
// removed at the end.
//
//     bench_downloader [megabytes]      (default 300)

#include "database/ZelManagerDatabase.h"
#include "engine/ApplyContext.h"
#include "engine/ZelManagerPackageDownloader.h"
#include "settings/ZelManagerSettings.h"
#include "tools/ZelManagerRepositoryBuilder.h"
#include "ui/ZelManagerOperationModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <sqlite3.h>

namespace {

using Entry = ZelManagerRepositoryBuilder::ArchiveEntry;

const int Megabyte = 1024 * 1024;
const QString Name = QStringLiteral("big");
const QString Version = QStringLiteral("1.0");

qint64 statusValue(const char *key)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return 0;
}

bool resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

// Keeps the settings store and the database inside the folder.
void redirectHome(const QString &folder)
{
    const QString home = folder + QStringLiteral("/home");
    QDir().mkpath(home);
    qputenv("HOME", QFile::encodeName(home));
    qputenv("ZELMANAGER_HOST_ROOT", QFile::encodeName(folder + QStringLiteral("/host")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home + QStringLiteral("/.local/share")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home + QStringLiteral("/.cache")));
    qputenv("SYSTEMDRIVE", QFile::encodeName(folder));
    for (QSettings::Format format : { QSettings::NativeFormat, QSettings::IniFormat })
        QSettings::setPath(format, QSettings::UserScope, home + QStringLiteral("/.config"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, folder + QStringLiteral("/host/etc/xdg"));
}

// Files of 1 MB drawn from 16 random sources, as many as the size asks.
bool writeArchive(const QString &folder, const QString &path, int megabytes, QString *md5sum)
{
    QList<Entry> entries { Entry(QStringLiteral("package.xml"),
        "<package><name>big</name><nofix>share/*</nofix><postinst>run()</postinst></package>") };
    QRandomGenerator generator(7);
    for (int n = 0; n < 16; ++n) {
        QByteArray data(Megabyte, Qt::Uninitialized);
        generator.fillRange(reinterpret_cast<quint32 *>(data.data()), Megabyte / 4);
        QFile file(folder + QStringLiteral("/source%1").arg(n));
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
            return false;
    }
    for (int n = 0; n < megabytes; ++n) {
        Entry entry(QStringLiteral("%1/file%2.bin").arg(n % 3 ? QStringLiteral("bin") : QStringLiteral("share")).arg(n),
            QByteArray());
        entry.sourceFile = folder + QStringLiteral("/source%1").arg(n % 16);
        entries.append(entry);
    }
    QString error;
    if (!ZelManagerRepositoryBuilder::writeArchive(path, entries, ZelManagerRepositoryBuilder::Plain, md5sum, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    for (int n = 0; n < 16; ++n)
        QFile::remove(folder + QStringLiteral("/source%1").arg(n));
    return true;
}

double shellSeconds(const QString &command)
{
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.start(QStringLiteral("/bin/sh"), { QStringLiteral("-c"), command });
    process.waitForFinished(-1);
    return timer.nsecsElapsed() / 1e9;
}

// The best of three runs, the file warm in the page cache as for the
// downloader.
double bestShellSeconds(const QString &command)
{
    double best = 1e9;
    for (int n = 0; n < 3; ++n)
        best = qMin(best, shellSeconds(command));
    return best;
}

class Server
{
public:
    ~Server()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
    QUrl start(const QString &folder)
    {
        const QString script = QStringLiteral(ZEL_TESTS_SOURCE_DIR "/httpserver.py");
        m_process.start(QStringLiteral("python3"), { script, folder });
        if (!m_process.waitForStarted(15000))
            return QUrl();
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(15000))
                return QUrl();
        }
        return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(QString::fromLatin1(m_process.readLine().trimmed())));
    }

private:
    QProcess m_process;
};

void offer(const QString &file, const QString &md5sum)
{
    sqlite3 *db = nullptr;
    sqlite3_open(QFile::encodeName(file).constData(), &db);
    ZelManagerDatabase::createRepositoryTables(db);
    const QByteArray sql = QStringLiteral("INSERT INTO infos VALUES('%1','bench','one large package');"
                                          "INSERT INTO filenames VALUES('%1','%2','win32',1234,'%3');")
                               .arg(Name, Version, md5sum)
                               .toUtf8();
    sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

struct Result
{
    bool ok = false;
    double seconds = 0;
    qint64 peakGrowth = 0; // bytes above the resident size at the start
    qint64 peak = 0;
};

Result runDownloader(ApplyContext *context)
{
    Result result;
    const bool peakReset = resetPeak();
    const qint64 before = statusValue("VmRSS:");
    QElapsedTimer timer;
    timer.start();
    auto *downloader = new ZelManagerPackageDownloader(context, Name);
    QEventLoop loop;
    QObject::connect(downloader, &ZelManagerPackageDownloader::finished, &loop, [&](bool ok) {
        result.ok = ok;
        loop.quit();
    });
    downloader->execute();
    loop.exec();
    result.seconds = timer.nsecsElapsed() / 1e9;
    result.peak = statusValue("VmHWM:");
    result.peakGrowth = peakReset ? result.peak - before : -1;
    delete downloader;
    return result;
}

void report(const char *what, double seconds, qint64 bytes, const QString &extra = QString())
{
    std::printf("%-34s %7.3f s  %7.0f MB/s  %s\n", what, seconds, bytes / seconds / Megabyte, qPrintable(extra));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int megabytes = argc > 1 ? qMax(1, atoi(argv[1])) : 300;
    QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/zelbench-XXXXXX"));
    if (!folder.isValid())
        return 1;
    redirectHome(folder.path());
    const QString served = folder.path() + QStringLiteral("/served");
    QDir().mkpath(served + QStringLiteral("/repo"));
    const QString archive = served + QStringLiteral("/repo/")
        + ZelManagerRepositoryBuilder::archiveFileName(Name, Version, QStringLiteral("win32"));
    QString md5sum;
    if (!writeArchive(folder.path(), archive, megabytes, &md5sum))
        return 1;
    const qint64 size = QFileInfo(archive).size();
    std::printf("archive: %lld bytes, %d files\n", size, megabytes);

    Server server;
    const QUrl base = server.start(served);
    if (!base.isValid()) {
        std::fprintf(stderr, "the test HTTP server did not start\n");
        return 1;
    }
    const QUrl repository(base.toString() + QStringLiteral("/repo"));

    const QString quoted = QStringLiteral("'") + archive + QStringLiteral("'");
    const double cat = bestShellSeconds(QStringLiteral("cat ") + quoted + QStringLiteral(" > /dev/null"));
    const double md5 = bestShellSeconds(QStringLiteral("md5sum ") + quoted + QStringLiteral(" > /dev/null"));

    ZelManagerSettings *settings = ZelManagerSettings::instance();
    settings->clearRepositories();
    settings->setRepository(repository, QStringLiteral("bench"), true);
    settings->setInstallPath(folder.path() + QStringLiteral("/vp"));
    settings->setArchitecture(QStringLiteral("win32"));
    settings->setCachePath(folder.path() + QStringLiteral("/cache"));
    QDir().mkpath(folder.path() + QStringLiteral("/vp/pkgdb"));
    offer(folder.path() + QStringLiteral("/vp/pkgdb/") + ZelManagerDatabase::repositoryFileName(repository), md5sum);
    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    database->beginTransaction();
    database->endTransaction(true);

    Result download;
    Result reuse;
    {
        ZelManagerOperationModel model;
        model.refresh();
        ApplyContext context(&model);
        download = runDownloader(&context);
        reuse = runDownloader(&context);
        if (!download.ok || !reuse.ok)
            std::fprintf(stderr, "failed: %s\n", qPrintable(database->errorDescriptions(Name)));
    }

    std::printf("\n%-34s %9s  %12s\n", "", "time", "throughput");
    report("cat file > /dev/null", cat, size);
    report("md5sum file", md5, size);
    report("cat + md5sum", cat + md5, size);
    const auto memory = [](const Result &result) {
        return QStringLiteral("peak RSS %1 MB (+%2 MB)")
            .arg(result.peak / double(Megabyte), 0, 'f', 1)
            .arg(result.peakGrowth / double(Megabyte), 0, 'f', 1);
    };
    report("download: fetch, write, hash, list", download.seconds, size, memory(download));
    report("cache reuse: hash, list", reuse.seconds, size, memory(reuse));

    ZelManagerDatabase::cleanup();
    return download.ok && reuse.ok ? 0 : 1;
}
