#include "database/ZelManagerRepositoryUpdater.h"

#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerIndexImport.h"
#include "database/ZelManagerSql.h"
#include "engine/ZelManagerTargetFolder.h"
#include "settings/ZelManagerSettings.h"

#include <QAtomicInt>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSet>
#include <QThread>

#include <sqlite3.h>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

// Shortest interval between two progress reports while importing.
const int ProgressIntervalMs = 100;
// Largest index taken (an index of 60,000 packages has about 70 MB).
const qint64 SizeLimit = qint64(1) << 30;
// Most bytes taken from the reply (and written to the spool) before the
// event loop gets a turn.
const qint64 ReadSliceBytes = 2 << 20;
// A server that sends nothing for this long has failed.
const int TransferTimeoutMs = 60000;

// The new files being built by this process's updaters; any other file of
// that name was left by an update that never ended.
QSet<QString> &activeImports()
{
    static QSet<QString> files;
    return files;
}

void removeStaleImports(const QString &target)
{
    const QFileInfo info(target);
    const QStringList names
        = info.dir().entryList({ info.fileName() + QStringLiteral(".import-*") }, QDir::Files | QDir::Hidden);
    for (const QString &name : names) {
        const QString file = info.dir().filePath(name);
        if (!activeImports().contains(file))
            QFile::remove(file);
    }
}

// Gives the file at from a second name, to; false where the file system has
// no hard links.
bool linkFile(const QString &from, const QString &to)
{
#ifdef Q_OS_WIN
    return CreateHardLinkW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(to).utf16()),
        reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(from).utf16()), nullptr);
#else
    return ::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

void removeInBackground(const QString &file)
{
    QThread *remover = QThread::create([file]() { QFile::remove(file); });
    QObject::connect(remover, &QThread::finished, remover, &QObject::deleteLater);
    remover->start();
}

// An import that has sent finished() may still be winding its thread down:
// it is deleted once the thread has ended, instead of being waited for.
void deleteWhenEnded(ZelManagerIndexImport *import)
{
    if (import->wait(0))
        delete import;
    else
        QTimer::singleShot(1, [import]() { deleteWhenEnded(import); });
}

// Copies every row of table from source into target; both have the
// program's repository tables.
bool copyTable(sqlite3 *source, sqlite3 *target, const char *table, int columns)
{
    const QByteArray select = QByteArray("SELECT * FROM ") + table + ';';
    QByteArray insert = QByteArray("INSERT INTO ") + table + " VALUES(?";
    insert += QByteArray(",?").repeated(columns - 1) + ");";
    sqlite3_stmt *rows = nullptr;
    sqlite3_stmt *row = nullptr;
    bool ok = sqlite3_prepare_v2(source, select.constData(), -1, &rows, nullptr) == SQLITE_OK
        && sqlite3_prepare_v2(target, insert.constData(), -1, &row, nullptr) == SQLITE_OK;
    while (ok && sqlite3_step(rows) == SQLITE_ROW) {
        for (int column = 0; column < columns; ++column)
            sqlite3_bind_value(row, column + 1, sqlite3_column_value(rows, column));
        ok = sqlite3_step(row) == SQLITE_DONE;
        sqlite3_reset(row);
    }
    sqlite3_finalize(rows);
    sqlite3_finalize(row);
    return ok;
}

} // namespace

ZelManagerRepositoryUpdater::ZelManagerRepositoryUpdater(sqlite3 *db)
    : m_repositoryDb(db)
{
    m_progressTimer.setInterval(ProgressIntervalMs);
    connect(&m_progressTimer, &QTimer::timeout, this, &ZelManagerRepositoryUpdater::onImportProgress);
}

// A running download is dropped without being reported; a running import
// stops and leaves the repository as it was.
ZelManagerRepositoryUpdater::~ZelManagerRepositoryUpdater()
{
    m_import.reset();
    activeImports().remove(m_importFile);
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
    removeSpool();
}

QUrl ZelManagerRepositoryUpdater::indexUrl(const QUrl &repository)
{
    return QUrl(repository.toString() + QStringLiteral("/packages.xml"));
}

