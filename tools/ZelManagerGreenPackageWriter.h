#ifndef ZELMANAGERGREENPACKAGEWRITER_H
#define ZELMANAGERGREENPACKAGEWRITER_H

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Writes a green package: a ZIP archive (libarchive's writer) of folder and
// file entries in the order given. A file entry takes its content from a
// file on disk or from data held in memory. Each entry carries its size,
// its times (last read; last modified, also as the change time; creation)
// and its permission bits; data entries and files whose times are unknown
// take the current time.
//
// The archive goes to a temporary file beside the target and replaces the
// target only when it is complete, so a failed or interrupted write leaves
// an existing file as it was. File data is streamed in blocks of 40960 bytes.
class ZelManagerGreenPackageWriter
{
    Q_DECLARE_TR_FUNCTIONS(ZelManagerToolsPanel)

public:
    struct Entry
    {
        QString name; // relative, "/" separators
        bool folder = false;
        QString sourcePath; // the file whose content goes in; empty: data
        QByteArray data;
    };
    // Before each file entry: its index among the files, their count, its name.
    using FileProgress = std::function<void(int index, int count, const QString &name)>;
    // After each block of file data (the window turns its event loop there).
    using BlockDone = std::function<void()>;

    enum { BlockSize = 40960 };

    void setFileProgress(const FileProgress &progress) { m_fileProgress = progress; }
    void setBlockDone(const BlockDone &blockDone) { m_blockDone = blockDone; }

    // False with errorText() when the archive could not be written; a source
    // file that cannot be opened is left out (skippedFiles()).
    bool write(const QString &fileName, const QList<Entry> &entries);

    QString errorText() const { return m_errorText; }
    // Entry names of the files left out of the last archive.
    QStringList skippedFiles() const { return m_skipped; }

    // QFile permission flags as Unix permission bits.
    static int unixPermissions(int permissions);

private:
    bool writeEntries(struct archive *archive, const QList<Entry> &entries);
    bool writeFile(struct archive *archive, const Entry &entry);
    bool writeHeader(struct archive *archive, struct archive_entry *header, const QString &name);

    FileProgress m_fileProgress;
    BlockDone m_blockDone;
    QString m_errorText;
    QStringList m_skipped;
};

#endif // ZELMANAGERGREENPACKAGEWRITER_H
