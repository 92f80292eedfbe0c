#include "tools/ZelManagerFileCopier.h"

#include "engine/ZelManagerFixupStream.h"
#include "tools/ZelManagerFileCopierManager.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

// Large enough for few system calls, small enough to stay in the caches.
const qint64 PieceSize = 1024 * 1024;

QString describe(const QFile &file)
{
    return file.fileName() + QStringLiteral(": ") + file.errorString();
}

} // namespace

ZelManagerFileCopier::ZelManagerFileCopier(ZelManagerFileCopierManager *manager)
    : QThread(manager)
    , m_manager(manager)
{
}

void ZelManagerFileCopier::run()
{
    for (int index = m_manager->takeFile(); index >= 0; index = m_manager->takeFile()) {
        const ZelManagerFileCopierManager::File &file = m_manager->m_files.at(index);
        QString error;
        const bool ok = copyFile(m_manager->m_oldFolder + QLatin1Char('/') + file.path,
            m_manager->m_newFolder + QLatin1Char('/') + file.path, file.fix, m_manager->m_oldPrefix,
            m_manager->m_newPrefix, &error);
        if (!ok)
            m_failures.append(error);
        m_manager->fileDone(ok);
    }
}

bool ZelManagerFileCopier::copyFile(const QString &source, const QString &target, bool fix, const QByteArray &oldPrefix,
    const QByteArray &newPrefix, QString *error)
{
    const QFileInfo info(source);
    if (info.isSymLink())
        return copyLink(source, target, error);
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        *error = describe(in);
        return false;
    }
    // Never written over: whatever lies there is not ours.
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        *error = describe(out);
        return false;
    }
    bool written = true;
    ZelManagerFixupStream stream(oldPrefix, newPrefix, fix, [&out, &written](const char *data, qint64 size) {
        written = out.write(data, size) == size;
        return written;
    });
    thread_local QByteArray buffer(int(PieceSize), Qt::Uninitialized);
    for (;;) {
        const qint64 read = in.read(buffer.data(), PieceSize);
        if (read < 0) {
            *error = describe(in);
            return false;
        }
        if (read == 0)
            break;
        if (!stream.write(buffer.constData(), read))
            break;
    }
    if (!stream.finish() || !written) {
        *error = describe(out);
        return false;
    }
    out.setPermissions(info.permissions());
    out.setFileTime(info.lastModified(), QFileDevice::FileModificationTime);
    out.close();
    if (out.error() != QFileDevice::NoError) {
        *error = describe(out);
        return false;
    }
    return true;
}

// A link stays a link, leading where it led.
bool ZelManagerFileCopier::copyLink(const QString &source, const QString &target, QString *error)
{
#ifdef Q_OS_UNIX
    QByteArray link(4096, Qt::Uninitialized);
    const ssize_t size = ::readlink(QFile::encodeName(source).constData(), link.data(), size_t(link.size()));
    if (size < 0 || size >= link.size()) {
        *error = source + QStringLiteral(": can not read the link");
        return false;
    }
    link.truncate(int(size));
    if (::symlink(link.constData(), QFile::encodeName(target).constData()) != 0) {
        *error = target + QStringLiteral(": can not create the link");
        return false;
    }
    return true;
#else
    if (QFile::link(QFileInfo(source).symLinkTarget(), target))
        return true;
    *error = target + QStringLiteral(": can not create the link");
    return false;
#endif
}
