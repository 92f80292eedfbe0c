#ifndef ZELMANAGERRECOVERY_H
#define ZELMANAGERRECOVERY_H

#include "database/ZelManagerDatabase.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

// Puts right, at a start, what an ended process (killed, crashed, power cut)
// left half done: the packages that the database's journal names.
//
// - An installation is undone: the files it may have written (that no other
//   package records) are deleted and nothing of it is recorded.
// - An upgrade or reinstall still staging is undone: its staged files go;
//   the installed version stays as it was.
// - An upgrade or reinstall whose switch had begun is completed: the staged
//   files take their places, the old-only files go, and the new version is
//   recorded. Its scripts and triggers do not run again.
// - A removal is completed: the files still there go and the package is
//   recorded as removed.
//
// Run only by a program that holds the installation's lock, before anything
// else changes the installation. GUI thread (the database's thread).
class ZelManagerRecovery
{
    Q_DECLARE_TR_FUNCTIONS(ZelManagerRecovery)

public:
    // One sentence per package that was put right, for the user; empty when
    // the journal was empty. States are recomputed when anything was done.
    static QStringList recover(ZelManagerDatabase *database, const QString &targetPath);

private:
    ZelManagerRecovery(ZelManagerDatabase *database, const QString &targetPath);

    QString recoverEntry(const ZelManagerDatabase::JournalEntry &entry);
    QString undoInstallation(const ZelManagerDatabase::JournalEntry &entry);
    QString undoStaging(const ZelManagerDatabase::JournalEntry &entry);
    QString completeSwitch(const ZelManagerDatabase::JournalEntry &entry);
    QString completeRemoval(const ZelManagerDatabase::JournalEntry &entry);
    // Deletes the file (installed name) unless another package records it.
    void deleteFile(const QString &package, const QString &path);
    void removeEmptyFolders();

    ZelManagerDatabase *m_database;
    QString m_targetPath;
    QStringList m_folders;
};

#endif // ZELMANAGERRECOVERY_H
