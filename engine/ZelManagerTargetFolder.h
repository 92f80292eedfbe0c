#ifndef ZELMANAGERTARGETFOLDER_H
#define ZELMANAGERTARGETFOLDER_H

#include <QHash>
#include <QString>
#include <QStringList>

// A folder that the program places files in and removes them from: the
// installation folder of the packages, and likewise the shortcut folders of
// the triggers and the script commands. It owns the rules for paths below
// it, so that every worker and trigger decides them the same way:
//
// - A path that a package lists (an archive entry, a recorded file) is
//   relative and "/"-separated. It is taken in its clean form (entryPath())
//   where the archive is read, so that the path recorded, written, checked
//   for conflicts and removed is one string. One that is absolute, drive-qualified or
//   climbs with ".." is unsafe and never written or deleted; a backslash
//   separates folders on the target system, so "..\" climbs as well.
// - Whether a place lies inside the folder is decided on resolved links: a
//   folder that a link leads elsewhere is not ours to write or delete in.
// - Folders are made only where they stay inside, and a link where a file
//   goes is replaced by the file, never written through.
// - Emptied folders are removed deepest first, never the folder itself, and
//   never a link, a folder that still holds entries or anything outside.
//
// The folder's real path is resolved once, when the object is made. The
// answers of containsFolder() and makeFolder() are kept per folder: one
// object serves one worker (one thread) and one pass over a package.
class ZelManagerTargetFolder
{
public:
    ZelManagerTargetFolder() = default;
    explicit ZelManagerTargetFolder(const QString &root);

    // The folder as given, cleaned.
    QString root() const { return m_root; }
    // The folder with its links resolved; empty when it does not exist.
    QString canonicalRoot() const { return m_canonicalRoot; }
    // root() + "/" + relative, not checked.
    QString filePath(const QString &relative) const;

    // Absolute, drive-qualified or climbing with "..": never installed.
    static bool isUnsafeEntryPath(const QString &path);
    // The cleaned relative path of an entry ("a//b/./c" -> "a/b/c"); empty
    // when the path is unsafe or names no file ("", ".").
    static QString entryPath(const QString &path);
    // The form in which two clean entry paths that name the same file on
    // the target system are equal: the install tree is a Windows tree, whose
    // names do not tell letter cases apart.
    static QString pathKey(const QString &path);
    // An Info manual directly in "share/info"; it is installed compressed.
    static bool isInfoManual(const QString &path);
    // The path below the folder under which a listed file is installed: the
    // entry path, with ".gz" appended for an Info manual. Empty when the
    // path is unsafe.
    static QString installedName(const QString &path);
    // The name beside an installed file under which its replacement is
    // staged until it takes the file's place.
    static QString stagedName(const QString &path);
    // Moves from over to in one step (to is either the old or the new file).
    static bool replaceFile(const QString &from, const QString &to);
    // Whether path lies strictly inside root (both clean, "/"-separated).
    static bool isBelow(const QString &path, const QString &root);

    // The clean path below the folder that a path relative to it names;
    // empty when it is the folder itself or lies outside. Links are not
    // resolved: this is the rule for names, containsFolder() for places.
    QString relativePath(const QString &relative) const;

    // Whether the folder (absolute) exists and, links resolved, is the root
    // or lies inside it.
    bool containsFolder(const QString &folder);
    // Whether the folder of the file (absolute) does.
    bool containsFile(const QString &file);
    // Makes the folder (absolute) with its missing parents, but only when
    // what exists of it lies inside and it still does once made.
    bool makeFolder(const QString &folder);
    // The absolute path to write the entry path to, its folder made; empty
    // when the path is unsafe or its folder cannot be made inside. A link
    // where the file goes is deleted.
    QString prepareFile(const QString &path);

    // Deletes the given folders (relative) that are empty, deepest first.
    void removeEmptyFolders(QStringList folders) const;
    // Deletes the folder (relative) when it is empty, then each parent it
    // leaves empty, up to but not including the root.
    void removeEmptyFoldersFrom(const QString &folder) const;

private:
    bool isInside(const QString &canonical) const;
    bool removeEmptyFolder(const QString &relative) const;

    QString m_root;
    QString m_canonicalRoot;
    QHash<QString, bool> m_insideFolders; // absolute folder -> containsFolder()
    QHash<QString, bool> m_madeFolders; // absolute folder -> makeFolder()
};

#endif // ZELMANAGERTARGETFOLDER_H
