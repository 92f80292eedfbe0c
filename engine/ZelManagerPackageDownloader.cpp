#include "engine/ZelManagerPackageDownloader.h"

#include "database/ZelManagerDatabase.h"
#include "diagnostics/ZelManagerLogging.h"
#include "engine/ApplyContext.h"
#include "engine/ZelManagerArchiveEntry.h"
#include "engine/ZelManagerTargetFolder.h"
#include "settings/ZelManagerSettings.h"
#include "ui/ZelManagerOperationModel.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSet>
#include <QTimer>
#include <QVector>
#include <QXmlStreamReader>

#include <archive_entry.h>

#include <algorithm>

namespace {

// The cached file is hashed and handed to the reader in pieces of this size.
const qint64 FilePiece = 1024 * 1024;
// How much the network layer may hold for us before it stops reading the
// socket; together with the ring this bounds the memory of a transfer.
const qint64 ReplyBufferSize = 128 * 1024;
// A control file larger than this is not a control file.
const la_int64_t ControlFileLimit = 16 * 1024 * 1024;

// Waiting on the other side of the ring: yield first, then sleep a little,
// so that a reader waiting for a slow server does not keep a processor busy.
void backOff(int &rounds)
{
    ++rounds;
    if (rounds < 64)
        QThread::yieldCurrentThread();
    else
        QThread::usleep(rounds < 512 ? 50 : 500);
}

} // namespace

int ZelManagerPackageDownloader::s_transferTimeout = 60000;

ZelManagerPackageDownloader::ZelManagerPackageDownloader(ApplyContext *context, const QString &name)
    : QThread(context->operationModel)
    , m_name(name)
    , m_context(context)
    , m_settings(ZelManagerSettings::instance())
    , m_database(ZelManagerDatabase::instance())
    , m_model(context->operationModel)
{
    m_package = m_database->package(name);
    if (m_package.isReinstallRequested())
        m_info = m_database->packageEntry(name, m_package.installedVersion(), true);
    else
        m_info = m_database->packageEntry(name, m_package.availableVersion(), false);
    connect(this, &QThread::finished, this, &ZelManagerPackageDownloader::onThreadFinished);
}

ZelManagerPackageDownloader::~ZelManagerPackageDownloader()
{
    m_stop = true;
    wait();
    dropTransfer();
}

void ZelManagerPackageDownloader::setTransferTimeout(int milliseconds)
{
    s_transferTimeout = milliseconds;
}

int ZelManagerPackageDownloader::transferTimeout()
{
    return s_transferTimeout;
}

void ZelManagerPackageDownloader::execute()
{
    m_stop = false;
    m_errorText.clear();
    setStatus(ZelManagerPackage::Downloading);
    m_context->countRunning();

    const QString path = ApplyContext::cacheFilePath(m_info);
    if (path.isEmpty()) {
        failBeforeStart(
            tr("Package name or version can not be used in a file name: %1 %2").arg(m_name, m_info.version));
        return;
    }
    if (cachedFileMatches(path)) {
        qCDebug(zelEngine, "download %s: cached %s", qUtf8Printable(m_name), qUtf8Printable(path));
        m_cacheSource = path;
        QThread::start();
        setProgress(100);
        setStatus(ZelManagerPackage::Parsing);
        return;
    }
    const QUrl url = archiveUrl(m_info, m_settings->architecture());
    if (!url.isValid()) {
        failBeforeStart(
            m_info.version.isEmpty() ? tr("No available version of package found") : tr("No repository found"));
        return;
    }
    qCDebug(zelEngine, "download %s: %s", qUtf8Printable(m_name), qUtf8Printable(url.toString()));
    if (!startTransfer(path, url))
        return;
    m_md5.reset();
    m_received = 0;
    setStatus(ZelManagerPackage::Downloading);
    QThread::start();
}

// Streams the file through MD5: archives of hundreds of megabytes are never
// held in memory.
bool ZelManagerPackageDownloader::cachedFileMatches(const QString &path) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    MMd5SumCalculator md5;
    QByteArray buffer(int(FilePiece), Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(buffer.data(), FilePiece);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        md5.addData(buffer.constData(), got);
    }
    return md5.calculateMd5Sum() == m_info.md5sum;
}

