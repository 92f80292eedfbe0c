#include "engine/ZelManagerPackageInstaller.h"

#include "database/ZelManagerDatabase.h"
#include "diagnostics/ZelManagerLogging.h"
#include "engine/ApplyContext.h"
#include "engine/ZelManagerArchiveEntry.h"
#include "engine/ZelManagerFixupStream.h"
#include "engine/ZelManagerPackageRemover.h"
#include "engine/ZelManagerScriptEngine.h"
#include "engine/ZelManagerTargetFolder.h"
#include "integration/WindowsSupport.h"
#include "integration/ZelManagerTrigger.h"
#include "settings/ZelManagerSettings.h"
#include "ui/ZelManagerOperationModel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <archive_entry.h>

#include <algorithm>

namespace {

// The unit in which the archive file is fed to libarchive, and in which
// entry data is read.
const int ReadBufferSize = 40960;
const qint64 ReportMilliseconds = 100;
// Info manuals are compressed whole; no manual comes near this.
const qint64 InfoManualLimit = qint64(256) << 20;

bool hasScript(const QString &script)
{
    return !script.trimmed().isEmpty();
}

la_ssize_t appendCallback(struct archive *, void *client, const void *buffer, size_t length)
{
    static_cast<QByteArray *>(client)->append(static_cast<const char *>(buffer), int(length));
    return la_ssize_t(length);
}

} // namespace

ZelManagerPackageInstaller::ZelManagerPackageInstaller(ApplyContext *context, const QString &name)
    : QThread(context->operationModel)
    , m_name(name)
    , m_context(context)
    , m_settings(ZelManagerSettings::instance())
    , m_database(ZelManagerDatabase::instance())
    , m_model(context->operationModel)
{
    m_package = m_database->package(name);
    m_installFolder = QDir::cleanPath(shortPathName(m_settings->targetPath()));
    m_buildPrefix = shortPathName(m_settings->toolchainRoot());
    connect(this, &QThread::finished, this, &ZelManagerPackageInstaller::onThreadFinished);
}

ZelManagerPackageInstaller::~ZelManagerPackageInstaller()
{
    m_stop = true;
    delete m_remover.data();
    wait();
}

// Written through a callback into a growing buffer: the gzip of data that
// does not compress is larger than the data.
bool ZelManagerPackageInstaller::gzipCompress(const QByteArray &data, const QString &fileName, QByteArray *compressed)
{
    QByteArray output;
    output.reserve(data.size() / 3 + 64);
    struct archive *archive = archive_write_new();
    bool ok = archive_write_set_format_raw(archive) == ARCHIVE_OK
        && archive_write_add_filter_gzip(archive) == ARCHIVE_OK
        && archive_write_set_bytes_in_last_block(archive, 1) == ARCHIVE_OK
        && archive_write_open(archive, &output, nullptr, appendCallback, nullptr) == ARCHIVE_OK;
    if (ok) {
        struct archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname_utf8(entry, fileName.toUtf8().constData());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, data.size());
        ok = archive_write_header(archive, entry) == ARCHIVE_OK;
        archive_entry_free(entry);
        qint64 done = 0;
        while (ok && done < data.size()) {
            const la_ssize_t written = archive_write_data(archive, data.constData() + done, size_t(data.size() - done));
            ok = written > 0;
            done += qMax<la_ssize_t>(written, 0);
        }
    }
    ok = archive_write_close(archive) == ARCHIVE_OK && ok;
    archive_write_free(archive);
    if (ok)
        *compressed = output;
    return ok;
}

void ZelManagerPackageInstaller::cancel()
{
    m_stop = true;
    emit cancelRequest();
}

