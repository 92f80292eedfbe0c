#ifndef ZELMANAGERPACKAGEDOWNLOADER_H
#define ZELMANAGERPACKAGEDOWNLOADER_H

#include "database/PackageInfo.h"
#include "database/ZelManagerPackage.h"
#include "engine/MMd5SumCalculator.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QThread>

#include <archive.h>
#include <atomic>

class QFile;
class QNetworkReply;
class QUrl;
class ZelManagerDatabase;
class ZelManagerOperationModel;
class ZelManagerSettings;
struct ApplyContext;

// Fetches the archive of one package version into the cache folder, proves it
// with the MD5 sum of the repository index, and reads it as an archive in its
// own thread (run()) to learn the maintainer scripts, the regular files and
// their fix flags. On success the PackageInfo waits in the context for the
// installer and the status is Downloaded; otherwise one error is recorded.
//
// The received bytes go through the GUI thread once: written to a part file,
// hashed, and handed to the reader through a ring of 17 chunk slots (at most
// 16 waiting), a single-producer single-consumer queue without a lock. The
// GUI thread writes the slots and the write index, the reader reads the
// slots and the read index; each side backs off (yield, then short sleeps)
// while the ring is full or empty. When the transfer has ended the GUI thread
// marks the end of the data, so a reader that wants more than arrived (a cut
// or damaged archive) ends with an error instead of waiting. A verified cache
// file is read by the reader itself, piece by piece.
//
// The reader keeps taking chunks until the end of the data even after the
// archive's end, so the thread ends only after the MD5 check and the commit
// (or after a failure or cancel()).
class ZelManagerPackageDownloader : public QThread
{
    Q_OBJECT

public:
    // The thread is parented to the context's operation model.
    ZelManagerPackageDownloader(ApplyContext *context, const QString &name);
    ~ZelManagerPackageDownloader() override;

    QString name() const { return m_name; }

    // Reuses a verified cache file or starts the transfer. Called once, right
    // after construction; finished(bool) follows in every case.
    void execute();

    // A transfer that receives nothing for this long fails (60 s by default).
    static void setTransferTimeout(int milliseconds);
    static int transferTimeout();

    // "Conflicts encountered:", then a line for each (file, owning package).
    static QString conflictText(const QList<QPair<QString, QString>> &found);

signals:
    // True when the package is downloaded, verified and free of conflicts
    // with packages outside the run (those within it are the download
    // manager's to decide).
    void finished(bool ok);
    // Bytes of the archive received so far and its size (-1 while unknown);
    // not emitted for a verified cache file.
    void bytesReceived(qint64 received, qint64 total);

public slots:
    void cancel();
    void onThreadFinished();
    void onDownloadError();
    void onDownloadFinished();
    void onDownloadDataAvailable(qint64 count);
    void onDownloadProgress(qint64 received, qint64 total);

protected:
    void run() override;

private:
    enum { ChunkSlots = 17 };
    enum TakeResult { ChunkTaken, EndOfData, Stopped };

    bool cachedFileMatches(const QString &path) const;
    bool startTransfer(const QString &path, const QUrl &url);
    void failBeforeStart(const QString &text);
    void failTransfer(const QString &text, bool abort = true);
    void dropTransfer(bool abort = true);
    bool commitTransfer();
    // Where a transfer writes until the archive is proved.
    static QString partFilePath(const QString &cachePath);
    bool transferIsComplete() const;
    void setStatus(PackageStatus status);
    void setProgress(int value);
    QList<QPair<QString, QString>> conflicts() const;

    // GUI thread side of the ring.
    bool putChunk(const QByteArray &chunk);
    void endData();
    // Reader thread side.
    TakeResult takeChunk(QByteArray *chunk);
    static la_ssize_t readCallback(struct archive *archive, void *client, const void **buffer);
    la_ssize_t readNext(const void **buffer);
    void readEntries(struct archive *archive);
    bool readControlFile(struct archive *archive, struct archive_entry *entry);
    void parseControlFile(const QByteArray &xml);
    void setFileEntries(const QStringList &files);

    QString m_name;
    QString m_errorText; // GUI thread; the first failure writes it
    QByteArray m_currentChunk; // reader: what libarchive is reading from
    QStringList m_nofixPatterns; // reader
    QByteArray m_chunks[ChunkSlots];
    std::atomic<int> m_readIndex { 0 };
    std::atomic<int> m_writeIndex { 0 };
    QFile *m_saveFile = nullptr; // the part file while a transfer runs
    QString m_cachePath; // where it goes when proved
    QNetworkReply *m_reply = nullptr;
    ApplyContext *m_context;
    ZelManagerPackage m_package;
    PackageInfo m_info;
    ZelManagerSettings *m_settings;
    ZelManagerDatabase *m_database;
    ZelManagerOperationModel *m_model;
    MMd5SumCalculator m_md5;
    std::atomic<bool> m_stop { false };

    std::atomic<bool> m_endOfData { false }; // GUI: no chunk follows the queued ones
    std::atomic<bool> m_readerDone { false }; // reader: run() is leaving, stop queuing
    QString m_readerError; // reader; read by the GUI thread once the thread has ended
    QString m_cacheSource; // a verified cache file that the reader reads itself
    QFile *m_sourceFile = nullptr; // reader, open while run() reads m_cacheSource
    qint64 m_received = 0;
    bool m_finishing = false;

    static int s_transferTimeout;
};

#endif // ZELMANAGERPACKAGEDOWNLOADER_H
