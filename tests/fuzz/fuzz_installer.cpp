// The installer's unpacking: the input is a package archive, verified in the
// cache, every file of it fix-enabled. Its thread may write only below the
// temporary target (the file guard aborts on anything else), and what lies
// below the target afterwards is exactly what the installer says it wrote,
// or failed to write.
#include "database/ZelManagerDatabase.h"
#include "engine/ApplyContext.h"
#include "engine/MMd5SumCalculator.h"
#include "engine/ZelManagerArchiveEntry.h"
#include "engine/ZelManagerPackageInstaller.h"
#include "engine/ZelManagerTargetFolder.h"
#include "settings/ZelManagerSettings.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/TestSandbox.h"

#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QSet>

#include <archive.h>
#include <archive_entry.h>

namespace {

// The regular files of the archive, as the downloader would list them.
QMap<QString, bool> fileEntries(const QByteArray &data)
{
    QMap<QString, bool> entries;
    struct archive *archive = archive_read_new();
    archive_read_support_format_tar(archive);
    archive_read_support_filter_lzma(archive);
    if (archive_read_open_memory(archive, data.constData(), size_t(data.size())) == ARCHIVE_OK) {
        struct archive_entry *entry = nullptr;
        while (archive_read_next_header(archive, &entry) == ARCHIVE_OK) {
            const QString path = ZelManagerTargetFolder::entryPath(ZelManagerArchiveEntry::path(entry));
            if (!path.isEmpty() && archive_entry_filetype(entry) == AE_IFREG)
                entries.insert(path, true);
        }
    }
    archive_read_free(archive);
    return entries;
}

QSet<QString> filesBelow(const QString &folder)
{
    QSet<QString> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.insert(QDir::cleanPath(it.next()));
    return files;
}

void install(ApplyContext *context, const QString &target)
{
    ZelManagerPackageInstaller installer(context, QStringLiteral("fuzz"));
    QEventLoop loop;
    QObject::connect(&installer, &ZelManagerPackageInstaller::finished, &loop, &QEventLoop::quit);
    installer.execute();
    loop.exec();
    FUZZ_CHECK(context->running == 0);

    QSet<QString> reported;
    for (const QString &path : installer.writtenFiles()) {
        FUZZ_CHECK(!ZelManagerTargetFolder::isUnsafeEntryPath(path), path);
        reported.insert(QDir::cleanPath(target + QLatin1Char('/') + path));
    }
    for (const QString &path : installer.failedFiles())
        reported.insert(QDir::cleanPath(path));
    const QSet<QString> found = filesBelow(target);
    FUZZ_CHECK((found - reported).isEmpty(), QStringList((found - reported).values()).join(QLatin1Char('|')));
    for (const QString &path : installer.unfixedFiles())
        ZelManagerSettings::instance()->removeExcludedFile(path);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initialize(argc, argv);
    // The unpacking thread writes below the target and nowhere else.
    FuzzSupport::setAllowedFolders({ FuzzSupport::sandbox().path() }, { FuzzSupport::targetPath() });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    InputScope scope;
    const QByteArray archive(reinterpret_cast<const char *>(data), int(size));
    const QString target = FuzzSupport::targetPath();
    FuzzSupport::clearFolder(target);

    PackageInfo info;
    info.name = QStringLiteral("fuzz");
    info.version = QStringLiteral("1.0");
    info.time = 1;
    MMd5SumCalculator md5;
    md5.addData(archive);
    info.md5sum = md5.calculateMd5Sum();
    info.fileEntries = fileEntries(archive);
    const QString cacheFile = ApplyContext::cacheFilePath(info);
    FUZZ_CHECK(FuzzSupport::writeFile(cacheFile, archive));

    ApplyContext context;
    context.putInfo(info.name, info);
    install(&context, target);
    QFile::remove(cacheFile);
    ZelManagerDatabase::instance()->clearErrors();
    return 0;
}
