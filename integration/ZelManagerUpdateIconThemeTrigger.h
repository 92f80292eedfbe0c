#ifndef ZELMANAGERUPDATEICONTHEMETRIGGER_H
#define ZELMANAGERUPDATEICONTHEMETRIGGER_H

#include "integration/ZelManagerTrigger.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <QStringList>

// Keeps the "index.theme" file of every icon theme below "share/icons" in
// step with the icon folders the theme holds.
class ZelManagerUpdateIconThemeTrigger : public ZelManagerTrigger
{
public:
    struct IconFolder
    {
        int size = 0;
        int scale = 0;
        int maxSize = 0;
        int minSize = 0;
        int threshold = 0;
        QString name; // relative to the theme folder
        QString type;
        QString context;
    };

    struct Theme
    {
        bool modified = false;
        QStringList directories;
        QList<IconFolder> folders;
        QMap<QString, QString> keys; // the other keys of "Icon Theme"
    };

    void begin() override;
    void finish() override;
    void removeFile(const QString &path) override;
    void installFile(const QString &path) override;

    // Brings the index of one theme folder up to date.
    static void updateTheme(const QString &themeDir);
    static Theme readIndex(const QString &indexFile);
    // The icon folders found below the theme folder, in name order.
    static QList<IconFolder> scanFolders(const QString &themeDir);
    static QByteArray indexContents(const Theme &theme);

private:
    void touch(const QString &path);

    QSet<QString> m_touchedThemes;
};

#endif // ZELMANAGERUPDATEICONTHEMETRIGGER_H
