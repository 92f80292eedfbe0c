#include "tools/ZelManagerGreenPackageWriter.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace {

// Output blocks handed to the file: few system calls, little memory.
const int OutputBlockSize = 256 * 1024;

la_ssize_t writeToFile(struct archive *, void *client, const void *buffer, size_t length)
{
    auto *file = static_cast<QSaveFile *>(client);
    const qint64 written = file->write(static_cast<const char *>(buffer), qint64(length));
    return written == qint64(length) ? la_ssize_t(written) : -1;
}

struct ArchiveEntryDeleter
{
    void operator()(struct archive_entry *entry) const { archive_entry_free(entry); }
};
using ArchiveEntryPointer = std::unique_ptr<struct archive_entry, ArchiveEntryDeleter>;

void setTime(struct archive_entry *header, void (*setter)(struct archive_entry *, time_t, long), const QDateTime &time,
    const QDateTime &now)
{
    const QDateTime value = time.isValid() ? time : now;
    setter(header, time_t(value.toSecsSinceEpoch()), long(value.time().msec()) * 1000000L);
}

// Sizes, permissions and times of a file or folder on disk; the current
// time and the given permissions for one that is not there.
void describe(struct archive_entry *header, const QString &path, int fallbackPermissions)
{
    const QFileInfo info(path);
    const QDateTime now = QDateTime::currentDateTime();
    const bool exists = !path.isEmpty() && info.exists();
    archive_entry_set_perm(header,
        mode_t(exists ? ZelManagerGreenPackageWriter::unixPermissions(int(info.permissions())) : fallbackPermissions));
    setTime(header, archive_entry_set_atime, exists ? info.lastRead() : QDateTime(), now);
    setTime(header, archive_entry_set_mtime, exists ? info.lastModified() : QDateTime(), now);
    setTime(header, archive_entry_set_ctime, exists ? info.lastModified() : QDateTime(), now);
    setTime(header, archive_entry_set_birthtime, exists ? info.birthTime() : QDateTime(), now);
}

} // namespace

int ZelManagerGreenPackageWriter::unixPermissions(int permissions)
{
    static const struct
    {
        int flag;
        int bit;
    } bits[] = {
        { QFile::ReadOwner, 0400 },
        { QFile::WriteOwner, 0200 },
        { QFile::ExeOwner, 0100 },
        { QFile::ReadGroup, 0040 },
        { QFile::WriteGroup, 0020 },
        { QFile::ExeGroup, 0010 },
        { QFile::ReadOther, 0004 },
        { QFile::WriteOther, 0002 },
        { QFile::ExeOther, 0001 },
    };
    int mode = 0;
    for (const auto &bit : bits) {
        if (permissions & bit.flag)
            mode |= bit.bit;
    }
    return mode;
}

bool ZelManagerGreenPackageWriter::write(const QString &fileName, const QList<Entry> &entries)
{
    m_errorText.clear();
    m_skipped.clear();
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        m_errorText = tr("Can not open package file!");
        return false;
    }
    struct archive *archive = archive_write_new();
    archive_write_set_format_zip(archive);
    archive_write_set_bytes_per_block(archive, OutputBlockSize);
    archive_write_set_bytes_in_last_block(archive, 1);
    bool ok = archive_write_open(archive, &file, nullptr, writeToFile, nullptr) == ARCHIVE_OK
        && writeEntries(archive, entries);
    if (archive_write_close(archive) != ARCHIVE_OK && ok) {
        m_errorText = tr("Can not write package file: %1").arg(QString::fromLocal8Bit(archive_error_string(archive)));
        ok = false;
    }
    archive_write_free(archive);
    if (ok && !file.commit()) {
        m_errorText = tr("Can not write package file: %1").arg(file.errorString());
        ok = false;
    }
    if (!ok) {
        file.cancelWriting();
        if (m_errorText.isEmpty())
            m_errorText = tr("Can not write package file: %1").arg(file.errorString());
    }
    return ok;
}

bool ZelManagerGreenPackageWriter::writeEntries(struct archive *archive, const QList<Entry> &entries)
{
    int fileCount = 0;
    for (const Entry &entry : entries)
        fileCount += entry.folder ? 0 : 1;
    int fileIndex = 0;
    for (const Entry &entry : entries) {
        if (entry.folder) {
            ArchiveEntryPointer header(archive_entry_new());
            archive_entry_set_filetype(header.get(), AE_IFDIR);
            describe(header.get(), entry.sourcePath, 0755);
            if (!writeHeader(archive, header.get(), entry.name))
                return false;
            continue;
        }
        if (m_fileProgress)
            m_fileProgress(fileIndex, fileCount, entry.name);
        ++fileIndex;
        if (!writeFile(archive, entry))
            return false;
    }
    return true;
}

bool ZelManagerGreenPackageWriter::writeHeader(
    struct archive *archive, struct archive_entry *header, const QString &name)
{
    archive_entry_update_pathname_utf8(header, name.toUtf8().constData());
    if (archive_write_header(archive, header) == ARCHIVE_OK)
        return true;
    m_errorText = tr("Can not write package file: %1").arg(QString::fromLocal8Bit(archive_error_string(archive)));
    return false;
}

bool ZelManagerGreenPackageWriter::writeFile(struct archive *archive, const Entry &entry)
{
    ArchiveEntryPointer header(archive_entry_new());
    archive_entry_set_filetype(header.get(), AE_IFREG);
    if (entry.sourcePath.isEmpty()) {
        describe(header.get(), QString(), 0644);
        archive_entry_set_size(header.get(), entry.data.size());
        if (!writeHeader(archive, header.get(), entry.name))
            return false;
        if (!entry.data.isEmpty()
            && archive_write_data(archive, entry.data.constData(), size_t(entry.data.size())) < 0) {
            m_errorText
                = tr("Can not write package file: %1").arg(QString::fromLocal8Bit(archive_error_string(archive)));
            return false;
        }
        return true;
    }
    QFile source(entry.sourcePath);
    if (!source.open(QIODevice::ReadOnly)) {
        m_skipped.append(entry.name);
        return true;
    }
    describe(header.get(), entry.sourcePath, 0644);
    const qint64 size = source.size();
    archive_entry_set_size(header.get(), size);
    if (!writeHeader(archive, header.get(), entry.name))
        return false;
    QByteArray block(BlockSize, Qt::Uninitialized);
    qint64 copied = 0;
    while (copied < size) {
        const qint64 read = source.read(block.data(), qMin<qint64>(BlockSize, size - copied));
        if (read <= 0) {
            // The file shrank or broke while being read: the entry would be wrong.
            m_errorText = tr("Can not read file: %1").arg(QDir::toNativeSeparators(entry.sourcePath));
            return false;
        }
        if (archive_write_data(archive, block.constData(), size_t(read)) < 0) {
            m_errorText
                = tr("Can not write package file: %1").arg(QString::fromLocal8Bit(archive_error_string(archive)));
            return false;
        }
        copied += read;
        if (m_blockDone)
            m_blockDone();
    }
    return true;
}