void ZelManagerPackageInstaller::execute()
{
    if (m_state != State::Idle)
        return;
    m_info = m_context->info(m_name);
    if (m_info.name.isEmpty() || m_info.version.isEmpty()) {
        m_archiveError = tr("No downloaded archive of package %1").arg(m_name);
    } else {
        m_archivePath = ApplyContext::cacheFilePath(m_info);
        if (m_archivePath.isEmpty())
            m_archiveError = tr("Can not open package archive of %1 %2").arg(m_name, m_info.version);
    }
    // An upgrade or a reinstall stages the new version beside the installed
    // one, which stays as it is until the new files are complete.
    const int replacing = ZelManagerPackage::FlagRequestUpgrade | ZelManagerPackage::FlagRequestReinstall;
    m_replacing = (m_package.flags() & replacing) && m_package.isInstalled();
    if (m_replacing) {
        m_oldInfo = m_database->packageEntry(m_name, m_package.installedVersion(), true);
        m_oldVersion = m_package.installedVersion();
    }
    // Counted from here: the preinst script lets other work run, and the
    // managers must see this installer within the limit meanwhile.
    setState(State::Preparing);
    setProgress(0);
    setStatus(ZelManagerPackage::Installing);
    if (m_archiveError.isEmpty() && !m_stop)
        beginJournal();
    if (m_archiveError.isEmpty() && !m_stop && !m_replacing && hasScript(m_info.preinst))
        ZelManagerScriptEngine::instance()->evaluate(m_info.preinst, m_name, ZelManagerDatabase::ErrorInstall);
    startUnpacking();
}

// The package in flight is known before any of its files is written: an
// installation that an ended process leaves half done is undone (or, once
// its switch has begun, completed) at the next start.
void ZelManagerPackageInstaller::beginJournal()
{
    ZelManagerDatabase::JournalEntry entry;
    entry.package = m_name;
    entry.operation = m_replacing ? ZelManagerDatabase::JournalReplace : ZelManagerDatabase::JournalInstall;
    entry.info = m_info;
    entry.newFiles = ApplyContext::installedPaths(m_info);
    if (m_database->writeJournal(entry))
        m_journaled = true;
    else
        m_journalError = tr("Can not record the start of the installation: %1").arg(m_database->writeError());
}

void ZelManagerPackageInstaller::endJournal()
{
    if (!m_journaled)
        return;
    m_journaled = false;
    m_database->dropJournal(m_name);
    m_database->commitProgress();
}

void ZelManagerPackageInstaller::onRemoverFinished(bool ok)
{
    ZelManagerPackageRemover *remover = m_remover.data();
    if (!remover || sender() != remover)
        return;
    m_removedFolders = remover->folders();
    m_leftOldFiles = remover->failedFiles();
    m_remover = nullptr;
    remover->deleteLater();
    if (!ok) {
        // The remover has recorded the files it could not replace or delete;
        // the journal keeps the switch for the next start.
        m_database->addError(m_name, ZelManagerDatabase::ErrorInstall,
            tr("The switch to version %1 is incomplete; it is completed at the next start.").arg(m_info.version));
        setStatus(ZelManagerPackage::Error);
        setState(State::Finished);
        emit finished(false);
        return;
    }
    // Past the switch nothing is undone: a stop request waits for the end.
    setState(State::Completing);
    setStatus(ZelManagerPackage::Installing);
    complete();
}

// A transition the lifecycle does not allow is a programming error: it is
// refused (and asserted in debug builds), so that the context's count and
// the finished(bool) signal stay exact.
void ZelManagerPackageInstaller::setState(State next)
{
    Q_ASSERT_X(canMove(m_state, next), "ZelManagerPackageInstaller::setState", "transition not allowed");
    if (!canMove(m_state, next))
        return;
    const bool wasCounted = isCounted(m_state);
    m_state = next;
    if (!wasCounted && isCounted(next))
        m_context->countRunning();
    else if (wasCounted && !isCounted(next))
        m_context->countStopped();
}

bool ZelManagerPackageInstaller::canMove(State from, State to)
{
    switch (from) {
    case State::Idle:
        return to == State::Preparing;
    case State::Preparing:
        return to == State::Unpacking;
    case State::Unpacking:
        return to == State::Completing || to == State::RemovingOldVersion;
    case State::RemovingOldVersion:
        return to == State::Completing || to == State::Finished;
    case State::Completing:
        return to == State::Finished;
    case State::Finished:
        break;
    }
    return false;
}