bool ZelManagerRepositoryUpdater::start(const QUrl &url)
{
    m_progressValue = 0;
    if (m_reply || m_import || !m_repositoryDb)
        return false;
    QNetworkRequest request(indexUrl(url));
    // A repository moved to another address (http to https, say) is followed.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(TransferTimeoutMs);
    QNetworkReply *reply = ZelManagerDatabase::networkAccessManager()->get(request);
    if (!reply)
        return false;
    m_reply = reply;
    m_url = url;
    // The database's handle may be replaced (by another updater of the same
    // repository) before this one ends: only its file name is kept.
    const ZelManagerDatabase *database = ZelManagerDatabase::s_instance;
    m_ownedByDatabase = database && database->m_repositoryDbs.value(url) == m_repositoryDb;
    m_targetFile = m_ownedByDatabase ? database->repositoryPath(url) : QString();
    // Beside the repository's file, where the import's file is built too; a
    // spool left by a process that ended goes with the stale imports.
    const QString base
        = m_ownedByDatabase ? m_targetFile : QDir::temp().filePath(QStringLiteral("zelmanager-index.db"));
    removeSpool();
    m_spool.setFileName(base + QStringLiteral(".import-%1.xml").arg(quintptr(this), 0, 16));
    activeImports().insert(m_spool.fileName());
    m_received = 0;
    m_storeError.clear();
    m_abortRequested = false;
    m_errorText.clear();
    m_canceled = false;
    m_finished = false;
    m_replyFinished = false;
    m_tooLarge = false;
    connect(reply, &QNetworkReply::finished, this, &ZelManagerRepositoryUpdater::onDownloadFinished);
    connect(reply, &QNetworkReply::readyRead, this, &ZelManagerRepositoryUpdater::onDownloadReadyRead);
    connect(reply, &QNetworkReply::downloadProgress, this, &ZelManagerRepositoryUpdater::onDownloadProgress);
    connect(reply, &QNetworkReply::errorOccurred, this, &ZelManagerRepositoryUpdater::onDownloadError);
    setWork(tr("Downloading"));
    return true;
}

void ZelManagerRepositoryUpdater::cancel()
{
    if (m_finished)
        return;
    m_canceled = true;
    if (m_reply)
        m_reply->abort();
    else if (m_import)
        m_import->stop();
}

void ZelManagerRepositoryUpdater::onDownloadError()
{
    if (m_reply)
        m_errorText = m_reply->errorString();
}

void ZelManagerRepositoryUpdater::onDownloadReadyRead()
{
    if (m_reply && !readSlice())
        scheduleRead();
}

void ZelManagerRepositoryUpdater::onDownloadProgress(qint64 received, qint64 total)
{
    m_progressValue = total > 0 ? int(received * 100 / total) : -1;
    emit progress(m_progressValue);
}

// Takes at most ReadSliceBytes from the reply into the spool (a local index
// arrives all at once); true when nothing is left.
bool ZelManagerRepositoryUpdater::readSlice()
{
    char chunk[64 * 1024];
    qint64 budget = ReadSliceBytes;
    while (budget > 0 && m_reply->bytesAvailable() > 0 && m_storeError.isEmpty()) {
        const qint64 wanted = qMin(qMin<qint64>(sizeof chunk, budget), SizeLimit - m_received);
        if (wanted <= 0)
            break;
        const qint64 read = m_reply->read(chunk, wanted);
        if (read <= 0 || !store(chunk, read))
            break;
        budget -= read;
    }
    if (m_received < SizeLimit && m_storeError.isEmpty())
        return m_reply->bytesAvailable() <= 0;
    // Whatever a server sends beyond that is not kept, nor waited for.
    if (!m_abortRequested) {
        m_abortRequested = true;
        m_tooLarge = m_storeError.isEmpty();
        QMetaObject::invokeMethod(m_reply, &QNetworkReply::abort, Qt::QueuedConnection);
    }
    return true;
}

bool ZelManagerRepositoryUpdater::store(const char *data, qint64 size)
{
    if (!m_spool.isOpen() && !m_spool.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_storeError = m_spool.errorString();
        return false;
    }
    if (m_spool.write(data, size) != size) {
        m_storeError = m_spool.errorString();
        return false;
    }
    m_received += size;
    return true;
}

