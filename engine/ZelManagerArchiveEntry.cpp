#include "engine/ZelManagerArchiveEntry.h"

#include <archive.h>
#include <archive_entry.h>

QString ZelManagerArchiveEntry::path(struct archive_entry *entry)
{
    QString path;
    if (const char *utf8 = archive_entry_pathname_utf8(entry))
        path = QString::fromUtf8(utf8);
    else if (const wchar_t *wide = archive_entry_pathname_w(entry))
        path = QString::fromWCharArray(wide);
    else if (const char *raw = archive_entry_pathname(entry))
        path = QString::fromLocal8Bit(raw);
    if (path.startsWith(QLatin1String("./")))
        path.remove(0, 2);
    return path;
}

QString ZelManagerArchiveEntry::errorText(struct archive *archive)
{
    const char *text = archive_error_string(archive);
    return text ? QString::fromLocal8Bit(text) : QString();
}
