#include "engine/ZelManagerTargetFolder.h"

#include "integration/WindowsSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QVector>

#include <algorithm>
#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

ZelManagerTargetFolder::ZelManagerTargetFolder(const QString &root)
    : m_root(QDir::cleanPath(root))
    , m_canonicalRoot(QFileInfo(m_root).canonicalFilePath())
{
}

QString ZelManagerTargetFolder::filePath(const QString &relative) const
{
    return m_root + QLatin1Char('/') + relative;
}

bool ZelManagerTargetFolder::isUnsafeEntryPath(const QString &path)
{
    if (path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1Char('\\')))
        return true;
    if (path.size() >= 2 && path.at(1) == QLatin1Char(':'))
        return true;
    // A backslash separates folders on the target system.
    const QString slashed = QString(path).replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QVector<QStringRef> parts = slashed.splitRef(QLatin1Char('/'));
    for (const QStringRef &part : parts) {
        if (part == QLatin1String(".."))
            return true;
    }
    return false;
}

QString ZelManagerTargetFolder::entryPath(const QString &path)
{
    if (path.isEmpty() || isUnsafeEntryPath(path))
        return QString();
    const QString clean = QDir::cleanPath(path);
    return clean == QLatin1String(".") ? QString() : clean;
}

QString ZelManagerTargetFolder::pathKey(const QString &path)
{
    return path.toCaseFolded();
}

bool ZelManagerTargetFolder::isInfoManual(const QString &path)
{
    const QFileInfo info(path);
    return info.path() == QLatin1String("share/info") && info.suffix() == QLatin1String("info");
}

QString ZelManagerTargetFolder::installedName(const QString &path)
{
    const QString entry = entryPath(path);
    return isInfoManual(entry) ? entry + QStringLiteral(".gz") : entry;
}

QString ZelManagerTargetFolder::stagedName(const QString &path)
{
    return path + QStringLiteral(".zelnew~");
}

bool ZelManagerTargetFolder::replaceFile(const QString &from, const QString &to)
{
#ifdef Q_OS_WIN
    return MoveFileExW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(from).utf16()),
        reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(to).utf16()),
        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
#else
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

bool ZelManagerTargetFolder::isBelow(const QString &path, const QString &root)
{
    return path.size() > root.size() && path.startsWith(root) && path.at(root.size()) == QLatin1Char('/');
}

QString ZelManagerTargetFolder::relativePath(const QString &relative) const
{
    const QString path = QDir::cleanPath(filePath(relative));
    return isBelow(path, m_root) ? path.mid(m_root.size() + 1) : QString();
}

bool ZelManagerTargetFolder::isInside(const QString &canonical) const
{
    return !m_canonicalRoot.isEmpty() && !canonical.isEmpty()
        && (canonical == m_canonicalRoot || isBelow(canonical, m_canonicalRoot));
}

// A folder that does not exist holds nothing to delete.
bool ZelManagerTargetFolder::containsFolder(const QString &folder)
{
    const auto known = m_insideFolders.constFind(folder);
    if (known != m_insideFolders.cend())
        return known.value();
    const bool inside = isInside(QFileInfo(folder).canonicalFilePath());
    m_insideFolders.insert(folder, inside);
    return inside;
}

bool ZelManagerTargetFolder::containsFile(const QString &file)
{
    return containsFolder(QFileInfo(file).path());
}

// Links are resolved before anything is made: a folder that a link leads out
// of the root is never created or written in.
bool ZelManagerTargetFolder::makeFolder(const QString &folder)
{
    const auto known = m_madeFolders.constFind(folder);
    if (known != m_madeFolders.cend())
        return known.value();
    bool ok = false;
    if (!m_canonicalRoot.isEmpty()) {
        QString existing = folder;
        while (existing.size() > m_root.size() && !QFileInfo::exists(existing))
            existing = existing.left(existing.lastIndexOf(QLatin1Char('/')));
        ok = isInside(QFileInfo(existing).canonicalFilePath()) && makePath(folder)
            && isInside(QFileInfo(folder).canonicalFilePath());
    }
    m_madeFolders.insert(folder, ok);
    return ok;
}

QString ZelManagerTargetFolder::prepareFile(const QString &path)
{
    const QString entry = entryPath(path);
    if (entry.isEmpty())
        return QString();
    const QString target = filePath(entry);
    if (!makeFolder(target.left(target.lastIndexOf(QLatin1Char('/')))))
        return QString();
    if (QFileInfo(target).isSymLink())
        QFile::remove(target);
    return target;
}

// Ascending order puts a folder before everything inside it, so walking it
// backwards empties the deepest folders first.
void ZelManagerTargetFolder::removeEmptyFolders(QStringList folders) const
{
    folders.removeDuplicates();
    std::sort(folders.begin(), folders.end());
    for (auto it = folders.crbegin(); it != folders.crend(); ++it) {
        const QString folder = entryPath(*it);
        if (!folder.isEmpty())
            removeEmptyFolder(folder);
    }
}

// A folder that stays (it holds entries, or does not exist) leaves its
// parents as they are.
void ZelManagerTargetFolder::removeEmptyFoldersFrom(const QString &folder) const
{
    for (QString part = entryPath(folder); !part.isEmpty();
         part = part.left(std::max(0, part.lastIndexOf(QLatin1Char('/'))))) {
        if (!removeEmptyFolder(part))
            break;
    }
}

// rmdir() deletes only empty folders; a link to a folder is no folder of ours.
bool ZelManagerTargetFolder::removeEmptyFolder(const QString &relative) const
{
    const QString folder = filePath(relative);
    const QFileInfo info(folder);
    return !m_canonicalRoot.isEmpty() && !info.isSymLink() && info.isDir()
        && isBelow(info.canonicalFilePath(), m_canonicalRoot) && QDir().rmdir(folder);
}