// Deleting a spool of tens of megabytes keeps the system busy for tens of
// milliseconds: it is renamed out of the way at once (a new spool may take
// its name) and deleted by a short-lived thread. A process that ends first
// leaves it to the next update's removal of stale imports.
void ZelManagerRepositoryUpdater::removeSpool()
{
    m_spool.close();
    const QString spool = m_spool.fileName();
    if (spool.isEmpty())
        return;
    static QAtomicInt removals;
    const QString doomed = spool + QStringLiteral(".removed-%1").arg(removals.fetchAndAddRelaxed(1));
    if (QFile::exists(spool) && QFile::rename(spool, doomed))
        removeInBackground(doomed);
    else
        QFile::remove(spool);
    activeImports().remove(spool);
}

void ZelManagerRepositoryUpdater::scheduleRead()
{
    if (!m_readScheduled) {
        m_readScheduled = true;
        QTimer::singleShot(0, this, &ZelManagerRepositoryUpdater::onReadMore);
    }
}

void ZelManagerRepositoryUpdater::onReadMore()
{
    m_readScheduled = false;
    if (!m_reply)
        return;
    if (!readSlice())
        scheduleRead();
    else if (m_replyFinished)
        onDownloadFinished();
}

void ZelManagerRepositoryUpdater::onDownloadFinished()
{
    QNetworkReply *reply = m_reply;
    if (!reply)
        return;
    m_replyFinished = true;
    if (!readSlice()) {
        scheduleRead();
        return;
    }
    m_progressValue = 0;
    const bool failed = downloadFailed(reply);
    reply->disconnect(this);
    reply->deleteLater();
    m_reply = nullptr;
    if (!failed && !m_spool.isOpen() && !m_spool.open(QIODevice::WriteOnly | QIODevice::Truncate))
        m_storeError = m_spool.errorString(); // an empty index
    if (!failed && m_spool.isOpen() && !m_spool.flush())
        m_storeError = m_spool.errorString();
    m_spool.close();
    if (failed || !m_storeError.isEmpty()) {
        if (!m_storeError.isEmpty() && !m_canceled)
            m_errorText = tr("The index cannot be stored in %1: %2")
                              .arg(QDir::toNativeSeparators(m_spool.fileName()), m_storeError);
        removeSpool();
        finish();
        return;
    }
    setWork(tr("Parsing"));
    startImport();
}

// Qt now and then reports a connection cut before the announced length as a
// success with a short body: that is a failed download too.
bool ZelManagerRepositoryUpdater::downloadFailed(QNetworkReply *reply)
{
    if (m_canceled) {
        m_errorText = tr("The update was canceled.");
        return true;
    }
    if (!m_storeError.isEmpty())
        return true;
    if (m_tooLarge) {
        m_errorText = tr("The index %1 is larger than %2 MB.").arg(reply->url().toString()).arg(SizeLimit >> 20);
        return true;
    }
    if (reply->error() == QNetworkReply::OperationCanceledError) {
        m_errorText
            = tr("%1 did not answer for %2 seconds.").arg(reply->url().toString()).arg(TransferTimeoutMs / 1000);
        return true;
    }
    if (reply->error() != QNetworkReply::NoError) {
        if (m_errorText.isEmpty())
            m_errorText = reply->errorString();
        return true;
    }
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && m_received < length.toLongLong()) {
        m_errorText = tr("The download of %1 ended after %2 of %3 bytes.")
                          .arg(reply->url().toString())
                          .arg(m_received)
                          .arg(length.toLongLong());
        return true;
    }
    return false;
}

// The new file lies next to the repository's file, so that it can take its
// place in one rename; a file of someone else's is filled from a temporary
// one.
void ZelManagerRepositoryUpdater::startImport()
{
    const QString suffix = QStringLiteral(".import-%1").arg(quintptr(this), 0, 16);
    if (m_ownedByDatabase) {
        removeStaleImports(m_targetFile);
        m_importFile = m_targetFile + suffix;
    } else {
        m_importFile = QDir::temp().filePath(QStringLiteral("zelmanager-index.db") + suffix);
    }
    activeImports().insert(m_importFile);
    m_import.reset(new ZelManagerIndexImport(m_spool.fileName(), m_importFile));
    connect(m_import.data(), &QThread::finished, this, &ZelManagerRepositoryUpdater::onImportFinished);
    m_import->start();
    m_progressTimer.start();
}

