#ifndef SHELLLINK_H
#define SHELLLINK_H

#include <QString>
#include <QStringList>

// A shortcut to a program, a web address or a folder. A shortcut is named by
// its ".lnk" path; on this host it is stored as a freedesktop launcher with
// the suffix ".desktop" in its place, which desktops and menus pick up.
class ShellLink
{
public:
    ShellLink() = default;

    void setPath(const QString &target) { m_target = target; }
    void setArguments(const QStringList &arguments) { m_arguments = arguments; }
    void setWorkingDirectory(const QString &folder) { m_workingDirectory = folder; }
    void setDescription(const QString &description) { m_description = description; }
    void setIconLocation(const QString &icon) { m_icon = icon; }

    QString path() const { return m_target; }
    QStringList arguments() const { return m_arguments; }
    QString workingDirectory() const { return m_workingDirectory; }
    QString description() const { return m_description; }
    QString iconLocation() const { return m_icon; }

    // The arguments as one command-line text: separated by single spaces,
    // spaced arguments in double quotes, the file-list code "%F" left empty.
    static QString joinArguments(const QStringList &arguments);

    // Writes the shortcut, creating its folder if needed; the name shown is
    // the file's base name.
    bool save(const QString &lnkPath) const;
    // Deletes the shortcut saved under "lnkPath"; false if there was none.
    static bool remove(const QString &lnkPath);
    // Where the shortcut named "lnkPath" lives on this host.
    static QString hostFilePath(const QString &lnkPath);

private:
    QString launcherText(const QString &name) const;

    QString m_target;
    QStringList m_arguments;
    QString m_workingDirectory;
    QString m_description;
    QString m_icon;
};

#endif // SHELLLINK_H
