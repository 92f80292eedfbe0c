#include "tools/ZelManagerFileCopierManager.h"

#include "tools/ZelManagerFileCopier.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>

namespace {

const int ReportMilliseconds = 100;

} // namespace

ZelManagerFileCopierManager::ZelManagerFileCopierManager(
    const QString &oldFolder, const QString &newFolder, QObject *parent)
    : QObject(parent)
    , m_oldFolder(oldFolder)
    , m_newFolder(newFolder)
    , m_timer(new QTimer(this))
{
    m_timer->setInterval(ReportMilliseconds);
    connect(m_timer, &QTimer::timeout, this, &ZelManagerFileCopierManager::reportProgress);
}

// The copiers read the list: none may outlive it.
ZelManagerFileCopierManager::~ZelManagerFileCopierManager()
{
    m_stop = true;
    for (ZelManagerFileCopier *copier : qAsConst(m_copiers))
        copier->wait();
}

void ZelManagerFileCopierManager::setPrefixes(const QByteArray &oldPrefix, const QByteArray &newPrefix)
{
    m_oldPrefix = oldPrefix;
    m_newPrefix = newPrefix;
}

void ZelManagerFileCopierManager::start()
{
    m_next = 0;
    m_done = 0;
    m_stop = false;
    m_failures.clear();
    const int count = qMin(qMax(1, QThread::idealThreadCount()), m_files.size());
    if (count == 0) {
        reportProgress();
        QTimer::singleShot(0, this, [this] { emit finished(true); });
        return;
    }
    m_timer->start();
    for (int i = 0; i < count; ++i) {
        auto *copier = new ZelManagerFileCopier(this);
        connect(copier, &QThread::finished, this, &ZelManagerFileCopierManager::onCopierFinished);
        m_copiers.append(copier);
        ++m_running;
        copier->start();
    }
}

bool ZelManagerFileCopierManager::exec()
{
    QEventLoop loop;
    bool result = false;
    connect(this, &ZelManagerFileCopierManager::finished, &loop, [&loop, &result](bool ok) {
        result = ok;
        loop.quit();
    });
    start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return result;
}

int ZelManagerFileCopierManager::takeFile()
{
    if (m_stop)
        return -1;
    const int index = m_next.fetch_add(1);
    return index < m_files.size() ? index : -1;
}

void ZelManagerFileCopierManager::fileDone(bool ok)
{
    if (!ok)
        m_stop = true;
    ++m_done;
}

void ZelManagerFileCopierManager::onCopierFinished()
{
    auto *copier = qobject_cast<ZelManagerFileCopier *>(sender());
    if (!copier || !m_copiers.contains(copier))
        return;
    copier->wait();
    m_failures += copier->failures();
    m_copiers.removeOne(copier);
    copier->deleteLater();
    if (--m_running > 0)
        return;
    m_timer->stop();
    reportProgress();
    emit finished(m_failures.isEmpty() && !m_stop && m_done == m_files.size());
}

void ZelManagerFileCopierManager::reportProgress()
{
    const int done = m_done;
    if (done == m_reported)
        return;
    m_reported = done;
    emit progress(done);
}
