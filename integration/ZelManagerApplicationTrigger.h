#ifndef ZELMANAGERAPPLICATIONTRIGGER_H
#define ZELMANAGERAPPLICATIONTRIGGER_H

#include "integration/ZelManagerTrigger.h"

#include <QStringList>

struct DesktopEntry;
class ShellLink;

// Desktop and Start-menu shortcuts for the entries in "share/applications".
class ZelManagerApplicationTrigger : public ZelManagerTrigger
{
public:
    void removeFile(const QString &path) override;
    void installFile(const QString &path) override;

    // The user's shortcut folders.
    static QString desktopFolder();
    static QString programsFolder();
    // The shortcut's file name (without suffix) for an entry: its localized
    // name with the characters a file name cannot hold replaced.
    static QString shortcutName(const DesktopEntry &entry);

private:
    bool setTarget(ShellLink &link, const DesktopEntry &entry) const;
};

// The Start-menu folder ("Utility Tools/") for the first known category in a
// fixed order of preference, or "" to put the shortcut directly into Programs.
QString startMenuFolder(const QStringList &categories);

#endif // ZELMANAGERAPPLICATIONTRIGGER_H
