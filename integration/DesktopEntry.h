#ifndef DESKTOPENTRY_H
#define DESKTOPENTRY_H

#include <QHash>
#include <QString>
#include <QStringList>
#include <QUrl>

enum class DesktopEntryType : int {
    None = 0,
    Application = 1,
    Link = 2,
    Directory = 3,
    Alternative = 4,
    Environment = 5,
    Service = 6
};

// One ".desktop" file of a package: what it wants registered with the host.
struct DesktopEntry
{
    DesktopEntryType type = DesktopEntryType::None;
    int priority = 0;
    bool terminal = false;
    bool showOnDesktop = true;
    bool showInStartMenu = true;
    QUrl url;
    QString id;
    QString exec;
    QString path;
    QString icon;
    QString stop;
    QString start;
    QString value;
    QString remove;
    QString install;
    QString version;
    QStringList mimeTypes;
    QStringList categories;
    // locale ("de_DE") -> text; the key without a locale is stored under "".
    QHash<QString, QString> names;
    QHash<QString, QString> comments;
    QHash<QString, QString> genericNames;

    QString localizedName() const;
    QString localizedComment() const;
    QString localizedGenericName() const;
};

// Reads the entry at "path", relative to the installation folder unless it
// is absolute. Anything but a readable "*.desktop" file gives type None.
DesktopEntry readDesktopEntry(const QString &path);

// Splits an Exec value into program and arguments. Double quotes group and are
// dropped; a backslash protects the next character and is kept.
QStringList splitCommandLine(const QString &exec);

// True for "/x", "\\x" and "C:/x": paths that are not below the installation.
bool isAbsoluteHostPath(const QString &path);

#endif // DESKTOPENTRY_H
