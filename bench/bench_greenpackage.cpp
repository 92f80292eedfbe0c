// Green package generation against bsdtar writing a ZIP of the same files.
// An installed package of 300 MB (1500 files of 200 KB: half of them text
// that compresses well, half random bytes that do not) is written as a green
// package the way the tools page does it (entries from the database, blocks
// of 40960 bytes, the event loop turned after each); then
// "bsdtar -a -cf x.zip" archives the same files. The files are read once
// beforehand so that both read them from the page cache.

#include "database/ZelManagerDatabase.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestPackageDatabase.h"
#include "tools/ZelManagerGreenPackage.h"
#include "tools/ZelManagerGreenPackageWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>

#include <cstdio>

namespace {

const int FileCount = 1500;
const int FileSize = 200 * 1024;

QByteArray fileData(QRandomGenerator &random, bool text)
{
    QByteArray data(FileSize, Qt::Uninitialized);
    if (!text) {
        random.fillRange(reinterpret_cast<quint32 *>(data.data()), FileSize / 4);
        return data;
    }
    static const char *const words[] = { "package ", "folder ", "install ", "the ", "prefix ", "library ", "path\n",
        "version ", "file ", "= ", "/usr/lib/vantor ", "zelmanager " };
    data.clear();
    while (data.size() < FileSize)
        data += words[random.bounded(int(sizeof(words) / sizeof(words[0])))];
    data.truncate(FileSize);
    return data;
}

// The files under the target, recorded as one installed package.
QStringList createInstallation(ZelManagerDatabase *database, const QString &target)
{
    QRandomGenerator random(20261209);
    PackageInfo info;
    info.name = QStringLiteral("bulk");
    info.version = QStringLiteral("1.0");
    QStringList files;
    for (int i = 0; i < FileCount; ++i) {
        const QString name = QStringLiteral("share/bulk/%1/file%2.dat").arg(i / 100).arg(i, 4, 10, QLatin1Char('0'));
        QDir().mkpath(QFileInfo(target + QLatin1Char('/') + name).absolutePath());
        QFile file(target + QLatin1Char('/') + name);
        if (!file.open(QIODevice::WriteOnly) || file.write(fileData(random, i % 2 == 0)) != FileSize)
            return {};
        info.fileEntries.insert(name, false);
        files.append(name);
    }
    database->beginTransaction();
    database->recordInstallation(info, files);
    database->endTransaction(true);
    return files;
}

void warmCache(const QString &target, const QStringList &files)
{
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (const QString &name : files) {
        QFile file(target + QLatin1Char('/') + name);
        if (file.open(QIODevice::ReadOnly))
            while (file.read(buffer.data(), buffer.size()) > 0) { }
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    TestPackageDatabase fixture;
    ZelManagerDatabase *database = fixture.open();
    ZelManagerSettings *settings = ZelManagerSettings::instance();
    const QString target = settings->targetPath();
    const QStringList files = createInstallation(database, target);
    if (files.isEmpty()) {
        std::fprintf(stderr, "could not create the installation\n");
        return 1;
    }
    warmCache(target, files);

    // Any file stands in for the fix-up tool: the figures are about the data.
    const QString tools = fixture.sandbox().path() + QStringLiteral("/tools");
    QDir().mkpath(tools);
    QFile tool(tools + QStringLiteral("/zelfix-32.exe"));
    if (!tool.open(QIODevice::WriteOnly) || tool.write(QByteArray(1 << 20, 'x')) != (1 << 20))
        return 1;
    tool.close();

    ZelManagerGreenPackage generator(database, settings);
    generator.setFixupToolFolder(tools);
    const QString green = fixture.sandbox().path() + QStringLiteral("/green.zip");
    QElapsedTimer timer;
    timer.start();
    ZelManagerGreenPackageWriter writer;
    writer.setBlockDone([] { QCoreApplication::processEvents(); });
    if (!writer.write(green, generator.entries(generator.packageSet({ QStringLiteral("bulk") })))) {
        std::fprintf(stderr, "green package: %s\n", qPrintable(writer.errorText()));
        return 1;
    }
    const qint64 greenMs = timer.elapsed();

    const QString plain = fixture.sandbox().path() + QStringLiteral("/plain.zip");
    QProcess bsdtar;
    bsdtar.setWorkingDirectory(target);
    timer.restart();
    bsdtar.start(QStringLiteral("bsdtar"), QStringList { QStringLiteral("-a"), QStringLiteral("-cf"), plain } + files);
    if (!bsdtar.waitForFinished(-1) || bsdtar.exitCode() != 0) {
        std::fprintf(stderr, "bsdtar failed: %s\n", bsdtar.readAllStandardError().constData());
        return 1;
    }
    const qint64 bsdtarMs = timer.elapsed();

    const double megabytes = double(FileCount) * FileSize / 1048576.0;
    std::printf("data: %d files, %.0f MiB\n", FileCount, megabytes);
    std::printf("green package: %lld ms (%.1f MiB/s), archive %.1f MiB\n", static_cast<long long>(greenMs),
        megabytes / (greenMs / 1000.0), QFileInfo(green).size() / 1048576.0);
    std::printf("bsdtar -a -cf x.zip: %lld ms (%.1f MiB/s), archive %.1f MiB\n", static_cast<long long>(bsdtarMs),
        megabytes / (bsdtarMs / 1000.0), QFileInfo(plain).size() / 1048576.0);
    std::printf("ratio: %.2f (goal: at most 1.30)\n", double(greenMs) / double(bsdtarMs));
    return 0;
}
