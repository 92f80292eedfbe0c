#include "ZelManagerRepositoryUpdater.h"

#include "ZelManagerDatabase.h"
#include "ZelManagerIndexImport.h"
#include "ZelManagerSettings.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace {

// Longest stretch the import keeps the event loop waiting.
const int SliceMs = 40;
// Shortest interval between two progress reports while importing.
const int ProgressIntervalMs = 100;
// Largest index whose announced size is reserved at once.
const qint64 ReserveLimit = qint64(1) << 30;

} // namespace

ZelManagerRepositoryUpdater::ZelManagerRepositoryUpdater(sqlite3 *db)
    : m_repositoryDb(db)
{
}

// A running download is dropped without being reported; an unfinished
// import rolls back.
ZelManagerRepositoryUpdater::~ZelManagerRepositoryUpdater()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

QUrl ZelManagerRepositoryUpdater::indexUrl(const QUrl &repository)
{
    return QUrl(repository.toString() + QStringLiteral("/packages.xml"));
}

bool ZelManagerRepositoryUpdater::start(const QUrl &url)
{
    m_progressValue = 0;
    if (m_reply || m_import)
        return false;
    QNetworkRequest request(indexUrl(url));
    // A repository moved to another address (http to https, say) is followed.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply *reply = ZelManagerDatabase::networkAccessManager()->get(request);
    if (!reply)
        return false;
    m_reply = reply;
    m_url = url;
    m_buffer.clear();
    m_errorText.clear();
    m_canceled = false;
    m_finished = false;
    connect(reply, &QNetworkReply::finished, this, &ZelManagerRepositoryUpdater::onDownloadFinished);
    connect(reply, &QNetworkReply::readyRead, this, &ZelManagerRepositoryUpdater::onDownloadReadyRead);
    connect(reply, &QNetworkReply::downloadProgress, this, &ZelManagerRepositoryUpdater::onDownloadProgress);
    connect(reply, &QNetworkReply::errorOccurred, this, &ZelManagerRepositoryUpdater::onDownloadError);
    setWork(tr("Downloading"));
    return true;
}

void ZelManagerRepositoryUpdater::cancel()
{
    m_canceled = true;
    if (m_reply) {
        m_reply->abort();
    } else if (m_import && m_import->state() == ZelManagerIndexImport::Running) {
        m_import->abort(tr("The update was canceled."));
        finishImport();
    }
}

void ZelManagerRepositoryUpdater::onDownloadError()
{
    if (m_reply)
        m_errorText = m_reply->errorString();
}

void ZelManagerRepositoryUpdater::onDownloadReadyRead()
{
    if (m_reply)
        m_buffer.append(m_reply->readAll());
}

void ZelManagerRepositoryUpdater::onDownloadProgress(qint64 received, qint64 total)
{
    if (total > 0 && total <= ReserveLimit && m_buffer.capacity() < total)
        m_buffer.reserve(int(total));
    m_progressValue = total > 0 ? int(received * 100 / total) : -1;
    emit progress(m_progressValue);
}

void ZelManagerRepositoryUpdater::onDownloadFinished()
{
    QNetworkReply *reply = m_reply;
    if (!reply)
        return;
    m_progressValue = 0;
    m_buffer.append(reply->readAll());
    const bool failed = downloadFailed(reply);
    reply->disconnect(this);
    reply->deleteLater();
    m_reply = nullptr;
    if (failed) {
        // The repository keeps what it offered before.
        m_buffer.clear();
        finish();
        return;
    }
    setWork(tr("Parsing"));
    m_parseTimer.start();
    m_import.reset(new ZelManagerIndexImport(m_repositoryDb, m_buffer));
    QTimer::singleShot(0, this, &ZelManagerRepositoryUpdater::importSlice);
}

// Qt now and then reports a connection cut before the announced length as a
// success with a short body: that is a failed download too.
bool ZelManagerRepositoryUpdater::downloadFailed(QNetworkReply *reply)
{
    if (m_canceled) {
        m_errorText = tr("The update was canceled.");
        return true;
    }
    if (reply->error() != QNetworkReply::NoError) {
        if (m_errorText.isEmpty())
            m_errorText = reply->errorString();
        return true;
    }
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && m_buffer.size() < length.toLongLong()) {
        m_errorText = tr("The download of %1 ended after %2 of %3 bytes.")
                          .arg(reply->url().toString())
                          .arg(m_buffer.size())
                          .arg(length.toLongLong());
        return true;
    }
    return false;
}

void ZelManagerRepositoryUpdater::importSlice()
{
    if (!m_import || m_import->state() != ZelManagerIndexImport::Running)
        return;
    if (m_import->step(SliceMs) != ZelManagerIndexImport::Running) {
        finishImport();
        return;
    }
    if (m_parseTimer.elapsed() >= ProgressIntervalMs) {
        m_parseTimer.restart();
        m_progressValue = m_import->progress();
        emit progress(m_progressValue);
    }
    QTimer::singleShot(0, this, &ZelManagerRepositoryUpdater::importSlice);
}

void ZelManagerRepositoryUpdater::finishImport()
{
    if (m_import->state() == ZelManagerIndexImport::Failed)
        m_errorText = m_import->errorText();
    m_import.reset();
    m_buffer.clear();
    m_buffer.squeeze();
    finish();
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

ZelManagerRepositoryUpdater *ZelManagerDatabase::createUpdater(const QUrl &url)
{
    sqlite3 *db = m_repositoryDbs.value(url);
    if (!db || !m_settings->isRepositoryEnabled(url))
        return nullptr;
    ZelManagerRepositoryUpdater *updater = new ZelManagerRepositoryUpdater(db);
    if (!updater->start(url)) {
        delete updater;
        return nullptr;
    }
    return updater;
}
