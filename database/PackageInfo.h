#ifndef PACKAGEINFO_H
#define PACKAGEINFO_H

#include <QMap>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QUrl>

// One version of one package, as the database reads it and as the apply
// pipeline hands it from the downloader to the installer. A plain value: the
// downloader overwrites the scripts and the file entries from the archive.
struct PackageInfo
{
    qint64 time = 0; // build time of this version
    QString name;
    QString md5sum; // expected MD5 of the archive, 32 lowercase hex digits
    QString version; // empty when the database knows no such version
    QString prerm;
    QString postrm;
    QString preinst;
    QString postinst;
    QUrl repository; // where this version is offered (or was installed from)
    QStringList dependants; // packages whose dependencies name this one
    QStringList dependencies; // "name" or "name comparison", e.g. "zlib >= 1.2"
    // Every regular file, relative to the target folder, mapped to its fix
    // flag: true when the installer rewrites the build prefix inside it.
    QMap<QString, bool> fileEntries;
};

Q_DECLARE_METATYPE(PackageInfo)

#endif // PACKAGEINFO_H
