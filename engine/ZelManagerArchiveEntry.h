#ifndef ZELMANAGERARCHIVEENTRY_H
#define ZELMANAGERARCHIVEENTRY_H

#include <QString>

struct archive;
struct archive_entry;

// Reading a package archive with libarchive: an entry's path and the text of
// a failure. The rules for those paths are ZelManagerTargetFolder's.
class ZelManagerArchiveEntry
{
public:
    // The entry's path as the package lists it: UTF-8, else wide, else local
    // 8-bit; a leading "./" dropped.
    static QString path(struct archive_entry *entry);
    // libarchive's text for the last failure, empty when it has none.
    static QString errorText(struct archive *archive);
};

#endif // ZELMANAGERARCHIVEENTRY_H
