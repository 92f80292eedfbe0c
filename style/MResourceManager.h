#ifndef MRESOURCEMANAGER_H
#define MRESOURCEMANAGER_H

#include <QIcon>
#include <QPixmap>
#include <QStringList>

// Icon themes of the program's and the user's icon folders, found by their
// "index.theme" files; the program's own images (":/images/") answer for
// names no theme knows.
class MResourceManager
{
public:
    static void initialize();

    static QStringList iconFolders();
    static QStringList themes();
    // The configured theme when it was found, else "hicolor".
    static QString currentTheme();

    static QIcon icon(const QString &name);
    static QPixmap pixmap(const QString &name, int size);

private:
    static QStringList s_themes;
    static QString s_currentTheme;
};

#endif // MRESOURCEMANAGER_H
