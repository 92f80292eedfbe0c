#ifndef ZELMANAGERINSTALLLOCK_H
#define ZELMANAGERINSTALLLOCK_H

#include <QLockFile>
#include <QString>

#include <memory>

// The install target's lock: the window and the command-line tool never
// apply operations to one installation at the same time. A lock file
// "zelmanager.lock" in the installation's "pkgdb" folder, held while a
// program changes the installation. A lock left by a process that has died
// is taken over; a lock of a living process is never broken, however old.
class ZelManagerInstallLock
{
public:
    // installPath: the settings' install path (the folder that holds "pkgdb").
    explicit ZelManagerInstallLock(const QString &installPath);
    ~ZelManagerInstallLock();
    ZelManagerInstallLock(const ZelManagerInstallLock &) = delete;
    ZelManagerInstallLock &operator=(const ZelManagerInstallLock &) = delete;

    static QString lockFilePath(const QString &installPath);

    // The lock the running program holds for its installation (the window
    // registers its own), so that a move of the installation can take it
    // along; nullptr when none is registered.
    static ZelManagerInstallLock *current();
    static void setCurrent(ZelManagerInstallLock *lock);
    // Exchanges what the two objects lock: the registered lock takes over a
    // lock taken on the new installation, and the other object now holds
    // the old one.
    void swap(ZelManagerInstallLock &other);
    QString path() const { return m_path; }

    // Takes the lock without waiting; false when another process holds it
    // (holderPid() says which) or the lock file cannot be written.
    bool tryLock();
    void unlock();
    bool isLocked() const;

    // After a failed tryLock(): the holder's process id (0 when unknown)
    // and program name.
    qint64 holderPid() const { return m_holderPid; }
    QString holderName() const { return m_holderName; }
    // After a failed tryLock(): another process holds the lock (rather than
    // the lock file being impossible to write).
    bool isHeldElsewhere() const { return m_heldElsewhere; }
    // Why tryLock() failed, translated.
    QString errorText() const { return m_errorText; }

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
    qint64 m_holderPid = 0;
    QString m_holderName;
    QString m_errorText;
    bool m_heldElsewhere = false;
};

#endif // ZELMANAGERINSTALLLOCK_H
