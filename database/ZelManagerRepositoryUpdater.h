#ifndef ZELMANAGERREPOSITORYUPDATER_H
#define ZELMANAGERREPOSITORYUPDATER_H

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QScopedPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

class QNetworkReply;
class ZelManagerIndexImport;
struct sqlite3;

// Fetches one repository's "packages.xml" (over HTTP or from a file URL,
// through the database's network access manager) and replaces the content of
// that repository's file with the packages, versions, categories and
// dependencies it lists.
//
// The previous content is replaced only by a complete, well-formed index: a
// failed or short download, an answer that is not an index, malformed XML or
// a cancel leaves the repository's tables exactly as they were and sets
// errorText(). The index is imported into a new file by a worker thread (the
// GUI keeps turning), which then takes the place of the repository's file at
// once; the tables never hold half an index.
//
// Work runs Downloading -> Parsing -> Done (a failed download goes straight
// to Done); finished() comes once, after "Done", also after an error or a
// cancel. Not reusable: the owner deletes
// the updater after finished(). Note that progress() is both the query and,
// with an int argument, the signal: connect with
// QOverload<int>::of(&ZelManagerRepositoryUpdater::progress).
class ZelManagerRepositoryUpdater : public QObject
{
    Q_OBJECT

public:
    // db is the repository's open file; it is not owned. When it is the
    // package database's own handle of the repository, the database reopens
    // the replaced file; any other handle gets the new rows copied in.
    explicit ZelManagerRepositoryUpdater(sqlite3 *db);
    ~ZelManagerRepositoryUpdater() override;

    // Starts the download of url's index; false when a download is already
    // running or no request could be made.
    bool start(const QUrl &url);

    // The repository's index: its URL followed by "/packages.xml" (a URL
    // ending in "/" gives "//packages.xml").
    static QUrl indexUrl(const QUrl &repository);

    QUrl url() const { return m_url; }
    // Percentage for the update list; -1 while the total is unknown.
    int progress() const { return m_progressValue; }
    // "Downloading", "Parsing" or "Done", translated.
    QString work() const { return m_work; }
    // Why the last run did not replace the repository's content; empty after
    // a successful import.
    QString errorText() const { return m_errorText; }
    // Packages the last import stored.
    int packageCount() const { return m_packageCount; }

signals:
    void finished();
    void progress(int value);
    void workChanged(const QString &work);

public slots:
    // Aborts the download or the import; the previous content stays.
    void cancel();
    void onDownloadError();
    void onDownloadFinished();
    void onDownloadReadyRead();
    void onDownloadProgress(qint64 received, qint64 total);

private slots:
    void onReadMore();
    void onImportProgress();
    void onImportFinished();

private:
    bool readSlice();
    bool store(const char *data, qint64 size);
    void removeSpool();
    void scheduleRead();
    bool downloadFailed(QNetworkReply *reply);
    void startImport();
    bool installImport();
    bool replaceDatabaseFile();
    bool copyIntoHandle();
    void setWork(const QString &work);
    void finish();

    QUrl m_url;
    int m_progressValue = 0;
    QString m_work;
    sqlite3 *m_repositoryDb;
    // The index is kept on disk while it downloads and is read from there:
    // tens of megabytes never sit in memory.
    QFile m_spool;
    qint64 m_received = 0;
    QString m_storeError;
    bool m_abortRequested = false;
    QTimer m_progressTimer;
    QString m_errorText;
    QPointer<QNetworkReply> m_reply;
    QScopedPointer<ZelManagerIndexImport> m_import;
    QString m_targetFile; // the database's file of the repository
    QString m_importFile; // the new file being built
    bool m_ownedByDatabase = false;
    bool m_canceled = false;
    bool m_finished = false;
    bool m_replyFinished = false;
    bool m_readScheduled = false;
    bool m_tooLarge = false;
    int m_packageCount = 0;
};

#endif // ZELMANAGERREPOSITORYUPDATER_H
