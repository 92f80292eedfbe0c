#include "engine/ZelManagerInstallLock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <utility>

ZelManagerInstallLock::ZelManagerInstallLock(const QString &installPath)
    : m_path(lockFilePath(installPath))
{
}

ZelManagerInstallLock::~ZelManagerInstallLock() = default;

namespace {

ZelManagerInstallLock *s_current = nullptr;

} // namespace

ZelManagerInstallLock *ZelManagerInstallLock::current()
{
    return s_current;
}

void ZelManagerInstallLock::setCurrent(ZelManagerInstallLock *lock)
{
    s_current = lock;
}

void ZelManagerInstallLock::swap(ZelManagerInstallLock &other)
{
    std::swap(m_path, other.m_path);
    std::swap(m_lock, other.m_lock);
    std::swap(m_holderPid, other.m_holderPid);
    std::swap(m_holderName, other.m_holderName);
    std::swap(m_errorText, other.m_errorText);
    std::swap(m_heldElsewhere, other.m_heldElsewhere);
}

QString ZelManagerInstallLock::lockFilePath(const QString &installPath)
{
    return installPath + QStringLiteral("/pkgdb/zelmanager.lock");
}

bool ZelManagerInstallLock::tryLock()
{
    if (isLocked())
        return true;
    m_holderPid = 0;
    m_holderName.clear();
    m_errorText.clear();
    m_heldElsewhere = false;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    m_lock.reset(new QLockFile(m_path));
    // An apply run may take hours: only a dead holder makes a lock stale.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0))
        return true;
    QString host;
    m_heldElsewhere = m_lock->error() == QLockFile::LockFailedError;
    if (m_lock->error() == QLockFile::LockFailedError && m_lock->getLockInfo(&m_holderPid, &host, &m_holderName)) {
        m_errorText
            = QCoreApplication::translate("ZelManagerInstallLock", "The installation is in use by %1 (process %2).")
                  .arg(m_holderName.isEmpty() ? QStringLiteral("?") : m_holderName)
                  .arg(m_holderPid);
    } else if (m_lock->error() == QLockFile::LockFailedError) {
        m_errorText
            = QCoreApplication::translate("ZelManagerInstallLock", "The installation is in use by another program.");
    } else {
        m_errorText = QCoreApplication::translate("ZelManagerInstallLock", "Can not create the lock file %1.")
                          .arg(QDir::toNativeSeparators(m_path));
    }
    m_lock.reset();
    return false;
}

void ZelManagerInstallLock::unlock()
{
    if (m_lock)
        m_lock->unlock();
    m_lock.reset();
}

bool ZelManagerInstallLock::isLocked() const
{
    return m_lock && m_lock->isLocked();
}
