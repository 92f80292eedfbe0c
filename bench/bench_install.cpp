// Times whole apply runs that install one package from the local test HTTP
// server (download, MD5, reading the control file, unpacking with path
// fix-up, database records) against what unpacking the same archive with
// "bsdtar -xf" plus "md5sum" of it takes:
//   1. a package of many small files (default 2,000 in folders of 50, text
//      with the build prefix here and there, 1 to 16 KiB each);
//   2. a package of one big file (default 300 MB of random bytes).
//
//   bench_install [files] [megabytes]
//
// Everything happens in temporary folders that are deleted at the end.

#include "database/ZelManagerDatabase.h"
#include "engine/ZelManagerApplyRun.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestApplyFixture.h"
#include "tools/ZelManagerRepositoryBuilder.h"
#include "ui/ZelManagerOperationModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

using Entry = TestApplyFixture::Entry;

namespace {

const int Rounds = 3;
const QByteArray Prefix = "/usr/lib/vantor/cross-compile/toolchain-root-folder/i686-w64-mingw32";

QList<Entry> manyFiles(int count)
{
    QRandomGenerator generator(1);
    QList<Entry> entries;
    for (int i = 0; i < count; ++i) {
        QByteArray data;
        const int size = 1024 + int(generator.bounded(15 * 1024));
        while (data.size() < size) {
            data += "line " + QByteArray::number(generator.generate()) + ' ';
            if (generator.bounded(20) == 0)
                data += Prefix + "/lib/file" + QByteArray::number(i);
            data += '\n';
        }
        entries.append(Entry(QStringLiteral("share/many/f%1/file%2.txt").arg(i / 50).arg(i), data));
    }
    return entries;
}

QList<Entry> bigFile(int megabytes)
{
    QByteArray data(megabytes * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator generator(2);
    generator.fillRange(reinterpret_cast<quint32 *>(data.data()), data.size() / 4);
    return { Entry(QStringLiteral("data/big.bin"), data) };
}

double runProgram(const QString &program, const QStringList &arguments)
{
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    process.waitForFinished(-1);
    process.readAllStandardOutput();
    if (process.exitCode() != 0)
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
    return timer.nsecsElapsed() / 1e9;
}

// The best of three, as for the apply runs.
double baseline(const QString &archive)
{
    double best = 1e9;
    for (int round = 0; round < Rounds; ++round) {
        QTemporaryDir out;
        const double tar = runProgram(
            QStringLiteral("bsdtar"), { QStringLiteral("-xf"), archive, QStringLiteral("-C"), out.path() });
        const double md5 = runProgram(QStringLiteral("md5sum"), { archive });
        best = qMin(best, tar + md5);
    }
    return best;
}

bool measure(const char *label, const QList<Entry> &files)
{
    TestApplyFixture fixture;
    if (!fixture.isValid())
        return false;
    TestApplyFixture::Manifest manifest = TestApplyFixture::manifest(QStringLiteral("bench"), QStringLiteral("1.0"));
    if (!fixture.addPackage(manifest, files) || !fixture.updateIndex()) {
        std::fprintf(stderr, "setup failed: %s\n", qPrintable(fixture.errorText()));
        return false;
    }
    const QString archive = fixture.repositoryFolder() + QLatin1Char('/')
        + ZelManagerRepositoryBuilder::archiveFileName(manifest.name, manifest.version, manifest.architecture);
    const qint64 archiveSize = QFileInfo(archive).size();

    // The best of three runs, each downloading anew into an empty cache;
    // the package is removed again between them.
    double apply = 1e9;
    bool ok = true;
    for (int round = 0; round < Rounds && ok; ++round) {
        QDir(fixture.cacheFolder()).removeRecursively();
        ok = fixture.request(QStringLiteral("bench"), TestApplyFixture::Install).isEmpty() || round == 0;
        QElapsedTimer timer;
        timer.start();
        ZelManagerApplyRun run;
        int lastStatus = -1;
        QObject::connect(run.operationModel(), &QAbstractItemModel::dataChanged, [&]() {
            const int status = ZelManagerDatabase::instance()->package(QStringLiteral("bench")).status();
            if (status != lastStatus && qEnvironmentVariableIsSet("BENCH_TRACE"))
                std::printf("  %6.3f s status %d\n", timer.nsecsElapsed() / 1e9, status);
            lastStatus = status;
        });
        ok = run.exec() && ok;
        apply = qMin(apply, timer.nsecsElapsed() / 1e9);
        ok = fixture.request(QStringLiteral("bench"), TestApplyFixture::Remove).isEmpty() && ZelManagerApplyRun().exec()
            && ok;
    }
    const double reference = baseline(archive);
    std::printf("%-28s archive %7.1f MB  apply run %6.2f s  bsdtar -xf + md5sum %6.2f s  ratio %.2f%s\n", label,
        archiveSize / 1e6, apply, reference, apply / reference, ok ? "" : "  (RUN FAILED)");
    std::fflush(stdout);
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int files = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int megabytes = argc > 2 ? std::atoi(argv[2]) : 300;

    bool ok = measure(qPrintable(QStringLiteral("%1 files").arg(files)), manyFiles(files));
    ok = measure(qPrintable(QStringLiteral("one file of %1 MB").arg(megabytes)), bigFile(megabytes)) && ok;
    return ok ? 0 : 1;
}