bool ZelManagerPackageDownloader::startTransfer(const QString &path, const QUrl &url)
{
    QDir().mkpath(m_settings->cachePath());
    m_cachePath = path;
    m_saveFile = new QFile(partFilePath(path), this);
    if (!m_saveFile->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        failBeforeStart(tr("Can not save downloaded file"));
        return false;
    }
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    // The archive is compressed already; an identity body lets the received
    // byte count be checked against Content-Length.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setTransferTimeout(s_transferTimeout);
    m_reply = ZelManagerDatabase::networkAccessManager()->get(request);
    if (!m_reply) {
        failBeforeStart(tr("Can not connect to repository"));
        return false;
    }
    m_reply->setReadBufferSize(ReplyBufferSize);
    connect(m_reply, &QNetworkReply::finished, this, &ZelManagerPackageDownloader::onDownloadFinished);
    connect(m_reply, &QIODevice::readyRead, this, [this]() {
        if (m_reply)
            onDownloadDataAvailable(m_reply->bytesAvailable());
    });
    connect(m_reply, &QNetworkReply::errorOccurred, this, &ZelManagerPackageDownloader::onDownloadError);
    connect(m_reply, &QNetworkReply::downloadProgress, this, &ZelManagerPackageDownloader::onDownloadProgress);
    return true;
}

// The thread never runs: finish through the event loop, as after a transfer.
void ZelManagerPackageDownloader::failBeforeStart(const QString &text)
{
    m_stop = true;
    m_errorText = text;
    dropTransfer();
    QTimer::singleShot(0, this, &ZelManagerPackageDownloader::onThreadFinished);
}

void ZelManagerPackageDownloader::failTransfer(const QString &text, bool abort)
{
    if (m_errorText.isEmpty())
        m_errorText = text;
    setStatus(ZelManagerPackage::Error);
    dropTransfer(abort);
    m_stop = true;
}

