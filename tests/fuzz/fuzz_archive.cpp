// The downloader's archive reading: the input is a package archive (".vtrpkg":
// tar, plain or LZMA; control file "package.xml") that the repository offers
// with its MD5 sum and that waits verified in the cache, so the downloader
// reads it without the network. A package it accepts lists only clean, safe
// paths of regular files, never the control file.
#include "database/ZelManagerDatabase.h"
#include "engine/ApplyContext.h"
#include "engine/MMd5SumCalculator.h"
#include "engine/ZelManagerPackageDownloader.h"
#include "engine/ZelManagerTargetFolder.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/TestDatabaseFile.h"
#include "tests/support/TestPackageDatabase.h"

#include <QEventLoop>
#include <QFile>

namespace {

TestDatabaseFile *s_repository = nullptr;

bool download()
{
    ApplyContext context;
    ZelManagerPackageDownloader downloader(&context, QStringLiteral("fuzz"));
    bool result = false;
    QEventLoop loop;
    QObject::connect(&downloader, &ZelManagerPackageDownloader::finished, &loop, [&](bool ok) {
        result = ok;
        loop.quit();
    });
    downloader.execute();
    loop.exec();
    FUZZ_CHECK(context.running == 0);
    if (!result)
        return false;
    const PackageInfo info = context.info(QStringLiteral("fuzz"));
    FUZZ_CHECK(info.name == QLatin1String("fuzz"));
    for (auto it = info.fileEntries.constBegin(); it != info.fileEntries.constEnd(); ++it) {
        const QString &path = it.key();
        FUZZ_CHECK(!path.isEmpty() && path != QLatin1String("package.xml"), path);
        FUZZ_CHECK(!ZelManagerTargetFolder::isUnsafeEntryPath(path), path);
        FUZZ_CHECK(ZelManagerTargetFolder::entryPath(path) == path, path);
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initialize(argc, argv, false);
    s_repository = new TestDatabaseFile(FuzzSupport::database().repositoryFile(), TestDatabaseFile::Repository);
    s_repository->addRepositoryPackage(QStringLiteral("fuzz"));
    s_repository->addRepositoryFile(
        QStringLiteral("fuzz"), QStringLiteral("1.0"), QStringLiteral("win32"), 1, QString(32, QLatin1Char('0')));
    TestPackageDatabase::refresh(FuzzSupport::database().open());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    InputScope scope;
    const QByteArray archive(reinterpret_cast<const char *>(data), int(size));
    MMd5SumCalculator md5;
    md5.addData(archive);
    const QString sum = md5.calculateMd5Sum();
    FUZZ_CHECK(s_repository->exec(QStringLiteral("UPDATE filenames SET md5sum=?;"), { sum }));
    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    const PackageInfo info = database->packageEntry(QStringLiteral("fuzz"), QStringLiteral("1.0"), false);
    FUZZ_CHECK(info.md5sum == sum);
    const QString cacheFile = ApplyContext::cacheFilePath(info);
    FUZZ_CHECK(FuzzSupport::writeFile(cacheFile, archive));
    download();
    QFile::remove(cacheFile);
    database->clearErrors();
    return 0;
}
