#ifndef ZELMANAGERAPPLYPLAN_H
#define ZELMANAGERAPPLYPLAN_H

#include <QCoreApplication>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class ZelManagerDatabase;

// What the next apply run will do, from the requests the database holds:
// which packages are installed, upgraded, reinstalled and removed, which of
// them only because another package needs them (or depends on a removed
// one), how much is downloaded and how much disk space the installation
// folder's drive needs against what it has free.
//
// It also keeps the requests as they were before a command marked packages
// (snapshot()), so that a plan the user declines, or a dry run, puts every
// request back exactly (restore()).
//
// Sizes: the index names no sizes, so the archive size is asked from the
// repository (the file's size for a local one, a HEAD request's
// Content-Length over HTTP); an archive already in the cache is not
// downloaded. The archive size stands for the unpacked size. An unknown
// size counts as 0 and makes the figures lower bounds (hasUnknownSizes()).
class ZelManagerApplyPlan
{
    Q_DECLARE_TR_FUNCTIONS(ZelManagerApplyPlan)

public:
    enum Operation { Install, Upgrade, Reinstall, Remove };

    struct Entry
    {
        QString name;
        Operation operation = Install;
        bool automatic = false; // only because of another package
        QStringList requestedBy;
        QString installedVersion;
        QString newVersion; // the version installed by the run
        qint64 archiveSize = -1; // -1: unknown
        bool cached = false; // a verified download may already be in the cache
        qint64 installedSize = 0; // the files the run deletes or replaces
    };

    explicit ZelManagerApplyPlan(ZelManagerDatabase *database);

    // Remembers every package's request bits and requesters.
    void snapshot();
    // Puts the requests back as snapshot() found them (one batch); nothing
    // without a snapshot.
    void restore();

    // Reads the requests of the database.
    void build();
    // Finds the archive sizes (turning the event loop for HTTP requests,
    // each at most timeoutMs).
    void measure(int timeoutMs = 30000);

    QList<Entry> entries() const { return m_entries; }
    bool isEmpty() const { return m_entries.isEmpty(); }
    int count(Operation operation) const;

    qint64 downloadSize() const;
    // Bytes the run writes to the installation folder's drive (the
    // unpacked packages, and the downloads when the cache is on that drive).
    qint64 spaceNeeded() const;
    // Bytes of installed files that the run deletes or replaces.
    qint64 spaceFreed() const;
    qint64 freeSpace() const { return m_freeSpace; }
    QString drive() const { return m_drive; }
    bool hasUnknownSizes() const;
    // Whether the run fits the free space. Space freed by the run is not
    // counted: old files may go only after new ones are in place.
    bool fits() const { return m_freeSpace < 0 || spaceNeeded() <= m_freeSpace; }

    // The plan as shown before the run, ending with a line feed.
    QString text() const;

    static QString operationName(Operation operation);
    // 1536 -> "1.5 KiB".
    static QString sizeText(qint64 bytes);

private:
    struct Request
    {
        int bits = 0;
        QStringList requestedBy;
    };

    void measureLocal();
    void measureRemote(int timeoutMs);
    qint64 installedFilesSize(const QString &name) const;

    ZelManagerDatabase *m_database;
    QHash<QString, Request> m_snapshot;
    bool m_hasSnapshot = false;
    QList<Entry> m_entries;
    QHash<QString, QString> m_archiveUrls; // name -> archive URL still to measure
    qint64 m_freeSpace = -1;
    QString m_drive;
    bool m_cacheOnTargetDrive = false;
};

#endif // ZELMANAGERAPPLYPLAN_H