// Ends a transfer without committing: the cache file stays as it was. A
// reply that has reported its own error is ending already.
void ZelManagerPackageDownloader::dropTransfer(bool abort)
{
    if (m_reply) {
        m_reply->disconnect(this);
        if (abort)
            m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    if (m_saveFile) {
        m_saveFile->remove();
        delete m_saveFile;
        m_saveFile = nullptr;
    }
}

// Beside the cache file, with the suffix that clearing the cache removes.
QString ZelManagerPackageDownloader::partFilePath(const QString &cachePath)
{
    QString base = cachePath;
    if (base.endsWith(QLatin1String(".cache")))
        base.chop(6);
    return base + QStringLiteral(".part.cache");
}

// The received file takes the cache file's place by a rename. It is not
// synced to disk: a cache file is used only after its MD5 sum has proved it,
// and syncing hundreds of megabytes would hold up the user interface.
bool ZelManagerPackageDownloader::commitTransfer()
{
    if (!m_saveFile->flush())
        return false;
    m_saveFile->close();
    if (m_saveFile->error() != QFileDevice::NoError)
        return false;
    QFile::remove(m_cachePath);
    return m_saveFile->rename(m_cachePath);
}

void ZelManagerPackageDownloader::setStatus(PackageStatus status)
{
    if (m_model)
        m_model->setStatus(m_name, status, QString());
}

void ZelManagerPackageDownloader::setProgress(int value)
{
    if (m_model)
        m_model->setProgress(m_name, value);
}

void ZelManagerPackageDownloader::cancel()
{
    m_stop = true;
}

void ZelManagerPackageDownloader::onThreadFinished()
{
    if (m_finishing)
        return;
    m_finishing = true;
    wait();
    // A reader that ended early (cancel, damaged archive) leaves the transfer
    // running; nothing of it is kept.
    dropTransfer();
    if (m_errorText.isEmpty() && !m_stop)
        m_errorText = m_readerError;

    bool result = false;
    PackageStatus status = ZelManagerPackage::Error;
    if (m_stop) {
        status = ZelManagerPackage::Canceling;
        if (!m_errorText.isEmpty()) {
            m_database->addError(m_name, ZelManagerDatabase::ErrorInstall, m_errorText);
            status = ZelManagerPackage::Error;
        }
    } else if (!m_errorText.isEmpty()) {
        m_database->addError(m_name, ZelManagerDatabase::ErrorInstall, m_errorText);
        // A refused archive (damaged, unsafe paths) whose sum matched would
        // be refused again from the cache: do not keep it.
        if (m_errorText == m_readerError)
            QFile::remove(ApplyContext::cacheFilePath(m_info));
    } else {
        const QList<QPair<QString, QString>> found = conflicts();
        if (found.isEmpty()) {
            m_context->putInfo(m_name, m_info);
            status = ZelManagerPackage::Downloaded;
            result = true;
        } else {
            m_errorText = conflictText(found);
            m_database->addError(m_name, ZelManagerDatabase::ErrorInstall, m_errorText);
        }
    }
    const QString outcome = !m_errorText.isEmpty() ? QStringLiteral("failed: ") + m_errorText
        : result                                   ? QStringLiteral("done")
                                                   : QStringLiteral("stopped");
    qCDebug(zelEngine, "download %s: %s", qUtf8Printable(m_name), qUtf8Printable(outcome));
    setStatus(status);
    m_context->countStopped();
    emit finished(result);
}

// Files of the archive that another package has installed; the package's
// own files (upgrade, reinstall) are no conflict. Info manuals are looked up
// under the name the installer gives them. The files of packages that the
// run itself changes may be handed over within the run: the download
// manager decides those, in an order that does not depend on timing.
QList<QPair<QString, QString>> ZelManagerPackageDownloader::conflicts() const
{
    QStringList paths;
    for (auto it = m_info.fileEntries.constBegin(); it != m_info.fileEntries.constEnd(); ++it) {
        paths.append(it.key());
        const QString installed = ZelManagerTargetFolder::installedName(it.key());
        if (!installed.isEmpty() && installed != it.key())
            paths.append(installed);
    }
    QList<QPair<QString, QString>> found = m_database->fileConflicts(m_name, paths);
    found.erase(std::remove_if(found.begin(), found.end(),
                    [this](const QPair<QString, QString> &row) { return m_context->members.contains(row.second); }),
        found.end());
    return found;
}

QString ZelManagerPackageDownloader::conflictText(const QList<QPair<QString, QString>> &found)
{
    QString text = tr("Conflicts encountered:");
    for (const QPair<QString, QString> &row : found)
        text += QLatin1Char('\n') + tr("  Entry %1 in package %2").arg(row.first, row.second);
    return text;
}

void ZelManagerPackageDownloader::onDownloadError()
{
    if (!m_reply)
        return;
    // Our own aborts disconnect first, so a cancelled operation here is the
    // transfer timeout.
    const QString text = m_reply->error() == QNetworkReply::OperationCanceledError ? tr("Connection timed out")
                                                                                   : m_reply->errorString();
    failTransfer(text, false);
}

void ZelManagerPackageDownloader::onDownloadFinished()
{
    if (!m_reply || !m_errorText.isEmpty())
        return;
    if (m_reply->error() != QNetworkReply::NoError) {
        onDownloadError();
        return;
    }
    if (m_reply->bytesAvailable() > 0)
        onDownloadDataAvailable(m_reply->bytesAvailable());
    if (!m_reply)
        return;
    if (!transferIsComplete()) {
        failTransfer(tr("Download incomplete: %1 of %2 bytes received")
                         .arg(m_received)
                         .arg(m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong()));
        return;
    }
    if (m_md5.calculateMd5Sum() != m_info.md5sum) {
        failTransfer(tr("Downloaded file md5sum not match"));
        return;
    }
    if (!commitTransfer()) {
        failTransfer(tr("Can not write downloaded file"));
        return;
    }
    setProgress(100);
    m_reply->disconnect(this);
    m_reply->deleteLater();
    m_reply = nullptr;
    delete m_saveFile;
    m_saveFile = nullptr;
    endData();
}

// The network layer now and then reports a connection cut before the end of
// the body as a success; the announced length tells.
bool ZelManagerPackageDownloader::transferIsComplete() const
{
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    const QByteArray encoding = m_reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (!length.isValid() || !(encoding.isEmpty() || encoding == "identity"))
        return true;
    return length.toLongLong() == m_received;
}

void ZelManagerPackageDownloader::onDownloadDataAvailable(qint64 count)
{
    if (count <= 0 || !m_reply || !m_saveFile)
        return;
    const QByteArray chunk = m_reply->read(count);
    if (chunk.isEmpty())
        return;
    if (m_saveFile->write(chunk) != chunk.size()) {
        failTransfer(tr("Can not write downloaded file"));
        return;
    }
    m_md5.addData(chunk);
    m_received += chunk.size();
    putChunk(chunk);
}

void ZelManagerPackageDownloader::onDownloadProgress(qint64 received, qint64 total)
{
    setProgress(total > 0 ? int(received * 100 / total) : 0);
    emit bytesReceived(received, total);
}

bool ZelManagerPackageDownloader::putChunk(const QByteArray &chunk)
{
    const int write = m_writeIndex.load(std::memory_order_relaxed);
    const int next = (write + 1) % ChunkSlots;
    int rounds = 0;
    while (next == m_readIndex.load(std::memory_order_acquire)) {
        if (m_stop || m_readerDone.load(std::memory_order_acquire))
            return false;
        backOff(rounds);
    }
    m_chunks[write] = chunk;
    m_writeIndex.store(next, std::memory_order_release);
    return true;
}

void ZelManagerPackageDownloader::endData()
{
    m_endOfData.store(true, std::memory_order_release);
}

ZelManagerPackageDownloader::TakeResult ZelManagerPackageDownloader::takeChunk(QByteArray *chunk)
{
    const int read = m_readIndex.load(std::memory_order_relaxed);
    int rounds = 0;
    while (read == m_writeIndex.load(std::memory_order_acquire)) {
        if (m_stop)
            return Stopped;
        // The last chunks are queued before the end is marked: look again.
        if (m_endOfData.load(std::memory_order_acquire) && read == m_writeIndex.load(std::memory_order_acquire))
            return EndOfData;
        backOff(rounds);
    }
    *chunk = std::move(m_chunks[read]);
    m_chunks[read] = QByteArray();
    m_readIndex.store((read + 1) % ChunkSlots, std::memory_order_release);
    return ChunkTaken;
}

la_ssize_t ZelManagerPackageDownloader::readCallback(struct archive *, void *client, const void **buffer)
{
    return static_cast<ZelManagerPackageDownloader *>(client)->readNext(buffer);
}

la_ssize_t ZelManagerPackageDownloader::readNext(const void **buffer)
{
    if (m_stop)
        return -1;
    if (m_sourceFile) {
        if (m_currentChunk.size() != int(FilePiece))
            m_currentChunk.resize(int(FilePiece));
        const qint64 got = m_sourceFile->read(m_currentChunk.data(), FilePiece);
        *buffer = m_currentChunk.constData();
        return got < 0 ? -1 : la_ssize_t(got);
    }
    switch (takeChunk(&m_currentChunk)) {
    case ChunkTaken:
        *buffer = m_currentChunk.constData();
        return m_currentChunk.size();
    case EndOfData:
        return 0;
    case Stopped:
        break;
    }
    return -1;
}

void ZelManagerPackageDownloader::run()
{
    m_readerError.clear();
    QFile source(m_cacheSource);
    if (!m_cacheSource.isEmpty()) {
        if (!source.open(QIODevice::ReadOnly)) {
            m_readerError = tr("Can not read %1").arg(m_cacheSource);
            m_readerDone = true;
            return;
        }
        m_sourceFile = &source;
    }
    struct archive *archive = archive_read_new();
    archive_read_support_format_tar(archive);
    archive_read_support_filter_lzma(archive);
    if (archive_read_open(archive, this, nullptr, readCallback, nullptr) == ARCHIVE_OK)
        readEntries(archive);
    else if (!m_stop)
        m_readerError = tr("Damaged package archive: %1").arg(ZelManagerArchiveEntry::errorText(archive));
    archive_read_free(archive);
    m_sourceFile = nullptr;
    // Whatever follows the archive's end (block padding) still has to pass,
    // so that the thread ends after the transfer has been checked.
    if (m_readerError.isEmpty() && m_cacheSource.isEmpty()) {
        while (takeChunk(&m_currentChunk) == ChunkTaken) { }
    }
    m_currentChunk = QByteArray();
    m_readerDone.store(true, std::memory_order_release);
}

void ZelManagerPackageDownloader::readEntries(struct archive *archive)
{
    QStringList files;
    struct archive_entry *entry = nullptr;
    int result = ARCHIVE_OK;
    while (!m_stop && (result = archive_read_next_header(archive, &entry)) == ARCHIVE_OK) {
        const QString raw = ZelManagerArchiveEntry::path(entry);
        if (ZelManagerTargetFolder::isUnsafeEntryPath(raw)) {
            m_readerError = tr("Unsafe path in package archive: %1").arg(raw);
            return;
        }
        // The clean form is the one the installer writes and records.
        const QString path = ZelManagerTargetFolder::entryPath(raw);
        if (path == QLatin1String("package.xml")) {
            if (!readControlFile(archive, entry))
                return;
        } else if (archive_entry_filetype(entry) == AE_IFREG && !archive_entry_hardlink(entry) && !path.isEmpty()) {
            files.append(path);
        }
    }
    if (m_stop)
        return;
    if (result != ARCHIVE_EOF) {
        m_readerError = tr("Damaged package archive: %1").arg(ZelManagerArchiveEntry::errorText(archive));
        return;
    }
    setFileEntries(files);
}

// A short read leaves the entry unread (the archive's end then tells the
// damage); an absurd size is damage at once.
bool ZelManagerPackageDownloader::readControlFile(struct archive *archive, struct archive_entry *entry)
{
    const la_int64_t size = archive_entry_size(entry);
    if (size > ControlFileLimit) {
        m_readerError = tr("Damaged package archive: %1").arg(tr("package.xml is too large"));
        return false;
    }
    QByteArray xml(int(qMax<la_int64_t>(0, size)), Qt::Uninitialized);
    la_ssize_t done = 0;
    while (done < xml.size()) {
        const la_ssize_t got = archive_read_data(archive, xml.data() + done, size_t(xml.size() - done));
        if (got <= 0)
            break;
        done += got;
    }
    if (done == xml.size())
        parseControlFile(xml);
    return true;
}

void ZelManagerPackageDownloader::parseControlFile(const QByteArray &xml)
{
    // The archive's control file names every script of this version.
    m_info.prerm.clear();
    m_info.postrm.clear();
    m_info.preinst.clear();
    m_info.postinst.clear();
    QXmlStreamReader reader(xml);
    if (!reader.readNextStartElement() || reader.name() != QLatin1String("package"))
        return;
    while (reader.readNextStartElement()) {
        const QStringRef name = reader.name();
        QString *script = name == QLatin1String("prerm") ? &m_info.prerm
            : name == QLatin1String("postrm")            ? &m_info.postrm
            : name == QLatin1String("preinst")           ? &m_info.preinst
            : name == QLatin1String("postinst")          ? &m_info.postinst
                                                         : nullptr;
        const bool isNofix = name == QLatin1String("nofix");
        if (!script && !isNofix) {
            reader.skipCurrentElement();
            continue;
        }
        const QString text = reader.readElementText();
        if (reader.hasError())
            return;
        if (script)
            *script = text;
        else
            m_nofixPatterns.append(text);
    }
}

void ZelManagerPackageDownloader::setFileEntries(const QStringList &files)
{
    QVector<QRegularExpression> patterns;
    for (const QString &pattern : qAsConst(m_nofixPatterns)) {
        // Anchored; "*" does not cross a "/".
        patterns.append(QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern)));
    }
    m_info.fileEntries.clear();
    for (const QString &file : files) {
        bool fix = true;
        for (const QRegularExpression &pattern : qAsConst(patterns)) {
            if (pattern.match(file).hasMatch()) {
                fix = false;
                break;
            }
        }
        m_info.fileEntries.insert(file, fix);
    }
}
