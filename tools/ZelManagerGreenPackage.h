#ifndef ZELMANAGERGREENPACKAGE_H
#define ZELMANAGERGREENPACKAGE_H

#include "tools/ZelManagerGreenPackageWriter.h"

#include <QCoreApplication>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

class ZelManagerDatabase;
class ZelManagerSettings;

// What a green package holds and what must happen before it can be written,
// without widgets (the tools panel drives it).
//
// The package set is the checked packages and, recursively, every package
// they depend on. A package of the set that is not installed is installed
// first: check() requests its installation (with the database's dependency
// check), the caller applies the requests, and notInstalled() then names any
// package whose installation failed; no archive is written unless the whole
// set is installed. dropRequests() takes back the requests check() made when
// the generation does not go on.
//
// The archive holds the folders (sorted, first), then the installed files of
// the set, "etc/zelfixrc" (the current fix-up configuration), "bin/zelfix.exe"
// (the fix-up tool built for the configured architecture, taken from beside
// the program) and "readme.txt" (sorted).
class ZelManagerGreenPackage
{
    Q_DECLARE_TR_FUNCTIONS(ZelManagerToolsPanel)

public:
    using Entry = ZelManagerGreenPackageWriter::Entry;

    ZelManagerGreenPackage(ZelManagerDatabase *database, ZelManagerSettings *settings);

    // Where zelfix-32.exe and zelfix-x64.exe are; the program's own folder
    // unless set.
    void setFixupToolFolder(const QString &folder) { m_toolFolder = folder; }
    QString fixupToolFolder() const;
    static QString fixupToolName(const QString &architecture);
    QString fixupToolPath() const;
    // The translated complaint when the fix-up tool is not there; empty when it is.
    QString fixupToolProblem() const;

    // The checked packages and every package they depend on, each once, sorted.
    QStringList packageSet(const QStringList &checked) const;

    // Checks one checked package: every package of its closure that is not
    // installed gets an install request. Call it inside a database batch.
    // Returns an empty text, or the message naming the package that failed.
    QString check(const QString &name);
    // Whether check() requested anything (an apply run must go first).
    bool hasRequests() const { return !m_requested.isEmpty(); }
    // Packages of the set that are not installed.
    QStringList notInstalled(const QStringList &packages) const;
    // Cancels the install requests check() made that are still pending.
    void dropRequests();

    // The longest folder name the readme allows: 20 for win64, else 18.
    static int longestFolderName(const QString &architecture);
    QString readme(const QStringList &packages) const;
    QList<Entry> entries(const QStringList &packages) const;

private:
    void collectDependencies(const QString &name, QSet<QString> &closure) const;
    QStringList dependencyNames(const QString &name) const;

    ZelManagerDatabase *m_database;
    ZelManagerSettings *m_settings;
    QString m_toolFolder;
    QStringList m_requested;
};

#endif // ZELMANAGERGREENPACKAGE_H
