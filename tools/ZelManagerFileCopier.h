#ifndef ZELMANAGERFILECOPIER_H
#define ZELMANAGERFILECOPIER_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QThread>

class QFile;
class QFileInfo;

class ZelManagerFileCopierManager;

// One copying thread of a ZelManagerFileCopierManager. It takes the next
// file from the manager's list until none is left (or one copy failed) and
// copies it from the old installation folder to the new one: the bytes, the
// permissions and the modification time, a link as a link. A file marked for
// fixing has the old installation path inside it relocated to the new one on
// the way, exactly as the installer relocated the build prefix (and, for a
// longer new path, into the padding that relocation left).
//
// A file is only ever created, never written over: the new folder holds
// nothing but what the copiers wrote.
class ZelManagerFileCopier : public QThread
{
    Q_OBJECT

public:
    explicit ZelManagerFileCopier(ZelManagerFileCopierManager *manager);

    // Read after the thread has finished: "path: reason" per failed file.
    QStringList failures() const { return m_failures; }

    // Copies one file; false with the reason in *error.
    static bool copyFile(const QString &source, const QString &target, bool fix, const QByteArray &oldPrefix,
        const QByteArray &newPrefix, QString *error);

    // Relocates to a longer path in place: the installer padded every path
    // it relocated (blanks or zero bytes after it, up to the length of the
    // build prefix), so a path may grow into its own padding. An occurrence
    // whose path is not followed by enough padding stays as it is. Returns
    // the number relocated.
    static int growPaths(QByteArray &data, const QByteArray &oldPrefix, const QByteArray &newPrefix);

protected:
    void run() override;

private:
    static bool copyInKernel(QFile &in, QFile &out, qint64 size);
    static bool copyWhole(
        QFile &in, QFile &out, const QByteArray &oldPrefix, const QByteArray &newPrefix, QString *error);
    static bool finishFile(QFile &out, const QFileInfo &info, QString *error);
    static bool copyLink(const QString &source, const QString &target, QString *error);

    ZelManagerFileCopierManager *m_manager;
    QStringList m_failures;
};

#endif // ZELMANAGERFILECOPIER_H
