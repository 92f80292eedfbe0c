#ifndef ZELMANAGERREPOSITORYUPDATER_H
#define ZELMANAGERREPOSITORYUPDATER_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QScopedPointer>
#include <QString>
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
// failed or short download, an answer that is not an index, or malformed XML
// leaves the repository's tables as they were and sets errorText(). The
// import runs in slices on the event loop (the GUI stays responsive) inside
// one savepoint of the repository's file, so the tables never hold half an
// index.
//
// Work runs Downloading -> Parsing -> Done; finished() comes once, after
// "Done", also after an error or a cancel. Not reusable: the owner deletes
// the updater after finished(). Note that progress() is both the query and,
// with an int argument, the signal: connect with
// QOverload<int>::of(&ZelManagerRepositoryUpdater::progress).
class ZelManagerRepositoryUpdater : public QObject
{
    Q_OBJECT

public:
    // db is the repository's open file; it is not owned and must outlive
    // the updater.
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

signals:
    void finished();
    void progress(int value);
    void workChanged(const QString &work);

public slots:
    // Aborts the download, or the import (the previous content stays).
    void cancel();
    void onDownloadError();
    void onDownloadFinished();
    void onDownloadReadyRead();
    void onDownloadProgress(qint64 received, qint64 total);

private slots:
    void importSlice();

private:
    bool downloadFailed(QNetworkReply *reply);
    void setWork(const QString &work);
    void finishImport();
    void finish();

    QUrl m_url;
    int m_progressValue = 0;
    QString m_work;
    sqlite3 *m_repositoryDb;
    QByteArray m_buffer;
    QElapsedTimer m_parseTimer;
    QString m_errorText;
    QPointer<QNetworkReply> m_reply;
    QScopedPointer<ZelManagerIndexImport> m_import;
    bool m_canceled = false;
    bool m_finished = false;
};

#endif // ZELMANAGERREPOSITORYUPDATER_H
