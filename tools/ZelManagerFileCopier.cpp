#include "tools/ZelManagerFileCopier.h"

#include "engine/ZelManagerFixupStream.h"
#include "tools/ZelManagerFileCopierManager.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

// Large enough for few system calls, small enough to stay in the caches.
const qint64 PieceSize = 1024 * 1024;

// Where the path that begins a prefix ends: a control byte or a space.
bool endsPath(uchar c)
{
    return c < 0x20 || c == 0x7f || c == ' ';
}

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
    if (fix && newPrefix.size() > oldPrefix.size())
        return copyWhole(in, out, oldPrefix, newPrefix, error) && finishFile(out, info, error);
    if (!fix && copyInKernel(in, out, info.size()))
        return finishFile(out, info, error);
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
    return finishFile(out, info, error);
}

// A file copied as it is need not pass through this process: the kernel
// copies (or shares) its blocks. False when it can not, having copied
// nothing; the caller then copies it itself.
bool ZelManagerFileCopier::copyInKernel(QFile &in, QFile &out, qint64 size)
{
#ifdef Q_OS_LINUX
    // With explicit offsets the files' own positions stay where they are.
    loff_t inOffset = 0;
    loff_t outOffset = 0;
    while (outOffset < size) {
        const ssize_t copied
            = ::copy_file_range(in.handle(), &inOffset, out.handle(), &outOffset, size_t(size - outOffset), 0);
        if (copied <= 0)
            break;
    }
    if (outOffset == size)
        return true;
    // Stopped half way (the kernel can not, or the file changed): the
    // caller starts over.
    if (outOffset > 0)
        out.resize(0);
    return false;
#else
    Q_UNUSED(in)
    Q_UNUSED(out)
    Q_UNUSED(size)
    return false;
#endif
}

bool ZelManagerFileCopier::copyWhole(
    QFile &in, QFile &out, const QByteArray &oldPrefix, const QByteArray &newPrefix, QString *error)
{
    QByteArray data = in.readAll();
    if (in.error() != QFileDevice::NoError) {
        *error = describe(in);
        return false;
    }
    growPaths(data, oldPrefix, newPrefix);
    if (out.write(data) != data.size()) {
        *error = describe(out);
        return false;
    }
    return true;
}

int ZelManagerFileCopier::growPaths(QByteArray &data, const QByteArray &oldPrefix, const QByteArray &newPrefix)
{
    const int growth = newPrefix.size() - oldPrefix.size();
    if (oldPrefix.isEmpty() || growth < 0)
        return 0;
    char *bytes = data.data();
    const int size = data.size();
    int count = 0;
    for (int at = data.indexOf(oldPrefix); at >= 0; at = data.indexOf(oldPrefix, at + 1)) {
        int end = at + oldPrefix.size();
        while (end < size && !endsPath(uchar(bytes[end])))
            ++end;
        if (end + growth > size)
            continue;
        const char filler = bytes[end];
        if (filler != ' ' && filler != '\0')
            continue;
        if (std::count(bytes + end, bytes + end + growth, filler) != growth)
            continue;
        std::memmove(bytes + at + newPrefix.size(), bytes + at + oldPrefix.size(), size_t(end - at - oldPrefix.size()));
        std::memcpy(bytes + at, newPrefix.constData(), size_t(newPrefix.size()));
        at += newPrefix.size() - 1;
        ++count;
    }
    return count;
}

bool ZelManagerFileCopier::finishFile(QFile &out, const QFileInfo &info, QString *error)
{
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
