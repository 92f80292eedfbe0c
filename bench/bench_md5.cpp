// MD5 throughput of MMd5SumCalculator next to the system's md5sum on the same
// 500 MB file in the temporary folder. Both read the file from the page
// cache, so the figures compare the hashing itself.

#include "engine/MMd5SumCalculator.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryFile>
#include <cstdio>

namespace {

const qint64 FileSize = 500ll * 1024 * 1024;

bool writeTestFile(QFile &file)
{
    QByteArray chunk(4 * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator random(20240611);
    for (qint64 written = 0; written < FileSize; written += chunk.size()) {
        random.fillRange(reinterpret_cast<quint32 *>(chunk.data()), chunk.size() / 4);
        if (file.write(chunk) != chunk.size())
            return false;
    }
    return file.flush();
}

QString hashWithCalculator(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    MMd5SumCalculator md5;
    QByteArray buffer(1024 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(buffer.data(), buffer.size());
        if (got <= 0)
            break;
        md5.addData(buffer.constData(), got);
    }
    return md5.calculateMd5Sum();
}

QString hashWithTool(const QString &path)
{
    QProcess process;
    process.start(QStringLiteral("md5sum"), { path });
    if (!process.waitForFinished(-1) || process.exitCode() != 0)
        return QString();
    return QString::fromLatin1(process.readAllStandardOutput().left(32));
}

double megabytesPerSecond(qint64 elapsedMs)
{
    return elapsedMs > 0 ? (FileSize / 1048576.0) / (elapsedMs / 1000.0) : 0.0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/bench_md5-XXXXXX.bin"));
    if (!file.open() || !writeTestFile(file)) {
        std::fprintf(stderr, "cannot write the test file in %s\n", qPrintable(QDir::tempPath()));
        return 1;
    }
    hashWithTool(file.fileName()); // bring the whole file into the page cache

    const int rounds = 3;
    qint64 bestTool = -1, bestOwn = -1;
    QString toolSum, ownSum;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        toolSum = hashWithTool(file.fileName());
        const qint64 tool = timer.restart();
        ownSum = hashWithCalculator(file.fileName());
        const qint64 own = timer.elapsed();
        bestTool = bestTool < 0 ? tool : qMin(bestTool, tool);
        bestOwn = bestOwn < 0 ? own : qMin(bestOwn, own);
    }
    file.remove();

    std::printf("file size          %lld MB\n", FileSize / 1048576);
    std::printf(
        "md5sum             %lld ms  %.0f MB/s  %s\n", bestTool, megabytesPerSecond(bestTool), qPrintable(toolSum));
    std::printf(
        "MMd5SumCalculator  %lld ms  %.0f MB/s  %s\n", bestOwn, megabytesPerSecond(bestOwn), qPrintable(ownSum));
    std::printf("ratio (own/md5sum) %.2f\n", bestTool > 0 ? double(bestOwn) / bestTool : 0.0);
    if (toolSum != ownSum) {
        std::fprintf(stderr, "sums differ\n");
        return 1;
    }
    return 0;
}