void ZelManagerRepositoryUpdater::onImportProgress()
{
    if (!m_import || m_import->progress() == m_progressValue)
        return;
    m_progressValue = m_import->progress();
    emit progress(m_progressValue);
}

void ZelManagerRepositoryUpdater::onImportFinished()
{
    m_progressTimer.stop();
    if (m_canceled)
        m_errorText = tr("The update was canceled.");
    else if (!m_import->succeeded())
        m_errorText = m_import->errorText();
    else if (installImport())
        m_packageCount = m_import->packageCount();
    deleteWhenEnded(m_import.take());
    activeImports().remove(m_importFile);
    removeSpool();
    finish();
}

bool ZelManagerRepositoryUpdater::installImport()
{
    return m_ownedByDatabase ? replaceDatabaseFile() : copyIntoHandle();
}

// The database's handle is closed, the new file renamed over the old one
// (one atomic step: the repository's file never goes missing) and opened; a
// batch running on the database goes on in it. The old file keeps a second
// name until then and is deleted by a short-lived thread: freeing tens of
// megabytes takes the system longer than the GUI may wait.
bool ZelManagerRepositoryUpdater::replaceDatabaseFile()
{
    ZelManagerDatabase *database = ZelManagerDatabase::s_instance;
    if (!database || !database->m_repositoryDbs.contains(m_url) || database->repositoryPath(m_url) != m_targetFile) {
        m_errorText = tr("The repository was closed during the update.");
        return false;
    }
    const QString &target = m_targetFile;
    const QString old = target + QStringLiteral(".old");
    database->closeDatabaseFile(database->m_repositoryDbs.take(m_url));
    // A journal left beside the old file must not be played into the new one.
    QFile::remove(target + QStringLiteral("-journal"));
    QFile::remove(old);
    const bool linked = linkFile(target, old);
    const bool moved = ZelManagerTargetFolder::replaceFile(m_import->fileName(), target);
    if (moved)
        m_import->takeFile();
    if (linked && moved)
        removeInBackground(old);
    else if (linked)
        QFile::remove(old);
    database->openRepository(m_url);
    m_repositoryDb = database->m_repositoryDbs.value(m_url);
    if (m_repositoryDb && database->m_inTransaction)
        ZelManagerSql::exec(m_repositoryDb, "begin transaction;");
    if (!moved || !m_repositoryDb) {
        m_errorText = tr("The repository's database %1 cannot be replaced.").arg(QDir::toNativeSeparators(target));
        return false;
    }
    return true;
}

// A handle of someone else's: the rows are copied in, inside a savepoint.
bool ZelManagerRepositoryUpdater::copyIntoHandle()
{
    sqlite3 *source = ZelManagerSql::open(m_import->fileName());
    bool ok = source && ZelManagerSql::exec(m_repositoryDb, "SAVEPOINT repository_import;") == SQLITE_OK;
    if (ok) {
        ok = ZelManagerSql::exec(m_repositoryDb,
                 "DELETE FROM infos;DELETE FROM filenames;DELETE FROM categories;DELETE FROM dependencies;")
                == SQLITE_OK
            && copyTable(source, m_repositoryDb, "infos", 3) && copyTable(source, m_repositoryDb, "filenames", 5)
            && copyTable(source, m_repositoryDb, "categories", 2)
            && copyTable(source, m_repositoryDb, "dependencies", 5);
        const char *end
            = ok ? "RELEASE repository_import;" : "ROLLBACK TO repository_import;RELEASE repository_import;";
        ZelManagerSql::exec(m_repositoryDb, end);
    }
    if (!ok)
        m_errorText = tr("The repository's database cannot be written: %1")
                          .arg(QString::fromUtf8(sqlite3_errmsg(m_repositoryDb)));
    ZelManagerSql::close(source);
    return ok;
}

void ZelManagerRepositoryUpdater::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_progressValue = 100;
    setWork(tr("Done"));
    emit finished();
}

void ZelManagerRepositoryUpdater::setWork(const QString &work)
{
    m_work = work;
    emit workChanged(m_work);
}