bool ZelManagerPackageInstaller::isCounted(State state)
{
    return state == State::Preparing || state == State::Unpacking || state == State::Completing;
}

// Also after a failure found before unpacking: the thread ends at once and
// the package finishes through the same path as any other.
void ZelManagerPackageInstaller::startUnpacking()
{
    setState(State::Unpacking);
    QThread::start(QThread::InheritPriority);
}

void ZelManagerPackageInstaller::run()
{
    if (m_stop || !m_archiveError.isEmpty() || !m_journalError.isEmpty())
        return;
    qCDebug(zelEngine, "install %s: unpacking %s", qUtf8Printable(m_name), qUtf8Printable(m_archivePath));
    QFile file(m_archivePath);
    if (!file.open(QIODevice::ReadOnly)) {
        m_archiveError = tr("Can not open package archive %1").arg(m_archivePath);
        return;
    }
    m_archiveFile = &file;
    m_position = 0;
    m_archiveSize = file.size();
    m_progressTimer.start();
    m_readBuffer.resize(ReadBufferSize);
    m_pieceBuffer.resize(ReadBufferSize);
    m_oldPrefix = m_buildPrefix.toUtf8();
    m_newPrefix = m_installFolder.toUtf8();
    makePath(m_installFolder);
    m_target = ZelManagerTargetFolder(m_installFolder);

    struct archive *archive = archive_read_new();
    archive_read_support_format_tar(archive);
    archive_read_support_filter_lzma(archive);
    m_md5.reset();
    if (archive_read_open(archive, this, nullptr, readCallback, nullptr) == ARCHIVE_OK)
        unpackEntries(archive);
    else if (!m_stop)
        markDamaged(ZelManagerArchiveEntry::errorText(archive));
    archive_read_free(archive);
    if (!m_stop && m_archiveError.isEmpty())
        checkArchiveSum();
    // Files of an archive that is not the package's have no owner: none stays.
    if (!m_stop && m_archiveDamaged)
        removeWrittenFiles();
    m_archiveFile = nullptr;
    m_readBuffer = QByteArray();
    m_pieceBuffer = QByteArray();
}

la_ssize_t ZelManagerPackageInstaller::readCallback(struct archive *, void *client, const void **buffer)
{
    return static_cast<ZelManagerPackageInstaller *>(client)->readNext(buffer);
}

la_ssize_t ZelManagerPackageInstaller::readNext(const void **buffer)
{
    if (m_stop)
        return -1;
    const qint64 wanted = qMin<qint64>(ReadBufferSize, m_archiveSize - m_position);
    if (wanted <= 0)
        return 0;
    const qint64 got = m_archiveFile->read(m_readBuffer.data(), wanted);
    if (got < 0)
        return -1;
    m_position = m_archiveFile->pos();
    m_md5.addData(m_readBuffer.constData(), got);
    *buffer = m_readBuffer.constData();
    reportProgress();
    return la_ssize_t(got);
}

// The bytes after the archive's end marker, which the reader leaves unread.
bool ZelManagerPackageInstaller::readToEnd()
{
    for (;;) {
        const qint64 got = m_archiveFile->read(m_readBuffer.data(), m_readBuffer.size());
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        m_md5.addData(m_readBuffer.constData(), got);
    }
}

// The cache file may have been replaced since the download checked it: the
// bytes actually unpacked must be the package's.
void ZelManagerPackageInstaller::checkArchiveSum()
{
    if (readToEnd() && m_md5.calculateMd5Sum() == m_info.md5sum)
        return;
    qCWarning(
        zelEngine, "install %s: %s does not match its MD5 sum", qUtf8Printable(m_name), qUtf8Printable(m_archivePath));
    m_archiveError
        = tr("Package archive %1 does not match its md5sum: it changed after the download").arg(m_archivePath);
    m_archiveDamaged = true;
}

