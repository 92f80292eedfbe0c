#ifndef ZELMANAGERARCHIVEENTRY_H
#define ZELMANAGERARCHIVEENTRY_H

#include <QString>

struct archive;
struct archive_entry;

// What the downloader, the installer and the remover agree on about the
// entries of a package archive.
class ZelManagerArchiveEntry
{
public:
    // The entry's path as the package lists it: UTF-8, else wide, else local
    // 8-bit; a leading "./" dropped.
    static QString path(struct archive_entry *entry);
    // libarchive's text for the last failure, empty when it has none.
    static QString errorText(struct archive *archive);
    // An Info manual directly in "share/info"; it is installed compressed.
    static bool isInfoManual(const QString &path);
    // The name under which the installer writes a listed file.
    static QString installedName(const QString &path);
};

#endif // ZELMANAGERARCHIVEENTRY_H
