#ifndef ZELMANAGERPACKAGELIST_H
#define ZELMANAGERPACKAGELIST_H

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

class ZelManagerDatabase;

// The package selection file: the names of the installed packages, to set up
// the same packages on another installation.
//
// The file is UTF-8 XML: a declaration, the root "packages" and one
// "package" element per name, in ascending (case-sensitive) order, indented
// by two spaces. On reading, every "package" element anywhere contributes
// its trimmed text; the root's name does not matter.
//
// Export writes the installed set; import reads a file (a file that is not
// well-formed XML, or is cut short, is an error and yields nothing) and
// compares it with the installation: the listed packages that are not
// installed are to be installed, the installed packages that are neither
// listed nor a dependency of a listed one are to be removed. Names the
// database does not know are skipped. Making the requests is the caller's
// choice (all of them, or only the installations).
class ZelManagerPackageList
{
public:
    // The document for these names (sorted, duplicates dropped).
    static QByteArray document(QStringList names);
    // The installed packages of the database, sorted.
    static QStringList installedNames(const ZelManagerDatabase *database);
    // Writes the installed set to fileName (replaced whole, or not at all).
    bool exportTo(const QString &fileName, const ZelManagerDatabase *database);

    // Reads the names of a file; false (and no names) when it cannot be read
    // or is not a well-formed document.
    bool read(const QString &fileName);
    bool read(const QByteArray &data);
    // The names as listed, in file order, without duplicates.
    QStringList names() const { return m_names; }

    // Compares the names read with the database's packages.
    void compare(const ZelManagerDatabase *database);
    // Listed, known, not installed (sorted).
    QStringList installList() const { return m_installList; }
    // Installed, neither listed nor needed by a listed package (sorted).
    QStringList removeList() const { return m_removeList; }
    // Listed names the database does not know.
    QStringList unknownNames() const { return m_unknownNames; }

    // Why the last export or read failed, translated.
    QString errorText() const { return m_errorText; }

private:
    static void collectClosure(const ZelManagerDatabase *database, const QString &name, QSet<QString> &closure);

    QStringList m_names;
    QStringList m_installList;
    QStringList m_removeList;
    QStringList m_unknownNames;
    QString m_errorText;
};

#endif // ZELMANAGERPACKAGELIST_H