void ZelManagerPackageInstaller::removeWrittenFiles()
{
    QStringList folders;
    for (const QString &path : qAsConst(m_writtenFiles)) {
        QFile::remove(writtenPath(m_target.filePath(path)));
        const int slash = path.lastIndexOf(QLatin1Char('/'));
        if (slash > 0 && !folders.contains(path.left(slash)))
            folders.append(path.left(slash));
    }
    for (const QString &folder : qAsConst(folders))
        m_target.removeEmptyFoldersFrom(folder);
    m_writtenFiles.clear();
    m_unfixedFiles.clear();
    m_written.clear();
    m_unfixedEntries.clear();
    m_triggerFiles.clear();
}

void ZelManagerPackageInstaller::reportProgress()
{
    if (m_progressTimer.elapsed() <= ReportMilliseconds || m_archiveSize <= 0)
        return;
    m_progressTimer.restart();
    setProgress(int(m_position * 100 / m_archiveSize));
}

void ZelManagerPackageInstaller::unpackEntries(struct archive *archive)
{
    struct archive_entry *entry = nullptr;
    while (!m_stop) {
        const int result = archive_read_next_header(archive, &entry);
        if (result == ARCHIVE_EOF)
            return;
        if (result != ARCHIVE_OK && result != ARCHIVE_WARN) {
            if (!m_stop)
                markDamaged(ZelManagerArchiveEntry::errorText(archive));
            return;
        }
        // The clean form, as the downloader lists it: the path written,
        // recorded and later removed is the one checked for conflicts. An
        // unsafe path stays as given, to be refused below.
        const QString raw = ZelManagerArchiveEntry::path(entry);
        const QString path
            = ZelManagerTargetFolder::isUnsafeEntryPath(raw) ? raw : ZelManagerTargetFolder::entryPath(raw);
        if (path.isEmpty() || path == QLatin1String("package.xml"))
            continue;
        const auto type = archive_entry_filetype(entry);
        if (type == AE_IFDIR)
            continue;
        if (type != AE_IFREG || archive_entry_hardlink(entry)) {
            skipEntry(path, type == AE_IFLNK || archive_entry_hardlink(entry));
            continue;
        }
        if (ZelManagerTargetFolder::isUnsafeEntryPath(path)) {
            m_unsafePaths.append(path);
            continue;
        }
        if (!installEntry(archive, entry, path))
            return;
    }
}

// False when the archive cannot be read on (damaged, or stopped).
bool ZelManagerPackageInstaller::installEntry(struct archive *archive, struct archive_entry *entry, const QString &path)
{
    if (!archive_entry_size_is_set(entry)) {
        markDamaged(tr("no size for %1").arg(path));
        return false;
    }
    const qint64 time = archive_entry_mtime(entry);
    const bool fix = m_info.fileEntries.value(path, false);
    if (!ZelManagerTargetFolder::isInfoManual(path))
        return streamEntry(archive, path, time, fix);

    const qint64 size = archive_entry_size(entry);
    const QString finalPath = path + QStringLiteral(".gz");
    if (size > InfoManualLimit) {
        m_failedFiles.append(m_installFolder + QLatin1Char('/') + finalPath);
        return archive_read_data_skip(archive) == ARCHIVE_OK;
    }
    QByteArray data;
    if (!readEntryData(archive, size, &data))
        return false;
    const bool fixedUp = fix && ZelManagerFixupStream::canRelocate(m_oldPrefix, m_newPrefix);
    if (fixedUp)
        ZelManagerFixupStream::fixPaths(data.data(), data.size(), m_oldPrefix, m_newPrefix);
    QByteArray compressed;
    if (!gzipCompress(data, QFileInfo(path).fileName(), &compressed)) {
        m_failedFiles.append(m_installFolder + QLatin1Char('/') + finalPath);
        return true;
    }
    if (writeFile(finalPath, compressed, time))
        noteWritten(path, finalPath, fixedUp);
    return true;
}

bool ZelManagerPackageInstaller::readEntryData(struct archive *archive, qint64 size, QByteArray *data)
{
    data->resize(int(size));
    qint64 done = 0;
    while (done < size) {
        if (m_stop)
            return false;
        const la_ssize_t got
            = archive_read_data(archive, data->data() + done, size_t(qMin<qint64>(ReadBufferSize, size - done)));
        if (got <= 0) {
            if (!m_stop)
                markDamaged(
                    got < 0 ? ZelManagerArchiveEntry::errorText(archive) : tr("%1 ends early").arg(m_archivePath));
            return false;
        }
        done += got;
    }
    return true;
}

