#ifndef ZELMANAGERMIGRATION_H
#define ZELMANAGERMIGRATION_H

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMultiMap>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class ZelManagerInstallLock;
class ZelManagerSettings;

// Moves the installation to another install folder, as the target group of
// the preference panel asks for:
//
// - Switch: the installed packages are unregistered from the old folder
//   (pre-removal scripts and the triggers' removeFile() there) and the
//   settings point at the new folder, whose own packages (an installation
//   that is there already, or none) are then registered (the triggers'
//   installFile() and post-install scripts). Files stay where they are.
// - Migrate: the same, but first every file of the old folder is copied to
//   the new one, with the old installation path inside fix-enabled files
//   relocated; once the settings point at the copy, the old folder is
//   removed.
//
// Nothing is lost on the way: a new folder that is the old one, lies inside
// it or holds it is refused before anything happens, and so is a migration
// into a folder that already holds files. A copy that fails removes what it
// wrote and leaves the old installation as it was. Files of the old folder
// are deleted only after every file was copied and the settings switched,
// each only when its copy is in place; a running program is ended only for
// a file whose deletion failed.
//
// The installation's lock moves along: the new folder is locked before
// anything changes (another program holding it refuses the move), and the
// lock the program registered (ZelManagerInstallLock::current()) holds the
// new folder afterwards.
//
// One object per move. Each step announces itself with stepStarted() (a
// progress format and the number of items) and reports progress(); long
// loops let the event loop run every 100 milliseconds, without user input.
class ZelManagerMigration : public QObject
{
    Q_OBJECT

public:
    enum Mode { Switch = 1, Migrate = 2 };

    // newInstallPath: the install folder to move to ("/" separators).
    explicit ZelManagerMigration(const QString &newInstallPath, QObject *parent = nullptr);
    ~ZelManagerMigration() override;

    // Why the install folder can not be chosen for the architecture (too
    // long for the relocation in place, or a drive's root); empty when it
    // can. *allowed receives the longest install folder allowed.
    static QString folderRefusal(const QString &path, const QString &architecture, int *allowed = nullptr);
    // The longest install folder whose target folder the relocation can
    // still write in place.
    static int allowedLength(const QString &architecture);

    // Why the move can not be made in this mode; empty when it can.
    QString refusal(Mode mode) const;

    // Asked, after the settings have switched, before the old folder is
    // removed; false keeps the old folder. Without one the folder goes.
    void setRemovalConfirmation(const std::function<bool()> &confirm) { m_confirmRemoval = confirm; }

    // Runs every step of the mode. False when nothing was changed: the move
    // was refused or the copy failed (errorText() and errorDetails() say
    // why); the old installation is then as it was.
    bool run(Mode mode);
    QString errorText() const { return m_errorText; }
    QString errorDetails() const { return m_errorDetails; }
    // After a migration: files of the old folder that could not be removed
    // (relative to it), and whether the user kept the old folder.
    QStringList remainingFiles() const { return m_remainingFiles; }
    bool keptOldFolder() const { return m_keptOldFolder; }

    QString oldInstallPath() const { return m_oldInstallPath; }
    QString newInstallPath() const { return m_newInstallPath; }
    int fileCount() const { return m_files.size(); }
    int folderCount() const { return m_folders.size(); }

signals:
    // format: a progress bar format ("Copying files (%v/%m) ..."); maximum
    // 0 means busy.
    void stepStarted(const QString &format, int maximum);
    void progress(int value);

private:
    struct Script
    {
        QString package;
        QString text;
    };

    void collectInformation();
    void walkFolder(const QString &folder, bool list);
    void collectPackages(bool files);
    void collectArrival();
    bool prepareFolders();
    bool copyFiles();
    void removePartialCopy();
    void removeCreatedRoots();
    void runScripts(const QString &format, const QList<Script> &scripts);
    void runTriggers(bool adding);
    void switchSettings();
    void removeFiles();
    void removeFolders();
    void fail(const QString &text, const QString &details = QString());
    void startStep(const QString &format, int maximum);
    void step(int value);
    QString oldTarget() const;
    QString newTarget() const;

    ZelManagerSettings *m_settings;
    QString m_architecture;
    QString m_oldInstallPath;
    QString m_newInstallPath;
    QElapsedTimer m_clock;
    qint64 m_due = 0;
    QStringList m_files; // relative to the old install folder
    QStringList m_folders; // likewise, parents before children
    QStringList m_createdFolders; // of the new install folder, made by the move
    QStringList m_createdRoots; // the new folder and parents the move made, deepest first
    QHash<QString, bool> m_fixFiles; // relative to the install folder -> fix flag
    QList<Script> m_preRemovalScripts;
    QList<Script> m_postRemovalScripts;
    QList<Script> m_postInstallScripts;
    QMultiMap<int, QString> m_triggerFiles; // kind -> path below the architecture folder
    std::function<bool()> m_confirmRemoval;
    std::unique_ptr<ZelManagerInstallLock> m_newLock;
    QString m_errorText;
    QString m_errorDetails;
    QStringList m_remainingFiles;
    bool m_keptOldFolder = false;
};

#endif // ZELMANAGERMIGRATION_H
