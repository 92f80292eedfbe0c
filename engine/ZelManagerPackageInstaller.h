#ifndef ZELMANAGERPACKAGEINSTALLER_H
#define ZELMANAGERPACKAGEINSTALLER_H

#include "database/PackageInfo.h"
#include "database/ZelManagerPackage.h"
#include "engine/MMd5SumCalculator.h"
#include "engine/ZelManagerTargetFolder.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMultiMap>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThread>

#include <archive.h>
#include <atomic>

class QFile;
class ZelManagerDatabase;
class ZelManagerOperationModel;
class ZelManagerPackageRemover;
class ZelManagerSettings;
struct ApplyContext;

// Installs one package version whose archive the downloader has verified
// into the cache folder. The preinst script runs on the GUI thread; the
// installer's own thread (run()) unpacks the archive's regular files below
// the target folder, relocating the build prefix in fix-enabled files
// (ZelManagerFixupStream) and compressing Info manuals to ".info.gz"; then, back on the GUI thread, the
// triggers' installFile(), the postinst script and the database records
// follow. An upgrade or a reinstall first removes the installed version with
// a ZelManagerPackageRemover (without preinst).
//
// Nothing is ever written outside the target folder: entry paths that are
// absolute or climb with "..", and folders that a link leads elsewhere, make
// the package fail. A package fails (status Error, errors recorded, database
// unchanged) when its archive does not open or is damaged, or when a file
// could not be written ("Failed to install: %1"); files written so far stay.
//
// finished(bool) comes exactly once after execute(), after the installer has
// counted itself stopped in the context; the owner deletes it afterwards.
class ZelManagerPackageInstaller : public QThread
{
    Q_OBJECT

public:
    // The thread is parented to the context's operation model.
    ZelManagerPackageInstaller(ApplyContext *context, const QString &name);
    // Stops and waits for the unpacking thread (and a remover it started).
    ~ZelManagerPackageInstaller() override;

    QString name() const { return m_name; }

    // The gzip stream of data, one member named fileName; false on failure.
    static bool gzipCompress(const QByteArray &data, const QString &fileName, QByteArray *compressed);

    // Read after finished(): relative paths as written (each once), and those
    // of them not fixed up (exempt, unknown to the package, or too large).
    QStringList writtenFiles() const { return m_writtenFiles; }
    QStringList unfixedFiles() const { return m_unfixedFiles; }
    QStringList failedFiles() const { return m_failedFiles; }

signals:
    // True when the package is installed.
    void finished(bool ok);
    // Passed on to the remover of an upgrade or a reinstall.
    void cancelRequest();

public slots:
    void cancel();
    void execute();
    void onThreadFinished();
    void onRemoverFinished(bool ok);

protected:
    void run() override;

private:
    // The installer's lifecycle, each step entered once:
    //   Idle -> Preparing -> Unpacking -> Completing -> Finished
    //   Unpacking -> RemovingOldVersion -> Completing   (upgrade, reinstall)
    //   RemovingOldVersion -> Finished                  (switch failed)
    // Preparing sets the status, writes the journal entry and runs the
    // preinst script (not for an upgrade or reinstall), Unpacking is the
    // thread's run() (an upgrade's files are staged beside their targets),
    // RemovingOldVersion is the switch (the old version's prerm and
    // triggers, the staged files moved into place, old-only files deleted,
    // postrm), Completing calls the triggers, runs postinst and records the
    // package, or undoes a failed one. The installer is counted running in
    // the context in Preparing, Unpacking and Completing (the remover counts
    // itself during the switch); the transitions count it in and out.
    // finished(bool) is emitted on entering Finished.
    enum class State { Idle, RemovingOldVersion, Preparing, Unpacking, Completing, Finished };

    void setState(State next);
    static bool canMove(State from, State to);
    static bool isCounted(State state);
    void startUnpacking();
    void beginJournal();
    void endJournal();
    void startSwitch();
    void complete();
    void finish(bool ok);
    QString writtenPath(const QString &target) const;
    void finishLater();
    void reportErrors();
    void markDamaged(const QString &detail);
    void skipEntry(const QString &path, bool link);
    QString skippedEntriesText() const;
    void callTriggers();
    bool recordInstallation();
    void removeEmptiedFolders();
    void setStatus(PackageStatus status, const QString &message = QString());
    void setProgress(int value);

    // Worker thread.
    static la_ssize_t readCallback(struct archive *archive, void *client, const void **buffer);
    la_ssize_t readNext(const void **buffer);
    void unpackEntries(struct archive *archive);
    bool installEntry(struct archive *archive, struct archive_entry *entry, const QString &path);
    bool readEntryData(struct archive *archive, qint64 size, QByteArray *data);
    bool streamEntry(struct archive *archive, const QString &path, qint64 time, bool fix);
    bool writeFile(const QString &path, const QByteArray &data, qint64 time);
    void noteWritten(const QString &entry, const QString &path, bool fixedUp);
    void reportProgress();
    bool readToEnd();
    void checkArchiveSum();
    void removeWrittenFiles();

    QFile *m_archiveFile = nullptr;
    QString m_name;
    QString m_archivePath;
    qint64 m_archiveSize = 0;
    qint64 m_position = 0;
    QString m_buildPrefix;
    QString m_installFolder;
    QElapsedTimer m_progressTimer;
    QStringList m_writtenFiles;
    QStringList m_unfixedFiles;
    QStringList m_failedFiles;
    ApplyContext *m_context;
    ZelManagerPackage m_package;
    PackageInfo m_info;
    ZelManagerSettings *m_settings;
    ZelManagerDatabase *m_database;
    ZelManagerOperationModel *m_model;
    // The stop request is no step of the lifecycle: it comes at any step
    // from the GUI thread, the unpacking thread reads it, and each step
    // looks at it where it decides.
    std::atomic<bool> m_stop { false };
    QMultiMap<int, QString> m_triggerFiles; // TriggerType -> relative path
    QByteArray m_readBuffer;
    MMd5SumCalculator m_md5; // of the bytes read from the archive file
    QByteArray m_pieceBuffer; // entry data on its way to a file

    // Worker thread; read by the GUI thread once the thread has ended.
    QString m_archiveError;
    bool m_archiveDamaged = false;
    int m_skippedLinks = 0;
    int m_skippedOthers = 0;
    QStringList m_unsafePaths;
    QByteArray m_oldPrefix; // UTF-8
    QByteArray m_newPrefix;
    ZelManagerTargetFolder m_target; // the install folder
    QSet<QString> m_written; // the written files, for lookups
    QSet<QString> m_unfixedEntries; // archive paths of the unfixed files

    // An upgrade or reinstall of an installed version: staged, then switched.
    bool m_replacing = false;
    PackageInfo m_oldInfo;
    QStringList m_leftOldFiles; // of the old version, not deleted by the switch
    QString m_oldVersion;
    bool m_journaled = false;
    QString m_journalError;

    QPointer<ZelManagerPackageRemover> m_remover;
    QStringList m_removedFolders; // of the version that an upgrade removed
    State m_state = State::Idle;
};

#endif // ZELMANAGERPACKAGEINSTALLER_H