// The data goes from the archive through the relocation to the file piece by
// piece: files of any size take little memory.
bool ZelManagerPackageInstaller::streamEntry(struct archive *archive, const QString &path, qint64 time, bool fix)
{
    const QString target = m_target.prepareFile(path);
    QFile file(writtenPath(target));
    if (target.isEmpty() || !file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        m_failedFiles.append(target.isEmpty() ? m_installFolder + QLatin1Char('/') + path : target);
        return archive_read_data_skip(archive) == ARCHIVE_OK;
    }
    ZelManagerFixupStream stream(m_oldPrefix, m_newPrefix, fix,
        [&file](const char *data, qint64 size) { return file.write(data, size) == size; });
    bool written = true;
    // A file cut short (damaged archive, stop) is no file of the package and
    // is listed nowhere: it does not stay.
    const auto dropPartial = [&file]() {
        file.close();
        file.remove();
        return false;
    };
    for (;;) {
        if (m_stop)
            return dropPartial();
        const la_ssize_t got = archive_read_data(archive, m_pieceBuffer.data(), size_t(m_pieceBuffer.size()));
        if (got < 0) {
            if (!m_stop)
                markDamaged(ZelManagerArchiveEntry::errorText(archive));
            return dropPartial();
        }
        if (got == 0)
            break;
        written = written && stream.write(m_pieceBuffer.constData(), got);
    }
    written = written && stream.finish();
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        m_failedFiles.append(target);
        return true;
    }
    setFileTime(file.fileName(), time);
    noteWritten(path, path, stream.isRelocating());
    return true;
}

bool ZelManagerPackageInstaller::writeFile(const QString &path, const QByteArray &data, qint64 time)
{
    const QString target = m_target.prepareFile(path);
    if (target.isEmpty()) {
        m_failedFiles.append(m_installFolder + QLatin1Char('/') + path);
        return false;
    }
    QFile file(writtenPath(target));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size()) {
        m_failedFiles.append(target);
        return false;
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        m_failedFiles.append(target);
        return false;
    }
    setFileTime(file.fileName(), time);
    return true;
}

// An upgrade's files are staged beside their targets.
QString ZelManagerPackageInstaller::writtenPath(const QString &target) const
{
    return m_replacing ? ZelManagerTargetFolder::stagedName(target) : target;
}

// An archive may hold one path twice; the last copy is what stays.
void ZelManagerPackageInstaller::noteWritten(const QString &entry, const QString &path, bool fixedUp)
{
    if (fixedUp)
        m_unfixedEntries.remove(entry);
    else
        m_unfixedEntries.insert(entry);
    if (m_written.contains(path)) {
        if (fixedUp)
            m_unfixedFiles.removeAll(path);
        else if (!m_unfixedFiles.contains(path))
            m_unfixedFiles.append(path);
        return;
    }
    m_written.insert(path);
    m_writtenFiles.append(path);
    if (!fixedUp)
        m_unfixedFiles.append(path);
    const TriggerType type = triggerTypeForPath(path);
    if (type != TriggerType::None)
        m_triggerFiles.insert(int(type), path);
}

void ZelManagerPackageInstaller::onThreadFinished()
{
    if (m_state != State::Unpacking)
        return;
    wait();
    const bool failed = !m_journalError.isEmpty() || !m_archiveError.isEmpty() || !m_unsafePaths.isEmpty()
        || !m_failedFiles.isEmpty();
    if (!m_stop && !failed && m_replacing) {
        startSwitch();
        return;
    }
    setState(State::Completing);
    if (m_stop || failed) {
        // Staged files are nobody's: the installed version stays as it was.
        if (m_replacing)
            removeWrittenFiles();
        endJournal();
        if (m_stop) {
            setStatus(ZelManagerPackage::Canceling);
        } else {
            setProgress(100);
            reportErrors();
            setStatus(ZelManagerPackage::Error);
        }
        finish(false);
        return;
    }
    setProgress(100);
    complete();
}

// The new version's files are all staged: the old version's prerm and
// triggers run, the remover moves the staged files into place and deletes
// the old files that the new version does not have, then the old postrm
// runs (onRemoverFinished() goes on).
void ZelManagerPackageInstaller::startSwitch()
{
    setState(State::RemovingOldVersion);
    QSet<QString> staged;
    for (const QString &path : qAsConst(m_writtenFiles))
        staged.insert(ZelManagerTargetFolder::pathKey(path));
    QStringList oldOnly;
    for (auto it = m_oldInfo.fileEntries.cbegin(); it != m_oldInfo.fileEntries.cend(); ++it) {
        const QString name = ZelManagerTargetFolder::installedName(it.key());
        if (!name.isEmpty() && !staged.contains(ZelManagerTargetFolder::pathKey(name)))
            oldOnly.append(name);
    }
    if (!m_database->setJournalSwitching(m_name, oldOnly)) {
        removeWrittenFiles();
        m_journalError = tr("Can not record the switch to the new version: %1").arg(m_database->writeError());
        endJournal();
        reportErrors();
        setStatus(ZelManagerPackage::Error);
        setState(State::Finished);
        emit finished(false);
        return;
    }
    m_remover = new ZelManagerPackageRemover(m_context, m_name);
    m_remover->setReplacement(m_writtenFiles);
    connect(
        m_remover.data(), &ZelManagerPackageRemover::finished, this, &ZelManagerPackageInstaller::onRemoverFinished);
    m_remover->start();
}

// Triggers, postinst and the records of the new version. Recording it ends
// its journal entry in the same commit.
void ZelManagerPackageInstaller::complete()
{
    callTriggers();
    if (hasScript(m_info.postinst))
        ZelManagerScriptEngine::instance()->evaluate(m_info.postinst, m_name, ZelManagerDatabase::ErrorInstall);
    if (!recordInstallation()) {
        QString text = tr("Can not record the installation: %1").arg(m_database->writeError());
        if (m_replacing) {
            text += QLatin1Char(' ') + tr("It is completed at the next start.");
        } else {
            // Unrecorded files would belong to nobody.
            removeWrittenFiles();
            endJournal();
        }
        m_database->addError(m_name, ZelManagerDatabase::ErrorInstall, text);
        setStatus(ZelManagerPackage::Error);
        finish(false);
        return;
    }
    m_journaled = false;
    removeEmptiedFolders();
    for (const QString &path : qAsConst(m_unfixedFiles))
        m_settings->addExcludedFile(path);
    // Old files that could not be deleted have their errors already.
    if (!m_leftOldFiles.isEmpty()) {
        setStatus(ZelManagerPackage::Error);
        finish(false);
        return;
    }
    setStatus(ZelManagerPackage::Finished, skippedEntriesText());
    finish(true);
}

void ZelManagerPackageInstaller::finish(bool ok)
{
    qCDebug(zelEngine, "install %s: %s, %d files written, %d failed", qUtf8Printable(m_name),
        ok           ? "done"
            : m_stop ? "stopped"
                     : "failed",
        int(m_writtenFiles.size()), int(m_failedFiles.size()));
    // Counted stopped before the signal: the receiver may start the next
    // worker, or end the run and release the context.
    setState(State::Finished);
    emit finished(ok);
}

void ZelManagerPackageInstaller::reportErrors()
{
    // An archive that matched its sum but cannot be installed is of no use in
    // the cache: the same bytes would fail again.
    if (m_archiveDamaged || !m_unsafePaths.isEmpty())
        QFile::remove(m_archivePath);
    if (!m_journalError.isEmpty())
        m_database->addError(m_name, ZelManagerDatabase::ErrorInstall, m_journalError);
    if (!m_archiveError.isEmpty())
        m_database->addError(m_name, ZelManagerDatabase::ErrorInstall, m_archiveError);
    for (const QString &path : qAsConst(m_unsafePaths)) {
        m_database->addError(
            m_name, ZelManagerDatabase::ErrorInstall, tr("Unsafe path in package archive: %1").arg(path));
    }
    for (const QString &path : qAsConst(m_failedFiles))
        m_database->addError(m_name, ZelManagerDatabase::ErrorInstall, tr("Failed to install: %1").arg(path));
    if (m_replacing) {
        m_database->addError(m_name, ZelManagerDatabase::ErrorInstall,
            tr("Version %1 was not installed; version %2 stays installed.").arg(m_info.version, m_oldVersion));
    }
}

// Within one type, the paths recorded last come first.
void ZelManagerPackageInstaller::callTriggers()
{
    const QList<int> types = m_triggerFiles.uniqueKeys();
    for (const int type : types) {
        ZelManagerTrigger *trigger = triggerForType(TriggerType(type));
        if (!trigger)
            continue;
        const QStringList paths = m_triggerFiles.values(type);
        for (const QString &path : paths) {
            setStatus(ZelManagerPackage::Installing, trigger->installActionText());
            trigger->installFile(path);
        }
    }
}

// The request is fulfilled: the package is installed and no longer
// requested (an automatic mark left behind would make it a pending operation
// of every later run). Its bookmark stays.
bool ZelManagerPackageInstaller::recordInstallation()
{
    if (m_package.isNull())
        return m_database->commitOutcome(m_name, [] { return true; });
    const int flags = (m_package.flags() & ~(ZelManagerPackage::RequestMask | ZelManagerPackage::FlagUpgradable))
        | ZelManagerPackage::FlagInstalled;
    PackageInfo entry = m_info;
    for (const QString &path : qAsConst(m_unfixedEntries)) {
        auto it = entry.fileEntries.find(path);
        if (it != entry.fileEntries.end())
            it.value() = false;
    }
    // An old file that could not be deleted stays the package's: recorded,
    // it is neither lost nor taken by another package, and the next removal
    // tries it again.
    QStringList files = m_writtenFiles;
    for (const QString &path : qAsConst(m_leftOldFiles)) {
        entry.fileEntries.insert(path, m_oldInfo.fileEntries.value(path));
        files.append(ZelManagerTargetFolder::installedName(path));
    }
    return m_database->commitOutcome(m_name, [&] {
        return m_database->recordRemoval(m_name, flags, QStringList(), m_package.dependants())
            && m_database->recordInstallation(entry, files);
    });
}

// Folders of the replaced version that the new one does not use, deepest
// first; folders that still hold entries stay.
void ZelManagerPackageInstaller::removeEmptiedFolders()
{
    ZelManagerTargetFolder(m_installFolder).removeEmptyFolders(m_removedFolders);
}

void ZelManagerPackageInstaller::setStatus(PackageStatus status, const QString &message)
{
    if (m_model)
        m_model->setStatus(m_name, status, message);
    else
        m_package.setStatus(status, message);
}

void ZelManagerPackageInstaller::setProgress(int value)
{
    if (m_model)
        m_model->setProgress(m_name, value);
    else
        m_package.setProgress(value);
}

void ZelManagerPackageInstaller::markDamaged(const QString &detail)
{
    m_archiveError = tr("Damaged package archive: %1").arg(detail);
    m_archiveDamaged = true;
}

// Links, device and pipe entries have no place in the install folder; they are
// left out, and said so in the log and in the package's status.
void ZelManagerPackageInstaller::skipEntry(const QString &path, bool link)
{
    qCWarning(zelEngine, "install %s: entry %s skipped: %s", qUtf8Printable(m_name), qUtf8Printable(path),
        link ? "links are not supported" : "only files and folders are installed");
    ++(link ? m_skippedLinks : m_skippedOthers);
}

QString ZelManagerPackageInstaller::skippedEntriesText() const
{
    const int skipped = m_skippedLinks + m_skippedOthers;
    if (skipped == 0)
        return QString();
    const QString reason
        = m_skippedOthers == 0 ? tr("links are not supported") : tr("only files and folders are installed");
    return (skipped == 1 ? tr("installed, 1 entry skipped: %1") : tr("installed, %1 entries skipped: %2").arg(skipped))
        .arg(reason);
}
